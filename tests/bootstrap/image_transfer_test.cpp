// The bootstrap program line by line against a scripted Loader 2: the frames and their check
// bytes, the repeats of a line answered wrongly, the tick budget over a line's repeats, the line
// whose check byte is zero, and the end frame.
#include <gtest/gtest.h>

#include "bootstrap/boot_image_transfer.h"
#include "factory_rig.h"

using namespace factory_test;

namespace {

// The frame of a data line of the image (numbered from 1): type, count, address, data.
std::string DataFrame(int number) {
  const std::string& line = resources::BootImageLines().at(static_cast<std::size_t>(number - 1));
  return Bytes("00" + line.substr(1, 6) + line.substr(9, line.size() - 11));
}

// A run whose Loader 2 answers line 2 with `answers` in turn and then with nothing, taken to the
// point where line 2 has gone out once.
struct Line2Rig : FactoryRig {
  explicit Line2Rig(std::vector<std::string> answers) {
    chip.echo = [this, answers](const std::string& frame) {
      if (frame != DataFrame(2)) return RightEcho(frame);
      return ++line2Sends <= answers.size() ? answers[line2Sends - 1] : std::string();
    };
    Proceed();
    EXPECT_TRUE(RunTo(kBootLineStep, 20));
    Tick();
  }
  std::size_t line2Sends = 0;
};

}  // namespace

TEST(BootImageTransfer, LinesGoOutAsFramesCountedInOneHistoryLineUpToTheEndFrame) {
  FactoryRig r;
  r.form.BtnCaptureFileClick();
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kBootLineStep, 20));
  r.Tick(2);
  ASSERT_EQ(r.chip.frames.size(), 3u);
  EXPECT_EQ(r.chip.frames[0], std::string("\x04\x00", 2));
  EXPECT_EQ(r.chip.frames[1].substr(0, 4), std::string("\x00\x0C\x00\x00", 4));
  EXPECT_EQ(r.chip.frames[1].size(), 16u);
  EXPECT_EQ(r.chip.frames[2], "\x04\x08");
  EXPECT_EQ(r.form.BootTransfer.ExpectedEcho, 0xF4);
  EXPECT_EQ(r.LastHist(), "Sending line 3...");
  const std::size_t historySize = r.W().FUpHist().size();
  const std::string capture = r.CaptureText();
  EXPECT_NE(capture.find("[mem]:020000040008F2"), std::string::npos);
  EXPECT_NE(capture.find("[out]0408"), std::string::npos);

  // The end frame is a single byte, and is not waited for.
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.started; }, 400));
  EXPECT_EQ(r.chip.frames.size(), 209u);
  EXPECT_EQ(r.chip.frames.back(), "\x01");
  EXPECT_EQ(r.LastHist(), "Sending line 209...");
  EXPECT_EQ(r.W().FUpHist().size(), historySize);
  r.Tick();
  EXPECT_EQ(r.S().Step, kFactoryBaudStep);
}

TEST(BootImageTransfer, LineWithCheckByteZeroIsFollowedOnTheNextTickWhateverArrives) {
  FactoryRig r;
  r.chip.echo = [](const std::string& frame) {
    return frame == DataFrame(7) ? std::string() : RightEcho(frame);
  };
  r.Proceed();
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.frames.size() == 7; }, 40));
  EXPECT_EQ(r.form.BootTransfer.ExpectedEcho, 0);
  r.Tick();
  EXPECT_EQ(r.chip.frames.back(), DataFrame(8));
}

TEST(BootImageTransfer, ALineAnsweredWronglyGoesFiveTimesAtMost) {
  // Four wrong answers, then the right one among other bytes: the line is taken.
  Line2Rig taken({"\x55", "\x0E", "\x10\x11", "\xF0", "\x33\x0F\x44"});
  taken.Tick(5);
  EXPECT_EQ(taken.line2Sends, 5u);
  EXPECT_EQ(taken.chip.frames.back(), "\x04\x08");
  EXPECT_EQ(taken.S().Step, kBootLineStep);

  Line2Rig refused({"\x55", "\x55", "\x55", "\x55", "\x55", "\x0F"});
  refused.Tick(5);
  EXPECT_EQ(refused.line2Sends, 5u);
  EXPECT_EQ(refused.chip.frames.back(), DataFrame(2));
  EXPECT_EQ(refused.LastHist(), "Problem - got bad checksum 5 times, bad cable?");
  EXPECT_EQ(refused.S().Outcome, RunOutcome::BadEchoes);
  EXPECT_TRUE(refused.W().Visible(Ctl::BtnBackToStart));
}

TEST(BootImageTransfer, EmptyTicksCountOverAllSendsOfALine) {
  Line2Rig r({});
  r.Tick(60);
  r.port.Feed("\x01");
  r.Tick();  // a wrong answer: sent again, the count goes on
  EXPECT_EQ(r.line2Sends, 2u);
  r.Tick(40);
  EXPECT_EQ(r.S().Step, kBootLineStep);
  r.Tick();
  EXPECT_EQ(r.LastHist(), "Timed out waiting for response to Bootstrap line");
  EXPECT_EQ(r.S().Outcome, RunOutcome::BootLineTimedOut);
}
