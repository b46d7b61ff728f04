// The one scratch folder of every test: made fresh, optionally the process's current folder
// while it lives, and removed with all it holds afterwards. Whole files are read and written
// here too, by code of the tests' own.
#pragma once

#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/line_end.h"

namespace kvtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
 public:
  // Enter: the folder is the current folder until it is removed (as the file chooser leaves
  // it for the intake); the earlier one comes back then.
  enum class Current { Keep, Enter };

  explicit ScratchFolder(const std::string& prefix = "kv-test", Current current = Current::Keep) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (current == Current::Enter) {
      previous_ = fs::current_path();
      fs::current_path(path_);
    }
  }
  ~ScratchFolder() {
    std::error_code ec, walk;
    if (!previous_.empty()) fs::current_path(previous_, ec);
    // Tests take write permission away to make writing fail; without it nothing inside could
    // be removed. Links are not followed: what they point at is not ours.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, walk);
         !walk && it != fs::recursive_directory_iterator(); it.increment(walk)) {
      if (it->symlink_status(ec).type() == fs::file_type::directory)
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& Path() const { return path_; }
  // A name inside the folder.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // The folder with its trailing separator, as ProgramDir is kept.
  std::string Dir() const { return path_.string() + "/"; }
  // The names of the entries in the folder (or in `sub` inside it), sorted.
  std::vector<std::string> Names(const fs::path& sub = {}) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_ / sub)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
  fs::path previous_;
};

// Whether a file being written under a temporary name (NAME.<random>.part) was left in `folder`.
inline bool HoldsTemporaryFile(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) return true;
  }
  return false;
}

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A text file's lines, split where this platform's line end stands: a line end of another
// platform stays inside its line, where a comparison sees it.
inline std::vector<std::string> Lines(const fs::path& path) {
  const std::string text = ReadText(path);
  const std::string end = kLineEnd;
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto next = text.find(end, at);
    lines.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) break;
    at = next + end.size();
  }
  return lines;
}

}  // namespace kvtest
