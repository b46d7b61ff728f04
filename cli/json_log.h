// The log a production line keeps: one JSON object per unit and run, appended as each unit
// ends, so that a run cut short keeps the units that had finished.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

class JsonLog {
 public:
  // Opens `path` for appending without waiting on it: a name that is not an ordinary file (a
  // FIFO nothing reads, a device, a folder) raises std::runtime_error naming it, as a name
  // that cannot be written does. An empty path keeps no log.
  void Open(const std::string& path);
  // False when the line could not be written.
  bool Append(const std::string& line);
  const std::string& Path() const { return path_; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::mutex mutex_;
};

// Refuses, with std::invalid_argument in the user's words, a name for the log of `option`
// (--capture, --json) that would write into firmware or wait for ever: an existing thing that
// is not an ordinary file, or `input` itself or a firmware file of its name beside it (fw.hex,
// fw.BIN, fw.KVU). `input` may be empty (no firmware named).
void RefuseUnfitLogName(const std::string& option, const std::string& path,
                        const std::string& input);
