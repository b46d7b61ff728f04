#include "components/install_paths.h"

#include <filesystem>
#include <system_error>

#include "components/port_map.h"
#include "kv_build_info.h"

namespace fs = std::filesystem;

std::string InstalledDataDir(const std::string& exeDir) {
  if (exeDir.empty()) return {};
  const fs::path dir = (fs::path(exeDir) / KV_DATA_DIR_FROM_BIN).lexically_normal();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return {};
  std::string text = dir.string();
  if (text.back() != '/' && text.back() != '\\')
    text += static_cast<char>(fs::path::preferred_separator);
  return text;
}

std::string InstalledDataDir() {
  return InstalledDataDir(ExecutableDir());
}
