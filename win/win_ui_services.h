// What the core asks of the Windows window: message boxes, the file chooser TForm2, the help
// viewer, letting pending messages run, and closing the main window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "sequencer/ui_services.h"

class IMainThread;
class WinChooser;
class WinHelpViewer;

class WinUiServices final : public IUiServices {
 public:
  explicit WinUiServices(IMainThread& mainThread);
  ~WinUiServices() override;

  // The main window, once it exists: it owns the message boxes and the dialogs.
  void SetWindow(HWND window);
  // The program's folder, whose files the help viewer names.
  void SetProgramDir(std::string programDir) { programDir_ = std::move(programDir); }

  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void SetChooserFilter(const std::string& filter) override;
  bool ChooseFile(std::string& chosenPath) override;
  void ShowHelp(int topic) override;
  void ProcessPendingMessages() override;
  void CloseWindow() override;

  void ShowPortError(const std::string& text) override;
  WinHelpViewer* Help() const { return help_.get(); }
  WinChooser& Chooser();

 private:
  IMainThread& mainThread_;
  HWND window_ = nullptr;
  std::string programDir_;
  std::unique_ptr<WinChooser> chooser_;
  std::unique_ptr<WinHelpViewer> help_;
};
