// The sequencer core driven tick by tick: reply waits, command frames, the time-out and blink
// steps, and the way a tick survives an error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "components/file_errors.h"
#include "form/main_form.h"
#include "support/fakes.h"
#include "support/history.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;
using kvtest::ScratchFolder;

namespace {

struct CoreRig {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  ScratchFolder dir;
  SequencerCore core{port, clock, ui, dir.Dir()};
};

TEST(WaitReply, TakesTextBeforeTheWordAndLeavesTheRest) {
  CoreRig r;
  SequencerState& s = r.core.S;
  s.Step = kErasingWaitStep;
  s.WaitLimit = 100;
  s.ReplyText = "xyERASING...\rSEND";
  std::string reply;
  r.core.WaitReplyCR("ERASING", 99, reply, 57);
  EXPECT_EQ(reply, "xyERASING...\r");
  EXPECT_EQ(s.ReplyText, "SEND");
  EXPECT_EQ(s.Step, kEraseResultWaitStep);
  EXPECT_EQ(s.WaitTicks, 1);

  // A line-feed wait takes the carriage return with it and empties the buffer.
  s.Step = kSwrWaitStep;
  s.WaitTicks = 0;
  s.ReplyText = ">0000/SWR=1.01\r\n";
  r.core.WaitReplyLF("SWR=", 99, reply, 79);
  EXPECT_EQ(reply, ">0000/SWR=1.01\r\n");
  EXPECT_EQ(s.ReplyText, "");
  EXPECT_EQ(s.Step, kFcsQueryStep);

  // A CR wait does not take a line feed as its terminator, nor an LF wait a carriage return.
  s.Step = kFcsWaitStep;
  s.WaitTicks = 0;
  s.ReplyText = "FCS=12\r";
  r.core.WaitReplyLF("FCS=", 99, reply, 81);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(s.Step, kFcsWaitStep);
  EXPECT_EQ(s.ReplyText, "FCS=12\r");
}

TEST(WaitReply, BudgetsLastTickGivesUpWithoutLooking) {
  CoreRig r;
  SequencerState& s = r.core.S;
  s.Step = kHandshakeWaitStep;
  s.WaitLimit = 100;
  s.WaitTicks = 0;
  std::string reply;
  for (int tick = 1; tick <= 99; ++tick) {
    r.core.WaitReplyCR("READY", 99, reply, 46);
    ASSERT_EQ(s.Step, kHandshakeWaitStep) << "tick " << tick;
  }
  EXPECT_EQ(s.WaitTicks, 99);
  // The answer arrives just before the last tick of the budget: too late.
  s.ReplyText = "READY\r";
  r.core.WaitReplyCR("READY", 99, reply, 46);
  EXPECT_EQ(s.Step, kTimeOutStep);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(s.ReplyText, "READY\r");
}

TEST(WaitReply, KeepsAtMost125CharactersAndNeedsATerminatorWithinThem) {
  CoreRig r;
  SequencerState& s = r.core.S;
  std::string reply;

  // After a reply only 125 characters of what followed survive.
  s.Step = kRecordRequestStep;
  s.WaitLimit = 10;
  s.ReplyText = "SEND BLOCK\r" + std::string(200, 'a') + "tail";
  r.core.WaitReplyCR("SEND", 99, reply, 68);
  EXPECT_EQ(reply, "SEND BLOCK\r");
  EXPECT_EQ(s.ReplyText, std::string(125, 'a'));

  // A terminator 130 characters behind the word is never taken: the wait times out.
  s.Step = kThankYouWaitStep;
  s.WaitTicks = 0;
  s.WaitLimit = 5;
  s.ReplyText = "THANK YOU" + std::string(121, '.') + "\r";
  for (int tick = 1; tick <= 5; ++tick) r.core.WaitReplyCR("THANK", 99, reply, 75);
  EXPECT_EQ(s.Step, kTimeOutStep);
  EXPECT_EQ(reply, "");

  // The 125-character window counts from the word: a terminator at its last place is found.
  s.Step = kThankYouWaitStep;
  s.WaitTicks = 0;
  s.ReplyText = "zzTHANK YOU" + std::string(115, '.') + "\r";
  r.core.WaitReplyCR("THANK", 99, reply, 75);
  EXPECT_EQ(s.Step, kDialogueEndStep);
  EXPECT_EQ(reply.size(), 2u + 125u);
}

TEST(WaitReply, LastReplyHoldsOnlyTheReplyOfTheLatestCall) {
  // The steps copy `reply` into LastReply on every tick, as the dialogue does.
  CoreRig r;
  SequencerState& s = r.core.S;
  s.Step = kErasingWaitStep;
  s.WaitLimit = 50;
  s.ReplyText = "ERASING\r";
  r.core.WaitReplyCR("ERASING", 99, s.LastReply, 57);
  EXPECT_EQ(s.LastReply, "ERASING\r");
  s.Step = kEraseResultWaitStep;
  s.WaitTicks = 0;
  r.core.WaitReplyCR("SEND", 99, s.LastReply, 59);
  EXPECT_EQ(s.LastReply, "");
  EXPECT_EQ(s.Step, kEraseResultWaitStep);
}

TEST(SendCommand, FramesAddressedAndPlainCommandsAndClearsReplyText) {
  CoreRig r;
  SequencerState& s = r.core.S;
  s.ReplyText = "old text";
  r.core.SendCommand("0000", "SWR?", true);
  const std::string swr = r.port.TakeWritten();
  const std::vector<int> expected{60, 48, 48, 48, 48, 47, 83, 87, 82, 63, 13};
  ASSERT_EQ(swr.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(static_cast<unsigned char>(swr[i]), expected[i]) << "byte " << i;
  }
  EXPECT_EQ(s.ReplyText, "");

  s.ReplyText = "noise";
  s.Step = kSendGoStep;
  s.WaitTicks = 7;
  r.core.SendAndAdvance("", "GO", false);
  EXPECT_EQ(r.port.TakeWritten(), std::string("\x47\x4f\x0d"));
  EXPECT_EQ(s.ReplyText, "");
  EXPECT_EQ(s.WaitTicks, 0);
  EXPECT_EQ(s.Step, kErasingWaitStep);

  // The address is not sent with an unaddressed command.
  r.core.SendCommand("0000", "UPLOAD DONE", false);
  EXPECT_EQ(r.port.TakeWritten(), "UPLOAD DONE\r");
}

TEST(TimeOutStep, ReportsWhatWasAwaitedAndOffersTheRightButtons) {
  CoreRig r;
  SequencerState& s = r.core.S;
  WindowModel& w = r.core.W;
  s.Step = kTimeOutStep;
  s.MainUploadMode = true;
  s.WaitingFor = "waiting for response";
  r.core.SetPhase(RunPhase::Handshake);
  w.SetCaption(Ctl::Label10, "DO NOT INTERRUPT UPLOAD");
  r.core.TimeOut();
  EXPECT_EQ(s.Step, kIdleStep);
  EXPECT_EQ(LastRunLine(s, w), "Timed out waiting for response");
  EXPECT_EQ(w.FUpHist().back(), s.NextStep);
  EXPECT_NE(s.NextStep.find("switch the unit on"), std::string::npos) << s.NextStep;
  EXPECT_EQ(w.Caption(Ctl::Label2), "Timed out waiting for response");
  EXPECT_EQ(w.Caption(Ctl::Label10), "");
  EXPECT_TRUE(w.Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(w.Visible(Ctl::BtnRepeatUpload));

  CoreRig f;
  f.core.S.MainUploadMode = false;
  f.core.S.WaitingFor = "waiting for SWR=";
  f.core.TimeOut();
  EXPECT_EQ(f.core.W.Caption(Ctl::Label2), "Timed out waiting for SWR=");
  EXPECT_TRUE(f.core.W.Visible(Ctl::BtnBackToStart));
  EXPECT_FALSE(f.core.W.Visible(Ctl::BtnRepeatUpload));
}

TEST(Blink, ElevenTicksRedElevenTicksBlueUntilGoBackToStart) {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  ScratchFolder dir;
  MainForm form(port, clock, ui, dir.Dir());
  form.FormActivate();
  form.S().Step = kBlinkFirstStep;
  std::string colours;
  for (int tick = 0; tick < 44; ++tick) {
    form.Timer1Timer();
    colours += form.W().FontColor(Ctl::Label10) == clRed ? 'r' : 'b';
  }
  const std::string cycle = std::string(11, 'r') + std::string(11, 'b');
  EXPECT_EQ(colours, cycle + cycle);
  EXPECT_EQ(form.S().Step, kBlinkFirstStep);

  // Going back to the start stops the blinking at the colour last set.
  for (int tick = 0; tick < 3; ++tick) form.Timer1Timer();
  form.BtnBackToStartClick();
  for (int tick = 0; tick < 30; ++tick) form.Timer1Timer();
  EXPECT_EQ(form.S().Step, kIdleStep);
  EXPECT_EQ(form.W().FontColor(Ctl::Label10), clRed);
}

// A port whose reads fail as a pulled-out adapter's would.
class FailingPort : public FakePort {
 public:
  int ReadString(std::string&) override { throw EInOutError("I/O error 5", 5); }
};

TEST(ErrorsInsideHandlers, StopTheRunAndKeepTheWindowUsable) {
  FailingPort port;
  FakeClock clock;
  FakeUi ui;
  ScratchFolder dir;
  MainForm form(port, clock, ui, dir.Dir());
  form.FormActivate();
  port.active = true;

  // An error inside the receive event.
  form.S().Step = kRecordRequestStep;
  form.ReadMessage();
  EXPECT_EQ(form.S().Step, kIdleStep);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("I/O error 5"), std::string::npos);
  EXPECT_TRUE(form.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(form.W().Caption(Ctl::BtnBackToStart), "&Go Back to Start");
  EXPECT_EQ(form.LastError, "I/O error 5");

  // An error inside a tick (here raised while pending events run).
  form.S().Step = kEraseResultWaitStep;
  ui.pending = [] { throw EInOutError("Disk full", 101); };
  form.Timer1Timer();
  EXPECT_EQ(form.S().Step, kIdleStep);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1], "Disk full");

  // The window goes on: later ticks run, and the buttons work.
  ui.pending = nullptr;
  form.Timer1Timer();
  form.BtnBackToStartClick();
  EXPECT_TRUE(form.W().Visible(Ctl::OpeningBox));
  EXPECT_FALSE(form.W().Visible(Ctl::BtnBackToStart));
  form.BtnCableClick();
  EXPECT_EQ(form.W().Caption(Ctl::BtnCable), "Hide Detail");
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST(UnknownStep, DoesNothingButTheTickStillRuns) {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  ScratchFolder dir;
  MainForm form(port, clock, ui, dir.Dir());
  form.FormActivate();
  int pendingRuns = 0;
  ui.pending = [&] { ++pendingRuns; };
  form.S().Step = 7;
  form.Timer1Timer();
  form.Timer1Timer();
  EXPECT_EQ(form.S().Step, 7);
  EXPECT_EQ(pendingRuns, 2);
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
