#include "cli/json_log.h"

#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "fileprep/file_names.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec1;
  std::error_code ec2;
  const fs::path ca = fs::weakly_canonical(a.parent_path().empty() ? "." : a.parent_path(), ec1);
  const fs::path cb = fs::weakly_canonical(b.parent_path().empty() ? "." : b.parent_path(), ec2);
  return !ec1 && !ec2 && ca == cb;
}

bool IsFirmwareKind(const std::string& extension) {
  for (const char* kind : {"HEX", "H86", "MCS", "BIN", "KVU"}) {
    if (extension == kind) return true;
  }
  return false;
}

}  // namespace

void RefuseUnfitLogName(const std::string& option, const std::string& path,
                        const std::string& input) {
  std::error_code ec;
  if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
    try {
      RequireOrdinaryFile(path);
    } catch (const std::exception& e) {
      throw std::invalid_argument(option + " names " + e.what() +
                                  ": give it the name of an ordinary file.");
    }
  }
  if (input.empty()) return;
  const fs::path log(path);
  const fs::path firmware(input);
  const InputNameParts logName = SplitInputName(log.filename().string());
  const InputNameParts inputName = SplitInputName(firmware.filename().string());
  const bool same = log.filename() == firmware.filename() ||
                    (IsFirmwareKind(logName.Extension) && !inputName.BaseName.empty() &&
                     Upper(logName.BaseName) == Upper(inputName.BaseName));
  if (same && SameFolder(log, firmware)) {
    throw std::invalid_argument(option + " names " + path +
                                ", which is the firmware or a file made from it: the log would "
                                "be written into the firmware. Give the log another name.");
  }
}

void JsonLog::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) return;
#ifdef _WIN32
  file_.reset(std::fopen(path.c_str(), "ab"));
  if (!file_) throw std::runtime_error("The log " + path + " cannot be written.");
#else
  // Without O_NONBLOCK a FIFO that nothing reads holds open() for ever.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) {
    throw std::runtime_error("The log " + path + " cannot be written (" + std::strerror(errno) +
                             ").");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw std::runtime_error("The log " + path + " is not an ordinary file: give --json a file.");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file_.reset(::fdopen(fd, "a"));
  if (!file_) {
    ::close(fd);
    throw std::runtime_error("The log " + path + " cannot be written.");
  }
#endif
}

bool JsonLog::Append(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!file_) return true;
  const bool written = std::fputs((line + '\n').c_str(), file_.get()) >= 0;
  return std::fflush(file_.get()) == 0 && written;
}
