// The capture file: a diagnostic log of every step, every text sent and received, every image
// line used. Switched on and off by the user; lines are time-stamped and made printable.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "components/clock.h"

class CaptureFile {
 public:
  explicit CaptureFile(IClock& clock) : clock_(clock) {}
  ~CaptureFile();

  // Opens (appending) or creates `path` and writes the bare line "[start]"; throws EInOutError when
  // the file cannot be opened, leaving capture off.
  void Open(const std::string& path);
  // Closes the file; capture is off afterwards. Safe when nothing is open.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Writes one line unless it is empty or repeats the last one; nothing when closed.
  // A write error closes the file, leaving it as it was before the line, and throws
  // EInOutError.
  void Log(const std::string& text, const std::string& tag);

  // The body that Log writes for tag + text: printable line ends, factory messages masked.
  static std::string Printable(const std::string& tag, const std::string& text);

  const std::string& LastCaptureLine() const { return lastLine_; }

 private:
  void WriteLine(const std::string& body);  // time of day + body
  void WriteRaw(std::string line);
  IClock& clock_;
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string lastLine_;
};
