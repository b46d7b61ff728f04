#include "sequencer/upload_dialogue.h"

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "sequencer/checksum_check.h"
#include "sequencer/next_step.h"

namespace {

constexpr int kHelpCompleted = 5;

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

}  // namespace

// The loader's answers that the dialogue waits for: what the time-out names, the word, the
// step that takes it.
struct LoaderWait {
  int step;
  const char* waitingFor;
  const char* word;
  int nextStep;
};

// "ERASING..." does not contain "ERASE": the erase result is the next such line.
constexpr LoaderWait kLoaderWaits[] = {
    {kErasingWaitStep, "waiting for Erasing message", "ERASING", kErasingStep},
    {kEraseResultWaitStep, "waiting for Erase Complete/Timeout", "ERASE", kEraseResultStep},
    {kEraseErrorBlockWaitStep, "waiting for Error Block", "BLOCK", kEraseErrorBlockStep},
    {kThankYouWaitStep, "waiting for Thank You", "THANK YOU", kDialogueEndStep},
};

bool UploadDialogue::PerformStep(int step) {
  switch (step) {
    case kOpenPortStep:
      OpenPort();
      return true;
    case kPortWaitStep:
      WaitForPort();
      return true;
    case kFactoryPortFailedStep:
      FactoryPortFailed();
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
      core_.S.Step = kHandshakeWaitStep;
      return true;
    case kHandshakeWaitStep:
      WaitForReady();
      return true;
    case kSendGoStep:
      SendGo();
      return true;
    case kErasingStep:
      ShowErasing();
      return true;
    case kEraseResultStep:
      EraseResult();
      return true;
    case kEraseErrorBlockStep:
      ShowEraseErrorBlock();
      return true;
    case kUploadDoneStep:
      core_.SetPhase(RunPhase::Finishing);
      core_.SendAndAdvance("", "UPLOAD DONE", false);
      core_.W.SetCaption(Ctl::Label15, "Upload done...");
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
    default:
      for (const LoaderWait& wait : kLoaderWaits) {
        if (wait.step == step) {
          WaitForLoader(wait.waitingFor, wait.word, wait.nextStep);
          return true;
        }
      }
      return false;
  }
}

void UploadDialogue::WaitForLoader(const char* waitingFor, const char* word, int nextStep) {
  SequencerState& s = core_.S;
  // The loader gives up in any phase: waiting on for the answer it will not give would only
  // end in a time-out.
  if (Contains(s.ReplyText, kUploadFailedText)) {
    StopForUploadFailed(core_);
    return;
  }
  std::string reply;
  s.WaitingFor = waitingFor;
  core_.WaitReplyCR(word, kTimeOutStep, reply, nextStep);
  s.LastReply = reply;
  // Every tick of this wait, the empty reply of an incomplete one included.
  if (nextStep == kEraseErrorBlockStep && s.CaptureEnabled) core_.Log(s.LastReply, "[in]");
}

void UploadDialogue::WaitForReady() {
  SequencerState& s = core_.S;
  s.WaitingFor = "waiting for response";
  if (Contains(s.ReplyText, kUploadFailedText)) {
    StopForUploadFailed(core_);
    return;
  }
  if (Contains(s.ReplyText, "READY")) {
    // Nothing is consumed: the "GO" that follows clears the received text.
    core_.W.Show(Ctl::Label10);
    s.Step = kSendGoStep;
    return;
  }
  SendU();
  if (s.AttemptCount > kHandshakeMaxSends) s.Step = kTimeOutStep;
}

void UploadDialogue::SendGo() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (!OpenCheckedUploadFile()) return;
  core_.SetPhase(RunPhase::Erase);
  s.StartTime = core_.Clock.TimeOfDay();
  s.BlocksSent = 0;
  s.RecordRequested = false;
  s.EraseErrors = 0;
  w.HistAdd("Got U,READY handshake");
  w.HistAdd("Sending GO");
  w.SetCaption(Ctl::Label2, "Got READY, sending GO...");
  core_.SendAndAdvance("", "GO", false);
  s.WaitLimit = kDialogueBudgetTicks;
}

void UploadDialogue::ShowErasing() {
  core_.W.HistAdd("Erasing...");
  core_.W.SetCaption(Ctl::Label2, "Erasing...");
  core_.S.WaitTicks = 0;
  core_.S.Step = kEraseResultWaitStep;
}

void UploadDialogue::EraseResult() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
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
    core_.Advise(NextStepAfter(RunOutcome::UnexpectedAnswer));
    s.Step = kIdleStep;
  }
}

void UploadDialogue::ShowEraseErrorBlock() {
  SequencerState& s = core_.S;
  core_.W.HistAdd(s.LastReply);
  core_.W.SetCaption(Ctl::Label2, s.LastReply);
  s.WaitTicks = 0;
  s.Step = kEraseResultWaitStep;
}

void StopForUploadFailed(SequencerCore& core) {
  SequencerState& s = core.S;
  WindowModel& w = core.W;
  w.SetCaption(Ctl::Label2, "Upload failed");
  if (!s.MainUploadMode) w.HistAdd("Upload failed");
  w.Clear(Ctl::Label4);
  // Logging stops with the run; the file is closed properly so that nothing is lost.
  if (s.CaptureEnabled) {
    try {
      core.CloseCapture();
    } catch (const std::exception& e) {
      core.Ui.ShowMessage(std::string("The capture file could not be closed: ") + e.what());
    }
  }
  s.Step = kHaltStep;
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
  checkedTrailer_ = check.trailer;
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

std::string UploadDialogue::FileLine(const std::string& lead) const {
  const SequencerState& s = core_.S;
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(s.UploadFileName, ec);
  return lead + " " + path.filename().string() + " in " + path.parent_path().string() + ": " +
         std::to_string(s.BlockCount) + " records, checksums " + checkedTrailer_.firmwareSum +
         ", " + checkedTrailer_.fpgaSum;
}

std::string UploadDialogue::EstimateLine() const {
  const int blocks = core_.S.BlockCount;
  return "Upload will be " + std::to_string(blocks) + " blocks," +
         UploadEstimate(blocks, core_.Serial1.Baudrate());
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
  w.SetCaption(Ctl::Label8, EstimateLine());
  w.SetFontColor(Ctl::Label8, clBlue);
  // A hurried user sees which firmware goes out before the unit is touched, a .KVU too.
  w.SetCaption(Ctl::Label2, FileLine("Upload file"));
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
  // Start may be pressed in the tick before the ready screen: the file preparation's last
  // words must not stay up through the run.
  w.SetCaption(Ctl::Label8, EstimateLine());
  w.SetFontColor(Ctl::Label8, clBlack);
  w.SetFontColor(Ctl::Label15, clBlack);
  w.SetFontSize(Ctl::Label2, 13);
  w.SetCaption(Ctl::Label2, "POWER UP THE UNIT, NOW");
  w.HistAdd(FileLine("Sending"));
  core_.SetPhase(RunPhase::Handshake);
  s.Step = kHandshakeStep;
}

void UploadDialogue::SendU() {
  SequencerState& s = core_.S;
  core_.Serial1.WriteString("U");
  if (s.CaptureEnabled) core_.Log("U", "[out]");
  ++s.AttemptCount;
}

void UploadDialogue::EndOfDialogue() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  if (!s.MainUploadMode) {
    s.Step = kFactoryCompleteStep;
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
  core_.Advise(NextStepAfter(RunOutcome::HaltedByUnit));
  s.Step = kIdleStep;
}
