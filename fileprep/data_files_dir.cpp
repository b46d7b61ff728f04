#include "fileprep/data_files_dir.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include "components/byte_file.h"
#include "components/file_errors.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kWindowsDefaultFolder = "C:\\";

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(fs::path(path), ec);
}

#ifndef _WIN32
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return "/";
}

std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // The base-directory rules ignore a relative XDG_CONFIG_HOME.
  if (config != nullptr && config[0] == '/') return config;
  return HomeFolder() + "/.config";
}
#endif

// The first line of an existing file, without its line end.
std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInOutError::FromErrno(errno);
  std::string line;
  std::getline(in, line);
  if (in.bad()) throw EInOutError::FromErrno(errno != 0 ? errno : EIO);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::string WindowsFolderFromLine(const std::string& line,
                                  const std::function<bool(const std::string&)>& folderExists) {
  if (line.empty() || std::toupper(static_cast<unsigned char>(line[0])) != 'C') {
    return kWindowsDefaultFolder;
  }
  if (UpperAscii(line) == kWindowsDefaultFolder) return kWindowsDefaultFolder;
  return folderExists(line) ? line : kWindowsDefaultFolder;
}

std::string WindowsLineForFolder(const std::string& folder) {
  std::string text = UpperAscii(folder);
  if (text.empty() || text[0] != 'C') text = kWindowsDefaultFolder;
  return text;
}

std::string NewerSetFile(const std::string& spec, const std::string& user) {
  std::error_code ec;
  if (user.empty() || !fs::exists(fs::path(user), ec)) return spec;
  if (!fs::exists(fs::path(spec), ec)) return user;
  const auto specTime = fs::last_write_time(fs::path(spec), ec);
  if (ec) return user;
  const auto userTime = fs::last_write_time(fs::path(user), ec);
  return !ec && userTime >= specTime ? user : spec;
}

void WriteSetFile(const std::string& spec, const std::string& user, const std::string& text) {
  const auto write = [&text](const std::string& file) {
    // Written whole under a temporary name and then put in place: a full disk never leaves a
    // cut-off folder name behind.
    ByteFile out;
    out.Open(file, ByteFile::Mode::CreateTemp);
    out.Write(text.data(), text.size());
    out.Commit();
  };
  try {
    write(spec);
  } catch (const EInOutError&) {
    if (user.empty()) throw;
    std::error_code ec;
    fs::create_directories(fs::path(user).parent_path(), ec);
    write(user);
  }
}

#ifdef _WIN32
namespace {
// A user without administrator rights may not write the root of drive C; the remembered folder
// then lives in the user's own folder.
std::string UserSetFile() {
  const char* base = std::getenv("LOCALAPPDATA");
  if (base == nullptr || *base == '\0') return {};
  return (fs::path(base) / "kvuflash" / "KVUflash.set").string();
}
constexpr const char* kSpecSetFile = "C:\\KVUflash.set";
}  // namespace
#endif

std::string DataFilesDirFile() {
#ifdef _WIN32
  return NewerSetFile(kSpecSetFile, UserSetFile());
#else
  return ConfigFolder() + "/kvuflash/KVUflash.set";
#endif
}

std::string DefaultDataFilesDir() {
#ifdef _WIN32
  return kWindowsDefaultFolder;
#else
  return HomeFolder();
#endif
}

std::string ReadDataFilesDir() {
  const std::string file = DataFilesDirFile();
  std::error_code ec;
  if (!fs::exists(fs::path(file), ec)) return DefaultDataFilesDir();
  const std::string line = ReadFirstLine(file);
#ifdef _WIN32
  return WindowsFolderFromLine(line, FolderExists);
#else
  // Only an absolute path to a folder that still exists is worth opening.
  if (line.empty() || line[0] != '/' || !FolderExists(line)) return DefaultDataFilesDir();
  return line;
#endif
}

void SaveDataFilesDir(const std::string& currentFolder) {
#ifdef _WIN32
  WriteSetFile(kSpecSetFile, UserSetFile(), WindowsLineForFolder(currentFolder) + "\r\n");
#else
  const std::string file = DataFilesDirFile();
  std::error_code ec;
  fs::create_directories(fs::path(file).parent_path(), ec);
  if (ec) throw EInOutError::FromErrno(ec.value());
  WriteSetFile(file, {}, currentFolder + "\n");
#endif
}
