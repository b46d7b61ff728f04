// The Windows packages (make windows-package) under Wine: the installer, silently into a fresh
// prefix and out again, and the zip unpacked into a folder of its own; from each, the installed
// kvuflash-cli.exe uploads into rq410-sim. Skipped when Wine, makensis or the build is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "wine/wine_support.h"

namespace {

using namespace e2e;

constexpr int kUnitCom = 8;
const std::string kVersion = KV_VERSION;
const std::string kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kvuflash";
const std::string kLinkName = "Korvane Flash Device Upload.lnk";
// What the program writes and the uninstaller leaves.
const std::set<std::string> kUserFiles = {"commsUP.txt", "Capture.txt", "ports.txt",
                                          "KVUflash.set"};

// Every file called `name` below `dir`.
std::vector<fs::path> FindFiles(const fs::path& dir, const std::string& name) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->path().filename() == name) found.push_back(it->path());
  }
  return found;
}

class WinePackage : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& file :
         {"kvuflash-" + kVersion + "-setup.exe", "kvuflash-" + kVersion + "-win64.zip"}) {
      if (!fs::exists(WindowsProgram(file))) {
        GTEST_SKIP() << WindowsProgram(file) << " is not made (make windows-package)";
      }
    }
    const WineRun prepared = RunUnderWine({"--prepare"}, {}, dir_, 600, "prepare", prefix_);
    if (prepared.status == 77) GTEST_SKIP() << prepared.output;
    ASSERT_EQ(prepared.status, 0) << prepared.output;
  }
  void TearDown() override { RunUnderWine({"--stop"}, {}, dir_, 60, "stop", prefix_); }

  WineRun Run(const std::vector<std::string>& args, const std::string& tag,
              const std::vector<std::string>& env = {}) {
    return RunUnderWine(args, env, dir_, 300, tag, prefix_);
  }
  // `cli` uploads an image into rq410-sim on a COM port of the prefix; the unit's flash must
  // then hold it.
  void ExpectUpload(const fs::path& cli) {
    const auto pages = SpreadPages(20, 3, 733);
    const Bytes image = MakeImage(pages, 5, {pages[2]});
    WriteText(dir_.File("fw.hex"), IntelHex(image));
    Sim sim(KV_SIM_PATH, dir_, "unit");
    LinkCom(kUnitCom, sim.Link(), prefix_);
    const WineRun r = Run(
        {cli.string(), "upload", "--port", std::to_string(kUnitCom), OnDriveZ(dir_.File("fw.hex"))},
        "upload");
    UnlinkCom(kUnitCom, prefix_);
    EXPECT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(FirstDifferentPage(sim.Flash(), image), -1);
    EXPECT_NE(r.output.find("Software Upload complete"), std::string::npos) << r.output;
  }

  // The window's own test of its opening screen, on the window at `windowsPath`.
  void ExpectWindowOpens(const std::string& windowsPath) {
    Display display;
    if (display.Env().empty()) {
      std::cout << "  not started: the window (no X display and no Xvfb)\n";
      return;
    }
    const WineRun desktop = UseWineDesktop(display, dir_, prefix_);
    ASSERT_EQ(desktop.status, 0) << desktop.output;
    const WineRun r = Run({WindowsProgram("tests/test_win.exe"),
                           "--gtest_filter=WinWindow.OpensWithTheOpeningScreenAsDesigned"},
                          "window", {display.Env(), "KV_TEST_WINDOW=" + windowsPath});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
  }

  TempFolder dir_{"kv-winpkg"};
  // A prefix of this test's own: nothing installed by an earlier run is found.
  std::string prefix_ = dir_.File("prefix");
};

// A value of a registry listing (wine reg query), empty when it is not there.
std::string RegValue(const std::string& listing, const std::string& name) {
  const std::string mark = "    " + name + "    REG_SZ    ";
  const auto at = listing.find(mark);
  if (at == std::string::npos) return {};
  const auto from = at + mark.size();
  return listing.substr(from, listing.find_first_of("\r\n", from) - from);
}

// How the installer is run, and the registry root of its entry: an elevated run installs for
// all users, /CURRENTUSER for the current user alone. Wine's user counts as elevated.
struct InstallMode {
  std::string name;
  std::vector<std::string> options;
  std::string root;
};
void PrintTo(const InstallMode& mode, std::ostream* os) {
  *os << mode.name;
}

class WineInstaller : public WinePackage, public ::testing::WithParamInterface<InstallMode> {
 protected:
  // The folder of a C:\ path in the prefix.
  fs::path OnDriveC(const std::string& windowsPath) {
    std::string relative = windowsPath.substr(3);
    for (char& c : relative) c = c == '\\' ? '/' : c;
    return fs::path(prefix_) / "drive_c" / relative;
  }
};

TEST_P(WineInstaller, InstallsSilentlyAndUninstallsLeavingTheUsersFiles) {
  std::vector<std::string> setup = {WindowsProgram("kvuflash-" + kVersion + "-setup.exe"), "/S"};
  setup.insert(setup.end(), GetParam().options.begin(), GetParam().options.end());
  ASSERT_EQ(Run(setup, "setup").status, 0);
  const std::string key = GetParam().root + "\\" + kUninstallKey;
  const WineRun entry = Run({"reg", "query", key}, "reg");
  ASSERT_EQ(entry.status, 0) << entry.output;
  EXPECT_EQ(RegValue(entry.output, "DisplayName"), "Korvane Flash Device Upload");
  EXPECT_EQ(RegValue(entry.output, "DisplayVersion"), kVersion);
  EXPECT_EQ(RegValue(entry.output, "Publisher"), "Korvane");
  const std::string location = RegValue(entry.output, "InstallLocation");
  EXPECT_EQ(RegValue(entry.output, "QuietUninstallString"),
            "\"" + location + "\\uninstall.exe\" /S");
  EXPECT_EQ(RegValue(entry.output, "DisplayIcon"), location + "\\kvuflash-cli.exe,0");
  const fs::path installed = OnDriveC(location);
  const fs::path cli = installed / "kvuflash-cli.exe";
  ASSERT_TRUE(fs::exists(cli)) << "not installed in " << installed;
  EXPECT_EQ(FindFiles(fs::path(prefix_) / "drive_c", kLinkName).size(), 1u);

  const WineRun help = Run({cli.string(), "help"}, "help");
  EXPECT_EQ(help.status, 0) << help.output;
  EXPECT_NE(help.output.find("upload"), std::string::npos) << help.output;
  fs::copy_file(std::string(KV_SOURCE_DIR) + "/samples/demo-small.hex",
                dir_.File("demo-small.hex"));
  const WineRun convert =
      Run({cli.string(), "convert", OnDriveZ(dir_.File("demo-small.hex"))}, "convert");
  EXPECT_EQ(convert.status, 0) << convert.output;
  const auto converted = ReadBytes(dir_.File("demo-small.KVU")).size();
  EXPECT_TRUE(converted > 8 && (converted - 8) % 135 == 0) << converted << " bytes";
  ExpectUpload(cli);
  EXPECT_TRUE(fs::exists(installed / "commsUP.txt"));
  if (fs::exists(installed / "kvuflash.exe")) ExpectWindowOpens(location + "\\kvuflash.exe");

  ASSERT_EQ(Run({(installed / "uninstall.exe").string(), "/S"}, "uninstall").status, 0);
  // The uninstaller runs on as a copy of itself once the one started has returned.
  Run({"--wait"}, "wait");
  EXPECT_TRUE(FindFiles(fs::path(prefix_) / "drive_c", kLinkName).empty());
  EXPECT_NE(Run({"reg", "query", key}, "reg-after").status, 0);
  for (const auto& left : fs::recursive_directory_iterator(installed)) {
    EXPECT_TRUE(kUserFiles.count(left.path().filename().string()))
        << left.path() << " is left after the uninstall";
  }
  EXPECT_TRUE(fs::exists(installed / "commsUP.txt"));
}

INSTANTIATE_TEST_SUITE_P(WinePackage, WineInstaller,
                         ::testing::Values(InstallMode{"AllUsers", {}, "HKLM"},
                                           InstallMode{"CurrentUser", {"/CURRENTUSER"}, "HKCU"}),
                         [](const auto& test) { return test.param.name; });

TEST_F(WinePackage, ZipUnpackedIntoAFolderRunsAnUploadWithItsFilesBesideIt) {
  const fs::path folder = dir_.Path() / "portable";
  Child unzip(
      {"unzip", "-q", WindowsProgram("kvuflash-" + kVersion + "-win64.zip"), "-d", folder.string()},
      {}, dir_.File("unzip.out"), dir_.File("unzip.err"));
  ASSERT_EQ(unzip.Wait(60000), 0) << ReadText(dir_.File("unzip.err"));
  const fs::path top = folder / ("kvuflash-" + kVersion + "-win64");
  for (const char* file : {"kvuflash-cli.exe", "README.txt", "help/topic1.html",
                           "samples/demo-small.hex", "licenses/gcc-runtime-libraries.txt"}) {
    EXPECT_TRUE(fs::exists(top / file)) << file;
  }
  EXPECT_NE(ReadText((top / "README.txt").string()).find("COM ports\r\n"), std::string::npos);
  ExpectUpload(top / "kvuflash-cli.exe");
  EXPECT_EQ(ReadText((top / "commsUP.txt").string()), std::to_string(kUnitCom) + ",38400\r\n");
}

}  // namespace
