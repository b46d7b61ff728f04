// The file chooser TForm2 in Qt widgets: the program's own modal dialog for choosing the input
// file of a Software Upload. Its rules (what is listed, when OK is offered, what it answers,
// the remembered folder) are FileChooserModel's; the dialog binds its controls to that model.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

#include "fileprep/file_chooser_model.h"

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
  QString ChosenPath() const { return QString::fromLocal8Bit(m_model.ChosenPath()); }
  // The folder taken from the remembered-folder file at creation.
  QString DataFilesDir() const { return QString::fromLocal8Bit(m_model.DataFilesDir()); }
  // The folder shown; listing it makes it the process's current folder.
  QString CurrentFolder() const { return QString::fromLocal8Bit(m_model.CurrentFolder()); }
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
  void BuildControls();
  void Connect();
  // Redraws the controls whose part of the model changed.
  void Sync();
  // A user's act on the model, then the redraw; none while the controls are being redrawn.
  void Act(const std::function<void()>& act);
  void ShowFileTypes();
  void ShowFiles();
  void ShowFolders();
  void ShowDrives();
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

  FileChooserModel m_model;
  bool m_filling = false;  // the controls are being redrawn: their change signals mean nothing
  std::function<void(const QString&)> m_reportError;
};
