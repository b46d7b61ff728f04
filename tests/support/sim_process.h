// rq410-sim started from tests: the one launcher that starts it, waits until it serves,
// reads the lines it prints and stops it (tests/sim, tests/e2e, tests/app and the upload
// benchmark), and the end-to-end helpers over it: the simulator on a linked pseudo-terminal
// with a flash dump and a transcript, deterministic firmware images written as Intel HEX,
// binary images and upload files by code of their own (not the converter under test).
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/scratch_folder.h"
#include "support/upload_records.h"

namespace kvtest {

// The simulator this test program was built with.
inline std::string SimProgram() {
#if defined(KV_SIM_PATH)
  return KV_SIM_PATH;
#elif defined(KV_BINARY_DIR)
  return KV_BINARY_DIR "/sim/rq410-sim";
#else
  return "rq410-sim";
#endif
}

// A running rq410-sim. It serves once it has printed one line per unit with the unit's
// pseudo-terminal (or device); the constructor returns then. Killed on destruction unless it
// has ended.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args, std::size_t units = 1,
                      const std::string& program = SimProgram())
      : child_(Argv(program, args)) {
    const auto until = Child::Clock::now() + std::chrono::seconds(10);
    for (;;) {
      const std::string out = child_.Out();
      std::size_t at = 0;
      paths_.clear();
      for (auto end = out.find('\n'); paths_.size() < units && end != std::string::npos;
           at = end + 1, end = out.find('\n', at))
        paths_.push_back(out.substr(at, end - at));
      if (paths_.size() == units) break;
      if (!child_.Running() || Child::Clock::now() >= until)
        throw std::runtime_error("rq410-sim did not start: " + out + child_.Err());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // The first unit's line, and every unit's.
  const std::string& Path() const { return paths_.front(); }
  const std::vector<std::string>& Paths() const { return paths_; }
  pid_t Pid() const { return child_.Pid(); }
  bool Running() { return child_.Running(); }
  void Signal(int sig) { child_.Signal(sig); }
  // Exit status; -1 when it was still running after `timeoutMs` (it is then killed).
  int Wait(int timeoutMs = 5000) { return child_.Wait(timeoutMs); }
  // Ends it as a user would (the dumps are written then); returns its exit status.
  int Stop(int timeoutMs = 5000) {
    Signal(SIGTERM);
    return Wait(timeoutMs);
  }
  // Everything it printed so far, the paths first; and its complaints.
  std::string Output() const { return child_.Out(); }
  std::string Errors() const { return child_.Err(); }
  // The "summary key=value ..." line it prints as it stops; with unit K, the line
  // "summary unit=K ..." of that unit. Empty before then.
  std::map<std::string, std::string> Summary(int unit = 0) const {
    std::map<std::string, std::string> fields;
    const std::string out = Output();
    const std::string head = "summary ";
    const auto at = out.find(unit > 0 ? head + "unit=" + std::to_string(unit) + " " : head);
    if (at == std::string::npos) return fields;
    std::istringstream in(out.substr(at + head.size(), out.find('\n', at) - at - head.size()));
    for (std::string item; in >> item;) {
      const auto eq = item.find('=');
      if (eq != std::string::npos) fields[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return fields;
  }

 private:
  static std::vector<std::string> Argv(const std::string& program,
                                       const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  Child child_;
  std::vector<std::string> paths_;
};

// rq410-sim run to its end (help, refused options): exit status and what it printed.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
inline RunResult RunSim(const std::vector<std::string>& args, int timeoutMs = 5000) {
  std::vector<std::string> argv = {SimProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  Child sim(argv);
  RunResult r;
  r.status = sim.Wait(timeoutMs);
  r.out = sim.Out();
  r.err = sim.Err();
  return r;
}

}  // namespace kvtest

namespace e2e {

namespace fs = std::filesystem;
using kvtest::Bytes;
using kvtest::ReadBytes;
using kvtest::ReadText;
using kvtest::WriteBytes;
using kvtest::WriteText;
using TempFolder = kvtest::ScratchFolder;
using Child = kvtest::Child;

inline constexpr std::size_t kFlashSize = 4u * 1024 * 1024;
inline constexpr std::size_t kPage = 128;

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
        sim_(Args(link_, dump_, transcript_, extra), 1, simPath) {}
  // Ends the simulator cleanly; returns its exit status.
  int Stop() { return sim_.Stop(); }
  // SIGKILL pulls the unit off the line at once, as an adapter pulled out does: its end of the
  // pseudo-terminal goes, and nothing (no dump, no summary) is written.
  void Signal(int sig) { sim_.Signal(sig); }
  const std::string& Link() const { return link_; }
  Bytes Flash() const { return ReadBytes(dump_); }
  // What it printed: its pseudo-terminal, then its reports and summary.
  std::string Log() const { return sim_.Output(); }
  std::string TranscriptPath() const { return transcript_; }
  // The "summary key=value ..." line printed at the end.
  std::map<std::string, std::string> Summary() const { return sim_.Summary(); }
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
  static std::vector<std::string> Args(const std::string& link, const std::string& dump,
                                       const std::string& transcript,
                                       const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--link",       link,      "--erase-ms", "200",
                                     "--reboot-ms",  "300",     "--dump",     dump,
                                     "--transcript", transcript};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::string link_, dump_, transcript_;
  kvtest::SimProcess sim_;
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

// An upload file of the used pages and `trailer` ("" for none); without one, the true sums.
inline Bytes UploadFile(const Bytes& image, const std::string& trailer) {
  return kvtest::UploadFileBytes(image, &trailer);
}
inline Bytes UploadFile(const Bytes& image) {
  return kvtest::UploadFileBytes(image);
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

// True when a line of `text` names a control of the window ("Label12: ", "FUpHist: "), as the
// command line's output must not.
inline bool NamesAControl(const std::string& text) {
  static const std::regex control(
      "(^|\\n|\\] )(Label[0-9]+|FUpHist|Btn[A-Za-z0-9]+|Gauge|CommPortBox|BaudRateBox): ");
  return std::regex_search(text, control);
}

}  // namespace e2e
