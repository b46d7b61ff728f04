#include "app/file_chooser.h"

#include <QComboBox>
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
#include <QTimer>

#include "sequencer/window_texts.h"

namespace {

constexpr int kClientWidth = 488;
constexpr int kClientHeight = 364;
constexpr int kCurDirWidth = 190;  // from the label's left edge to the frame's
constexpr int kDropDownArrowWidth = 28;

// The current entry of a list stays marked while the list has the focus, and the white
// folder list keeps the marking that its background would otherwise hide.
constexpr const char* kListStyle =
    "QListWidget::item:selected { background: palette(highlight); color: "
    "palette(highlighted-text); }"
    "QListWidget::item:focus { border: 1px dotted palette(text); }";

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QString Text(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Bytes(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

// Replaces a list's entries only when they differ, so that redrawing keeps its scroll place.
void ShowEntries(QListWidget* list, const QStringList& entries) {
  bool same = list->count() == entries.size();
  for (int i = 0; same && i < list->count(); ++i) same = list->item(i)->text() == entries[i];
  if (same) return;
  list->clear();
  list->addItems(entries);
}

void ShowCurrentRow(QListWidget* list, int row) {
  if (row < 0 || row >= list->count()) {
    list->clearSelection();
    list->setCurrentRow(-1);
    return;
  }
  list->setCurrentRow(row);
  list->scrollToItem(list->item(row));
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  BuildControls();
  Connect();
  move(160, 97);
  Sync();
  if (!m_model.StartProblem().empty()) {
    // The message follows once the window system runs, so that a reporter set after
    // construction gets it.
    const QString text = Text(m_model.StartProblem());
    QTimer::singleShot(0, this, [this, text] { ReportError(text); });
  }
}

void TForm2::BuildControls() {
  setWindowTitle(QString::fromLatin1(chooser_texts::kCaption));
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

  m_label4 =
      MakeLabel(m_groupBox1, "Label4", QString::fromLatin1(chooser_texts::kFileName), 32, 24);
  m_fileNameBox = new QLineEdit(m_groupBox1);
  m_fileNameBox->setObjectName(QStringLiteral("FileNameBox"));
  m_fileNameBox->setGeometry(32, 48, 145, 24);
  m_fileNameBox->installEventFilter(this);
  m_fileListBox1 = new QListWidget(m_groupBox1);
  m_fileListBox1->setObjectName(QStringLiteral("FileListBox1"));
  m_fileListBox1->setGeometry(32, 96, 145, 113);
  m_fileListBox1->setStyleSheet(QLatin1String(kListStyle));

  m_label2 =
      MakeLabel(m_groupBox1, "Label2", QString::fromLatin1(chooser_texts::kDirectories), 224, 40);
  m_curDirLbl = new QLabel(m_groupBox1);
  m_curDirLbl->setObjectName(QStringLiteral("CurDirLbl"));
  m_curDirLbl->setGeometry(224, 64, kCurDirWidth, m_curDirLbl->fontMetrics().height() + 2);
  m_directoryListBox1 = new QListWidget(m_groupBox1);
  m_directoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
  m_directoryListBox1->setGeometry(224, 96, 145, 113);
  m_directoryListBox1->setStyleSheet(QStringLiteral("QListWidget { background-color: white; }") +
                                     QLatin1String(kListStyle));
  m_directoryListBox1->installEventFilter(this);

  m_label6 =
      MakeLabel(m_groupBox1, "Label6", QString::fromLatin1(chooser_texts::kDoubleClick), 211, 212);
  QFont small = font;
  small.setPixelSize(12);
  m_label6->setFont(small);
  m_label6->setStyleSheet(QStringLiteral("color: black;"));
  m_label6->setGeometry(211, 212, 178, 14);

  m_label1 = MakeLabel(m_groupBox1, "Label1", QString::fromLatin1(chooser_texts::kDrive), 211, 232);
  m_driveComboBox1 = new QComboBox(m_groupBox1);
  m_driveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  m_driveComboBox1->setGeometry(211, 256, 198, 22);

  m_label5 =
      MakeLabel(m_groupBox1, "Label5", QString::fromLatin1(chooser_texts::kFileType), 20, 232);
  m_filterComboBox1 = new QComboBox(m_groupBox1);
  m_filterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
  m_filterComboBox1->setGeometry(20, 256, 169, 24);

  m_btnOK = new QPushButton(QString::fromLatin1(chooser_texts::kOk), this);
  m_btnOK->setObjectName(QStringLiteral("BtnOK"));
  m_btnOK->setGeometry(123, 322, 89, 33);
  m_btnOK->setDefault(true);
  m_btnCancel = new QPushButton(QString::fromLatin1(chooser_texts::kCancel), this);
  m_btnCancel->setObjectName(QStringLiteral("BtnCancel"));
  m_btnCancel->setGeometry(250, 322, 89, 33);
  m_btnCancel->setAutoDefault(false);
}

void TForm2::Connect() {
  connect(m_btnOK, &QPushButton::clicked, this, &TForm2::BtnOKClick);
  connect(m_btnCancel, &QPushButton::clicked, this, &TForm2::BtnCancelClick);
  connect(m_fileNameBox, &QLineEdit::textChanged, this, &TForm2::FileNameBoxChange);
  connect(m_fileListBox1, &QListWidget::itemSelectionChanged, this, &TForm2::FileListBox1Change);
  connect(m_fileListBox1, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem*) { FileListBox1DblClick(); });
  connect(m_directoryListBox1, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) {
            Act([&] { m_model.OpenFolderRow(m_directoryListBox1->row(item)); });
          });
  connect(m_driveComboBox1, &QComboBox::activated, this,
          [this](int index) { Act([&] { m_model.SelectDrive(index); }); });
  connect(m_filterComboBox1, &QComboBox::currentIndexChanged, this,
          [this](int index) { Act([&] { m_model.SelectFileType(index); }); });
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

void TForm2::Sync() {
  const unsigned changes = m_model.TakeChanges();
  m_filling = true;
  if (changes & FileChooserModel::kTypes) ShowFileTypes();
  if (changes & FileChooserModel::kFiles) ShowFiles();
  if (changes & FileChooserModel::kFolders) ShowFolders();
  if (changes & FileChooserModel::kDrives) ShowDrives();
  if (changes & FileChooserModel::kName) {
    const QString name = Text(m_model.NameText());
    if (m_fileNameBox->text() != name) m_fileNameBox->setText(name);
  }
  if (changes & FileChooserModel::kOk) m_btnOK->setVisible(m_model.OkOffered());
  m_filling = false;
}

void TForm2::ShowFileTypes() {
  QStringList descriptions;
  for (const ChooserFileType& type : m_model.FileTypes()) descriptions << Text(type.description);
  bool same = m_filterComboBox1->count() == descriptions.size();
  for (int i = 0; same && i < m_filterComboBox1->count(); ++i)
    same = m_filterComboBox1->itemText(i) == descriptions[i];
  if (!same) {
    m_filterComboBox1->clear();
    m_filterComboBox1->addItems(descriptions);
  }
  m_filterComboBox1->setCurrentIndex(m_model.FileTypeIndex());
}

void TForm2::ShowFiles() {
  QStringList names;
  for (const std::string& name : m_model.Files()) names << Text(name);
  ShowEntries(m_fileListBox1, names);
  ShowCurrentRow(m_fileListBox1, m_model.SelectedFile());
}

void TForm2::ShowFolders() {
  QStringList captions;
  for (const ChooserFolder& folder : m_model.Folders())
    captions << QString(folder.level * 2, QLatin1Char(' ')) + Text(folder.caption);
  ShowEntries(m_directoryListBox1, captions);
  ShowCurrentRow(m_directoryListBox1, m_model.CurrentFolderRow());
  const QString folder = Text(m_model.CurrentFolder());
  m_curDirLbl->setText(
      m_curDirLbl->fontMetrics().elidedText(folder, Qt::ElideMiddle, kCurDirWidth));
  m_curDirLbl->setToolTip(folder);
}

void TForm2::ShowDrives() {
  // A long mount point is shortened in the middle to fit the box; its tip shows it whole.
  const int width = m_driveComboBox1->width() - kDropDownArrowWidth;
  m_driveComboBox1->clear();
  for (const std::string& drive : m_model.Drives()) {
    const QString root = Text(drive);
    m_driveComboBox1->addItem(
        m_driveComboBox1->fontMetrics().elidedText(root, Qt::ElideMiddle, width), root);
    m_driveComboBox1->setItemData(m_driveComboBox1->count() - 1, root, Qt::ToolTipRole);
  }
  m_driveComboBox1->setCurrentIndex(m_model.CurrentDrive());
}

void TForm2::Act(const std::function<void()>& act) {
  if (m_filling) return;
  act();
  Sync();
}

void TForm2::SetFilter(const QString& filterText) {
  Act([&] { m_model.SetFilter(Bytes(filterText)); });
}

void TForm2::ChangeFolder(const QString& folder) {
  Act([&] { m_model.ChangeFolder(Bytes(folder)); });
}

void TForm2::FileListBox1Change() {
  const QList<QListWidgetItem*> selected = m_fileListBox1->selectedItems();
  if (selected.isEmpty()) return;
  Act([&] { m_model.SelectFile(m_fileListBox1->row(selected.first())); });
}

void TForm2::FileNameBoxChange(const QString& text) {
  Act([&] { m_model.SetNameText(Bytes(text)); });
}

void TForm2::BtnOKClick() {
  m_model.SetNameText(Bytes(m_fileNameBox->text()));
  const FileChooserModel::Outcome outcome = m_model.PressOk();
  Sync();
  if (outcome.answer == FileChooserModel::Answer::Ok) {
    accept();
  } else {
    reject();
  }
  if (!outcome.problem.empty()) ReportError(Text(outcome.problem));
}

void TForm2::FileListBox1DblClick() {
  BtnOKClick();
}

void TForm2::BtnCancelClick() {
  reject();
}

void TForm2::showEvent(QShowEvent* event) {
  m_model.Showing();
  Sync();
  // Typing goes to the name box, over what it holds, whichever control had the focus before.
  m_fileNameBox->setFocus(Qt::OtherFocusReason);
  m_fileNameBox->selectAll();
  QDialog::showEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    // Enter opens the folder list's entry; it must not also press the default button.
    if (enter && watched == m_directoryListBox1) {
      Act([&] { m_model.OpenFolderRow(m_directoryListBox1->currentRow()); });
      return true;
    }
    // Enter in the name box presses OK for its text, wherever the list's selection is.
    if (enter && watched == m_fileNameBox) {
      if (m_model.OkOffered()) BtnOKClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
