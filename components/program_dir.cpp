#include "components/program_dir.h"

#include <cstdlib>
#include <filesystem>

#include "components/install_paths.h"
#include "components/port_map.h"

#ifdef _WIN32
#include <io.h>
#define KV_ACCESS _access
#define KV_W_OK 2
#else
#include <unistd.h>
#define KV_ACCESS access
#define KV_W_OK W_OK
#endif

namespace fs = std::filesystem;

namespace {

std::string WithSeparator(std::string dir) {
  if (dir.empty()) return dir;
  const char last = dir.back();
  if (last != '/' && last != '\\') dir += static_cast<char>(fs::path::preferred_separator);
  return dir;
}

}  // namespace

std::string DefaultProgramDir() {
  const std::string exeDir = ExecutableDir();
  // An installed program's folder holds programs only, even for a user who may write to it
  // (root, or a prefix in the user's home): its files go to the per-user folder as well.
  if (!exeDir.empty() && InstalledDataDir(exeDir).empty() &&
      KV_ACCESS(exeDir.c_str(), KV_W_OK) == 0) {
    return WithSeparator(exeDir);
  }
#ifdef _WIN32
  const char* base = std::getenv("LOCALAPPDATA");
  fs::path dir = base && *base ? fs::path(base) / "kvuflash" : fs::path(exeDir);
#else
  // A folder that is not ours to write: the files go to the user's data folder.
  fs::path dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    dir = fs::path(xdg) / "kvuflash";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = fs::path(home) / ".local" / "share" / "kvuflash";
  } else {
    dir = fs::current_path();
  }
#endif
  std::error_code ec;
  fs::create_directories(dir, ec);
  return WithSeparator(dir.string());
}
