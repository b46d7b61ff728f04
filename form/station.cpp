#include "form/station.h"

#include <exception>
#include <utility>

#include "components/program_dir.h"
#include "sequencer/ticks.h"

Station::Station(IMainThread& mainThread, IUiServices& ui, std::string programDir)
    : ui_(ui),
      serial_(mainThread),
      form_(serial_, clock_, ui, programDir.empty() ? DefaultProgramDir() : std::move(programDir)),
      timer_(mainThread) {
  serial_.ProgramDir = form_.Core.ProgramDir;
  serial_.SetDataBits(d8bit);
  serial_.SetCheckParity(false);
  // The unit ends every line with a carriage return: one received-data event a line.
  serial_.SetMessageEndChar(13);
  serial_.OnRxData = [this](TComponent*) { form_.ReadMessage(); };
  serial_.ShowErrorDialog = [&ui](const std::string& text) { ui.ShowPortError(text); };
  timer_.SetInterval(kTickMs);
  // Records are paced by the tick: a late firing is a record late.
  timer_.SetThreadPriority(tpTimeCritical);
  timer_.OnTimer = [this](TComponent*) {
    if (tickWatcher_) tickWatcher_();
    form_.Timer1Timer();
  };
}

Station::~Station() {
  Stop();
}

void Station::Finish() {
  StopTicks();
  if (!form_.S().CaptureEnabled) return;
  try {
    form_.Core.CloseCapture();
  } catch (const std::exception& e) {
    ui_.ShowMessage(e.what());
  }
}

void Station::Stop() {
  timer_.SetEnabled(false);
  serial_.SetActive(false);
}
