#include "sequencer/record_phase.h"

#include <string>

#include "sequencer/next_step.h"
#include "sequencer/upload_dialogue.h"

bool RecordPhase::PerformStep(int step) {
  switch (step) {
    case kRecordsStartStep:
      StartRecords();
      return true;
    case kRecordRequestStep:
      RecordRequest();
      return true;
    case kResendStep:
      SendSameRecordAgain();
      return true;
    default:
      return false;
  }
}

void RecordPhase::StartRecords() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  s.UploadFile.Seek(0);
  w.Gauge().SetMaxValue(s.BlockCount);
  w.Gauge().SetProgress(0);
  w.Show(Ctl::Gauge);
  s.WaitTicks = 0;
  if (pacing_.RecordsOnRequest) s.WaitLimit = kFastRecordBudgetTicks;
  // No record goes out until the unit asks for the first one.
  s.RecordRequested = false;
  refusalsInARow_ = 0;
  silentTimeOuts_ = 0;
  w.HistAdd("Sending FlashCode...");
  w.HistAdd("Sending Lines...");
  core_.SetPhase(RunPhase::Records);
  s.Step = kRecordRequestStep;
}

void RecordPhase::RecordRequest() {
  SequencerState& s = core_.S;
  std::string reply;
  s.WaitingFor = "waiting for SEND BLOCK message";
  core_.WaitReplyCR("\r", kResendStep, reply, kRecordReplyStep);
  s.LastReply = reply;
  if (s.Step == kResendStep && UnitFellSilent()) return;
  if (s.Step != kRecordReplyStep) return;
  silentTimeOuts_ = 0;
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
        s.WaitLimit = kDialogueBudgetTicks;  // for "THANK YOU", whatever the records had
        s.Step = kUploadDoneStep;            // all records are out
        return;
      }
      sender_.SendRecord();
      s.WaitTicks = 0;
      s.Step = kRecordRequestStep;
      return;
    case RecordReply::Failed:
      StopForUploadFailed(core_);
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

bool RecordPhase::UnitFellSilent() {
  SequencerState& s = core_.S;
  // Garbage at another speed is no answer either.
  if (!s.ReplyText.empty() && !SoundsLikeAnotherSpeed(s.ReplyText)) {
    silentTimeOuts_ = 0;
    return false;
  }
  if (++silentTimeOuts_ < kMaxSilentRecordTimeOuts) return false;
  s.EndTime = core_.Clock.TimeOfDay();
  s.UploadFile.Close();
  s.Step = kTimeOutStep;
  return true;
}

void RecordPhase::SendSameRecordAgain() {
  core_.S.ReplyText.clear();
  // At the time-out of the first wait the unit's first request was lost: both sides would
  // wait on each other for ever, so the first record goes out as if it had been asked for.
  SendCurrentRecordAgain();
}

void RecordPhase::SendCurrentRecordAgain() {
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

void RecordPhase::RecordRefusedOnce() {
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
