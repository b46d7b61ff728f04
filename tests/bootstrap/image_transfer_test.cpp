// The bootstrap program line by line against a scripted Loader 2: the frames and their check
// bytes, the repeats of a line answered wrongly, the tick budget over a line's repeats, the line
// whose check byte is zero, and the end frame.
#include <gtest/gtest.h>

#include "bootstrap/boot_image_transfer.h"
#include "factory_rig.h"

using namespace factory_test;

namespace {

const std::string& ImageLine(int number) {
  return resources::BootImageLines().at(static_cast<std::size_t>(number - 1));
}

// The frame of a data line of the image: type, count, address, data.
std::string DataFrame(int number) {
  const std::string& line = ImageLine(number);
  return Bytes("00" + line.substr(1, 6) + line.substr(9, line.size() - 11));
}

int Sends(const Chip& chip, const std::string& frame) {
  return static_cast<int>(std::count(chip.frames.begin(), chip.frames.end(), frame));
}

// A rig whose Loader 2 answers line 2 with `answers` in turn, then as the test feeds.
struct Line2Rig : FactoryRig {
  std::vector<std::string> answers;
  explicit Line2Rig(std::vector<std::string> a) : answers(std::move(a)) {
    chip.echo = [this](int, const std::string& frame) {
      if (frame != DataFrame(2)) return RightEcho(frame);
      if (sent_ >= answers.size()) return std::string();
      return answers[sent_++];
    };
    Proceed();
    EXPECT_TRUE(RunTo(kBootLineStep, 20));
  }

 private:
  std::size_t sent_ = 0;
};

}  // namespace

TEST(BootImageTransfer, LinesGoOutAsFramesCountedInOneHistoryLineUpToTheEndFrame) {
  FactoryRig r;
  r.form.BtnCaptureFileClick();
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kBootLineStep, 20));
  BootImageTransfer& t = r.form.BootTransfer;
  EXPECT_EQ(r.chip.frames.back(), std::string("\x04\x00", 2));
  EXPECT_EQ(t.ExpectedEcho, 0xFC);
  const std::size_t historySize = r.W().FUpHist().size();
  r.Tick();
  EXPECT_EQ(r.chip.frames.back(), DataFrame(2));
  EXPECT_EQ(r.chip.frames.back().substr(0, 4), std::string("\x00\x0C\x00\x00", 4));
  EXPECT_EQ(r.chip.frames.back().size(), 16u);
  EXPECT_EQ(t.ExpectedEcho, 0x0F);
  r.Tick();
  EXPECT_EQ(r.chip.frames.back(), "\x04\x08");
  EXPECT_EQ(t.ExpectedEcho, 0xF4);
  EXPECT_EQ(r.W().FUpHist().size(), historySize);
  EXPECT_EQ(r.LastHist(), "Sending line 3...");
  const std::string capture = r.CaptureText();
  EXPECT_NE(capture.find("[mem]:020000040008F2"), std::string::npos);
  EXPECT_NE(capture.find("[out]0408"), std::string::npos);
  EXPECT_NE(capture.find("[out]" + resources::Loader1Texts()[0]), std::string::npos);
  EXPECT_NE(capture.find("[out]char 0"), std::string::npos);

  // The end frame is a single byte and is not waited for.
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.started; }, 400));
  EXPECT_EQ(r.chip.frames.back(), "\x01");
  EXPECT_EQ(r.chip.frames.size(), 209u);
  EXPECT_EQ(r.LastHist(), "Sending line 209...");
  EXPECT_EQ(r.W().FUpHist().size(), historySize);
  r.Tick();
  EXPECT_EQ(r.S().Step, 571);
  EXPECT_EQ(r.S().AttemptCount, 0);
}

TEST(BootImageTransfer, LineWithCheckByteZeroIsFollowedOnTheNextTickWhateverArrives) {
  FactoryRig r;
  ASSERT_EQ(ImageLine(7).substr(ImageLine(7).size() - 2), "00");
  r.chip.echo = [](int, const std::string& frame) {
    return frame == DataFrame(7) ? std::string() : RightEcho(frame);
  };
  r.Proceed();
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.frames.size() == 7; }, 40));
  EXPECT_EQ(r.form.BootTransfer.ExpectedEcho, 0);
  r.Tick();
  ASSERT_EQ(r.chip.frames.size(), 8u);
  EXPECT_EQ(r.chip.frames.back(), DataFrame(8));
}

TEST(BootImageTransfer, FourWrongAnswersThenTheRightOneAcceptTheLine) {
  Line2Rig r({"\x55", "\x0E", "\x10\x11", "\xF0", "\x33\x0F\x44"});
  r.TickUntil([&] { return r.chip.frames.size() == 7 || r.S().Step == 0; }, 30);
  EXPECT_EQ(Sends(r.chip, DataFrame(2)), 5);
  EXPECT_EQ(r.chip.frames[6], "\x04\x08") << "line 3 follows the fifth send";
  EXPECT_EQ(r.form.BootTransfer.BadEchoCount, 0);
  EXPECT_EQ(r.S().Step, kBootLineStep);
}

TEST(BootImageTransfer, FifthWrongAnswerEndsTheRun) {
  Line2Rig r({"\x55", "\x55", "\x55", "\x55", "\x55", "\x0F"});
  r.TickUntil([&] { return r.S().Step == 0; }, 30);
  EXPECT_EQ(Sends(r.chip, DataFrame(2)), 5);
  EXPECT_EQ(r.chip.frames.size(), 6u);
  EXPECT_EQ(r.LastHist(), "Problem - got bad checksum 5 times, bad cable?");
  EXPECT_EQ(r.S().Outcome, RunOutcome::BadEchoes);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.W().Visible(Ctl::FactoryBox));
}

TEST(BootImageTransfer, EmptyTicksCountOverAllSendsOfALine) {
  Line2Rig r({});
  r.Tick();  // line 1 answered: line 2 goes out, then nothing comes
  ASSERT_EQ(r.chip.frames.back(), DataFrame(2));
  r.Tick(60);
  EXPECT_EQ(Sends(r.chip, DataFrame(2)), 1);
  r.port.Feed("\x01");
  r.Tick();  // a wrong answer: sent again, the count goes on
  EXPECT_EQ(Sends(r.chip, DataFrame(2)), 2);
  r.Tick(40);
  EXPECT_EQ(r.S().Step, kBootLineStep);
  r.Tick();
  EXPECT_EQ(r.S().Step, 0);
  EXPECT_EQ(r.LastHist(), "Timed out waiting for response to Bootstrap line");
  EXPECT_EQ(r.S().Outcome, RunOutcome::BootLineTimedOut);
}
