#include "sequencer/capture_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "components/file_errors.h"

namespace {

void ReplaceFirst(std::string& s, const std::string& from, const std::string& to, int times) {
  for (int i = 0; i < times; ++i) {
    const auto p = s.find(from);
    if (p == std::string::npos) return;
    s.replace(p, from.size(), to);
  }
}

}  // namespace

CaptureFile::~CaptureFile() {
  if (file_) std::fclose(file_);
}

void CaptureFile::Open(const std::string& path) {
  Close();
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) throw EInOutError::FromErrno(errno);
  // Each line goes out in a write of its own, so that none of it waits in a buffer when the
  // disk has no room for it.
  std::setvbuf(f, nullptr, _IONBF, 0);
  file_ = f;
  path_ = std::filesystem::absolute(path).string();
  WriteRaw("[start]");
}

void CaptureFile::Close() {
  if (!file_) return;
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) throw EInOutError::FromErrno(errno);
}

std::string CaptureFile::Printable(const std::string& tag, const std::string& text) {
  std::string body = tag + text;
  ReplaceFirst(body, "\n", "[lf]", 4);
  ReplaceFirst(body, "\r", "[cr]", 6);
  if (body.find("FAC=E ") != std::string::npos) body = " Factory mode enabled";
  if (body.find("FAC=D ") != std::string::npos) body = " Factory mode disabled";
  if (body.find("FAC=") != std::string::npos) body = " Factory mode message accepted";
  return body;
}

void CaptureFile::Log(const std::string& text, const std::string& tag) {
  if (!file_) return;
  const std::string body = Printable(tag, text);
  if (body.empty() || body == lastLine_) return;
  WriteLine(body);
}

void CaptureFile::WriteLine(const std::string& body) {
  WriteRaw(LongTimeText(clock_.TimeOfDay()) + body);
  lastLine_ = body;
}

void CaptureFile::WriteRaw(std::string line) {
#ifdef _WIN32
  line += "\r\n";
#else
  line += "\n";
#endif
  std::error_code sized;
  const auto before = std::filesystem::file_size(path_, sized);
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    const int err = errno;
    std::fclose(file_);
    file_ = nullptr;
    // A disk that fills up in the middle of a line leaves part of it, which would read as a
    // whole line of the log: it is taken back, and the file ends with the last line written.
    std::error_code ignored;
    if (!sized) std::filesystem::resize_file(path_, before, ignored);
    throw EInOutError::FromErrno(err);
  }
}
