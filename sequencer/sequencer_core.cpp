#include "sequencer/sequencer_core.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>

#include "components/file_errors.h"
#include "sequencer/next_step.h"

SequencerCore::SequencerCore(ISerialPort& serial, IClock& clock, IUiServices& ui,
                             std::string programDir)
    : Serial1(serial), Clock(clock), Ui(ui), Capture(clock), ProgramDir(std::move(programDir)) {}

void SequencerCore::WaitReplyCR(const std::string& word, int timeoutStep, std::string& reply,
                                int nextStep) {
  WaitReply('\r', word, timeoutStep, reply, nextStep);
}

void SequencerCore::WaitReplyLF(const std::string& word, int timeoutStep, std::string& reply,
                                int nextStep) {
  WaitReply('\n', word, timeoutStep, reply, nextStep);
}

void SequencerCore::WaitReply(char terminator, const std::string& word, int timeoutStep,
                              std::string& reply, int nextStep) {
  ++S.WaitTicks;
  reply.clear();
  // The budget's last tick gives up without looking at the received text.
  if (S.WaitTicks >= S.WaitLimit) {
    S.Step = timeoutStep;
    return;
  }
  const auto p = S.ReplyText.find(word);
  if (p == std::string::npos) return;
  const std::string tail = S.ReplyText.substr(p, kReplyWindow);
  const auto q = tail.find(terminator);
  if (q == std::string::npos) return;
  // Text that stood before the word belongs to the reply.
  const auto end = p + q + 1;
  reply = S.ReplyText.substr(0, end);
  S.ReplyText = S.ReplyText.substr(end, kReplyWindow);
  S.Step = nextStep;
}

void SequencerCore::SendCommand(const std::string& address, const std::string& command,
                                bool addressed) {
  S.ReplyText.clear();
  std::string frame = addressed ? "<" + address + "/" + command : command;
  frame += '\r';
  if (S.CaptureEnabled) Log(frame, "[out]");
  for (char c : frame) SendByte(static_cast<std::uint8_t>(c));
}

void SequencerCore::SendAndAdvance(const std::string& address, const std::string& command,
                                   bool addressed) {
  SendCommand(address, command, addressed);
  S.WaitTicks = 0;
  S.Step = S.Step + 1;
}

void SequencerCore::SendByte(std::uint8_t value) {
  Serial1.WriteChar(value);
}

void SequencerCore::Log(const std::string& text, const std::string& tag) {
  if (!S.CaptureEnabled) return;
  try {
    Capture.Log(text, tag);
  } catch (const EInOutError& e) {
    // The capture file is a diagnostic: a full disk must not stop an upload half way, with
    // the unit erased. Capture goes off, the user is told once, and the run goes on.
    try {
      CloseCapture();
    } catch (const EInOutError&) {
      // Closing a file that could not be written fails the same way; it is closed all the same.
    }
    Ui.ShowNotice("The capture file " + CaptureFileName() + " could not be written (" + e.what() +
                  "). Capture is now off; the run goes on.");
  }
}

void SequencerCore::CloseCapture() {
  S.CaptureEnabled = false;
  W.SetCaption(Ctl::BtnCaptureFile, "&Enable Capture File");
  W.SetCaption(Ctl::Label11, "Disabled");
  Capture.Close();
}

void SequencerCore::ToggleCapture() {
  if (S.CaptureEnabled) {
    CloseCapture();
    return;
  }
  // Capture is on only once the file is open: a folder without write rights or a full disk
  // leaves it off, says so, and writes nothing anywhere.
  try {
    Capture.Open(CaptureFileName());
  } catch (const EInOutError& e) {
    S.CaptureEnabled = false;
    W.SetCaption(Ctl::BtnCaptureFile, "&Enable Capture File");
    W.SetCaption(Ctl::Label11, "Disabled");
    Ui.ShowMessage("The capture file " + CaptureFileName() + " could not be opened (" + e.what() +
                   "). Capture stays off.");
    return;
  }
  S.CaptureEnabled = true;
  W.SetCaption(Ctl::BtnCaptureFile, "&Disable Capture File");
  W.SetCaption(Ctl::Label11, "Enabled");
  W.Show(Ctl::Label11);
}

void SequencerCore::ReadMessage() {
  // A receive event queued before a close must not read a port that is no longer open.
  if (!Serial1.Active()) return;
  std::string text;
  Serial1.ReadString(text);
  if (S.ReplyText.find('\r') == std::string::npos && text.find('\r') != std::string::npos) {
    // The line came when its first bytes reached the port, which may be well before this read.
    S.ReplyLineAt = Clock.TimeOfDay() - Serial1.InputAge() / 86400.0;
  }
  S.ReplyText += text;
  if (S.CaptureEnabled) Log(S.ReplyText, "[in]");
}

bool SequencerCore::PerformStep(int step) {
  if (step == kTimeOutStep) {
    TimeOut();
  } else if (step != kIdleStep) {
    if (step < kBlinkFirstStep || step > kBlinkLastStep) return false;
    Blink(step);
  }
  return true;
}

void SequencerCore::TimeOut() {
  const RunPhase phase = S.Phase;
  const bool otherSpeed = SoundsLikeAnotherSpeed(S.ReplyText);
  EndRun(RunOutcome::TimedOut);
  W.Show(Ctl::BtnBackToStart);
  if (S.MainUploadMode) W.Show(Ctl::BtnRepeatUpload);
  W.HistAdd("Timed out " + S.WaitingFor);
  W.SetCaption(Ctl::Label2, "Timed out " + S.WaitingFor);
  W.Clear(Ctl::Label10);
  const int baud = Serial1.Baudrate();
  const bool loaderSpeed = phase != RunPhase::Reboot && phase != RunPhase::Checksums;
  S.OtherSpeedHeard = otherSpeed;
  if (otherSpeed && loaderSpeed && S.MainUploadMode) S.OtherSpeedBaud = OtherLoaderBaud(baud);
  const bool delivered = S.BlockCount > 0 && S.BlocksSent == S.BlockCount;
  Advise(NextStepAfterTimeOut(phase, otherSpeed, baud, S.MainUploadMode, delivered));
  S.Step = kIdleStep;
}

void SequencerCore::Blink(int step) {
  if (step >= kBlinkFirstStep && step < kBlinkBlueStep) {
    W.SetFontColor(Ctl::Label10, clRed);
    S.Step = step + 1;
  } else if (step >= kBlinkBlueStep && step < kBlinkLastStep) {
    W.SetFontColor(Ctl::Label10, clBlue);
    S.Step = step + 1;
  } else if (step == kBlinkLastStep) {
    W.SetFontColor(Ctl::Label10, clBlue);
    S.Step = kBlinkFirstStep;
  }
}

void SequencerCore::LoadPortSettings() {
  W.SetItemIndex(Ctl::CommPortBox, 0);
  W.SetItemIndex(Ctl::BaudRateBox, 0);
  const std::string path = ProgramDir + "commsUP.txt";
  std::error_code ec;
  const bool present = std::filesystem::exists(path, ec);
  std::ifstream in(path, std::ios::binary);
  // A settings file that is there but cannot be read is reported (by the caller); a missing
  // one just leaves the first entries.
  if (present && !in) throw EInOutError::FromErrno(errno);
  if (in) {
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      W.SelectText(Ctl::CommPortBox, line.substr(0, 1));
      W.SelectText(Ctl::BaudRateBox, "38400");
    }
  }
  LoadedPort = W.List(Ctl::CommPortBox).Text();
}

void SequencerCore::SavePortSettings() {
  const std::string port = W.List(Ctl::CommPortBox).Text();
  if (!RememberPort || port == LoadedPort) return;
  const std::string path = ProgramDir + "commsUP.txt";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EInOutError::FromErrno(errno);
#ifdef _WIN32
  out << port << ',' << W.List(Ctl::BaudRateBox).Text() << "\r\n";
#else
  out << port << ',' << W.List(Ctl::BaudRateBox).Text() << "\n";
#endif
  out.close();
  if (!out) throw EInOutError::FromErrno(errno);
}

void SequencerCore::StopRunWithError(const std::string& message) {
  EndRun(S.Phase == RunPhase::Preparing ? RunOutcome::BadInput : RunOutcome::InputOutputError);
  S.Step = 0;
  W.Show(Ctl::BtnBackToStart);
  Ui.ShowMessage(message);
}

void SequencerCore::PortLost() {
  // Windows names the device by the port's own name: "Com 3 (COM3)" would say nothing more.
  const std::string device = Serial1.DeviceName(Serial1.Port());
  const bool named = !device.empty() && device.rfind("COM", 0) != 0;
  const std::string text = "The run has stopped: Com " + std::to_string(Serial1.Port()) +
                           (named ? " (" + device + ")" : "") + " is no longer there";
  if (S.CaptureEnabled) {
    try {
      Log(text, "[er]");
    } catch (const std::exception&) {
      // The capture file's own failure has been reported by Log.
    }
  }
  S.UploadFile.Close();
  if (S.MainUploadMode) {
    W.SetCaption(Ctl::Label2, text);
    W.SetFontColor(Ctl::Label2, clRed);
    W.Clear(Ctl::Label10);
    W.Show(Ctl::BtnRepeatUpload);
  } else {
    W.HistAdd(text);
  }
  W.Show(Ctl::BtnBackToStart);
  EndRun(RunOutcome::PortFailure);
  S.Step = kIdleStep;
}

bool SequencerCore::ReopenPort() {
  if (Serial1.Active()) return true;
  S.ReplyText.clear();
  Serial1.SetBaudrate(S.UploadBaud);
  Serial1.SetActive(true);  // a failure is reported by the port itself
  if (Serial1.Active()) return true;
  W.SetCaption(Ctl::Label12, "Port did not open on Com " + std::to_string(Serial1.Port()) + " at " +
                                 std::to_string(Serial1.Baudrate()) + " baud");
  return false;
}

void SequencerCore::BeginRun(RunPhase phase) {
  S.Outcome = RunOutcome::None;
  // A stopped run may have left the block line red: the next one starts in its own blue.
  W.SetFontColor(Ctl::Label2, clBlue);
  S.NextStep.clear();
  S.OtherSpeedHeard = false;
  S.OtherSpeedBaud = 0;
  S.CheckedUploadFile = false;
  linesSent_ = 0;
  linesTotal_ = 0;
  S.Phase = RunPhase::Idle;
  SetPhase(phase);
}

void SequencerCore::SetPhase(RunPhase phase) {
  if (S.Phase == phase) return;
  S.Phase = phase;
  RaiseProgress();
}

void SequencerCore::EndRun(RunOutcome outcome) {
  S.Outcome = outcome;
  // The factory screen's warning stands while the unit is being written, not after a stop.
  if (!S.MainUploadMode && !RunWentThrough(outcome)) W.Clear(Ctl::Label16);
  SetPhase(RunPhase::Ended);
}

void SequencerCore::Advise(const std::string& text) {
  S.NextStep = text;
  if (!text.empty()) W.HistAdd(text);
}

void SequencerCore::RecordsProgressed() {
  RaiseProgress();
}

void SequencerCore::LinesProgressed(int sent, int total) {
  linesSent_ = sent;
  linesTotal_ = total;
  RaiseProgress();
}

void SequencerCore::RaiseProgress() {
  if (OnProgress)
    OnProgress(RunProgress{S.Phase, S.BlocksSent, S.BlockCount, linesSent_, linesTotal_});
}
