// The first part of a factory run against a scripted C161: the factory screen, "&Proceed", the
// zero byte and the identification byte, the two loaders and their answers, SendHexText.
#include <gtest/gtest.h>

#include "bootstrap/boot_link.h"
#include "bootstrap/bootstrap_handshake.h"
#include "components/file_errors.h"
#include "factory_rig.h"

using namespace factory_test;
using Lines = std::vector<std::string>;

TEST(FactoryHandshake, OpensThePortAtBootstrapSpeedShowsTheInstructionsAndProceeds) {
  FactoryRig r;
  r.W().SetItemIndex(Ctl::CommPortBox, 2);  // "3"
  r.W().HistAdd("left from an earlier run");
  r.OpenFactoryScreen();
  EXPECT_EQ(r.W().FUpHist(),
            (Lines{"Opening Com Port 3...", "Port is open on Com 3 at 19200 baud"}));
  EXPECT_EQ(r.port.baud, 19200);
  EXPECT_EQ(r.S().HelpContext, 9);
  EXPECT_TRUE(r.W().Visible(Ctl::FactoryBox) && r.W().Visible(Ctl::BtnGoOn));
  EXPECT_FALSE(r.W().Visible(Ctl::OpeningBox));
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "Turn the Unit power on, then click on <Proceed>");
  EXPECT_EQ(r.W().Caption(Ctl::Label19), "Factory Upload will take about 19 seconds");
  EXPECT_EQ(r.S().Step, kIdleStep);
  EXPECT_EQ(r.port.TakeWritten(), "") << "nothing goes out before Proceed";

  r.form.BtnGoOnClick();
  EXPECT_EQ(r.W().Caption(Ctl::Label1), "");
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "DO NOT INTERRUPT UPLOAD");
  EXPECT_FALSE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_EQ(r.LastHist(), "Establishing comms with the C161 chip...");
  EXPECT_EQ(r.S().Step, kZeroByteStep);
}

TEST(FactoryHandshake, StandInFilesAreRefusedOnARealDeviceAndSentToASimulatedOne) {
  FactoryRig r;
  r.form.Bootstrap.StandInFiles = true;
  r.port.real = true;
  r.OpenFactoryScreen();
  EXPECT_FALSE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(r.W().Caption(Ctl::Label1),
            "This program carries stand-in factory files, not Korvane's");
  EXPECT_NE(r.LastHist().find("resources/factory/README.md"), std::string::npos) << r.LastHist();
  EXPECT_EQ(r.S().Outcome, RunOutcome::RefusedBeforeSending);
  EXPECT_EQ(r.port.TakeWritten(), "");

  r.port.real = false;
  r.form.BtnBackToStartClick();
  r.OpenFactoryScreen();
  EXPECT_TRUE(r.W().Visible(Ctl::BtnGoOn));
}

TEST(FactoryHandshake, FailuresOfferTheWayBackAndTheNextRunStartsClean) {
  FactoryRig r;
  r.port.active = false;
  r.port.opens = false;
  r.form.BtnBootClick();
  EXPECT_TRUE(r.RunTo(kIdleStep, 30));
  EXPECT_EQ(r.LastHist(), "Com Port failed to open");
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));

  // A silent chip hides Label16; a new run shows it again, with a fresh history.
  r.form.BtnBackToStartClick();
  r.port.opens = true;
  r.chip.idReply.clear();
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kIdleStep, 100));
  EXPECT_FALSE(r.W().Visible(Ctl::Label16));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  r.form.BtnBackToStartClick();
  r.OpenFactoryScreen();
  EXPECT_TRUE(r.W().Visible(Ctl::Label16) && r.W().Visible(Ctl::BtnGoOn));
  EXPECT_EQ(r.W().FUpHist().size(), 2u);

  // The time a run would take is not promised for a port that then fails to open.
  r.form.BtnBackToStartClick();
  r.port.active = false;
  r.port.opens = false;
  r.form.BtnBootClick();
  EXPECT_TRUE(r.RunTo(kIdleStep, 30));
  EXPECT_EQ(r.W().Caption(Ctl::Label19), "");
}

TEST(FactoryHandshake, IdentificationAmongOtherBytesLoadsBothLoadersInOneTickEach) {
  FactoryRig r;
  r.chip.idReply = "\x12\xB5\x34";
  r.chip.loader1Reply = "\"\x02";
  r.chip.loader2Reply = "xUy";
  r.Proceed();
  r.Tick(3);  // 544, 545, 546
  EXPECT_EQ(r.port.TakeWritten(), std::string(1, '\0') + Bytes(resources::Loader1Texts()[0]));
  r.Tick(2);  // 548, 550
  const Lines& loader2 = resources::Loader2Texts();
  EXPECT_EQ(r.port.TakeWritten(), Bytes(loader2[0]) + Bytes(loader2[1]) + Bytes(loader2[2]));
  r.Tick();  // 552 sends the first line
  EXPECT_EQ(r.S().Step, kBootLineStep);
  EXPECT_EQ(
      Lines(r.W().FUpHist().begin() + 2, r.W().FUpHist().end()),
      (Lines{"Establishing comms with the C161 chip...", "Got correct response from C161 chip",
             "Sending Loader 1...", "Loader 1 complete", "Sending Loader 2...", "Loader 2 complete",
             "Sending Bootstrap...", "Sending line 1..."}));
}

TEST(FactoryHandshake, RepliesWithoutIdentificationByteEndTheRunWithWhatCame) {
  // The letter U alone; noise that arrived while the unit powered up, before the first check.
  for (const std::string noise : {"", "\x7F\xFE"}) {
    FactoryRig r;
    r.chip.idReply = noise.empty() ? "U" : "";
    r.OpenFactoryScreen();
    r.port.Feed(noise);
    r.form.BtnGoOnClick();
    r.Tick(2);
    // Bytes that do not print are shown by their value.
    EXPECT_EQ(r.LastHist(), "Got C161 response: " + std::string(noise.empty() ? "U" : "<7F><FE>"));
    EXPECT_EQ(r.S().Outcome, RunOutcome::WrongIdentification);
    EXPECT_EQ(r.S().Step, kIdleStep);
  }
}

TEST(FactoryHandshake, SilentChipGetsTenZeroBytesAndTimesOutOnTick47) {
  FactoryRig r;
  r.chip.idReply.clear();
  r.Proceed();
  std::vector<int> sentOn;
  for (int tick = 1; tick <= 46 && r.S().Step != kIdleStep; ++tick) {
    r.Tick();
    if (!r.port.TakeWritten().empty()) sentOn.push_back(tick);
  }
  EXPECT_EQ(sentOn, (std::vector<int>{1, 6, 11, 16, 21, 26, 31, 36, 41, 46}));
  EXPECT_NE(r.S().Step, kIdleStep);
  r.Tick();
  EXPECT_EQ(r.LastHist(), "Timed out waiting for response to initial character");
  EXPECT_EQ(r.S().Outcome, RunOutcome::NoIdentification);
}

TEST(FactoryHandshake, AReplyAfterTheResendWasDecidedIsKeptAndJudgedOnTheNextTick) {
  FactoryRig r;
  r.chip.idReply.clear();
  r.Proceed();
  r.Tick(5);  // the fifth tick decides on a resend
  r.port.Feed("\xD5");
  r.Tick();  // the zero byte goes out all the same
  EXPECT_EQ(r.chip.zeroBytes, 2);
  r.Tick();
  EXPECT_EQ(r.LastHist(), "Got correct response from C161 chip");
}

TEST(FactoryHandshake, LoaderAnswersAreJudgedWithinTheirBudgets) {
  struct Case {
    int loader;
    std::string reply;  // the loader's answer; empty: none
    int emptyTicks;     // ticks with nothing received before the one that decides
    std::string line;
    RunOutcome outcome;
  };
  const Case cases[] = {
      {1, "\x01\x02", 0, "Problem - bad checksum response to Loader1", RunOutcome::LoaderBadAnswer},
      {1, "", 10, "Timed out waiting for response to Loader 1", RunOutcome::LoaderSilent},
      {2, "\"", 0, "Problem - bad checksum response to Loader 2", RunOutcome::LoaderBadAnswer},
      {2, "", 100, "Timed out waiting for response to Loader 2", RunOutcome::LoaderSilent},
      {2, "", 99, "Sending line 1...", RunOutcome::None},  // answered on the 100th tick
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FactoryRig r;
    (c.loader == 1 ? r.chip.loader1Reply : r.chip.loader2Reply) = c.reply;
    r.Proceed();
    ASSERT_TRUE(r.RunTo(c.loader == 1 ? kLoader1WaitStep : kLoader2WaitStep, 20));
    r.Tick(c.emptyTicks);
    EXPECT_EQ(r.S().Outcome, RunOutcome::None);
    if (c.outcome == RunOutcome::None) r.port.Feed("U");
    r.Tick();
    EXPECT_EQ(r.LastHist(), c.line);
    EXPECT_EQ(r.S().Outcome, c.outcome);
  }
}

TEST(SendHexText, SendsTheBytesOfWholeDigitPairsAfterClearingTheReply) {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  SequencerCore core(port, clock, ui, "./");
  core.S.ReplyText = "old";
  SendHexText(core, "");
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(core.S.ReplyText, "old");
  SendHexText(core, "0A");
  EXPECT_EQ(port.TakeWritten(), "\x0A");
  EXPECT_EQ(core.S.ReplyText, "");
  SendHexText(core, "FF01b");  // five digits: two bytes
  EXPECT_EQ(port.TakeWritten(), "\xFF\x01");
  EXPECT_THROW(SendHexText(core, "0G"), EConvertError);
}
