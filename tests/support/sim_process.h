// End-to-end helpers, header-only so that the e2e tests, the Qt tests and the upload benchmark
// share them: a temporary folder, rq410-sim started on a linked pseudo-terminal and always
// stopped, another program run with a time limit and killed when it overruns, deterministic
// firmware images written as Intel HEX, binary images and upload files by code of their own
// (not the converter under test), and the simulator's transcript.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kFlashSize = 4u * 1024 * 1024;
inline constexpr std::size_t kPage = 128;

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "kv-e2e") {
    std::string name = (fs::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline Bytes ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A started child process; killed (and reaped) on destruction unless it has been waited for.
class Child {
 public:
  // `env` entries ("NAME=value") are added to this process's environment for the child.
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const auto& mine : env) {
        if (entry.substr(0, entry.find('=') + 1) == mine.substr(0, mine.find('=') + 1))
          replaced = true;
      }
      if (!replaced) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> cenv;
    for (auto& e : envs) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int rc = posix_spawn(&pid_, cargs[0], &actions, nullptr, cargs.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running() {
    if (status_ != kRunning) return false;
    Reap(WNOHANG);
    return status_ == kRunning;
  }
  // Exit status, 128 + signal for a killed child, or -1 when it was still running after
  // `timeoutMs` (it is then killed).
  int Wait(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
      if (std::chrono::steady_clock::now() >= until) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }
  void Signal(int sig) {
    if (Running()) ::kill(pid_, sig);
  }
  void Kill() {
    if (status_ != kRunning || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(0);
    status_ = killed_;
  }
  pid_t Pid() const { return pid_; }

 private:
  static constexpr int kRunning = -2;
  static constexpr int killed_ = -1;
  void Reap(int flags) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, flags);
    if (r == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid_ = -1;
  int status_ = kRunning;
};

// rq410-sim on a pseudo-terminal linked at `Link()`, with fast erase and reboot, a flash dump
// and a transcript. Stop() ends it with SIGTERM (the dump is written then); the destructor
// kills it if still running.
class Sim {
 public:
  Sim(const std::string& simPath, const TempFolder& dir, const std::string& name,
      const std::vector<std::string>& extra = {})
      : link_(dir.File(name + ".tty")),
        dump_(dir.File(name + ".flash")),
        transcript_(dir.File(name + ".transcript")),
        log_(dir.File(name + ".log")) {
    std::vector<std::string> argv = {simPath, "--link",       link_,      "--erase-ms",
                                     "200",   "--reboot-ms",  "300",      "--dump",
                                     dump_,   "--transcript", transcript_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    child_ = std::make_unique<Child>(argv, std::vector<std::string>{}, log_, log_ + ".err");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fs::exists(link_)) {
      if (!child_->Running() || std::chrono::steady_clock::now() >= until) {
        throw std::runtime_error("rq410-sim did not start: " + ReadText(log_ + ".err"));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Ends the simulator cleanly; returns its exit status.
  int Stop() {
    child_->Signal(SIGTERM);
    return child_->Wait(5000);
  }
  const std::string& Link() const { return link_; }
  Bytes Flash() const { return ReadBytes(dump_); }
  std::string Log() const { return ReadText(log_); }
  std::string TranscriptPath() const { return transcript_; }
  // The "summary key=value ..." line printed at the end.
  std::map<std::string, std::string> Summary() const {
    std::map<std::string, std::string> out;
    const std::string log = Log();
    const auto at = log.find("summary ");
    if (at == std::string::npos) return out;
    std::istringstream in(log.substr(at + 8, log.find('\n', at) - at - 8));
    for (std::string item; in >> item;) {
      const auto eq = item.find('=');
      if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return out;
  }
  // Every byte that arrived from the uploader ("in") or went to it ("out"), in order.
  std::string Traffic(const std::string& dir) const {
    std::ifstream in(transcript_);
    std::string out;
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      long ms = 0;
      std::string d;
      fields >> ms >> d;
      if (d != dir) continue;
      for (std::string pair; fields >> pair;) {
        out.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
      }
    }
    return out;
  }

 private:
  std::string link_, dump_, transcript_, log_;
  std::unique_ptr<Child> child_;
};

// A deterministic pseudo-random sequence (no library generator: the same bytes everywhere).
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint8_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state_ >> 24);
  }

 private:
  std::uint32_t state_;
};

// A 4 MB flash image (0xFF = erased) with pseudo-random data in the given pages. A page listed
// with `partial` holds data only in its first 40 bytes; the rest stays erased.
inline Bytes MakeImage(const std::vector<std::size_t>& pages, std::uint32_t seed,
                       const std::vector<std::size_t>& partial = {}) {
  Bytes image(kFlashSize, 0xFF);
  Lcg lcg(seed);
  for (std::size_t page : pages) {
    bool isPartial = false;
    for (std::size_t p : partial) isPartial = isPartial || p == page;
    const std::size_t n = isPartial ? 40 : kPage;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t b = lcg.Next();
      if (i == 0 && b == 0xFF) b = 0x5A;  // a page never reads as erased by chance
      image[page * kPage + i] = b;
    }
  }
  return image;
}

// Pages spread over the 4 MB so that extended addresses are needed: `count` pages starting
// at `first`, every `stride`-th page.
inline std::vector<std::size_t> SpreadPages(std::size_t count, std::size_t first,
                                            std::size_t stride) {
  std::vector<std::size_t> pages;
  for (std::size_t i = 0; i < count; ++i) pages.push_back(first + i * stride);
  return pages;
}

// The pages of `image` that hold anything but 0xFF, in address order.
inline std::vector<std::size_t> UsedPages(const Bytes& image) {
  std::vector<std::size_t> pages;
  for (std::size_t p = 0; p * kPage < image.size(); ++p) {
    for (std::size_t i = 0; i < kPage; ++i) {
      if (image[p * kPage + i] != 0xFF) {
        pages.push_back(p);
        break;
      }
    }
  }
  return pages;
}

// Intel HEX of the image's non-erased 16-byte lines, with extended linear address records.
inline std::string IntelHex(const Bytes& image) {
  std::string out;
  char line[80];
  auto putLine = [&](int count, unsigned address, int type, const std::uint8_t* data) {
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    std::snprintf(line, sizeof line, ":%02X%04X%02X", count, address & 0xFFFF, type);
    out += line;
    for (int i = 0; i < count; ++i) {
      std::snprintf(line, sizeof line, "%02X", data[i]);
      out += line;
      sum += data[i];
    }
    std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out += line;
  };
  unsigned upper = 0;
  for (std::size_t at = 0; at < image.size(); at += 16) {
    bool used = false;
    for (std::size_t i = 0; i < 16; ++i) used = used || image[at + i] != 0xFF;
    if (!used) continue;
    if ((at >> 16) != upper) {
      upper = static_cast<unsigned>(at >> 16);
      const std::uint8_t ela[2] = {static_cast<std::uint8_t>(upper >> 8),
                                   static_cast<std::uint8_t>(upper & 0xFF)};
      putLine(2, 0, 4, ela);
    }
    putLine(16, static_cast<unsigned>(at & 0xFFFF), 0, &image[at]);
  }
  putLine(0, 0, 1, nullptr);
  return out;
}

// An upload file: one 135-byte record per used page (six hex digits of the address, the 128
// bytes, the sum of the 134 bytes before it) and the 8-character trailer.
inline Bytes UploadFile(const Bytes& image, const std::string& trailer) {
  Bytes out;
  for (std::size_t page : UsedPages(image)) {
    char address[8];
    std::snprintf(address, sizeof address, "%06X", static_cast<unsigned>(page * kPage));
    Bytes record(address, address + 6);
    record.insert(record.end(), image.begin() + static_cast<std::ptrdiff_t>(page * kPage),
                  image.begin() + static_cast<std::ptrdiff_t>((page + 1) * kPage));
    unsigned sum = 0;
    for (std::uint8_t b : record) sum += b;
    record.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    out.insert(out.end(), record.begin(), record.end());
  }
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

// `image` with only its first `count` used pages kept (what a unit holds after a run that
// stopped there); the rest erased.
inline Bytes FirstPagesOf(const Bytes& image, std::size_t count) {
  Bytes out(image.size(), 0xFF);
  const auto pages = UsedPages(image);
  for (std::size_t i = 0; i < count && i < pages.size(); ++i) {
    const auto at = static_cast<std::ptrdiff_t>(pages[i] * kPage);
    std::copy(image.begin() + at, image.begin() + at + static_cast<std::ptrdiff_t>(kPage),
              out.begin() + at);
  }
  return out;
}

// The first page at which two images differ, for messages; -1 when equal.
inline long FirstDifferentPage(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return -2;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i / kPage);
  }
  return -1;
}

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
    ++n;
  return n;
}

}  // namespace e2e
