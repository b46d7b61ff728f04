#include "app/file_chooser.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QTimer>
#include <exception>

#include "fileprep/data_files_dir.h"

namespace {

constexpr int kClientWidth = 488;
constexpr int kClientHeight = 364;
constexpr int kCurDirWidth = 190;  // from the label's left edge to the frame's
constexpr int kFolderRole = Qt::UserRole;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

// "*.*" means every file, as it does on Windows; elsewhere it would ask for a "." in the name.
QStringList NameFilters(const QStringList& mask) {
  QStringList filters;
  for (const QString& part : mask)
    filters << (part == QLatin1String("*.*") ? QStringLiteral("*") : part);
  return filters;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Select a File Name"));
  setObjectName(QStringLiteral("Form2"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  m_groupBox1 = new QGroupBox(this);
  m_groupBox1->setObjectName(QStringLiteral("GroupBox1"));
  m_groupBox1->setGeometry(35, 7, 422, 305);

  m_label4 = MakeLabel(m_groupBox1, "Label4", QStringLiteral("File Name:"), 32, 24);
  m_fileNameBox = new QLineEdit(m_groupBox1);
  m_fileNameBox->setObjectName(QStringLiteral("FileNameBox"));
  m_fileNameBox->setGeometry(32, 48, 145, 24);
  m_fileListBox1 = new QListWidget(m_groupBox1);
  m_fileListBox1->setObjectName(QStringLiteral("FileListBox1"));
  m_fileListBox1->setGeometry(32, 96, 145, 113);

  m_label2 = MakeLabel(m_groupBox1, "Label2", QStringLiteral("Directories:"), 224, 40);
  m_curDirLbl = new QLabel(m_groupBox1);
  m_curDirLbl->setObjectName(QStringLiteral("CurDirLbl"));
  m_curDirLbl->setGeometry(224, 64, kCurDirWidth, m_curDirLbl->fontMetrics().height() + 2);
  m_directoryListBox1 = new QListWidget(m_groupBox1);
  m_directoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
  m_directoryListBox1->setGeometry(224, 96, 145, 113);
  m_directoryListBox1->setStyleSheet(QStringLiteral("background-color: white;"));
  m_directoryListBox1->installEventFilter(this);

  m_label6 = MakeLabel(m_groupBox1, "Label6", QStringLiteral("Double click to change directory"),
                       211, 212);
  QFont small = font;
  small.setPixelSize(12);
  m_label6->setFont(small);
  m_label6->setStyleSheet(QStringLiteral("color: black;"));
  m_label6->setGeometry(211, 212, 178, 14);

  m_label1 = MakeLabel(m_groupBox1, "Label1", QStringLiteral("Drive:"), 211, 232);
  m_driveComboBox1 = new QComboBox(m_groupBox1);
  m_driveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  m_driveComboBox1->setGeometry(211, 256, 198, 22);

  m_label5 = MakeLabel(m_groupBox1, "Label5", QStringLiteral("File Type:"), 20, 232);
  m_filterComboBox1 = new QComboBox(m_groupBox1);
  m_filterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
  m_filterComboBox1->setGeometry(20, 256, 169, 24);
  m_filterComboBox1->addItem(QStringLiteral("All files (*.*)"), QStringList{QStringLiteral("*.*")});

  m_btnOK = new QPushButton(QStringLiteral("OK"), this);
  m_btnOK->setObjectName(QStringLiteral("BtnOK"));
  m_btnOK->setGeometry(123, 322, 89, 33);
  m_btnOK->setDefault(true);
  m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_btnCancel->setObjectName(QStringLiteral("BtnCancel"));
  m_btnCancel->setGeometry(250, 322, 89, 33);
  m_btnCancel->setAutoDefault(false);

  connect(m_btnOK, &QPushButton::clicked, this, &TForm2::BtnOKClick);
  connect(m_btnCancel, &QPushButton::clicked, this, &TForm2::BtnCancelClick);
  connect(m_fileNameBox, &QLineEdit::textChanged, this, &TForm2::FileNameBoxChange);
  connect(m_fileListBox1, &QListWidget::itemSelectionChanged, this, &TForm2::FileListBox1Change);
  connect(m_fileListBox1, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem*) { FileListBox1DblClick(); });
  connect(m_directoryListBox1, &QListWidget::itemDoubleClicked, this, &TForm2::OpenDirectoryItem);
  connect(m_driveComboBox1, &QComboBox::activated, this, &TForm2::DriveComboBox1Change);
  connect(m_filterComboBox1, &QComboBox::currentIndexChanged, this, &TForm2::FilterComboBox1Change);

  FormCreate();
}

void TForm2::FormCreate() {
  move(160, 97);
  m_btnOK->hide();
  try {
    m_dataFilesDir = QString::fromStdString(ReadDataFilesDir());
  } catch (const std::exception& e) {
    // The dialog still opens, in the default folder; the message follows once the window
    // system runs, so that a reporter set after construction gets it.
    m_dataFilesDir = QString::fromStdString(DefaultDataFilesDir());
    const QString text =
        QStringLiteral("The remembered folder could not be read from %1: %2")
            .arg(QString::fromStdString(DataFilesDirFile()), QString::fromLocal8Bit(e.what()));
    QTimer::singleShot(0, this, [this, text] { ReportError(text); });
  }
  ChangeFolder(m_dataFilesDir);
}

void TForm2::SetErrorReporter(std::function<void(const QString&)> reporter) {
  m_reportError = std::move(reporter);
}

void TForm2::ReportError(const QString& text) {
  if (m_reportError) {
    m_reportError(text);
    return;
  }
  QMessageBox::warning(this, QGuiApplication::applicationDisplayName(), text);
}

void TForm2::SetFilter(const QString& filterText) {
  if (filterText == m_filterText) return;
  m_filterText = filterText;
  QStringList parts = filterText.split(QLatin1Char('|'));
  if (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
  m_filling = true;
  m_filterComboBox1->clear();
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    m_filterComboBox1->addItem(parts[i], parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts));
  }
  if (m_filterComboBox1->count() == 0) {
    m_filterComboBox1->addItem(QStringLiteral("All files (*.*)"),
                               QStringList{QStringLiteral("*.*")});
  }
  m_filterComboBox1->setCurrentIndex(0);
  m_filling = false;
  FilterComboBox1Change(0);
}

void TForm2::FilterComboBox1Change(int index) {
  if (m_filling || index < 0) return;
  const QStringList mask = m_filterComboBox1->itemData(index).toStringList();
  m_mask = mask.isEmpty() ? QStringList{QStringLiteral("*.*")} : mask;
  FillFileList();
}

void TForm2::ChangeFolder(const QString& folder) {
  QString target = QDir(folder).absolutePath();
  if (folder.isEmpty() || !QFileInfo(target).isDir()) {
    target = QDir(QString::fromStdString(DefaultDataFilesDir())).absolutePath();
  }
  if (!QFileInfo(target).isDir()) target = QDir::rootPath();  // not even a home folder
  m_currentFolder = QDir::cleanPath(target);
  // A bare name in the name box means a file of the folder shown.
  QDir::setCurrent(m_currentFolder);
  m_curDirLbl->setText(m_curDirLbl->fontMetrics().elidedText(
      QDir::toNativeSeparators(m_currentFolder), Qt::ElideMiddle, kCurDirWidth));
  m_curDirLbl->setToolTip(QDir::toNativeSeparators(m_currentFolder));
  FillDirectoryList();
  FillDriveBox();
  FillFileList();
}

void TForm2::FillFileList() {
  const QDir dir(m_currentFolder);
  const QStringList names = dir.entryList(NameFilters(m_mask), QDir::Files | QDir::NoDotAndDotDot,
                                          QDir::Name | QDir::IgnoreCase);
  m_filling = true;
  m_fileListBox1->clear();
  m_fileListBox1->addItems(names);
  m_filling = false;
  // With nothing selected the name box shows the mask.
  m_fileNameBox->setText(m_mask.join(QLatin1Char(';')));
}

void TForm2::FileListBox1Change() {
  if (m_filling) return;
  const QList<QListWidgetItem*> selected = m_fileListBox1->selectedItems();
  if (selected.isEmpty()) return;
  m_fileNameBox->setText(selected.first()->text());
}

void TForm2::FillDirectoryList() {
  m_filling = true;
  m_directoryListBox1->clear();
  // The folder with its parents, outermost first, then its subfolders one level deeper.
  QStringList chain;
  QDir walk(m_currentFolder);
  chain.prepend(walk.absolutePath());
  while (walk.cdUp()) chain.prepend(walk.absolutePath());
  int level = 0;
  for (const QString& path : chain) {
    QString caption = QDir(path).dirName();
    if (caption.isEmpty() || QDir(path).isRoot()) caption = QDir::toNativeSeparators(path);
    auto* item = new QListWidgetItem(QString(level * 2, QLatin1Char(' ')) + caption);
    item->setData(kFolderRole, path);
    m_directoryListBox1->addItem(item);
    ++level;
  }
  m_directoryListBox1->setCurrentRow(m_directoryListBox1->count() - 1);
  const QStringList subfolders =
      QDir(m_currentFolder)
          .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : subfolders) {
    auto* item = new QListWidgetItem(QString(level * 2, QLatin1Char(' ')) + name);
    item->setData(kFolderRole, QDir(m_currentFolder).absoluteFilePath(name));
    m_directoryListBox1->addItem(item);
  }
  m_filling = false;
}

void TForm2::OpenDirectoryItem(QListWidgetItem* item) {
  if (item == nullptr) return;
  ChangeFolder(item->data(kFolderRole).toString());
}

void TForm2::FillDriveBox() {
  QStringList roots;
#ifdef Q_OS_WIN
  for (const QFileInfo& drive : QDir::drives()) roots << QDir::cleanPath(drive.absolutePath());
#else
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) roots << QDir::cleanPath(volume.rootPath());
  }
#endif
  const QString here = QDir::cleanPath(QStorageInfo(m_currentFolder).rootPath());
  if (!here.isEmpty() && !roots.contains(here)) roots << here;
  roots.removeDuplicates();
  roots.sort();
  m_filling = true;
  m_driveComboBox1->clear();
  for (const QString& root : roots) m_driveComboBox1->addItem(QDir::toNativeSeparators(root), root);
  m_driveComboBox1->setCurrentIndex(static_cast<int>(roots.indexOf(here)));
  m_filling = false;
}

void TForm2::DriveComboBox1Change(int index) {
  if (m_filling || index < 0) return;
  ChangeFolder(m_driveComboBox1->itemData(index).toString());
}

void TForm2::FileNameBoxChange(const QString& text) {
  // A mask written by the file list leaves the button as it was.
  if (text.contains(QLatin1Char('*'))) return;
  m_btnOK->setVisible(!text.isEmpty());
}

void TForm2::BtnOKClick() {
  m_chosenPath = m_fileNameBox->text();
  if (m_chosenPath.contains(QLatin1Char('*'))) {
    reject();
    return;
  }
  if (!QFileInfo(QDir(m_currentFolder), m_chosenPath).isFile()) {
    reject();
    return;
  }
  // The answer is OK even when the folder cannot be remembered; the user hears why.
  accept();
  try {
    SaveDataFilesDir(QDir::toNativeSeparators(m_currentFolder).toStdString());
  } catch (const std::exception& e) {
    ReportError(
        QStringLiteral("The folder could not be remembered in %1: %2")
            .arg(QString::fromStdString(DataFilesDirFile()), QString::fromLocal8Bit(e.what())));
  }
}

void TForm2::FileListBox1DblClick() {
  BtnOKClick();
}

void TForm2::BtnCancelClick() {
  reject();
}

void TForm2::showEvent(QShowEvent* event) {
  // Files come and go between showings (a conversion writes new ones); the list shows the
  // folder as it is now, and the name box keeps what it held.
  if (!QFileInfo(m_currentFolder).isDir()) {
    ChangeFolder(m_currentFolder);
  } else {
    QDir::setCurrent(m_currentFolder);
    const QString kept = m_fileNameBox->text();
    FillFileList();
    const QList<QListWidgetItem*> same = m_fileListBox1->findItems(kept, Qt::MatchExactly);
    if (!same.isEmpty()) {
      m_fileListBox1->setCurrentItem(same.first());
    } else {
      m_fileNameBox->setText(kept);
    }
  }
  QDialog::showEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  // Enter opens the folder list's entry; it must not also press the default button.
  if (watched == m_directoryListBox1 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      OpenDirectoryItem(m_directoryListBox1->currentItem());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
