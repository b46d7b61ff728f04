// The file chooser TForm2: its controls, the file types and their masks, when OK may be
// pressed and what it returns, the double-click, folder changes, and the remembered folder.
#include "app/file_chooser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "fileprep/data_files_dir.h"
#include "form/main_form.h"
#include "support/env_scope.h"
#include "support/scratch_folder.h"

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace {

namespace fs = std::filesystem;

// A double-click as the user makes it: the press that selects, then the double-click.
void DoubleClick(QListWidget* list, QListWidgetItem* item) {
  const QPoint at = list->visualItemRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// A scratch folder holding the user's home and config folders and some firmware files; the
// process's current folder and environment come back afterwards.
class ChooserWorld {
 public:
  ChooserWorld() {
    previousFolder_ = fs::current_path();
    fs::create_directories(scratch_.Path() / "home");
    fs::create_directories(scratch_.Path() / "fw" / "New");
    fs::create_directories(scratch_.Path() / "fw" / "x.kvu");  // a folder, never listed as a file
    for (const char* name : {"a.kvu", "B.KVU", "c.bin", "d.hex", "e.h86", "f.mcs", ".hidden.kvu"}) {
      std::ofstream(scratch_.Path() / "fw" / name) << "x";
    }
    std::ofstream(scratch_.Path() / "fw" / "New" / "g.hex") << "x";
  }
  ~ChooserWorld() {
    std::error_code ec;
    fs::current_path(previousFolder_, ec);
  }
  QString Folder(const std::string& sub) const {
    return QString::fromStdString((scratch_.Path() / sub).string());
  }
  std::string SetFile() const {
    return (scratch_.Path() / "config" / "kvuflash" / "KVUflash.set").string();
  }
  std::string SetFileText() const {
    std::ifstream in(SetFile(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  kvtest::ScratchFolder scratch_{"kv-chooser"};
  fs::path previousFolder_;
  kvtest::EnvScope home_{"HOME", (scratch_.Path() / "home").string()};
  kvtest::EnvScope config_{"XDG_CONFIG_HOME", (scratch_.Path() / "config").string()};
};

template <typename T>
T* Control(TForm2& form, const char* name) {
  T* widget = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QStringList Items(QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

TEST(FileChooser, ControlsSitWhereTheFormPutsThem) {
  ChooserWorld world;
  TForm2 form;
  EXPECT_EQ(form.windowTitle(), "Select a File Name");
  EXPECT_EQ(form.size(), QSize(488, 364));
  EXPECT_EQ(form.pos(), QPoint(160, 97));
  EXPECT_EQ(Control<QGroupBox>(form, "GroupBox1")->geometry(), QRect(35, 7, 422, 305));
  struct Place {
    const char* name;
    QRect rect;  // an empty size: only the position is fixed
  };
  for (const Place& p :
       {Place{"FileNameBox", {32, 48, 145, 24}}, Place{"FileListBox1", {32, 96, 145, 113}},
        Place{"DirectoryListBox1", {224, 96, 145, 113}}, Place{"Label6", {211, 212, 178, 14}},
        Place{"DriveComboBox1", {211, 256, 198, 22}}, Place{"FilterComboBox1", {20, 256, 169, 24}},
        Place{"BtnOK", {123, 322, 89, 33}}, Place{"BtnCancel", {250, 322, 89, 33}},
        Place{"Label4", {32, 24, 0, 0}}, Place{"Label2", {224, 40, 0, 0}},
        Place{"CurDirLbl", {224, 64, 0, 0}}, Place{"Label1", {211, 232, 0, 0}},
        Place{"Label5", {20, 232, 0, 0}}}) {
    QWidget* w = Control<QWidget>(form, p.name);
    ASSERT_NE(w, nullptr);
    if (p.rect.width() > 0) {
      EXPECT_EQ(w->geometry(), p.rect) << p.name;
    } else {
      EXPECT_EQ(w->pos(), p.rect.topLeft()) << p.name;
    }
  }
  EXPECT_EQ(Control<QLabel>(form, "Label4")->text(), "File Name:");
  EXPECT_EQ(Control<QLabel>(form, "Label2")->text(), "Directories:");
  EXPECT_EQ(Control<QLabel>(form, "Label6")->text(), "Double click to change directory");
  EXPECT_EQ(Control<QLabel>(form, "Label1")->text(), "Drive:");
  EXPECT_EQ(Control<QLabel>(form, "Label5")->text(), "File Type:");
  EXPECT_EQ(Control<QPushButton>(form, "BtnOK")->text(), "OK");
  EXPECT_TRUE(Control<QPushButton>(form, "BtnOK")->isDefault());
  EXPECT_TRUE(Control<QPushButton>(form, "BtnOK")->isHidden());
  EXPECT_EQ(Control<QPushButton>(form, "BtnCancel")->text(), "Cancel");

  // Before any file types are given: every file, "*.*" in the name box. No remembered folder
  // yet: the home folder, which becomes the current folder.
  QComboBox* types = Control<QComboBox>(form, "FilterComboBox1");
  EXPECT_EQ(types->count(), 1);
  EXPECT_EQ(types->currentText(), "All files (*.*)");
  EXPECT_EQ(Control<QLineEdit>(form, "FileNameBox")->text(), "*.*");
  EXPECT_EQ(form.DataFilesDir(), world.Folder("home"));
  EXPECT_EQ(QDir::currentPath(), world.Folder("home"));
  EXPECT_GE(Control<QComboBox>(form, "DriveComboBox1")->count(), 1);
}

TEST(FileChooser, FileTypesSelectWhatTheListShows) {
  ChooserWorld world;
  TForm2 form;
  form.ChangeFolder(world.Folder("fw"));
  EXPECT_EQ(QDir::currentPath(), world.Folder("fw"));
  EXPECT_TRUE(Control<QLabel>(form, "CurDirLbl")->toolTip().endsWith("/fw"));
  QListWidget* files = Control<QListWidget>(form, "FileListBox1");
  QComboBox* types = Control<QComboBox>(form, "FilterComboBox1");
  QLineEdit* name = Control<QLineEdit>(form, "FileNameBox");
  EXPECT_EQ(Items(files), (QStringList{"a.kvu", "B.KVU", "c.bin", "d.hex", "e.h86", "f.mcs"}));

  form.SetFilter(kSoftwareUploadFilter);
  ASSERT_EQ(types->count(), 5);
  EXPECT_EQ(types->itemText(0), "Korvane Upload (.kvu)");
  EXPECT_EQ(types->itemText(1), "Binary (.bin)");
  EXPECT_EQ(types->itemText(2), "Intel HEX (.h86)");
  EXPECT_EQ(types->itemText(3), "Intel HEX (.mcs)");
  EXPECT_EQ(types->itemText(4), "Intel HEX (.hex)");
  EXPECT_EQ(types->currentIndex(), 0);
  EXPECT_EQ(Items(files), (QStringList{"a.kvu", "B.KVU"}));
  EXPECT_EQ(name->text(), "*.kvu");

  const QStringList expected[] = {{"a.kvu", "B.KVU"}, {"c.bin"}, {"e.h86"}, {"f.mcs"}, {"d.hex"}};
  const char* masks[] = {"*.kvu", "*.bin", "*.h86", "*.mcs", "*.hex"};
  for (int i = 4; i >= 0; --i) {
    types->setCurrentIndex(i);
    EXPECT_EQ(Items(files), expected[i]) << masks[i];
    EXPECT_EQ(name->text(), masks[i]);
  }
  types->setCurrentIndex(4);
  form.SetFilter(kSoftwareUploadFilter);  // the same list again: the user's choice stays
  EXPECT_EQ(types->currentIndex(), 4);
  EXPECT_EQ(Items(files), QStringList{"d.hex"});

  // Choosing a file puts its name in the box; a new folder shows the mask again.
  files->setCurrentRow(0);
  EXPECT_EQ(name->text(), "d.hex");
  form.ChangeFolder(world.Folder("fw/New"));
  EXPECT_EQ(Items(files), QStringList{"g.hex"});
  EXPECT_EQ(name->text(), "*.hex");
  EXPECT_EQ(QDir::currentPath(), world.Folder("fw/New"));
}

TEST(FileChooser, OkIsOfferedForANameAndAnswersOnlyForAnExistingFile) {
  ChooserWorld world;
  TForm2 form;
  form.ChangeFolder(world.Folder("fw"));
  form.SetFilter(kSoftwareUploadFilter);
  QPushButton* ok = Control<QPushButton>(form, "BtnOK");
  QLineEdit* name = Control<QLineEdit>(form, "FileNameBox");
  QComboBox* types = Control<QComboBox>(form, "FilterComboBox1");
  form.show();
  EXPECT_FALSE(ok->isVisible());

  name->setText("d");
  EXPECT_TRUE(ok->isVisible());
  name->clear();
  EXPECT_FALSE(ok->isVisible());
  name->setText("n");
  EXPECT_TRUE(ok->isVisible());

  // A new mask in the box leaves OK shown; pressing it then answers Cancel.
  types->setCurrentIndex(4);
  EXPECT_EQ(name->text(), "*.hex");
  EXPECT_TRUE(ok->isVisible());
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_FALSE(fs::exists(world.SetFile()));

  // A name that names no file (or a folder) answers Cancel and remembers nothing.
  for (const char* typed : {"nothere.hex", "x.kvu", "*.bin"}) {
    form.show();
    name->setText(typed);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Rejected) << typed;
    EXPECT_FALSE(fs::exists(world.SetFile())) << typed;
  }

  // An existing file, typed: OK, and the folder is remembered.
  form.show();
  name->setText("c.bin");
  QTest::keyClick(name, Qt::Key_Return);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.ChosenPath(), "c.bin");
  EXPECT_EQ(world.SetFileText(), world.Folder("fw").toStdString() + "\n");

  // The folder cannot be remembered (the config folder is a file): still OK, and the user
  // hears why.
  QStringList reported;
  form.SetErrorReporter([&reported](const QString& text) { reported << text; });
  const QByteArray config = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(world.SetFile()));
  form.show();
  name->setText("d.hex");
  QTest::mouseClick(ok, Qt::LeftButton);
  qputenv("XDG_CONFIG_HOME", config);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.ChosenPath(), "d.hex");
  ASSERT_EQ(reported.size(), 1);
  EXPECT_TRUE(reported[0].startsWith("The folder could not be remembered"))
      << reported[0].toStdString();
  EXPECT_TRUE(reported[0].endsWith("Path not found")) << reported[0].toStdString();

  // Cancel answers Cancel whatever the box holds.
  form.show();
  name->setText("c.bin");
  QTest::mouseClick(Control<QPushButton>(form, "BtnCancel"), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST(FileChooser, DoubleClickReturnsTheFileAtOnceAndTheFolderIsRememberedForNextTime) {
  ChooserWorld world;
  {
    TForm2 form;
    form.SetFilter(kSoftwareUploadFilter);
    form.ChangeFolder(world.Folder("fw/New"));
    QComboBox* types = Control<QComboBox>(form, "FilterComboBox1");
    types->setCurrentIndex(4);
    QListWidget* files = Control<QListWidget>(form, "FileListBox1");
    bool clicked = false;
    QTimer::singleShot(0, &form, [&] {
      QListWidgetItem* item = files->item(0);
      ASSERT_NE(item, nullptr);
      DoubleClick(files, item);
      clicked = true;
    });
    QTimer::singleShot(5000, &form, &QDialog::reject);  // a safety net, never the answer
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(form.ChosenPath(), "g.hex");
    EXPECT_EQ(QDir::currentPath(), world.Folder("fw/New"));
  }
  // The next program start opens where the last file was chosen.
  TForm2 next;
  EXPECT_EQ(next.DataFilesDir(), world.Folder("fw/New"));
  EXPECT_EQ(next.CurrentFolder(), world.Folder("fw/New"));
  EXPECT_EQ(Items(Control<QListWidget>(next, "FileListBox1")), QStringList{"g.hex"});

  // A remembered folder that has gone: the home folder.
  fs::remove_all(world.Folder("fw/New").toStdString());
  TForm2 after;
  EXPECT_EQ(after.DataFilesDir(), world.Folder("home"));
}

TEST(FileChooser, FolderListOpensFoldersWithoutClosingTheDialog) {
  ChooserWorld world;
  TForm2 form;
  form.ChangeFolder(world.Folder("fw"));
  form.show();
  QListWidget* folders = Control<QListWidget>(form, "DirectoryListBox1");
  const QStringList entries = Items(folders);
  ASSERT_GE(entries.size(), 3);
  EXPECT_EQ(entries.last().trimmed(), "x.kvu");
  EXPECT_EQ(entries[entries.size() - 2].trimmed(), "New");
  EXPECT_EQ(entries[entries.size() - 3].trimmed(), "fw");
  EXPECT_EQ(folders->currentItem()->text().trimmed(), "fw");

  // Double-click a subfolder.
  QListWidgetItem* sub = folders->item(static_cast<int>(entries.size()) - 2);
  DoubleClick(folders, sub);
  EXPECT_EQ(form.CurrentFolder(), world.Folder("fw/New"));
  EXPECT_EQ(QDir::currentPath(), world.Folder("fw/New"));
  EXPECT_EQ(Items(Control<QListWidget>(form, "FileListBox1")), QStringList{"g.hex"});

  // Enter on the parent entry goes up; it does not press OK.
  Control<QLineEdit>(form, "FileNameBox")->setText("g.hex");
  folders->setFocus();
  folders->setCurrentRow(folders->count() - 2);  // "fw", above "New"
  ASSERT_EQ(folders->currentItem()->text().trimmed(), "fw");
  QTest::keyClick(folders, Qt::Key_Return);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.CurrentFolder(), world.Folder("fw"));

  // The drive box shows the mount point of the folder; choosing one goes to its top.
  QComboBox* drives = Control<QComboBox>(form, "DriveComboBox1");
  const QString mount = QDir::cleanPath(QStorageInfo(world.Folder("fw")).rootPath());
  EXPECT_EQ(drives->currentData().toString(), mount);
  emit drives->activated(drives->currentIndex());
  EXPECT_EQ(form.CurrentFolder(), mount);
  EXPECT_EQ(QDir::currentPath(), mount);
}

}  // namespace

namespace {

TEST(FileChooser, EachShowingTakesWhatIsTypedIntoTheNameBox) {
  ChooserWorld world;
  TForm2 form;
  form.ChangeFolder(world.Folder("fw"));
  form.SetFilter(kSoftwareUploadFilter);
  Control<QComboBox>(form, "FilterComboBox1")->setCurrentIndex(1);  // "*.bin"
  QListWidget* files = Control<QListWidget>(form, "FileListBox1");
  QLineEdit* name = Control<QLineEdit>(form, "FileNameBox");
  // The first showing ends with the keyboard in the file list, as a user leaves it.
  QTimer::singleShot(0, &form, [&] {
    files->setFocus();
    files->setCurrentRow(0);
    form.reject();
  });
  form.exec();
  // The next showing: typing replaces the name box's text, and Enter answers for it.
  Control<QComboBox>(form, "FilterComboBox1")->setCurrentIndex(4);  // "*.hex", d.hex listed
  files->setCurrentRow(0);
  QString focused;
  QTimer::singleShot(0, &form, [&] {
    QWidget* target = QApplication::focusWidget();
    focused = target != nullptr ? target->objectName() : QString();
    EXPECT_EQ(name->selectedText(), "d.hex");
    QTest::keyClicks(target, "e.h86");
    QTest::keyClick(target, Qt::Key_Return);
  });
  QTimer::singleShot(5000, &form, &QDialog::reject);  // a safety net, never the answer
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  EXPECT_EQ(focused, "FileNameBox");
  EXPECT_EQ(form.ChosenPath(), "e.h86");

  // The drive box's entries fit inside it.
  QComboBox* drives = Control<QComboBox>(form, "DriveComboBox1");
  for (int i = 0; i < drives->count(); ++i)
    EXPECT_LT(drives->fontMetrics().horizontalAdvance(drives->itemText(i)), drives->width())
        << drives->itemData(i, Qt::ToolTipRole).toString().toStdString();
}

}  // namespace
