// The Windows build, run under Wine: the core's unit tests, TSerial's Win32 backend on COM
// ports that are pseudo-terminals held here, a whole kvuflash-cli.exe upload into rq410-sim,
// and the Win32 window's own tests (tests/win) on a display, among them an upload through the
// window. Skipped when Wine or the Windows build (make windows) is missing, and the window's
// when there is no display and no Xvfb.
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "wine/wine_support.h"

namespace {

using namespace e2e;

constexpr int kEchoCom = 5;
constexpr int kSilentCom = 6;
constexpr int kUnitCom = 7;
constexpr int kWindowUnitCom = 8;
constexpr int kFactoryUnitCom = 9;
constexpr int kVanishingUnitCom = 4;  // the window lists COM1 to COM9
constexpr char kEnq = 5;

// A Windows test run's output as this test reports it. Its own "[  SKIPPED ]" lines are
// reworded: ctest would take them for this test's, and call a failed run skipped.
std::string Reported(std::string output) {
  const std::string mark = "[  SKIPPED ]";
  for (auto at = output.find(mark); at != std::string::npos; at = output.find(mark, at)) {
    output.replace(at, mark.size(), "[ skipped under Wine ]");
  }
  return output;
}

// The Windows tests that skipped themselves, one line each.
std::string SkippedTests(const std::string& output) {
  std::string lines;
  const std::string mark = "[  SKIPPED ] ";
  for (auto at = output.find(mark); at != std::string::npos; at = output.find(mark, at + 1)) {
    const auto end = output.find('\n', at);
    const std::string line = output.substr(at + mark.size(), end - at - mark.size());
    if (line.find(" ms)") != std::string::npos) lines += "  skipped under Wine: " + line + "\n";
  }
  return lines;
}

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    const WineRun prepared = RunUnderWine({"--prepare"}, {}, dir_, 300, "prepare");
    if (prepared.status == 77) GTEST_SKIP() << prepared.output;
    ASSERT_EQ(prepared.status, 0) << prepared.output;
  }
  // Skips the test when the Windows build has not made `relative`.
  bool Have(const std::string& relative) {
    if (fs::exists(WindowsProgram(relative))) return true;
    missing_ = WindowsProgram(relative) + " is not built (make windows)";
    return false;
  }
  // The whole gtest program under Wine; fails with its output unless every test passes.
  WineRun ExpectUnitTestsPass(const std::string& program, const std::vector<std::string>& env = {},
                              const std::string& filter = "") {
    std::vector<std::string> args = {WindowsProgram(program)};
    if (!filter.empty()) args.push_back("--gtest_filter=" + filter);
    const WineRun r = RunUnderWine(args, env, dir_, 600, fs::path(program).stem().string());
    ExpectPassed(r);
    return r;
  }
  static void ExpectPassed(const WineRun& r) {
    EXPECT_EQ(r.status, 0) << Reported(r.output);
    EXPECT_NE(r.output.find("[  PASSED  ]"), std::string::npos) << Reported(r.output);
    std::cout << SkippedTests(r.output);
  }

  TempFolder dir_{"kv-wine"};
  std::string missing_;
};

// Each test program of the core, whole, in its Windows build. The list is the build's own
// (KV_CORE_TEST_DIRS in tests/CMakeLists.txt).
std::vector<std::string> CoreTestDirs() {
  std::vector<std::string> dirs;
  std::string list = KV_CORE_TEST_DIRS;
  for (std::size_t at = 0; at <= list.size();) {
    const auto end = std::min(list.find(',', at), list.size());
    if (end > at) dirs.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return dirs;
}

class CoreTestProgram : public UnderWine, public ::testing::WithParamInterface<std::string> {};

TEST_P(CoreTestProgram, PassesWhole) {
  const std::string program = "tests/test_" + GetParam() + ".exe";
  if (!Have(program)) GTEST_SKIP() << missing_;
  // The serial tests need the COM ports that Win32SerialPortOnPseudoTerminals provides.
  ExpectUnitTestsPass(program, {}, "-WinSerial.*");
}

INSTANTIATE_TEST_SUITE_P(UnderWine, CoreTestProgram, ::testing::ValuesIn(CoreTestDirs()),
                         [](const auto& test) { return test.param; });

// The other end of a COM port: echoes every byte, and answers ENQ with the line settings that
// the Windows side set, as the pseudo-terminal's master sees them.
class EchoPeer {
 public:
  EchoPeer() : thread_([this] { Serve(); }) {}
  ~EchoPeer() {
    stop_ = true;
    thread_.join();
  }
  const std::string& SlavePath() const { return pty_.SlavePath(); }

 private:
  static std::string Settings(int master) {
    termios tio{};
    if (::tcgetattr(master, &tio) != 0) return "?\r";
    static const std::pair<speed_t, int> kSpeeds[] = {
        {B110, 110},     {B300, 300},     {B600, 600},      {B1200, 1200},
        {B2400, 2400},   {B4800, 4800},   {B9600, 9600},    {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    int baud = 0;
    for (auto [code, rate] : kSpeeds) baud = ::cfgetospeed(&tio) == code ? rate : baud;
    const char* flow = (tio.c_cflag & CRTSCTS) ? "rtscts"
                       : (tio.c_iflag & IXON)  ? "xonxoff"
                                               : "none";
    return std::to_string(baud) + ((tio.c_cflag & CSTOPB) ? " 2 " : " 1 ") + flow + "\r";
  }
  void Serve() {
    // Held open so that the master never reads a hang-up while the Windows side reopens.
    const int slave = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    while (!stop_) {
      pollfd p{pty_.Master(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(pty_.Master(), buffer, sizeof buffer);
      std::string reply;
      for (ssize_t i = 0; i < n; ++i) {
        reply += buffer[i] == kEnq ? Settings(pty_.Master()) : std::string(1, buffer[i]);
      }
      if (!reply.empty()) pty_.Send(reply);
    }
    if (slave >= 0) ::close(slave);
  }

  Pty pty_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(UnderWine, Win32SerialPortOnPseudoTerminals) {
  if (!Have("tests/test_components.exe")) GTEST_SKIP() << missing_;
  EchoPeer echo;
  Pty silent;  // nobody reads its master
  const int silentHold = ::open(silent.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  LinkCom(kEchoCom, echo.SlavePath());
  LinkCom(kSilentCom, silent.SlavePath());
  UnlinkCom(9);
  ExpectUnitTestsPass("tests/test_components.exe",
                      {"KV_TEST_COM=" + std::to_string(kEchoCom),
                       "KV_TEST_SILENT_COM=" + std::to_string(kSilentCom)},
                      "WinSerial.*");
  UnlinkCom(kEchoCom);
  UnlinkCom(kSilentCom);
  if (silentHold >= 0) ::close(silentHold);
}

// The COM ports Windows knows are those its drivers enter in the serial-communication map; Wine
// enters only the ports it finds at its start, not the ones linked here, so the test enters them
// as a driver would: one within the window's 1 to 9, one above.
TEST_F(UnderWine, CliPortsListsTheComPortsWindowsKnows) {
  if (!Have("cli/kvuflash-cli.exe")) GTEST_SKIP() << missing_;
  const std::string map = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
  // Named so that the map lists COM12 before COM3.
  const std::vector<std::pair<std::string, int>> entries = {{"\\Device\\KvAdapter0", 12},
                                                            {"\\Device\\KvSerial2", 3}};
  Pty three, twelve;
  LinkCom(3, three.SlavePath());
  LinkCom(12, twelve.SlavePath());
  for (const auto& [name, number] : entries) {
    const WineRun added =
        RunUnderWine({"reg", "add", map, "/v", name, "/d", "COM" + std::to_string(number), "/f"},
                     {}, dir_, 60, "reg");
    ASSERT_EQ(added.status, 0) << added.output;
  }
  const WineRun r = RunUnderWine(
      {WindowsProgram("cli/kvuflash-cli.exe"), "--dir", OnDriveZ(dir_.Path().string()), "ports"},
      {}, dir_, 120, "ports");
  for (const auto& [name, number] : entries) {
    RunUnderWine({"reg", "delete", map, "/v", name, "/f"}, {}, dir_, 60, "reg");
  }
  UnlinkCom(3);
  UnlinkCom(12);
  EXPECT_EQ(r.status, 0) << r.output;
  const auto present = r.output.find("COM ports present:");
  ASSERT_NE(present, std::string::npos) << r.output;
  std::string listed = r.output.substr(present, r.output.find('\n', present) - present);
  if (!listed.empty() && listed.back() == '\r') listed.pop_back();
  const auto com3 = listed.find(" COM3"), com12 = listed.find(" COM12");
  EXPECT_NE(com3, std::string::npos) << listed;
  EXPECT_NE(com12, std::string::npos) << listed;
  EXPECT_LT(com3, com12) << listed;
  EXPECT_NE(r.output.find("COM12 is above 9: the window offers COM 1 to 9; kvuflash-cli reaches "
                          "it as --port \\\\.\\COM12."),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("COM3 is above 9"), std::string::npos) << r.output;
  // The window's numbers: those Windows does not list say so.
  for (int n = 1; n <= 9; ++n) {
    const std::string com = "COM" + std::to_string(n);
    const bool listedHere = (listed + " ").find(" " + com + " ") != std::string::npos;
    const auto line = r.output.find(com + ": " + com);
    ASSERT_NE(line, std::string::npos) << r.output;
    const std::string text = r.output.substr(line, r.output.find('\n', line) - line);
    EXPECT_EQ(text.find("(not among the ports Windows lists)") != std::string::npos, !listedHere)
        << text;
  }
}

TEST_F(UnderWine, CliUploadsAHexFileIntoTheSimulatedUnit) {
  if (!Have("cli/kvuflash-cli.exe")) GTEST_SKIP() << missing_;
  const auto pages = SpreadPages(30, 3, 1091);
  const Bytes image = MakeImage(pages, 11, {pages[4]});
  WriteText(dir_.File("fw.hex"), IntelHex(image));
  fs::create_directories(dir_.Path() / "prog");
  Sim sim(KV_SIM_PATH, dir_, "unit");
  LinkCom(kUnitCom, sim.Link());

  const WineRun r =
      RunUnderWine({WindowsProgram("cli/kvuflash-cli.exe"), "--dir", OnDriveZ(dir_.File("prog")),
                    "upload", "--port", std::to_string(kUnitCom), OnDriveZ(dir_.File("fw.hex"))},
                   {}, dir_, 300, "cli");
  UnlinkCom(kUnitCom);
  EXPECT_EQ(r.status, 0) << Reported(r.output);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim.Flash(), image), -1);
  EXPECT_EQ(sim.Summary()["records"], "30");
  EXPECT_NE(r.output.find("Port is open on Com " + std::to_string(kUnitCom) + " at 38400 baud"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Software Upload complete"), std::string::npos) << r.output;
  // The converted file beside the input, and the remembered port as a Windows text line.
  EXPECT_EQ(ReadBytes(dir_.File("fw.KVU")).size(), 30u * 135 + 8);
  EXPECT_EQ(ReadText(dir_.File("prog/commsUP.txt")), std::to_string(kUnitCom) + ",38400\r\n");
}

class WindowUnderWine : public UnderWine {
 protected:
  void SetUp() override {
    UnderWine::SetUp();
    if (IsSkipped()) return;
    if (!Have("tests/test_win.exe") || !Have("win/kvuflash.exe")) GTEST_SKIP() << missing_;
    if (display_.Env().empty()) GTEST_SKIP() << "no X display and no Xvfb for the window";
    const WineRun desktop = UseWineDesktop(display_, dir_);
    ASSERT_EQ(desktop.status, 0) << desktop.output;
  }
  // Screenshots of each screen go into the build folder, for a look.
  static std::string Shots() {
    return "KV_TEST_SHOTS=" + OnDriveZ(KV_BINARY_DIR "/screenshots-win");
  }
  Display display_;
};

// The window's own tests: the opening screen, help, the smallest size, the GDI gauge.
TEST_F(WindowUnderWine, WindowProgramPassesItsTests) {
  ExpectUnitTestsPass("tests/test_win.exe", {display_.Env(), Shots()},
                      "-WinWindow.SoftwareUpload*:WinWindow.Factory*:WinWindow.UnitThatVanishes*");
}

// The window at a scale of the screen, in dots per inch. Wine's programs read the scale from the
// user's desktop settings as they start, so the prefix's Wine is restarted around the change
// (the desktop with it), and the scale is taken back afterwards for the tests that follow.
class ScaledWindowUnderWine : public WindowUnderWine {
 protected:
  static constexpr const char* kDesktopKey = "HKCU\\Control Panel\\Desktop";
  void TearDown() override {
    if (!scaled_) return;
    RunUnderWine({"reg", "delete", kDesktopKey, "/v", "LogPixels", "/f"}, {}, dir_, 60, "scale");
    RestartWine();
  }
  void RestartWine() {
    RunUnderWine({"--stop"}, {}, dir_, 60, "stop");
    RunUnderWine({"--wait"}, {}, dir_, 60, "wait");
  }
  // The opening screen and the smallest size at `dpi`; the window's test fails when its DPI is
  // not the one set. Its output, for a look at which case the smallest size checked.
  std::string ExpectWindowTestsPassAt(int dpi) {
    const WineRun set = RunUnderWine({"reg", "add", kDesktopKey, "/v", "LogPixels", "/t",
                                      "REG_DWORD", "/d", std::to_string(dpi), "/f"},
                                     {}, dir_, 60, "scale");
    EXPECT_EQ(set.status, 0) << set.output;
    scaled_ = true;
    RestartWine();
    const WineRun r = ExpectUnitTestsPass(
        "tests/test_win.exe", {display_.Env(), Shots(), "KV_TEST_DPI=" + std::to_string(dpi)},
        "WinWindow.OpensWith*:WinWindow.NeverSmaller*");
    EXPECT_NE(r.output.find("[       OK ] WinWindow.NeverSmallerThanTheDesignSizeAndNothingCutOff"),
              std::string::npos)
        << Reported(r.output);
    return r.output;
  }
  bool scaled_ = false;
};

// At 150 % the design size (1143 x 614) has room on Wine's desktop (1280 x 800).
TEST_F(ScaledWindowUnderWine, WindowAt150PercentKeepsTheDesignSizeWithNothingCutOff) {
  const std::string output = ExpectWindowTestsPassAt(144);
  EXPECT_EQ(output.find("its content scrolls"), std::string::npos) << Reported(output);
}

// At 200 % the design size (1524 x 818) is larger than Wine's desktop: the content scrolls, and
// Tab brings every button into view.
TEST_F(ScaledWindowUnderWine, WindowAt200PercentScrollsEveryButtonIntoView) {
  const std::string output = ExpectWindowTestsPassAt(192);
  EXPECT_NE(output.find("its content scrolls"), std::string::npos) << Reported(output);
}

TEST_F(WindowUnderWine, WindowUploadsAHexFileChosenInItsChooserWithTheKeyboardAlone) {
  const auto pages = SpreadPages(24, 5, 613);
  const Bytes image = MakeImage(pages, 29, {pages[3]});
  WriteText(dir_.File("fw.hex"), IntelHex(image));
  Sim sim(KV_SIM_PATH, dir_, "unit");
  LinkCom(kWindowUnitCom, sim.Link());
  ExpectUnitTestsPass("tests/test_win.exe",
                      {display_.Env(), "KV_TEST_UNIT_COM=" + std::to_string(kWindowUnitCom),
                       "KV_TEST_HEX=" + OnDriveZ(dir_.File("fw.hex")), Shots()},
                      "WinWindow.SoftwareUpload*");
  UnlinkCom(kWindowUnitCom);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(sim.Flash(), image), -1);
  EXPECT_EQ(sim.Summary()["records"], "24");
}

// Behind the COM port a device that Wine does not report as a pseudo-terminal's slave: a
// fresh pseudo-terminal master, as good as a line for the refusal, and nobody at its end.
TEST_F(WindowUnderWine, WindowRefusesAFactoryRunWithStandInFilesOnAComPort) {
  LinkCom(kFactoryUnitCom, "/dev/ptmx");
  ExpectUnitTestsPass(
      "tests/test_win.exe",
      {display_.Env(), "KV_TEST_FACTORY_LINE_COM=" + std::to_string(kFactoryUnitCom), Shots()},
      "WinWindow.FactoryRunRefuses*");
  UnlinkCom(kFactoryUnitCom);
}

TEST_F(WindowUnderWine, WindowRunsAWholeFactoryBootstrapUploadIntoTheSimulatedUnit) {
  Sim sim(KV_SIM_PATH, dir_, "unit", {"--bootstrap"});
  LinkCom(kFactoryUnitCom, sim.Link());
  ExpectUnitTestsPass(
      "tests/test_win.exe",
      {display_.Env(), "KV_TEST_FACTORY_COM=" + std::to_string(kFactoryUnitCom), Shots()},
      "WinWindow.FactoryBootstrapUpload*");
  UnlinkCom(kFactoryUnitCom);
  ASSERT_EQ(sim.Stop(), 0);
  // Pages 0 to 49 but the empty page 7, the bootstrap summed by the unit itself.
  std::vector<std::size_t> pages;
  for (std::size_t p = 0; p < 50; ++p)
    if (p != 7) pages.push_back(p);
  EXPECT_EQ(UsedPages(sim.Flash()), pages);
  EXPECT_EQ(sim.Summary()["boot"], "1503");
  EXPECT_EQ(sim.Summary()["lines"], "209");
}

// The unit is killed once a dozen records have reached it, as an adapter pulled out: the
// window's test (WinWindow.UnitThatVanishes*) sees the run stop. A new unit on the same COM
// port then takes the repeated upload whole.
TEST_F(WindowUnderWine, WindowStopsTheRunWhenTheUnitVanishesMidUpload) {
  const auto pages = SpreadPages(80, 7, 409);
  const Bytes image = MakeImage(pages, 17);
  WriteText(dir_.File("fw.hex"), IntelHex(image));
  Sim sim(KV_SIM_PATH, dir_, "unit");
  LinkCom(kVanishingUnitCom, sim.Link());
  const auto window = StartUnderWine(
      {WindowsProgram("tests/test_win.exe"), "--gtest_filter=WinWindow.UnitThatVanishes*"},
      {display_.Env(), "KV_TEST_VANISH_COM=" + std::to_string(kVanishingUnitCom),
       "KV_TEST_VANISH_HEX=" + OnDriveZ(dir_.File("fw.hex")),
       "KV_TEST_VANISH_BACK=" + OnDriveZ(dir_.File("back")), Shots()},
      dir_, "vanish");
  bool going = false;
  for (int i = 0; i < 6000 && window->Running() && !going; ++i) {
    going = sim.Traffic("in").size() >= 12 * 135;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (going) sim.Signal(SIGKILL);
  Sim again(KV_SIM_PATH, dir_, "unit-again");
  LinkCom(kVanishingUnitCom, again.Link());
  WriteText(dir_.File("back"), "");
  const WineRun r = FinishUnderWine(*window, dir_, 300, "vanish");
  UnlinkCom(kVanishingUnitCom);
  ASSERT_TRUE(going) << Reported(r.output);
  ExpectPassed(r);
  // The unit went with most of the file still to come; the one plugged back holds it all.
  EXPECT_LT(sim.Traffic("in").size(), pages.size() * 135 / 2);
  ASSERT_EQ(again.Stop(), 0);
  EXPECT_EQ(FirstDifferentPage(again.Flash(), image), -1);
}

}  // namespace
