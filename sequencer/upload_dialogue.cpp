#include "sequencer/upload_dialogue.h"

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

constexpr int kFactoryStartStep = 541;
constexpr int kFactoryPortFailedStep = 9;
constexpr int kFactoryEndStep = 599;
constexpr int kCompletionStep = 82;
constexpr int kHaltStep = 88;
constexpr int kResendStep = 999;
constexpr int kRecordReplyStep = 68;
constexpr int kBlinkStep = 183;
constexpr int kRebootStep = 76;
constexpr int kHelpCompleted = 5;

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

// The loader's short answers: "R" + CR and "S" + CR. Only the first such letter of the line
// counts.
bool FirstLetterEndsLine(const std::string& text, char letter) {
  const auto p = text.find(letter);
  return p != std::string::npos && p + 1 < text.size() && text[p + 1] == '\r';
}

// A port number from the list's text; 0 when there is none.
int PortNumber(const std::string& text) {
  if (text.empty() || text.size() > 2) return 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  return std::stoi(text);
}

}  // namespace

bool UploadDialogue::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  std::string reply;
  switch (step) {
    case 5:
      OpenPort();
      return true;
    case 6:
      ++s.PortOpenTicks;
      if (core_.Serial1.Active()) {
        s.ReplyText.clear();
        s.Step = s.MainUploadMode ? 10 : kFactoryStartStep;
      } else if (s.PortOpenTicks >= kPortOpenTicks) {
        s.Step = s.MainUploadMode ? 10 : kFactoryPortFailedStep;
      }
      return true;
    case 9:
      w.HistAdd("Com Port failed to open");
      s.Step = 0;
      return true;
    case 10:
      PortOpened();
      return true;
    case 42:
      ReadyScreen();
      return true;
    case 44:
      SendU();
      s.Step = 45;
      return true;
    case 45:
      s.WaitingFor = "waiting for response";
      if (Contains(s.ReplyText, "READY")) {
        // Nothing is consumed: the "GO" that follows clears the received text.
        w.Show("Label10");
        s.Step = 54;
        return true;
      }
      SendU();
      if (s.AttemptCount > kHandshakeMaxSends) s.Step = kTimeOutStep;
      return true;
    case 54:
      s.StartTime = core_.Clock.TimeOfDay();
      s.BlocksSent = 0;
      s.RecordRequested = false;
      w.HistAdd("Got U,READY handshake");
      w.HistAdd("Sending GO");
      w.SetCaption("Label2", "Got READY, sending GO...");
      core_.SendAndAdvance("", "GO", false);
      s.WaitLimit = kDialogueBudgetTicks;
      return true;
    case 55:
      s.WaitingFor = "waiting for Erasing message";
      core_.WaitReplyCR("ERASING", kTimeOutStep, reply, 56);
      s.LastReply = reply;
      return true;
    case 56:
      w.HistAdd("Erasing...");
      w.SetCaption("Label2", "Erasing...");
      s.WaitTicks = 0;
      s.Step = 57;
      return true;
    case 57:
      // "ERASING..." does not contain "ERASE": the erase result is the next such line.
      s.WaitingFor = "waiting for Erase Complete/Timeout";
      core_.WaitReplyCR("ERASE", kTimeOutStep, reply, 58);
      s.LastReply = reply;
      return true;
    case 58:
      if (Contains(s.LastReply, "ERASE ERROR")) {
        w.HistAdd(s.LastReply);
        w.SetCaption("Label2", s.LastReply);
        s.WaitTicks = 0;
        s.Step = 59;
      } else if (Contains(s.LastReply, "COMPLETE")) {
        w.HistAdd("Erase complete");
        w.SetCaption("Label2", "Erase complete...");
        // Read only, so that a file on read-only media can be sent.
        s.UploadFile.Close();
        s.UploadFile.Open(s.UploadFileName, ByteFile::Mode::Read);
        s.Step = 66;
      } else {
        w.SetCaption("Label2", "unexpected response: " + s.LastReply);
        // Offer the ways on that a time-out offers, so that the user is not left with Close.
        w.Show("BtnBackToStart");
        if (s.MainUploadMode) w.Show("BtnRepeatUpload");
        s.Step = 0;
      }
      return true;
    case 59:
      s.WaitingFor = "waiting for Error Block";
      core_.WaitReplyCR("BLOCK", kTimeOutStep, reply, 60);
      s.LastReply = reply;
      if (s.CaptureEnabled) core_.Log(s.LastReply, "[in]");
      return true;
    case 60:
      w.HistAdd(s.LastReply);
      w.SetCaption("Label2", s.LastReply);
      s.WaitTicks = 0;
      s.Step = 57;
      return true;
    case 66:
      s.UploadFile.Seek(0);
      w.Gauge().SetMaxValue(s.BlockCount);
      w.Gauge().SetProgress(0);
      w.Show("Gauge");
      s.WaitTicks = 0;
      // No record goes out until the unit asks for the first one.
      s.RecordRequested = false;
      w.HistAdd("Sending FlashCode...");
      w.HistAdd("Sending Lines...");
      s.Step = 67;
      return true;
    case 67:
      RecordRequest();
      return true;
    case 73:
      core_.SendAndAdvance("", "UPLOAD DONE", false);
      w.SetCaption("Label15", "Upload done...");
      return true;
    case 74:
      s.WaitingFor = "waiting for Thank You";
      core_.WaitReplyCR("THANK YOU", kTimeOutStep, reply, 75);
      s.LastReply = reply;
      return true;
    case 75:
      EndOfDialogue();
      return true;
    case kCompletionStep:
      CompletionScreen();
      return true;
    case kHaltStep:
      HaltScreen();
      return true;
    case kResendStep:
      SendSameRecordAgain();
      return true;
    default:
      return false;
  }
}

void UploadDialogue::OpenPort() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  const int port = PortNumber(w.List("CommPortBox").Text());
  if (port == 0) {
    // Without a chosen number no port is opened at all: another one could belong to
    // something else on this computer.
    const std::string text = "No Com port selected: go back to start and choose one";
    ShowRefusal(text);
    if (!s.MainUploadMode) w.HistAdd(text);
    w.Show("BtnBackToStart");
    s.Step = 0;
    return;
  }
  ForgetRefusal();
  core_.Serial1.SetBaudrate(s.UploadBaud);
  core_.Serial1.SetPort(port);
  if (s.CaptureEnabled) core_.Log("com port open at " + w.List("BaudRateBox").Text(), "[co]");
  s.ReplyText.clear();
  core_.Serial1.SetActive(true);  // an open port is closed and opened again
  s.PortOpenTicks = 0;
  s.Step = 6;
}

void UploadDialogue::PortOpened() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  const bool open = core_.Serial1.Active();
  const std::string word = open ? "is" : "did not";
  w.SetCaption("Label12", "Port " + word + " open on Com " + std::to_string(core_.Serial1.Port()) +
                              " at " + std::to_string(core_.Serial1.Baudrate()) + " baud");
  w.Hide("Label10");
  s.Step = 0;
  if (!open) return;
  w.Show("BtnChooseFile");
  // Failing to remember the settings must not keep the user from uploading.
  try {
    core_.SavePortSettings();
  } catch (const std::exception& e) {
    core_.Ui.ShowMessage(std::string("The port settings could not be saved: ") + e.what());
  }
}

std::string UploadDialogue::UploadFileProblem() const {
  const SequencerState& s = core_.S;
  if (s.UploadFileName.empty()) return "No upload file has been chosen";
  std::error_code ec;
  const auto size = std::filesystem::file_size(s.UploadFileName, ec);
  if (ec) return "The upload file " + s.UploadFileName + " cannot be read: " + ec.message();
  if (size < kTrailerSize || (size - kTrailerSize) % kRecordSize != 0) {
    return "The upload file " + s.UploadFileName + " is not a complete upload file: its " +
           std::to_string(size) + " bytes are not whole 135-byte records followed by the " +
           "8-byte checksum trailer. Choose another file";
  }
  const auto records = (size - kTrailerSize) / kRecordSize;
  if (records != static_cast<std::uintmax_t>(s.BlockCount)) {
    return "The upload file " + s.UploadFileName + " has changed since it was chosen (" +
           std::to_string(records) + " records, not " + std::to_string(s.BlockCount) +
           "). Choose it again";
  }
  return {};
}

bool UploadDialogue::RefuseBadUploadFile() {
  const std::string problem = UploadFileProblem();
  if (problem.empty()) return false;
  WindowModel& w = core_.W;
  ShowRefusal(problem);
  w.Hide("BtnStartRun");
  for (const char* name : {"Label15", "Label4", "Label8", "Label2"}) w.Clear(name);
  w.Show("BtnBackToStart");
  core_.S.Step = 0;
  return true;
}

void UploadDialogue::ShowRefusal(const std::string& text) {
  WindowModel& w = core_.W;
  if (!label12Before_) label12Before_ = w.FontColor("Label12");
  w.SetCaption("Label12", text);
  w.SetFontColor("Label12", clRed);
}

void UploadDialogue::ForgetRefusal() {
  if (!label12Before_) return;
  if (core_.W.FontColor("Label12") == clRed) core_.W.SetFontColor("Label12", *label12Before_);
  label12Before_.reset();
}

void UploadDialogue::ReadyScreen() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (RefuseBadUploadFile()) return;
  ForgetRefusal();
  w.Clear("Label2");
  w.SetCaption("Label15", "THE UNIT MUST BE OFF");
  w.SetFontSize("Label15", 12);
  w.SetFontColor("Label15", clRed);
  w.SetCaption("Label4", "Click on <Start Upload> button");
  w.Show("BtnStartRun");
  w.SetFontColor("Label4", clBlue);
  w.SetFontSize("Label4", 12);
  w.SetCaption("Label8", "Upload will be " + std::to_string(s.BlockCount) + " blocks," +
                             UploadEstimate(s.BlockCount, core_.Serial1.Baudrate()));
  w.SetFontColor("Label8", clBlue);
  s.Step = 0;
}

void UploadDialogue::BtnStartRunClick() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  // The file may have changed since the ready screen: nothing goes on the wire unless it
  // can be sent whole.
  if (RefuseBadUploadFile()) return;
  ForgetRefusal();
  w.Clear("Label4");
  w.Clear("Label12");
  w.Clear("Label15");
  w.SetCaption("Label10", "DO NOT INTERRUPT UPLOAD");
  w.SetFontSize("Label10", 14);
  w.SetFontColor("Label10", clRed);
  w.Hide("Label10");  // shown once the unit has answered the handshake
  w.Hide("BtnStartRun");
  s.AttemptCount = 0;
  w.SetFontColor("Label8", clBlack);
  w.SetFontColor("Label15", clBlack);
  w.SetFontSize("Label2", 13);
  w.SetCaption("Label2", "POWER UP THE UNIT, NOW");
  s.Step = 44;
}

void UploadDialogue::SendU() {
  SequencerState& s = core_.S;
  core_.Serial1.WriteString("U");
  if (s.CaptureEnabled) core_.Log("U", "[out]");
  ++s.AttemptCount;
}

void UploadDialogue::RecordRequest() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  std::string reply;
  s.WaitingFor = "waiting for SEND BLOCK message";
  core_.WaitReplyCR("\r", kResendStep, reply, kRecordReplyStep);
  s.LastReply = reply;
  if (s.Step != kRecordReplyStep) return;
  const std::string& line = s.LastReply;
  // "RESEND BLOCK" contains "SEND": it is tested first.
  if (Contains(line, "RESEND") || FirstLetterEndsLine(line, 'R')) {
    if (s.RecordRequested) {
      sender_.ResendRecord();
    } else {
      // Nothing of this run has gone out yet: the unit missed its own first request, and
      // the record it wants is the first one.
      s.RecordRequested = true;
      sender_.SendRecord();
    }
    s.WaitTicks = 0;
    s.Step = 67;
  } else if (Contains(line, "SEND") || FirstLetterEndsLine(line, 'S')) {
    s.RecordRequested = true;
    if (s.BlocksSent == s.BlockCount) {
      s.Step = 73;  // all records are out
      return;
    }
    sender_.SendRecord();
    s.WaitTicks = 0;
    s.Step = 67;
  } else if (Contains(line, "FAILED")) {
    w.SetCaption("Label2", "Upload failed");
    w.Clear("Label4");
    // Logging stops with the run; the file is closed properly so that nothing is lost.
    if (s.CaptureEnabled) {
      try {
        core_.CloseCapture();
      } catch (const std::exception& e) {
        core_.Ui.ShowMessage(std::string("The capture file could not be closed: ") + e.what());
      }
    }
    s.Step = kHaltStep;
  } else if (!s.RecordRequested) {
    // An unknown line before the first request: RecordBuffer holds nothing of this run, so
    // nothing is sent; wait on for the request.
    s.WaitTicks = 0;
    s.Step = 67;
  } else {
    s.Step = kResendStep;
  }
}

void UploadDialogue::SendSameRecordAgain() {
  SequencerState& s = core_.S;
  s.ReplyText.clear();
  if (s.RecordRequested) {
    if (s.CaptureEnabled) core_.Log("resend", "[out]");
    sender_.ResendRecord();
  }
  // Before the first request a silent unit gets nothing: RecordBuffer is not of this run.
  s.WaitTicks = 0;
  s.Step = 67;
}

void UploadDialogue::EndOfDialogue() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (!s.MainUploadMode) {
    s.Step = kFactoryEndStep;
    return;
  }
  s.EndTime = core_.Clock.TimeOfDay();
  w.Clear("Label2");
  w.Hide("Gauge");
  // The trailer stands right behind the last record.
  s.UploadFile.Seek(static_cast<std::uint64_t>(s.BlockCount) * kRecordSize);
  sender_.ReadFileChecksums();
  w.SetCaption("Label15", "Software Upload complete");
  s.UploadFile.Close();
  s.HelpContext = kHelpCompleted;
  if (s.BlockCount >= kChecksumCheckRecords) {
    w.SetCaption("Label4", "Unit re-booting, wait ...");
    s.Step = kRebootStep;
    s.RebootTicks = 0;
    core_.Serial1.SetBaudrate(kRemoteControlBaud);
  } else {
    s.Step = kCompletionStep;
  }
}

void UploadDialogue::CompletionScreen() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  w.Show("BtnBackToStart");
  w.Show("BtnRepeatUpload");
  w.SetFontSize("Label10", 15);
  w.SetFontColor("Label10", clBlue);
  w.SetCaption("Label10", "Now, CYCLE POWER on the RQ-410....");
  w.SetCaption("Label4", "Upload complete. Time taken: " + TimeTakenText(s.StartTime, s.EndTime));
  w.SetFontColor("Label4", clBlack);
  s.Step = kBlinkStep;
}

void UploadDialogue::HaltScreen() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  s.EndTime = core_.Clock.TimeOfDay();
  // The run is over: the upload file is not left open behind it.
  s.UploadFile.Close();
  w.SetCaption("Label4", "Upload HALTED. Time taken: " + TimeTakenText(s.StartTime, s.EndTime));
  w.SetFontColor("Label4", clRed);
  w.Clear("Label15");
  w.SetFontSize("Label10", 12);
  w.SetFontColor("Label10", clBlue);
  w.SetCaption("Label10", "Click on <Close> button");
  w.Show("BtnBackToStart");
  if (s.MainUploadMode) w.Show("BtnRepeatUpload");
  s.Step = 0;
}
