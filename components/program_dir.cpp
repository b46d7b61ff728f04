#include "components/program_dir.h"

#include <cstdlib>
#include <filesystem>

#include "components/install_paths.h"
#include "components/port_map.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string WithSeparator(std::string dir) {
  if (dir.empty()) return dir;
  const char last = dir.back();
  if (last != '/' && last != '\\') dir += static_cast<char>(fs::path::preferred_separator);
  return dir;
}

// Whether files may be made in `dir`. Windows' access check reads only the read-only flag, not
// the folder's permissions (Program Files has no such flag and is still not the user's to
// write), so there a file is made and at once removed.
bool MayWriteIn(const std::string& dir) {
#ifdef _WIN32
  const std::string probe =
      (fs::path(dir) / ("kvuflash-" + std::to_string(GetCurrentProcessId()) + ".probe")).string();
  const HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
#else
  return ::access(dir.c_str(), W_OK) == 0;
#endif
}

}  // namespace

std::string DefaultProgramDir() {
  const std::string exeDir = ExecutableDir();
  // An installed program's folder holds programs only, even for a user who may write to it
  // (root, or a prefix in the user's home): its files go to the per-user folder as well.
  if (!exeDir.empty() && InstalledDataDir(exeDir).empty() && MayWriteIn(exeDir)) {
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
