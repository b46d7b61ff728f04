// Running the Windows build's programs under Wine from a test: the prefix, the Windows
// spelling of paths, and COM ports linked to this machine's devices.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "components/component_test_support.h"
#include "support/sim_process.h"

namespace e2e {

// The run's shared prefix (the wine_prefix fixture).
inline std::string WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix != nullptr && *prefix ? prefix : std::string(KV_BINARY_DIR) + "/wine-prefix";
}

inline std::string WindowsProgram(const std::string& relative) {
  return std::string(KV_WINDOWS_BUILD_DIR) + "/" + relative;
}

// The Windows spelling of a path of this machine, on the drive Wine gives to "/".
inline std::string OnDriveZ(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out) c = c == '/' ? '\\' : c;
  return out;
}

struct WineRun {
  int status = -1;
  std::string output;
};

// tools/wine-run.sh with `args` in `prefix`, started: the test may act while it runs, and
// collects it with FinishUnderWine.
inline std::unique_ptr<Child> StartUnderWine(const std::vector<std::string>& args,
                                             const std::vector<std::string>& env,
                                             const TempFolder& dir, const std::string& tag,
                                             const std::string& prefix = WinePrefix()) {
  std::vector<std::string> argv = {std::string(KV_SOURCE_DIR) + "/tools/wine-run.sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> fullEnv = env;
  fullEnv.push_back("WINEPREFIX=" + prefix);
  const std::string out = dir.File(tag + ".out");
  return std::make_unique<Child>(argv, fullEnv, out, out + ".err");
}

// Its exit status, and stdout and stderr together.
inline WineRun FinishUnderWine(Child& child, const TempFolder& dir, int timeoutS,
                               const std::string& tag) {
  WineRun r;
  r.status = child.Wait(timeoutS * 1000);
  const std::string out = dir.File(tag + ".out");
  r.output = ReadText(out) + ReadText(out + ".err");
  return r;
}

// tools/wine-run.sh with `args` in `prefix`, run to its end.
inline WineRun RunUnderWine(const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const TempFolder& dir,
                            int timeoutS, const std::string& tag,
                            const std::string& prefix = WinePrefix()) {
  const auto child = StartUnderWine(args, env, dir, tag, prefix);
  return FinishUnderWine(*child, dir, timeoutS, tag);
}

// Points COM `number` of `prefix` at `device`.
inline void LinkCom(int number, const std::string& device,
                    const std::string& prefix = WinePrefix()) {
  const fs::path link = fs::path(prefix) / "dosdevices" / ("com" + std::to_string(number));
  std::error_code ec;
  fs::remove(link, ec);
  fs::create_symlink(device, link);
}

inline void UnlinkCom(int number, const std::string& prefix = WinePrefix()) {
  std::error_code ec;
  fs::remove(fs::path(prefix) / "dosdevices" / ("com" + std::to_string(number)), ec);
}

// A display for the window's tests: the one this test has, or an Xvfb of its own.
class Display {
 public:
  Display() {
    if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display) {
      name_ = display;
      return;
    }
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    // The first display number that no other server holds.
    for (int number = 90; number < 130 && name_.empty(); ++number) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
      if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
      xvfb_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", ":" + std::to_string(number),
                                             "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                    std::vector<std::string>{}, dir_.File("xvfb.out"), dir_.File("xvfb.err"));
      for (int i = 0; i < 200 && xvfb_->Running() && !fs::exists(socket); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      if (xvfb_->Running() && fs::exists(socket)) {
        name_ = ":" + std::to_string(number);
        started_ = number;
      }
    }
  }
  // The Xvfb is killed, so it leaves its socket and lock behind: they would keep its number
  // from every later run.
  ~Display() {
    if (started_ < 0) return;
    xvfb_.reset();
    std::error_code ec;
    fs::remove("/tmp/.X11-unix/X" + std::to_string(started_), ec);
    fs::remove("/tmp/.X" + std::to_string(started_) + "-lock", ec);
  }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;
  // "DISPLAY=..." for the window's run; empty when there is no display to be had.
  std::string Env() const { return name_.empty() ? "" : "DISPLAY=" + name_; }

 private:
  TempFolder dir_{"kv-xvfb"};
  std::optional<Child> xvfb_;
  std::string name_;
  int started_ = -1;  // the number of the Xvfb started here
};

// A desktop of Wine's own in `prefix`: without a window manager a maximised window would keep
// its first size on the X screen.
inline WineRun UseWineDesktop(const Display& display, const TempFolder& dir,
                              const std::string& prefix = WinePrefix()) {
  WineRun r;
  for (const auto& [key, value, data] :
       {std::tuple{"HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"},
        {"HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "1280x800"}}) {
    r = RunUnderWine({"reg", "add", key, "/v", value, "/d", data, "/f"}, {display.Env()}, dir, 60,
                     "reg", prefix);
    if (r.status != 0) break;
  }
  return r;
}

}  // namespace e2e
