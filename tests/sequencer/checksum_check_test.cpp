// The checksum check after a large upload: the reboot wait, the "SWR?" queries, the "FCS?"
// reply and the comparison with the upload file's checksums.
#include <gtest/gtest.h>

#include <string>

#include "support/history.h"
#include "upload_rig.h"

using namespace upload_test;

namespace {

// The unit's remote control: answers the n-th "SWR?" from `swrAnswerAt` on, and "FCS?" with
// the given checksums.
struct RemoteControl {
  int swrAnswerAt = 1;  // 0: never
  std::string fcsReply;
  int swrQueries = 0;
  int fcsQueries = 0;
  std::string frame;

  void Attach(FakePort& port) {
    port.onWrite = [this, &port](char c) {
      frame += c;
      if (c != '\r') return;
      if (frame == "<0000/SWR?\r") {
        ++swrQueries;
        if (swrAnswerAt > 0 && swrQueries >= swrAnswerAt) port.Feed(">0000/SWR=1.01\r\n");
      } else if (frame == "<0000/FCS?\r") {
        ++fcsQueries;
        port.Feed(fcsReply);
      }
      frame.clear();
    };
  }
};

std::string FcsReply(const std::string& main, const std::string& fpga) {
  return ">0000/FCS=Boot:0000 Main:" + main + " FPGA:" + fpga + "\r\n";
}

// A rig at step 76, as step 75 leaves it after an upload whose file carries these checksums.
struct CheckRig : UploadRig {
  CheckRig(const std::string& fileFirmware, const std::string& fileFpga) {
    S().FileFirmwareChecksum = fileFirmware;
    S().FileFpgaChecksum = fileFpga;
    S().BlockCount = S().BlocksSent = kChecksumCheckRecords;
    W().SetCaption(Ctl::Label15, "Software Upload complete");
    port.baud = 9600;
    S().RebootTicks = 0;
    S().Step = kRebootStep;
  }
  // Runs the check to its end (the completion screen or the time-out).
  void RunCheck() {
    TickUntil([&] { return S().Step == kCompletionStep || S().Step == kIdleStep; }, 5000);
  }
};

}  // namespace

TEST(ChecksumCheck, WaitsForTheRebootAndQueriesUntilTheUnitAnswers) {
  CheckRig r("12AB", "34CD");
  RemoteControl unit;
  unit.swrAnswerAt = 3;
  unit.fcsReply = FcsReply("12AB", "34CD");
  unit.Attach(r.port);
  r.Tick(89);
  EXPECT_EQ(r.S().Step, kRebootStep);
  EXPECT_EQ(r.port.TakeWritten(), "");
  r.Tick();
  EXPECT_EQ(r.S().Step, kSwrQueryStep);
  EXPECT_EQ(r.S().WaitLimit, 100);
  EXPECT_EQ(r.W().Caption(Ctl::Label4), "Querying RQ-410 memory checksums ...");
  r.Tick();
  EXPECT_EQ(r.port.TakeWritten(), "<0000/SWR?\r");
  ASSERT_TRUE(r.TickUntilStep(kFcsQueryStep, 400));
  EXPECT_EQ(r.S().AttemptCount, 3);
  EXPECT_EQ(unit.swrQueries, 3);
  r.RunCheck();
  EXPECT_EQ(r.S().Step, kCompletionStep);
  EXPECT_EQ(unit.fcsQueries, 1);
  EXPECT_EQ(r.W().Caption(Ctl::Label12), "RQ-410 memory checksums: Firmware:12AB  FPGA:34CD");
  EXPECT_EQ(r.W().Caption(Ctl::Label8), "Upload file checksums: Firmware:12AB  FPGA:34CD");
  EXPECT_EQ(r.W().FontColor(Ctl::Label8), clBlue);
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "Checksums match, Upload successful");
  EXPECT_EQ(r.W().FontColor(Ctl::Label15), clGreen);
}

TEST(ChecksumCheck, GivesUpAfterTwentyUnansweredQueries) {
  CheckRig r("12AB", "34CD");
  RemoteControl unit;
  unit.swrAnswerAt = 0;
  unit.Attach(r.port);
  r.RunCheck();
  EXPECT_EQ(r.S().Step, kIdleStep);
  EXPECT_EQ(unit.swrQueries, 20);
  EXPECT_EQ(unit.fcsQueries, 0);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Timed out waiting for SWR=");
  EXPECT_EQ(LastRunLine(r.S(), r.W()), "Timed out waiting for SWR=");
  EXPECT_NE(r.S().NextStep.find("All records were delivered"), std::string::npos);
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "Software Upload complete");

  CheckRig f("12AB", "34CD");
  RemoteControl mute;
  mute.fcsReply = "";
  mute.Attach(f.port);
  f.RunCheck();
  EXPECT_EQ(f.W().Caption(Ctl::Label2), "Timed out waiting for FCS");

  // The remote control answers each query at another speed.
  CheckRig g("12AB", "34CD");
  g.port.onWrite = [&g](char c) {
    if (c == '\r') g.port.Feed("\xF8\x80\xF0\xFE\x00");
  };
  g.RunCheck();
  EXPECT_EQ(g.W().Caption(Ctl::Label2), "Timed out waiting for SWR=");
  EXPECT_NE(g.S().NextStep.find("All records were delivered"), std::string::npos);
  EXPECT_NE(g.S().NextStep.find("another speed"), std::string::npos) << g.S().NextStep;
}

TEST(ChecksumCheck, ComparesExactlyWhatTheFileCarries) {
  // The unit's firmware checksum in lower case is a difference.
  CheckRig lower("12AB", "34CD");
  RemoteControl a;
  a.fcsReply = FcsReply("12ab", "34CD");
  a.Attach(lower.port);
  lower.RunCheck();
  EXPECT_EQ(lower.W().Caption(Ctl::Label15), "Checksums different");
  EXPECT_EQ(lower.W().FontColor(Ctl::Label15), clRed);

  // Both in the file: the FPGA checksum alone differing is a difference too.
  CheckRig both("12AB", "34CD");
  RemoteControl f;
  f.fcsReply = FcsReply("12AB", "34CE");
  f.Attach(both.port);
  both.RunCheck();
  EXPECT_EQ(both.W().Caption(Ctl::Label15), "Checksums different");

  // Only a firmware checksum in the file: the FPGA checksums are not compared.
  CheckRig firmwareOnly("12AB", "0000");
  RemoteControl b;
  b.fcsReply = FcsReply("12AB", "9999");
  b.Attach(firmwareOnly.port);
  firmwareOnly.RunCheck();
  EXPECT_EQ(firmwareOnly.W().Caption(Ctl::Label8), "Upload file checksum: Firmware:12AB       ");
  EXPECT_EQ(firmwareOnly.W().Caption(Ctl::Label15), "Checksums match, Upload successful");

  // Only an FPGA checksum: the firmware checksums are not compared.
  CheckRig fpgaOnly("0000", "34CD");
  RemoteControl c;
  c.fcsReply = FcsReply("1111", "34CE");
  c.Attach(fpgaOnly.port);
  fpgaOnly.RunCheck();
  EXPECT_EQ(fpgaOnly.W().Caption(Ctl::Label8), "Upload file checksum      FPGA:34CD");
  EXPECT_EQ(fpgaOnly.W().Caption(Ctl::Label15), "Checksums different");

  // No checksum in the file: nothing is compared and the completion text stays.
  CheckRig none("0000", "0000");
  RemoteControl d;
  d.fcsReply = FcsReply("1111", "2222");
  d.Attach(none.port);
  none.W().SetCaption(Ctl::Label8, "before");
  none.RunCheck();
  EXPECT_EQ(none.S().Step, kCompletionStep);
  EXPECT_EQ(none.W().Caption(Ctl::Label8), "before");
  EXPECT_EQ(none.W().Caption(Ctl::Label15), "Software Upload complete");
  EXPECT_EQ(none.W().Caption(Ctl::Label12), "RQ-410 memory checksums: Firmware:1111  FPGA:2222");

  // A reply without "Main" is read from its start and does not match.
  CheckRig odd("12AB", "34CD");
  RemoteControl e;
  e.fcsReply = ">0000/FCS=ERR\r\n";
  e.Attach(odd.port);
  odd.RunCheck();
  EXPECT_EQ(odd.S().Step, kCompletionStep);
  EXPECT_EQ(odd.S().UnitFirmwareChecksum, "0/FC");
  EXPECT_EQ(odd.S().UnitFpgaChecksum, "\n");
  EXPECT_EQ(odd.W().Caption(Ctl::Label15), "Checksums different");
}

TEST(ChecksumCheck, AQueryWithoutUploadAsksAtOnceAndRestsAtItsEnd) {
  CheckRig f("12AB", "34CD");
  f.S().Step = 0;
  f.port.baud = 38400;
  RemoteControl unit;
  unit.fcsReply = FcsReply("12AB", "34CE");
  unit.Attach(f.port);
  f.form.Checksums.StartQuery();
  EXPECT_EQ(f.port.baud, 9600);
  f.Tick(1);
  EXPECT_EQ(unit.swrQueries, 1) << "no reboot wait";
  f.RunCheck();
  EXPECT_EQ(f.S().Step, 0) << "no completion screen";
  EXPECT_EQ(f.S().Outcome, RunOutcome::ChecksumsDifferent);
  EXPECT_EQ(f.S().UnitSoftwareVersion, "1.01");

  // Without the file's checksums the unit's answers are all there is.
  CheckRig info("0000", "0000");
  info.S().Step = 0;
  RemoteControl other;
  other.fcsReply = FcsReply("1111", "2222");
  other.Attach(info.port);
  info.form.Checksums.StartQuery();
  info.RunCheck();
  EXPECT_EQ(info.S().Outcome, RunOutcome::Completed);
  EXPECT_EQ(info.S().UnitFirmwareChecksum + info.S().UnitFpgaChecksum, "11112222");
}

TEST(ChecksumCheck, FollowsAThousandRecordUploadToTheEnd) {
  UploadRig r;
  r.UseUploadFile(1000);
  LoaderUnit loader;
  loader.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(kRebootStep, 3000));
  RemoteControl unit;
  unit.fcsReply = FcsReply(r.fileTrailer.substr(0, 4), r.fileTrailer.substr(4));
  unit.Attach(r.port);
  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 500));
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "Checksums match, Upload successful");
  EXPECT_EQ(r.port.baud, 9600);
  EXPECT_EQ(r.W().Caption(Ctl::Label10), "Now, CYCLE POWER on the RQ-410....");
}
