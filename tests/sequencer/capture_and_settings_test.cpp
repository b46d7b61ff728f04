// The capture file's lines and the remembered port settings, through the main window's logic.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "components/file_errors.h"
#include "form/main_form.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;
using kvtest::Lines;
using kvtest::ScratchFolder;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct FormRig {
  explicit FormRig(std::string programDir) : form(port, clock, ui, std::move(programDir)) {
    form.FormActivate();
  }
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  MainForm form;
};

TEST(CaptureFile, WritesTimedLinesOfStepsTrafficAndStartMarks) {
  ScratchFolder dir;
  FormRig r(dir.Dir());
  WindowModel& w = r.form.W();
  const std::string path = dir.Dir() + "Capture.txt";
  const std::string t = LongTimeText(r.clock.now);
  ASSERT_FALSE(t.empty());

  r.form.BtnCaptureFileClick();
  EXPECT_TRUE(r.form.S().CaptureEnabled);
  EXPECT_EQ(w.Caption(Ctl::BtnCaptureFile), "&Disable Capture File");
  EXPECT_EQ(w.Caption(Ctl::Label11), "Enabled");

  // An idle sequencer logs its step once while nothing else comes between.
  r.form.Timer1Timer();
  r.form.Timer1Timer();
  r.form.Timer1Timer();
  // Received text is logged whole, with its line ends made printable.
  r.port.active = true;
  r.port.Feed("READY\r\n");
  r.form.ReadMessage();
  r.form.Timer1Timer();
  // A command frame goes out.
  r.form.Core.SendCommand("0000", "FCS?", true);
  // The clock moves on: later lines carry the new time.
  r.clock.AdvanceSeconds(3661);
  const std::string t2 = LongTimeText(r.clock.now);
  r.form.Core.Log("a\nb\nc\nd\ne\nf\rg\rh\ri\rj\rk\rl\rm\rn", "[in]");
  r.form.Core.Log("FAC=E OK\r", "[in]");
  r.form.Core.Log("FAC=D OK\r", "[in]");
  r.form.Core.Log("xFAC=1\r", "[in]");
  r.form.Core.Log("yFAC=2\r", "[in]");  // same masked body as the line before: not written
  r.form.Core.Log("", "");              // empty body: not written

  r.form.BtnCaptureFileClick();
  EXPECT_FALSE(r.form.S().CaptureEnabled);
  EXPECT_EQ(w.Caption(Ctl::BtnCaptureFile), "&Enable Capture File");
  EXPECT_EQ(w.Caption(Ctl::Label11), "Disabled");
  r.form.Core.Log("not written", "[out]");
  r.form.Timer1Timer();

  // The fifth line feed stays raw. Where a line ends with a line feed alone, that splits the
  // line in the file; in a file of CR LF lines it stays inside its line.
  const std::vector<std::string> want{
      "[start]",
      t + "[pn]0",
      t + "[in]READY[cr][lf]",
      t + "[pn]0",
      t + "[out]<0000/FCS?[cr]",
#ifdef _WIN32
      t2 + "[in]a[lf]b[lf]c[lf]d[lf]e\nf[cr]g[cr]h[cr]i[cr]j[cr]k[cr]l\rm\rn",
#else
      t2 + "[in]a[lf]b[lf]c[lf]d[lf]e",
      "f[cr]g[cr]h[cr]i[cr]j[cr]k[cr]l\rm\rn",
#endif
      t2 + " Factory mode enabled",
      t2 + " Factory mode disabled",
      t2 + " Factory mode message accepted",
  };
  EXPECT_EQ(Lines(path), want);
}

TEST(CaptureFile, SwitchingOnTwiceAppendsWithTwoStartLines) {
  ScratchFolder dir;
  FormRig r(dir.Dir());
  const std::string path = dir.Dir() + "Capture.txt";
  r.form.BtnCaptureFileClick();
  r.form.S().Step = 7;
  r.form.Timer1Timer();
  r.form.BtnCaptureFileClick();
  r.form.BtnCaptureFileClick();
  r.form.S().Step = 8;
  r.form.Timer1Timer();
  r.form.BtnCloseClick();
  EXPECT_FALSE(r.form.S().CaptureEnabled);
  EXPECT_TRUE(r.ui.closed);
  const std::string t = LongTimeText(r.clock.now);
  EXPECT_EQ(Lines(path),
            (std::vector<std::string>{"[start]", t + "[pn]7", "[start]", t + "[pn]8"}));
  EXPECT_TRUE(r.ui.messages.empty());
}

TEST(CaptureFile, AFileThatCannotBeOpenedLeavesCaptureOff) {
  // Root may write anywhere, so the failures come from paths no one can open as a file.
  ScratchFolder dir;
  const std::string plainFile = dir.Dir() + "notadir";
  std::ofstream(plainFile) << "x";
  for (const std::string& programDir : {plainFile + "/", std::string("/proc/no-such-kv-dir/")}) {
    FormRig r(programDir);
    r.form.BtnCaptureFileClick();
    EXPECT_FALSE(r.form.S().CaptureEnabled) << programDir;
    EXPECT_EQ(r.form.W().Caption(Ctl::BtnCaptureFile), "&Enable Capture File");
    EXPECT_EQ(r.form.W().Caption(Ctl::Label11), "Disabled");
    ASSERT_EQ(r.ui.messages.size(), 1u);
    EXPECT_NE(r.ui.messages[0].find("Capture.txt"), std::string::npos);
    r.form.Timer1Timer();  // nothing to write to, and no error
    EXPECT_EQ(r.ui.messages.size(), 1u);
    EXPECT_EQ(r.form.S().Step, kIdleStep);
  }
  EXPECT_EQ(ReadAll(plainFile), "x");

#ifndef _WIN32
  // A full disk refuses even the "[start]" line.
  FormRig full(dir.Dir());
  fs::create_symlink("/dev/full", dir.Dir() + "Capture.txt");
  full.form.BtnCaptureFileClick();
  EXPECT_FALSE(full.form.S().CaptureEnabled);
  EXPECT_EQ(full.form.W().Caption(Ctl::Label11), "Disabled");
  ASSERT_EQ(full.ui.messages.size(), 1u);
  EXPECT_NE(full.ui.messages[0].find("Disk full"), std::string::npos);
#endif
}

#ifndef _WIN32
TEST(CaptureFile, AWriteFailureInsideATickTurnsCaptureOffAndTheRunGoesOn) {
  ScratchFolder dir;
  FormRig r(dir.Dir());
  r.form.BtnCaptureFileClick();
  ASSERT_TRUE(r.form.S().CaptureEnabled);
  r.form.S().Step = kEraseResultWaitStep;

  // Limit file sizes to a few bytes past what is written so far: the next line can be written
  // only in part, as on a disk that fills up in the middle of it.
  const auto size = fs::file_size(dir.Dir() + "Capture.txt");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = size + 5;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  r.form.Timer1Timer();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(r.form.S().Step, kEraseResultWaitStep);  // the run goes on
  EXPECT_FALSE(r.form.S().CaptureEnabled);
  EXPECT_EQ(r.form.W().Caption(Ctl::Label11), "Disabled");
  EXPECT_EQ(r.form.W().Caption(Ctl::BtnCaptureFile), "&Enable Capture File");
  EXPECT_FALSE(r.form.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.ui.messages.empty());  // nothing modal holds the run up
  ASSERT_EQ(r.ui.notices.size(), 1u);
  EXPECT_NE(r.ui.notices[0].find("Capture.txt"), std::string::npos) << r.ui.notices[0];
  r.form.Timer1Timer();
  EXPECT_EQ(r.ui.notices.size(), 1u);
  // Nothing of the line cut off is left: the file ends with the last whole line.
  EXPECT_EQ(kvtest::ReadText(dir.Dir() + "Capture.txt"), "[start]\n");
}
#endif

TEST(PortSettings, FileRulesOnLoadAndSave) {
  ScratchFolder dir;
  const std::string settings = dir.Dir() + "commsUP.txt";
  {
    // No file: the first entries of both lists.
    FormRig r(dir.Dir());
    EXPECT_EQ(r.form.W().List(Ctl::CommPortBox).Text(), "1");
    EXPECT_EQ(r.form.W().List(Ctl::BaudRateBox).Text(), "38400");
    EXPECT_EQ(r.form.Core.LoadedPort, "1");
    // Opening on the loaded port writes nothing.
    r.form.Core.SavePortSettings();
    EXPECT_FALSE(fs::exists(settings));
    // Another port writes port and baud, and again at each later opening.
    r.form.W().SelectText(Ctl::CommPortBox, "4");
    r.form.W().SelectText(Ctl::BaudRateBox, "57600");
    r.form.Core.SavePortSettings();
    EXPECT_EQ(Lines(settings), std::vector<std::string>{"4,57600"});
    fs::remove(settings);
    r.form.Core.SavePortSettings();
    EXPECT_TRUE(fs::exists(settings));
  }
  {
    // The port is read back; the baud rate always comes back as 38400.
    std::ofstream(settings, std::ios::trunc) << "7,57600\n";
    FormRig r(dir.Dir());
    EXPECT_EQ(r.form.W().List(Ctl::CommPortBox).Text(), "7");
    EXPECT_EQ(r.form.W().List(Ctl::BaudRateBox).Text(), "38400");
    EXPECT_EQ(r.form.Core.LoadedPort, "7");
  }
  {
    // Only the first character counts, and the last line wins.
    std::ofstream(settings, std::ios::trunc) << "2,38400\r\n35,38400\r\n";
    FormRig r(dir.Dir());
    EXPECT_EQ(r.form.W().List(Ctl::CommPortBox).Text(), "3");
  }
  {
    std::ofstream(settings, std::ios::trunc) << "x,38400\n";
    FormRig r(dir.Dir());
    EXPECT_EQ(r.form.W().List(Ctl::CommPortBox).itemIndex, -1);
    EXPECT_EQ(r.form.Core.LoadedPort, "");
    EXPECT_TRUE(r.ui.messages.empty());
  }
  {
    // A folder that cannot take the file: the error reaches the caller.
    const std::string plainFile = dir.Dir() + "plain";
    std::ofstream(plainFile) << "x";
    FormRig r(plainFile + "/");
    r.form.W().SelectText(Ctl::CommPortBox, "2");
    EXPECT_THROW(r.form.Core.SavePortSettings(), EInOutError);
  }
}

TEST(Buttons, ScreensHelpTopicsAndTheChooserFilter) {
  ScratchFolder dir;
  FormRig r(dir.Dir());
  WindowModel& w = r.form.W();
  EXPECT_EQ(w.Caption(Ctl::Label2), "");
  EXPECT_EQ(w.FontColor(Ctl::Label12), clBlue);
  EXPECT_EQ(w.FontColor(Ctl::Label22), clRed);
  EXPECT_EQ(w.FontSize(Ctl::Label6), 13);
  EXPECT_FALSE(w.Visible(Ctl::MainBox));
  EXPECT_TRUE(w.Visible(Ctl::OpeningBox));
  EXPECT_TRUE(w.Maximized);

  r.form.BtnHelpClick();
  r.form.W().SelectText(Ctl::BaudRateBox, "57600");
  r.form.Btn2UploadClick();
  EXPECT_EQ(r.form.S().Step, kOpenPortStep);
  EXPECT_EQ(r.form.S().UploadBaud, 57600);
  EXPECT_TRUE(r.form.S().MainUploadMode);
  EXPECT_EQ(w.Caption(Ctl::Label12), "Opening Com Port...");
  EXPECT_TRUE(w.Visible(Ctl::MainBox));
  EXPECT_FALSE(w.Visible(Ctl::OpeningBox));
  EXPECT_FALSE(w.Visible(Ctl::RunBox));
  EXPECT_EQ(r.ui.filter,
            "Korvane Upload (.kvu)|*.kvu|Binary (.bin)|*.bin|Intel HEX (.h86)|*.h86|"
            "Intel HEX (.mcs)|*.mcs|Intel HEX (.hex)|*.hex|");
  r.form.BtnHelpClick();

  r.form.S().ReplyText = "left over";
  w.Show(Ctl::BtnChooseFile);
  w.Show(Ctl::BtnRepeatUpload);
  w.Show(Ctl::BtnBackToStart);
  r.form.BtnBackToStartClick();
  EXPECT_EQ(r.form.S().Step, kIdleStep);
  EXPECT_EQ(r.form.S().ReplyText, "");
  for (Ctl hidden : {Ctl::BtnChooseFile, Ctl::BtnRepeatUpload, Ctl::BtnBackToStart, Ctl::FactoryBox,
                     Ctl::MainBox}) {
    EXPECT_FALSE(w.Visible(hidden)) << hidden;
  }
  EXPECT_TRUE(w.Visible(Ctl::OpeningBox));
  r.form.BtnHelpClick();
  EXPECT_EQ(r.ui.helpTopics, (std::vector<int>{1, 3, 1}));

  r.form.BtnCableClick();
  EXPECT_TRUE(w.Visible(Ctl::MemoCable));
  EXPECT_EQ(w.Caption(Ctl::BtnCable), "Hide Detail");
  r.form.BtnCableClick();
  EXPECT_FALSE(w.Visible(Ctl::MemoCable));
  EXPECT_EQ(w.Caption(Ctl::BtnCable), "Cable Detail");
}

}  // namespace
