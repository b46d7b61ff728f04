#include "sequencer/upload_dialogue.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>

#include "sequencer/checksum_check.h"

namespace {

constexpr int kHelpCompleted = 5;

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

// A line from the loader while records go, blanks and control characters around it aside.
// Only whole lines count: a request is "SEND BLOCK" or "S", a resend "RESEND BLOCK" or "R".
// Matching a part of the line would take a damaged "RESEND BLOCK" ("PESEND BLOCK") for a
// request, and the record it asked for would never reach the unit.
enum class RecordReply { Request, Resend, Failed, Unknown };

RecordReply ClassifyRecordReply(const std::string& line) {
  const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; };
  std::size_t begin = 0, end = line.size();
  while (begin < end && isSpace(line[begin])) ++begin;
  while (end > begin && isSpace(line[end - 1])) --end;
  const std::string_view text(line.data() + begin, end - begin);
  if (text == "SEND BLOCK" || text == "S") return RecordReply::Request;
  if (text == "RESEND BLOCK" || text == "R") return RecordReply::Resend;
  if (line.find("FAILED") != std::string::npos) return RecordReply::Failed;
  return RecordReply::Unknown;
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
    case kOpenPortStep:
      OpenPort();
      return true;
    case kPortWaitStep:
      ++s.PortOpenTicks;
      if (core_.Serial1.Active()) {
        s.ReplyText.clear();
        s.Step = s.MainUploadMode ? kPortOpenedStep : factoryPortOpenedStep_;
      } else if (s.PortOpenTicks >= kPortOpenTicks) {
        s.Step = s.MainUploadMode ? kPortOpenedStep : kFactoryPortFailedStep;
      }
      return true;
    case kFactoryPortFailedStep:
      w.HistAdd("Com Port failed to open");
      // As after any failed factory run: a new one needs no restart of the program.
      w.Show(Ctl::BtnBackToStart);
      core_.EndRun(RunOutcome::PortFailure);
      s.Step = kIdleStep;
      return true;
    case kPortOpenedStep:
      PortOpened();
      return true;
    case kReadyStep:
      ReadyScreen();
      return true;
    case kHandshakeStep:
      core_.SetPhase(RunPhase::Handshake);
      SendU();
      s.Step = kHandshakeWaitStep;
      return true;
    case kHandshakeWaitStep:
      s.WaitingFor = "waiting for response";
      if (Contains(s.ReplyText, "READY")) {
        // Nothing is consumed: the "GO" that follows clears the received text.
        w.Show(Ctl::Label10);
        s.Step = kSendGoStep;
        return true;
      }
      SendU();
      if (s.AttemptCount > kHandshakeMaxSends) s.Step = kTimeOutStep;
      return true;
    case kSendGoStep:
      if (!OpenCheckedUploadFile()) return true;
      core_.SetPhase(RunPhase::Erase);
      s.StartTime = core_.Clock.TimeOfDay();
      s.BlocksSent = 0;
      s.RecordRequested = false;
      s.EraseErrors = 0;
      refusalsInARow_ = 0;
      w.HistAdd("Got U,READY handshake");
      w.HistAdd("Sending GO");
      w.SetCaption(Ctl::Label2, "Got READY, sending GO...");
      core_.SendAndAdvance("", "GO", false);
      s.WaitLimit = kDialogueBudgetTicks;
      return true;
    case kErasingWaitStep:
      s.WaitingFor = "waiting for Erasing message";
      core_.WaitReplyCR("ERASING", kTimeOutStep, reply, kErasingStep);
      s.LastReply = reply;
      return true;
    case kErasingStep:
      w.HistAdd("Erasing...");
      w.SetCaption(Ctl::Label2, "Erasing...");
      s.WaitTicks = 0;
      s.Step = kEraseResultWaitStep;
      return true;
    case kEraseResultWaitStep:
      // "ERASING..." does not contain "ERASE": the erase result is the next such line.
      s.WaitingFor = "waiting for Erase Complete/Timeout";
      core_.WaitReplyCR("ERASE", kTimeOutStep, reply, kEraseResultStep);
      s.LastReply = reply;
      return true;
    case kEraseResultStep:
      if (Contains(s.LastReply, "ERASE ERROR")) {
        ++s.EraseErrors;
        w.HistAdd(s.LastReply);
        w.SetCaption(Ctl::Label2, s.LastReply);
        s.WaitTicks = 0;
        s.Step = kEraseErrorBlockWaitStep;
      } else if (Contains(s.LastReply, "COMPLETE")) {
        w.HistAdd("Erase complete");
        w.SetCaption(Ctl::Label2, "Erase complete...");
        s.UploadFile.Seek(0);
        s.Step = kRecordsStartStep;
      } else {
        s.UploadFile.Close();
        w.SetCaption(Ctl::Label2, "unexpected response: " + s.LastReply);
        // A factory run shows its history, not the Software Upload's labels.
        if (!s.MainUploadMode) w.HistAdd("unexpected response: " + s.LastReply);
        // Offer the ways on that a time-out offers, so that the user is not left with Close.
        w.Show(Ctl::BtnBackToStart);
        if (s.MainUploadMode) w.Show(Ctl::BtnRepeatUpload);
        core_.EndRun(RunOutcome::UnexpectedAnswer);
        s.Step = kIdleStep;
      }
      return true;
    case kEraseErrorBlockWaitStep:
      s.WaitingFor = "waiting for Error Block";
      core_.WaitReplyCR("BLOCK", kTimeOutStep, reply, kEraseErrorBlockStep);
      s.LastReply = reply;
      if (s.CaptureEnabled) core_.Log(s.LastReply, "[in]");
      return true;
    case kEraseErrorBlockStep:
      w.HistAdd(s.LastReply);
      w.SetCaption(Ctl::Label2, s.LastReply);
      s.WaitTicks = 0;
      s.Step = kEraseResultWaitStep;
      return true;
    case kRecordsStartStep:
      s.UploadFile.Seek(0);
      w.Gauge().SetMaxValue(s.BlockCount);
      w.Gauge().SetProgress(0);
      w.Show(Ctl::Gauge);
      s.WaitTicks = 0;
      // No record goes out until the unit asks for the first one.
      s.RecordRequested = false;
      w.HistAdd("Sending FlashCode...");
      w.HistAdd("Sending Lines...");
      core_.SetPhase(RunPhase::Records);
      s.Step = kRecordRequestStep;
      return true;
    case kRecordRequestStep:
      RecordRequest();
      return true;
    case kUploadDoneStep:
      core_.SetPhase(RunPhase::Finishing);
      core_.SendAndAdvance("", "UPLOAD DONE", false);
      w.SetCaption(Ctl::Label15, "Upload done...");
      return true;
    case kThankYouWaitStep:
      s.WaitingFor = "waiting for Thank You";
      core_.WaitReplyCR("THANK YOU", kTimeOutStep, reply, kDialogueEndStep);
      s.LastReply = reply;
      return true;
    case kDialogueEndStep:
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

std::string UploadDialogue::UploadFileProblem(bool askAboutSums) {
  SequencerState& s = core_.S;
  if (s.UploadFileName.empty()) return "No upload file has been chosen";
  // Read whole now: what is checked is what is sent, whatever happens to the file meanwhile.
  try {
    s.UploadFile.Load(s.UploadFileName);
  } catch (const std::exception& e) {
    return "The upload file " + s.UploadFileName + " cannot be read: " + e.what() +
           ". Choose it again";
  }
  const UploadFileCheck check = CheckUploadFile(s.UploadFile, s.UploadFileName);
  if (check.fault == UploadFileFault::NotWholeRecords || check.fault == UploadFileFault::TooLarge)
    return check.problem;
  if (check.records != s.BlockCount) {
    return "The upload file " + s.UploadFileName + " has changed since it was chosen (" +
           std::to_string(check.records) + " records, not " + std::to_string(s.BlockCount) +
           "). Choose it again";
  }
  if (check.fault != UploadFileFault::SumsDisagree) return check.problem;
  // As with an Intel HEX file of wrong line checksums: the user may know better.
  if (!askAboutSums || core_.Ui.Confirm(check.problem + ". Send it anyway?")) return {};
  return check.problem + ". Nothing was sent: make the upload file again or choose another";
}

bool UploadDialogue::OpenCheckedUploadFile() {
  SequencerState& s = core_.S;
  s.UploadFile.Seek(0);
  if (!s.CheckedUploadFile) return true;  // a factory run's own file, made a moment ago
  // The records go from memory; a file put in its place since Start (a new conversion, a
  // copy) is refused while the unit still holds its firmware, as the user meant another.
  HeldUploadFile now;
  try {
    now.Load(s.UploadFileName);
  } catch (const std::exception&) {
    now.Close();
  }
  if (now.Bytes() == s.UploadFile.Bytes()) return true;
  s.UploadFile.Close();
  core_.W.Hide(Ctl::Label10);
  Refuse("The upload file " + s.UploadFileName +
         " has changed since the upload was started, so nothing has been sent to the unit. "
         "Switch the unit off and choose the file again");
  return false;
}

bool UploadDialogue::RefuseBadUploadFile(bool askAboutSums) {
  const std::string problem = UploadFileProblem(askAboutSums);
  if (problem.empty()) {
    core_.S.CheckedUploadFile = true;
    return false;
  }
  core_.S.UploadFile.Close();
  Refuse(problem);
  return true;
}

void UploadDialogue::Refuse(const std::string& problem) {
  WindowModel& w = core_.W;
  ShowRefusal(problem);
  w.Hide(Ctl::BtnStartRun);
  for (Ctl name : {Ctl::Label15, Ctl::Label4, Ctl::Label8, Ctl::Label2}) w.Clear(name);
  w.Show(Ctl::BtnBackToStart);
  core_.EndRun(RunOutcome::RefusedBeforeSending);
  core_.S.Step = kIdleStep;
}

void UploadDialogue::ShowRefusal(const std::string& text) {
  WindowModel& w = core_.W;
  if (!label12Before_) label12Before_ = w.FontColor(Ctl::Label12);
  w.SetCaption(Ctl::Label12, text);
  w.SetFontColor(Ctl::Label12, clRed);
}

void UploadDialogue::ForgetRefusal() {
  if (!label12Before_) return;
  if (core_.W.FontColor(Ctl::Label12) == clRed) core_.W.SetFontColor(Ctl::Label12, *label12Before_);
  label12Before_.reset();
}

void UploadDialogue::ReadyScreen() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (RefuseBadUploadFile()) return;
  ForgetRefusal();
  w.Clear(Ctl::Label2);
  w.SetCaption(Ctl::Label15, "THE UNIT MUST BE OFF");
  w.SetFontSize(Ctl::Label15, 12);
  w.SetFontColor(Ctl::Label15, clRed);
  w.SetCaption(Ctl::Label4, "Click on <Start Upload> button");
  w.Show(Ctl::BtnStartRun);
  w.SetFontColor(Ctl::Label4, clBlue);
  w.SetFontSize(Ctl::Label4, 12);
  w.SetCaption(Ctl::Label8, "Upload will be " + std::to_string(s.BlockCount) + " blocks," +
                                UploadEstimate(s.BlockCount, core_.Serial1.Baudrate()));
  w.SetFontColor(Ctl::Label8, clBlue);
  core_.SetPhase(RunPhase::Ready);
  s.Step = kIdleStep;
}

void UploadDialogue::BtnStartRunClick() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  // The file may have changed since the ready screen: nothing goes on the wire unless it
  // can be sent whole.
  core_.BeginRun(RunPhase::Ready);
  if (RefuseBadUploadFile(true)) return;
  ForgetRefusal();
  w.Clear(Ctl::Label4);
  w.Clear(Ctl::Label12);
  w.Clear(Ctl::Label15);
  w.SetCaption(Ctl::Label10, "DO NOT INTERRUPT UPLOAD");
  w.SetFontSize(Ctl::Label10, 14);
  w.SetFontColor(Ctl::Label10, clRed);
  w.Hide(Ctl::Label10);  // shown once the unit has answered the handshake
  w.Hide(Ctl::BtnStartRun);
  w.Hide(Ctl::BtnBackToStart);
  s.AttemptCount = 0;
  w.SetFontColor(Ctl::Label8, clBlack);
  w.SetFontColor(Ctl::Label15, clBlack);
  w.SetFontSize(Ctl::Label2, 13);
  w.SetCaption(Ctl::Label2, "POWER UP THE UNIT, NOW");
  core_.SetPhase(RunPhase::Handshake);
  s.Step = kHandshakeStep;
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
  switch (ClassifyRecordReply(s.LastReply)) {
    case RecordReply::Resend:
      // Before anything of this run has gone out, the unit missed its own first request, and
      // the record it wants is the first one.
      SendCurrentRecordAgain();
      return;
    case RecordReply::Request:
      s.RecordRequested = true;
      refusalsInARow_ = 0;
      if (s.BlocksSent == s.BlockCount) {
        s.Step = kUploadDoneStep;  // all records are out
        return;
      }
      sender_.SendRecord();
      s.WaitTicks = 0;
      s.Step = kRecordRequestStep;
      return;
    case RecordReply::Failed:
      w.SetCaption(Ctl::Label2, "Upload failed");
      if (!s.MainUploadMode) w.HistAdd("Upload failed");
      w.Clear(Ctl::Label4);
      // Logging stops with the run; the file is closed properly so that nothing is lost.
      if (s.CaptureEnabled) {
        try {
          core_.CloseCapture();
        } catch (const std::exception& e) {
          core_.Ui.ShowMessage(std::string("The capture file could not be closed: ") + e.what());
        }
      }
      s.Step = kHaltStep;
      return;
    case RecordReply::Unknown:
      if (!s.RecordRequested) {
        // An unknown line before the first request: RecordBuffer holds nothing of this run,
        // so nothing is sent; wait on for the request.
        s.WaitTicks = 0;
        s.Step = kRecordRequestStep;
      } else {
        s.Step = kResendStep;
      }
      return;
  }
}

void UploadDialogue::SendSameRecordAgain() {
  core_.S.ReplyText.clear();
  // At the time-out of the first wait the unit's first request was lost: both sides would
  // wait on each other for ever, so the first record goes out as if it had been asked for.
  SendCurrentRecordAgain();
}

void UploadDialogue::SendCurrentRecordAgain() {
  SequencerState& s = core_.S;
  if (s.RecordRequested) {
    RecordRefusedOnce();
    if (s.Step == kIdleStep) return;
  } else {
    // Read now from the file: the buffer holds nothing of this run.
    s.RecordRequested = true;
    sender_.SendRecord();
  }
  s.WaitTicks = 0;
  s.Step = kRecordRequestStep;
}

void UploadDialogue::RecordRefusedOnce() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (++refusalsInARow_ < kMaxRefusalsOfOneRecord) {
    if (s.Step == kResendStep && s.CaptureEnabled) core_.Log("resend", "[out]");
    sender_.ResendRecord();
    return;
  }
  s.EndTime = core_.Clock.TimeOfDay();
  s.UploadFile.Close();
  const std::string text = "Record " + std::to_string(s.BlocksSent) + " of " +
                           std::to_string(s.BlockCount) + " was refused " +
                           std::to_string(kMaxRefusalsOfOneRecord) +
                           " times in a row. Check the cable and its plugs and keep it away from "
                           "sources of noise; if the upload file may be damaged, make it again";
  w.HistAdd(text);
  w.SetCaption(Ctl::Label2, text);
  w.SetFontColor(Ctl::Label2, clRed);
  w.Clear(Ctl::Label10);
  w.Show(Ctl::BtnBackToStart);
  if (s.MainUploadMode) w.Show(Ctl::BtnRepeatUpload);
  core_.EndRun(RunOutcome::RecordRefused);
  s.Step = kIdleStep;
}

void UploadDialogue::EndOfDialogue() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (!s.MainUploadMode) {
    s.Step = factoryEndStep_;
    return;
  }
  s.EndTime = core_.Clock.TimeOfDay();
  w.Clear(Ctl::Label2);
  w.Hide(Ctl::Gauge);
  // The trailer stands right behind the last record.
  s.UploadFile.Seek(static_cast<std::uint64_t>(s.BlockCount) * kRecordSize);
  sender_.ReadFileChecksums();
  w.SetCaption(Ctl::Label15, "Software Upload complete");
  s.UploadFile.Close();
  s.HelpContext = kHelpCompleted;
  if (s.BlockCount >= kChecksumCheckRecords) {
    w.SetCaption(Ctl::Label4, "Unit re-booting, wait ...");
    core_.SetPhase(RunPhase::Reboot);
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
  w.Show(Ctl::BtnBackToStart);
  w.Show(Ctl::BtnRepeatUpload);
  w.SetFontSize(Ctl::Label10, 15);
  w.SetFontColor(Ctl::Label10, clBlue);
  w.SetCaption(Ctl::Label10, "Now, CYCLE POWER on the RQ-410....");
  w.SetCaption(Ctl::Label4,
               "Upload complete. Time taken: " + TimeTakenText(s.StartTime, s.EndTime));
  w.SetFontColor(Ctl::Label4, clBlack);
  // The checksum check has already said how a large upload ended.
  if (s.Outcome == RunOutcome::None) core_.EndRun(RunOutcome::Completed);
  // The unit took every record, but said that it could not erase all of its flash.
  if (s.EraseErrors > 0 &&
      (s.Outcome == RunOutcome::Completed || s.Outcome == RunOutcome::ChecksumsMatch))
    core_.EndRun(RunOutcome::CompletedWithEraseErrors);
  s.Step = kBlinkFirstStep;
}

void UploadDialogue::HaltScreen() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  s.EndTime = core_.Clock.TimeOfDay();
  // The run is over: the upload file is not left open behind it.
  s.UploadFile.Close();
  w.SetCaption(Ctl::Label4, "Upload HALTED. Time taken: " + TimeTakenText(s.StartTime, s.EndTime));
  w.SetFontColor(Ctl::Label4, clRed);
  w.Clear(Ctl::Label15);
  w.SetFontSize(Ctl::Label10, 12);
  w.SetFontColor(Ctl::Label10, clBlue);
  w.SetCaption(Ctl::Label10, "Click on <Close> button");
  w.Show(Ctl::BtnBackToStart);
  if (s.MainUploadMode) w.Show(Ctl::BtnRepeatUpload);
  core_.EndRun(RunOutcome::HaltedByUnit);
  s.Step = kIdleStep;
}
