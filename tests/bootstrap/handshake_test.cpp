// The first part of a factory run against a scripted C161: the factory screen, "&Proceed", the
// zero byte and the identification byte, the two loaders and their answers, SendHexText.
#include <gtest/gtest.h>

#include "bootstrap/boot_link.h"
#include "bootstrap/bootstrap_handshake.h"
#include "components/file_errors.h"
#include "factory_rig.h"
#include "support/temp_dir.h"

using namespace factory_test;

TEST(FactoryHandshake, OpensThePortAtBootstrapSpeedShowsTheInstructionsAndProceeds) {
  FactoryRig r;
  r.W().SetItemIndex(Ctl::CommPortBox, 2);  // "3"
  r.W().HistAdd("left from an earlier run");
  r.form.BtnBootClick();
  EXPECT_FALSE(r.S().MainUploadMode);
  EXPECT_EQ(r.S().UploadBaud, 19200);
  EXPECT_EQ(r.S().ImagePages, 512);
  EXPECT_EQ(r.W().FUpHist(), std::vector<std::string>{"Opening Com Port 3..."});
  EXPECT_TRUE(r.W().Visible(Ctl::FactoryBox));
  EXPECT_FALSE(r.W().Visible(Ctl::OpeningBox));
  r.form.BtnHelpClick();
  EXPECT_EQ(r.ui.helpTopics.back(), 9);

  r.Tick(3);  // 5, 6, 541
  EXPECT_EQ(r.S().Step, 0);
  EXPECT_EQ(r.port.port, 3);
  EXPECT_EQ(r.port.baud, 19200);
  EXPECT_EQ(r.LastHist(), "Port is open on Com 3 at 19200 baud");
  EXPECT_EQ(r.W().Caption(Ctl::Label1),
            "With power off, put a jumper on the Bootstrap Loader Enable header (JP2) and a "
            "jumper on the BootBlock Erase Enable header (JP3)");
  EXPECT_EQ(r.W().FontColor(Ctl::Label1), clRed);
  EXPECT_EQ(r.W().FontSize(Ctl::Label1), 11);
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "Turn the Unit power on, then click on <Proceed>");
  EXPECT_EQ(r.W().FontColor(Ctl::Label16), clBlue);
  EXPECT_EQ(r.W().Caption(Ctl::Label19), "Factory Upload will take about 19 seconds");
  EXPECT_EQ(r.W().FontColor(Ctl::Label19), clBlue);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnCaptureFile));
  EXPECT_EQ(r.S().Phase, RunPhase::FactoryReady);
  EXPECT_EQ(r.port.TakeWritten(), "") << "nothing goes out before Proceed";
  EXPECT_EQ(Lines(r.dir.Dir() + "commsUP.txt"), std::vector<std::string>{"3,38400"});

  r.form.BtnGoOnClick();
  EXPECT_EQ(r.W().Caption(Ctl::Label1), "");
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "DO NOT INTERRUPT UPLOAD");
  EXPECT_EQ(r.W().FontSize(Ctl::Label16), 12);
  EXPECT_EQ(r.W().FontColor(Ctl::Label16), clRed);
  EXPECT_FALSE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_EQ(r.LastHist(), "Establishing comms with the C161 chip...");
  EXPECT_EQ(r.S().Step, kZeroByteStep);
}

TEST(FactoryHandshake, PortFailuresOfferTheWayBackAndANewRunStartsClean) {
  FactoryRig r;
  r.port.active = false;
  r.port.opens = false;
  r.form.BtnBootClick();
  EXPECT_TRUE(r.RunTo(0, 30));
  EXPECT_EQ(r.LastHist(), "Com Port failed to open");
  EXPECT_EQ(r.S().Outcome, RunOutcome::PortFailure);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));

  // The port closes again before the instructions.
  r.form.BtnBackToStartClick();
  r.port.opens = true;
  r.form.BtnBootClick();
  r.Tick(2);  // 5, 6
  r.port.active = false;
  r.Tick();  // 541
  EXPECT_EQ(r.W().FUpHist(),
            (std::vector<std::string>{"Opening Com Port 1...",
                                      "Port did not open on Com 1 at 19200 baud"}));
  EXPECT_FALSE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));

  // A chip that stays silent hides Label16; the next run shows it again.
  r.form.BtnBackToStartClick();
  r.chip.idReply.clear();
  r.Proceed();
  ASSERT_TRUE(r.RunTo(0, 100));
  EXPECT_FALSE(r.W().Visible(Ctl::Label16));
  r.form.BtnBackToStartClick();
  r.OpenFactoryScreen();
  EXPECT_TRUE(r.W().Visible(Ctl::Label16));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnGoOn));
  EXPECT_EQ(r.W().FUpHist().size(), 2u);
}

TEST(FactoryHandshake, IdentificationAmongOtherBytesLoadsBothLoadersInOneTickEach) {
  FactoryRig r;
  r.chip.idReply = "\x12\xB5\x34";
  r.chip.loader1Reply = "\x01\"\x02";
  r.chip.loader2Reply = "xUy";
  r.Proceed();
  r.Tick(2);  // 544, 545
  EXPECT_EQ(r.LastHist(), "Got correct response from C161 chip");
  r.Tick();  // 546
  EXPECT_EQ(r.port.TakeWritten(), std::string(1, '\0') + Bytes(resources::Loader1Texts()[0]));
  r.Tick(2);  // 548, 550
  EXPECT_EQ(r.port.TakeWritten(), Bytes(resources::Loader2Texts()[0]) +
                                      Bytes(resources::Loader2Texts()[1]) +
                                      Bytes(resources::Loader2Texts()[2]));
  EXPECT_EQ(r.form.BootTransfer.BootLineText, resources::Loader2Texts()[2]);
  r.Tick();  // 552 sends the first line
  EXPECT_EQ(r.S().Step, 568);
  const std::vector<std::string> expected = {"Opening Com Port 1...",
                                             "Port is open on Com 1 at 19200 baud",
                                             "Establishing comms with the C161 chip...",
                                             "Got correct response from C161 chip",
                                             "Sending Loader 1...",
                                             "Loader 1 complete",
                                             "Sending Loader 2...",
                                             "Loader 2 complete",
                                             "Sending Bootstrap...",
                                             "Sending line 1..."};
  EXPECT_EQ(r.W().FUpHist(), expected);
  EXPECT_EQ(r.S().Phase, RunPhase::BootLines);
}

TEST(FactoryHandshake, AReplyWithoutIdentificationByteEndsTheRunWithWhatCame) {
  FactoryRig r;
  r.chip.idReply = "U";
  r.Proceed();
  r.Tick(2);
  EXPECT_EQ(r.LastHist(), "Got C161 response: U");
  EXPECT_EQ(r.S().Step, 0);
  EXPECT_EQ(r.S().Outcome, RunOutcome::WrongIdentification);
  EXPECT_TRUE(r.W().Visible(Ctl::FactoryBox));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_FALSE(r.W().Visible(Ctl::BtnGoOn));
}

TEST(FactoryHandshake, NoiseBeforeTheFirstCheckCountsAsTheReply) {
  FactoryRig r;
  r.chip.idReply.clear();  // not yet in its bootstrap loader
  r.OpenFactoryScreen();
  r.port.Feed(std::string("\x7F\x00\xFE", 3));  // the unit powering up
  r.form.BtnGoOnClick();
  r.Tick(2);
  EXPECT_EQ(r.LastHist(), std::string("Got C161 response: \x7F\x00\xFE", 22));
  EXPECT_EQ(r.chip.zeroBytes, 1);
  EXPECT_EQ(r.S().Step, 0);
}

TEST(FactoryHandshake, SilentChipGetsTenZeroBytesAndTimesOutOnTick47) {
  FactoryRig r;
  r.chip.idReply.clear();
  r.Proceed();
  std::vector<int> sentOn;
  for (int tick = 1; tick <= 46; ++tick) {
    r.Tick();
    if (!r.port.TakeWritten().empty()) sentOn.push_back(tick);
    ASSERT_NE(r.S().Step, 0) << "tick " << tick;
  }
  EXPECT_EQ(sentOn, (std::vector<int>{1, 6, 11, 16, 21, 26, 31, 36, 41, 46}));
  r.Tick();
  EXPECT_EQ(r.S().Step, 0);
  EXPECT_EQ(r.LastHist(), "Timed out waiting for response to initial character");
  EXPECT_FALSE(r.W().Visible(Ctl::Label16));
  EXPECT_EQ(r.S().Outcome, RunOutcome::NoIdentification);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
}

TEST(FactoryHandshake, AReplyAfterTheResendWasDecidedIsKeptAndJudgedOnTheNextTick) {
  FactoryRig r;
  r.chip.idReply.clear();
  r.Proceed();
  r.Tick(5);  // the fifth tick decides on a resend
  EXPECT_EQ(r.S().Step, kZeroByteStep);
  r.port.Feed("\xD5");
  r.Tick();  // the zero byte goes out all the same
  EXPECT_EQ(r.chip.zeroBytes, 2);
  EXPECT_EQ(r.S().ReplyText, "\xD5");
  r.Tick();
  EXPECT_EQ(r.LastHist(), "Got correct response from C161 chip");
  EXPECT_EQ(r.S().Step, kSendLoader1Step);
}

TEST(FactoryHandshake, LoaderAnswersAreJudgedWithinTheirBudgets) {
  // Runs to the wait for Loader `n`'s answer, with `reply` as that answer.
  const auto toLoaderWait = [](FactoryRig& r, int n, const std::string& reply) {
    (n == 1 ? r.chip.loader1Reply : r.chip.loader2Reply) = reply;
    r.Proceed();
    ASSERT_TRUE(r.RunTo(n == 1 ? kLoader1WaitStep : kLoader2WaitStep, 20));
  };
  {
    FactoryRig r;
    toLoaderWait(r, 1, "\x01\x02");
    r.Tick();
    EXPECT_EQ(r.LastHist(), "Problem - bad checksum response to Loader1");
    EXPECT_EQ(r.S().Outcome, RunOutcome::LoaderBadAnswer);
    EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  }
  {
    FactoryRig r;
    toLoaderWait(r, 1, "");
    r.Tick(10);
    EXPECT_EQ(r.S().Step, kLoader1WaitStep);
    r.Tick();
    EXPECT_EQ(r.LastHist(), "Timed out waiting for response to Loader 1");
    EXPECT_EQ(r.S().Outcome, RunOutcome::LoaderSilent);
  }
  {
    FactoryRig r;
    toLoaderWait(r, 2, "");
    r.Tick(99);
    r.port.Feed("U");
    r.Tick();  // the 100th tick sees it
    EXPECT_TRUE(r.HistHas("Loader 2 complete"));
    EXPECT_EQ(r.S().Step, 568);
  }
  {
    FactoryRig r;
    toLoaderWait(r, 2, "");
    r.Tick(100);
    EXPECT_EQ(r.S().Step, kLoader2WaitStep);
    r.Tick();
    EXPECT_EQ(r.LastHist(), "Timed out waiting for response to Loader 2");
    EXPECT_EQ(r.S().Outcome, RunOutcome::LoaderSilent);
  }
  {
    FactoryRig r;
    toLoaderWait(r, 2, "\"");
    r.Tick();
    EXPECT_EQ(r.LastHist(), "Problem - bad checksum response to Loader 2");
    EXPECT_EQ(r.S().Step, 0);
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
