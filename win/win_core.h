// The window's core: the serial port Serial1, the tick timer Timer1 and MainForm, wired once
// for this front end's hand-over and user services.
#pragma once

#include <memory>
#include <string>

#include "components/clock.h"
#include "components/serial.h"
#include "components/super_timer.h"
#include "form/main_form.h"

class IMainThread;
class WinUiServices;

class WinCore {
 public:
  WinCore(IMainThread& mainThread, WinUiServices& ui, const std::string& programDir);
  ~WinCore();

  MainForm& Form() { return *form_; }
  TSerial& Serial1() { return *serial_; }
  TSuperTimer& Timer1() { return *timer_; }
  // Stops the ticks and the port's worker before the window goes.
  void Stop();

 private:
  SystemClock clock_;
  std::unique_ptr<TSerial> serial_;
  std::unique_ptr<MainForm> form_;
  std::unique_ptr<TSuperTimer> timer_;
};
