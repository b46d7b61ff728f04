// Running the Windows build's programs under Wine from a test: the prefix, the Windows
// spelling of paths, and COM ports linked to this machine's devices.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
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

// tools/wine-run.sh with `args` in `prefix`, stdout and stderr together.
inline WineRun RunUnderWine(const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const TempFolder& dir,
                            int timeoutS, const std::string& tag,
                            const std::string& prefix = WinePrefix()) {
  std::vector<std::string> argv = {std::string(KV_SOURCE_DIR) + "/tools/wine-run.sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> fullEnv = env;
  fullEnv.push_back("WINEPREFIX=" + prefix);
  const std::string out = dir.File(tag + ".out");
  Child child(argv, fullEnv, out, out + ".err");
  WineRun r;
  r.status = child.Wait(timeoutS * 1000);
  r.output = ReadText(out) + ReadText(out + ".err");
  return r;
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

}  // namespace e2e
