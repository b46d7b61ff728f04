#include "sequencer/checksum_check.h"

#include <string>

#include "sequencer/next_step.h"
#include "sequencer/upload_dialogue.h"

namespace {

constexpr int kRebootWaitTicks = 90;  // 5.4 s for the unit to restart its firmware
constexpr int kSwrBudgetTicks = 100;  // 6 s per "SWR?"
constexpr int kMaxSwrQueries = 20;    // about 2 minutes in all
constexpr int kFcsBudgetTicks = 200;  // 12 s
constexpr const char* kRemoteAddress = "0000";
constexpr const char* kNoChecksum = "0000";  // the file carries no such checksum

// The characters at 1-based positions from..from+3 of `text`, fewer when it is shorter.
std::string FourAt(const std::string& text, std::size_t from) {
  if (from < 1 || from > text.size()) return {};
  return text.substr(from - 1, 4);
}

// The value in a reply such as ">0000/SWR=1.01" + CR + LF.
std::string SwrValue(const std::string& reply) {
  const auto at = reply.find("SWR=");
  if (at == std::string::npos) return {};
  const std::string value = reply.substr(at + 4);
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

bool ChecksumCheck::PerformStep(int step) {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  std::string reply;
  switch (step) {
    case kRebootStep:
      queryOnly_ = false;
      ++s.RebootTicks;
      if (s.RebootTicks >= kRebootWaitTicks) {
        s.WaitLimit = kSwrBudgetTicks;
        w.SetCaption(Ctl::Label4, "Querying RQ-410 memory checksums ...");
        s.AttemptCount = 0;
        s.UnitSoftwareVersion.clear();
        core_.SetPhase(RunPhase::Checksums);
        s.Step = kSwrQueryStep;
      }
      return true;
    case kSwrQueryStep:
      core_.SendAndAdvance(kRemoteAddress, "SWR?", true);
      ++s.AttemptCount;
      return true;
    case kSwrWaitStep:
      s.WaitingFor = "waiting for SWR=";
      core_.WaitReplyLF("SWR=", kSwrQueryStep, reply, kFcsQueryStep);
      s.LastReply = reply;
      if (s.Step == kFcsQueryStep) s.UnitSoftwareVersion = SwrValue(reply);
      if (s.Step == kSwrQueryStep && s.AttemptCount >= kMaxSwrQueries) s.Step = kTimeOutStep;
      return true;
    case kFcsQueryStep:
      core_.SendAndAdvance(kRemoteAddress, "FCS?", true);
      s.WaitLimit = kFcsBudgetTicks;
      return true;
    case kFcsWaitStep:
      s.WaitingFor = "waiting for FCS";
      core_.WaitReplyLF("FCS", kTimeOutStep, reply, kCompareStep);
      s.LastReply = reply;
      return true;
    case kCompareStep:
      CompareChecksums();
      s.Step = kCompletionStep;
      if (queryOnly_) {
        if (s.Outcome == RunOutcome::None) core_.EndRun(RunOutcome::Completed);
        s.Step = kIdleStep;
      }
      return true;
    default:
      return false;
  }
}

void ChecksumCheck::StartQuery() {
  SequencerState& s = core_.S;
  queryOnly_ = true;
  s.MainUploadMode = true;
  core_.Serial1.SetBaudrate(kRemoteControlBaud);
  s.WaitLimit = kSwrBudgetTicks;
  s.AttemptCount = 0;
  s.BlocksSent = 0;  // no records go: a time-out does not speak of them
  s.UnitSoftwareVersion.clear();
  s.UnitFirmwareChecksum.clear();
  s.UnitFpgaChecksum.clear();
  core_.W.SetCaption(Ctl::Label4, "Querying RQ-410 memory checksums ...");
  core_.BeginRun(RunPhase::Checksums);
  s.Step = kSwrQueryStep;
}

void ChecksumCheck::CompareChecksums() {
  SequencerState& s = core_.S;
  WindowModel& w = core_.W;
  // The checksums stand at fixed distances from the "M" of "Main"; without it the positions
  // count from the start of the reply.
  const auto found = s.LastReply.find("Main");
  const std::size_t p = found == std::string::npos ? 0 : found + 1;
  s.UnitFirmwareChecksum = FourAt(s.LastReply, p + 5);
  s.UnitFpgaChecksum = FourAt(s.LastReply, p + 15);
  w.SetCaption(Ctl::Label12, "RQ-410 memory checksums: Firmware:" + s.UnitFirmwareChecksum +
                                 "  FPGA:" + s.UnitFpgaChecksum);
  w.SetFontColor(Ctl::Label8, clBlue);

  const auto report = [this, &w](bool match) {
    core_.EndRun(match ? RunOutcome::ChecksumsMatch : RunOutcome::ChecksumsDifferent);
    if (match) {
      w.SetCaption(Ctl::Label15, "Checksums match, Upload successful");
      w.SetFontColor(Ctl::Label15, clGreen);
    } else {
      w.SetCaption(Ctl::Label15, "Checksums different");
      w.SetFontColor(Ctl::Label15, clRed);
      core_.Advise(NextStepAfter(RunOutcome::ChecksumsDifferent));
    }
  };
  const bool hasFirmware = s.FileFirmwareChecksum != kNoChecksum;
  const bool hasFpga = s.FileFpgaChecksum != kNoChecksum;
  if (hasFirmware && hasFpga) {
    w.SetCaption(Ctl::Label8, "Upload file checksums: Firmware:" + s.FileFirmwareChecksum +
                                  "  FPGA:" + s.FileFpgaChecksum);
    report(s.UnitFirmwareChecksum == s.FileFirmwareChecksum &&
           s.UnitFpgaChecksum == s.FileFpgaChecksum);
    return;
  }
  if (hasFirmware) {
    w.SetCaption(Ctl::Label8,
                 "Upload file checksum: Firmware:" + s.FileFirmwareChecksum + "       ");
    report(s.UnitFirmwareChecksum == s.FileFirmwareChecksum);
  }
  if (hasFpga) {
    w.SetCaption(Ctl::Label8, "Upload file checksum      FPGA:" + s.FileFpgaChecksum);
    report(s.UnitFpgaChecksum == s.FileFpgaChecksum);
  }
}
