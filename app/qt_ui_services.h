// What the core asks of the Qt front end: message boxes, the file chooser TForm2, the help
// viewer, letting pending events run, and closing the main window.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/help_window.h"
#include "sequencer/ui_services.h"

class IMainThread;
class TForm2;

class QtUiServices final : public IUiServices {
 public:
  QtUiServices(QWidget& window, IMainThread& mainThread);
  ~QtUiServices() override;

  void ShowMessage(const std::string& text) override;
  void ShowPortError(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void SetChooserFilter(const std::string& filter) override;
  bool ChooseFile(std::string& chosenPath) override;
  void ShowHelp(int topic) override;
  void ProcessPendingMessages() override;
  void CloseWindow() override;

  // Tests replace the modal parts (message boxes, the chooser) so that nothing blocks.
  std::function<void(const QString&)> MessageHook;
  std::function<bool(QString&)> ChooserHook;
  std::function<bool(const QString&)> ConfirmHook;
  std::function<void(const QString&)> NoticeHook;

  // The program's folder, whose files the help window names.
  void SetProgramDir(std::string programDir) { m_programDir = std::move(programDir); }
  THelpWindow* HelpWindow() const { return m_help.get(); }
  TForm2* Chooser() const { return m_chooser.get(); }
  QString ChooserFilter() const { return m_filter; }

 private:
  void showModal(const std::string& text, QMessageBox::Icon icon);

  QWidget& m_window;
  std::string m_programDir;
  IMainThread& m_mainThread;
  QString m_filter;
  std::unique_ptr<TForm2> m_chooser;
  std::unique_ptr<THelpWindow> m_help;
};
