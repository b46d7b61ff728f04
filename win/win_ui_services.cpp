#include "win/win_ui_services.h"

#include <thread>

#include "components/main_thread.h"
#include "form/file_places.h"
#include "sequencer/window_texts.h"
#include "win/file_chooser.h"
#include "win/help_viewer.h"

WinUiServices::WinUiServices(IMainThread& mainThread) : mainThread_(mainThread) {}

WinUiServices::~WinUiServices() = default;

void WinUiServices::SetWindow(HWND window) {
  window_ = window;
}

WinChooser& WinUiServices::Chooser() {
  // Made once, after the main window, and keeps its folder and type between showings.
  if (!chooser_) chooser_ = std::make_unique<WinChooser>(window_, *this);
  return *chooser_;
}

void WinUiServices::ShowMessage(const std::string& text) {
  MessageBoxA(window_, text.c_str(), window_texts::kAppTitle, MB_OK | MB_ICONWARNING);
}

void WinUiServices::ShowPortError(const std::string& text) {
  MessageBoxA(window_, text.c_str(), window_texts::kAppTitle, MB_OK | MB_ICONERROR);
}

bool WinUiServices::Confirm(const std::string& text) {
  return MessageBoxA(window_, text.c_str(), window_texts::kAppTitle,
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void WinUiServices::ShowNotice(const std::string& text) {
  // Not modal: the ticks, and the unit, are not kept waiting for the user to read it. The box
  // has a thread of its own, so it owns no window of this one.
  std::thread([text] {
    MessageBoxA(nullptr, text.c_str(), window_texts::kAppTitle,
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
  }).detach();
}

void WinUiServices::SetChooserFilter(const std::string& filter) {
  Chooser().SetFilter(filter);
}

bool WinUiServices::ChooseFile(std::string& chosenPath) {
  return Chooser().Run(chosenPath);
}

void WinUiServices::ShowHelp(int topic) {
  if (!help_) help_ = std::make_unique<WinHelpViewer>(window_, FilePlacesText(programDir_, "\r\n"));
  help_->ShowTopic(topic);
}

void WinUiServices::ProcessPendingMessages() {
  mainThread_.ProcessPendingMessages();
}

void WinUiServices::CloseWindow() {
  if (window_) SendMessageA(window_, WM_CLOSE, 0, 0);
}
