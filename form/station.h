// The station: the serial port Serial1, the tick timer Timer1 and the main window's logic,
// owned together and wired once. Every front end (the Qt window, the command line, the
// benchmarks) makes one with its hand-over to the user-interface thread and its user
// services, binds its display to the window model and forwards clicks to Form().
#pragma once

#include <functional>
#include <string>

#include "components/clock.h"
#include "components/main_thread.h"
#include "components/serial.h"
#include "components/super_timer.h"
#include "form/main_form.h"
#include "sequencer/ui_services.h"

class Station {
 public:
  // `mainThread` and `ui` must outlive the station. `programDir` with its trailing separator
  // holds the settings, capture and port-map files; empty: the program's own folder.
  Station(IMainThread& mainThread, IUiServices& ui, std::string programDir = {});
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  MainForm& Form() { return form_; }
  WindowModel& Model() { return form_.W(); }
  TSerial& Serial1() { return serial_; }
  TSuperTimer& Timer1() { return timer_; }

  // The window's start-up (captions, colours, the remembered port settings).
  void Activate() { form_.FormActivate(); }
  void StartTicks() { timer_.SetEnabled(true); }
  void StopTicks() { timer_.SetEnabled(false); }
  // The program ends: the ticks stop and an open capture file is closed (a failure is told).
  void Finish();
  // Stops the ticks and closes the port; the station may then go with its front end.
  void Stop();

  // Options a front end sets instead of the window's defaults.
  // Records go from the receive event as soon as the unit asks for them, not one per tick.
  void SetRecordsOnRequest(bool on) { form_.Pacing.RecordsOnRequest = on; }
  // Whether the chosen port and speed are saved for the next start (several units: not).
  void SetRememberPort(bool on) { form_.Core.RememberPort = on; }
  // Where the next capture file goes; empty: Capture.txt in the program's folder.
  void SetCapturePath(const std::string& path) { form_.Core.CapturePath = path; }
  // Told how the run stands whenever that changes, and as records go.
  void SetProgressListener(ProgressListener listener) {
    form_.Core.OnProgress = std::move(listener);
  }
  // The device that port number `com` opens, ahead of the port map.
  void NameDevice(int com, const std::string& device) { serial_.NamedDevices[com] = device; }
  // Called at each firing of the timer before its step (a benchmark times the ticks).
  void SetTickWatcher(std::function<void()> watcher) { tickWatcher_ = std::move(watcher); }

 private:
  IUiServices& ui_;
  TSerial serial_;
  SystemClock clock_;
  MainForm form_;
  TSuperTimer timer_;
  std::function<void()> tickWatcher_;
};
