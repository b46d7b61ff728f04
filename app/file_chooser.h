// The file chooser TForm2: the program's own modal dialog for choosing the input file of a
// Software Upload. It lists the current folder's files of the selected type, its folders and
// the drives (mount points on Linux), returns the chosen name, and remembers the folder of the
// last file chosen for the next program start. It is created once and shown many times; the
// folder, the file type and the name box keep their state between showings.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  // The file types as "Description|*.ext|Description|*.ext|...". A new text selects its first
  // type; the same text again changes nothing, so the type chosen last stays selected.
  void SetFilter(const QString& filterText);
  // The name the dialog returned: the name box's text when OK or a double-click closed it.
  // A bare name is relative to the folder shown, which is the process's current folder.
  QString ChosenPath() const { return m_chosenPath; }
  // The folder taken from the remembered-folder file at creation.
  QString DataFilesDir() const { return m_dataFilesDir; }
  // The folder shown; listing it makes it the process's current folder.
  QString CurrentFolder() const { return m_currentFolder; }
  void ChangeFolder(const QString& folder);
  // How errors (the remembered folder cannot be read or written) reach the user: a message
  // box unless replaced.
  void SetErrorReporter(std::function<void(const QString&)> reporter);

  void BtnOKClick();
  void BtnCancelClick();
  void FileNameBoxChange(const QString& text);
  void FileListBox1DblClick();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FillFileList();
  void FillDirectoryList();
  void FillDriveBox();
  void OpenDirectoryItem(QListWidgetItem* item);
  void DriveComboBox1Change(int index);
  void FilterComboBox1Change(int index);
  void FileListBox1Change();
  void ReportError(const QString& text);

  QGroupBox* m_groupBox1 = nullptr;
  QLabel* m_label4 = nullptr;
  QLineEdit* m_fileNameBox = nullptr;
  QListWidget* m_fileListBox1 = nullptr;
  QLabel* m_label2 = nullptr;
  QLabel* m_curDirLbl = nullptr;
  QListWidget* m_directoryListBox1 = nullptr;
  QLabel* m_label6 = nullptr;
  QLabel* m_label1 = nullptr;
  QComboBox* m_driveComboBox1 = nullptr;
  QLabel* m_label5 = nullptr;
  QComboBox* m_filterComboBox1 = nullptr;
  QPushButton* m_btnOK = nullptr;
  QPushButton* m_btnCancel = nullptr;

  QString m_chosenPath;
  QString m_dataFilesDir;
  QString m_currentFolder;
  QString m_filterText;
  QStringList m_mask{QStringLiteral("*.*")};
  bool m_filling = false;  // the lists are being refilled: their change signals mean nothing
  std::function<void(const QString&)> m_reportError;
};
