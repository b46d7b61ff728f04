// The port opening of both kinds of run (steps 5, 6, 9 and 10).
#include <exception>
#include <string>

#include "sequencer/upload_dialogue.h"

namespace {

// A port number from the list's text; 0 when there is none.
int PortNumber(const std::string& text) {
  if (text.empty() || text.size() > 2) return 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  return std::stoi(text);
}

}  // namespace

void UploadDialogue::OpenPort() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  const int port = PortNumber(w.List(Ctl::CommPortBox).Text());
  if (port == 0) {
    // Without a chosen number no port is opened at all: another one could belong to
    // something else on this computer.
    const std::string text = "No Com port selected: go back to start and choose one";
    ShowRefusal(text);
    if (!s.MainUploadMode) w.HistAdd(text);
    w.Show(Ctl::BtnBackToStart);
    core_.EndRun(RunOutcome::PortFailure);
    s.Step = kIdleStep;
    return;
  }
  ForgetRefusal();
  const bool wasOpen = core_.Serial1.Active();
  core_.Serial1.SetBaudrate(s.UploadBaud);
  core_.Serial1.SetPort(port);
  if (s.CaptureEnabled) core_.Log("com port open at " + w.List(Ctl::BaudRateBox).Text(), "[co]");
  s.ReplyText.clear();
  // A new port or rate opens an open port again; when that failed it has been reported, and
  // opening once more would only show the same message a second time.
  if (!(wasOpen && !core_.Serial1.Active()))
    core_.Serial1.SetActive(true);  // an open port is closed and opened again
  s.PortOpenTicks = 0;
  s.Step = kPortWaitStep;
}

void UploadDialogue::PortOpened() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  const bool open = core_.Serial1.Active();
  const std::string word = open ? "is" : "did not";
  w.SetCaption(Ctl::Label12, "Port " + word + " open on Com " +
                                 std::to_string(core_.Serial1.Port()) + " at " +
                                 std::to_string(core_.Serial1.Baudrate()) + " baud");
  w.Hide(Ctl::Label10);
  s.Step = kIdleStep;
  if (!open) {
    // The help page for this screen tells the user to go back and choose another port.
    w.Show(Ctl::BtnBackToStart);
    core_.EndRun(RunOutcome::PortFailure);
    return;
  }
  core_.SetPhase(RunPhase::ChoosingFile);
  w.Show(Ctl::BtnChooseFile);
  // Failing to remember the settings must not keep the user from uploading.
  try {
    core_.SavePortSettings();
  } catch (const std::exception& e) {
    core_.Ui.ShowMessage(std::string("The port settings could not be saved: ") + e.what());
  }
}

void UploadDialogue::WaitForPort() {
  SequencerState& s = core_.S;
  ++s.PortOpenTicks;
  if (core_.Serial1.Active()) {
    s.ReplyText.clear();
    s.Step = s.MainUploadMode ? kPortOpenedStep : kFactoryInstructionsStep;
  } else if (s.PortOpenTicks >= kPortOpenTicks) {
    s.Step = s.MainUploadMode ? kPortOpenedStep : kFactoryPortFailedStep;
  }
}

void UploadDialogue::FactoryPortFailed() {
  core_.W.HistAdd("Com Port failed to open");
  // As after any failed factory run: a new one needs no restart of the program.
  core_.W.Show(Ctl::BtnBackToStart);
  core_.EndRun(RunOutcome::PortFailure);
  core_.S.Step = kIdleStep;
}
