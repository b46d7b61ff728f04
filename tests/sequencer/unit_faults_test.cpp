// Units that give up, fall silent or answer at another speed: each run ends at once, or as
// soon as the silence is sure, and says what to do next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/history.h"
#include "upload_rig.h"

using namespace upload_test;

namespace {

// Runs the upload until it rests; false when it did not within `limit` ticks.
bool RunToRest(UploadRig& r, int limit) {
  return r.TickUntil([&] { return IsRestingStep(r.S().Step) && r.S().Phase == RunPhase::Ended; },
                     limit);
}

void ExpectEndedWith(UploadRig& r, RunOutcome outcome, const std::string& advice) {
  EXPECT_EQ(r.S().Outcome, outcome);
  EXPECT_NE(r.S().NextStep.find(advice), std::string::npos) << r.S().NextStep;
  ASSERT_FALSE(r.W().FUpHist().empty());
  EXPECT_EQ(r.W().FUpHist().back(), r.S().NextStep);
}

}  // namespace

TEST(UnitFaults, UploadFailedInThePlaceOfAnyAnswerHaltsAtOnce) {
  UploadRig erase;
  erase.UseUploadFile(3);
  LoaderUnit e;
  e.afterGo = {"ERASING...\r", "UPLOAD FAILED\r"};
  e.Attach(erase.port);
  erase.StartUpload();
  ASSERT_TRUE(RunToRest(erase, 30));
  EXPECT_TRUE(e.records.empty());
  EXPECT_EQ(erase.W().Caption(Ctl::Label2), "Upload failed");
  EXPECT_EQ(erase.W().Caption(Ctl::Label10), "Click on <Close> button");
  ExpectEndedWith(erase, RunOutcome::HaltedByUnit, "Switch the unit off and on");

  UploadRig done;
  done.UseUploadFile(2);
  LoaderUnit d;
  d.thankYou = "UPLOAD FAILED\r";
  d.Attach(done.port);
  done.StartUpload();
  ASSERT_TRUE(RunToRest(done, 30));
  EXPECT_EQ(d.records.size(), 2u);
  EXPECT_EQ(done.W().Caption(Ctl::Label4).rfind("Upload HALTED.", 0), 0u);
  ExpectEndedWith(done, RunOutcome::HaltedByUnit, "upload again");
}

TEST(UnitFaults, AUnitSilentInTheMiddleOfTheRecordsEndsTheRunAfterTwoTimeOuts) {
  UploadRig r;
  r.UseUploadFile(5);
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) { return n < 3 ? "SEND BLOCK\r" : ""; };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(RunToRest(r, 2 * kDialogueBudgetTicks + 50));
  const auto& f = r.fileRecords;
  EXPECT_EQ(unit.records, (std::vector<std::string>{f[0], f[1], f[2], f[2]}));  // once again
  EXPECT_EQ(LastRunLine(r.S(), r.W()), "Timed out waiting for SEND BLOCK message");
  ExpectEndedWith(r, RunOutcome::TimedOut, "stopped answering in the middle of the upload");
  EXPECT_FALSE(r.S().UploadFile.IsOpen());
}

TEST(UnitFaults, OnRequestALostRequestCostsTwoSecondsAndNoiseKeepsAHeldRequest) {
  UploadRig lost;
  lost.UseUploadFile(3);
  lost.form.Pacing.RecordsOnRequest = true;
  LoaderUnit l;
  l.answer = [](int n, const std::string&) { return n == 2 ? "" : "SEND BLOCK\r"; };
  l.Attach(lost.port);
  lost.StartUpload();
  ASSERT_TRUE(lost.TickUntil([&] { return l.records.size() == 2; }, 100));
  int ticks = 0;
  while (l.records.size() == 2 && ticks < kDialogueBudgetTicks) {
    lost.Tick();
    ++ticks;
  }
  EXPECT_LE(ticks, kFastRecordBudgetTicks + 1);  // 2 s, and the tick that sends it again
  ASSERT_TRUE(RunToRest(lost, 200));
  EXPECT_EQ(lost.S().Outcome, RunOutcome::Completed);

  // A line faster than its speed: each request comes at once and is held back; noise that
  // follows it is no answer of the unit's and does not throw it away.
  UploadRig noisy;
  noisy.UseUploadFile(3);
  noisy.form.Pacing.RecordsOnRequest = true;
  LoaderUnit n;
  n.Attach(noisy.port);
  noisy.StartUpload();
  ASSERT_TRUE(noisy.TickUntil([&] { return n.records.size() == 1; }, 100));
  noisy.Tick();  // the request for record 2 is held
  noisy.port.Feed("\xF8\x80\r");
  noisy.Tick(RecordPacing::kHeldReplyTicks + 1);
  ASSERT_GE(n.records.size(), 2u);
  EXPECT_EQ(n.records[1], noisy.fileRecords[1]);
  ASSERT_TRUE(RunToRest(noisy, 200));
  EXPECT_EQ(n.records, noisy.fileRecords);
  EXPECT_EQ(noisy.S().Outcome, RunOutcome::Completed);
}

TEST(UnitFaults, GarbageInThePlaceOfTheAnswerNamesTheOtherSpeed) {
  UploadRig r;
  r.UseUploadFile(3);
  LoaderUnit unit;
  unit.readyAfterU = 0;
  unit.Attach(r.port);
  r.StartUpload();
  r.port.onWrite = [&](char) { r.port.Feed("\xF0\x80"); };  // each "U" heard at 57600
  ASSERT_TRUE(RunToRest(r, 300));
  EXPECT_EQ(LastRunLine(r.S(), r.W()), "Timed out waiting for response");
  ExpectEndedWith(r, RunOutcome::TimedOut, "another speed than 38400 baud");
  EXPECT_NE(r.S().NextStep.find("at 57600 baud"), std::string::npos);
  EXPECT_EQ(r.S().OtherSpeedBaud, 57600);

  // Plain words that are not the awaited one are the unit at the right speed.
  UploadRig t;
  t.UseUploadFile(2);
  LoaderUnit quiet;
  quiet.thankYou = "OK\r";
  quiet.Attach(t.port);
  t.StartUpload();
  ASSERT_TRUE(RunToRest(t, kDialogueBudgetTicks + 100));
  EXPECT_EQ(t.S().OtherSpeedBaud, 0);
  ExpectEndedWith(t, RunOutcome::TimedOut, "Switch the unit off and on");
}
