#include "win/win_core.h"

#include "win/win_ui_services.h"

namespace {
constexpr int kTickMs = 60;
}

WinCore::WinCore(IMainThread& mainThread, WinUiServices& ui, const std::string& programDir)
    : serial_(std::make_unique<TSerial>(mainThread)) {
  TSerial& port = *serial_;
  port.ProgramDir = programDir;
  port.SetDataBits(d8bit);
  port.SetCheckParity(false);
  port.SetMessageEndChar(13);
  form_ = std::make_unique<MainForm>(port, clock_, ui, programDir);
  port.OnRxData = [this](TComponent*) { form_->ReadMessage(); };
  port.ShowErrorDialog = [&ui](const std::string& text) { ui.ShowError(text); };
  timer_ = std::make_unique<TSuperTimer>(mainThread);
  timer_->SetInterval(kTickMs);
  timer_->SetThreadPriority(tpTimeCritical);
  timer_->OnTimer = [this](TComponent*) { form_->Timer1Timer(); };
}

WinCore::~WinCore() {
  Stop();
}

void WinCore::Stop() {
  if (timer_) timer_->SetEnabled(false);
  if (serial_) serial_->SetActive(false);
}
