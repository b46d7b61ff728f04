// Drives the built rq410-sim from tests: starts it, opens the pseudo-terminal it prints like
// any client would (raw, at a chosen speed), and reads its transcript, dump and summary.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class SimProcess {
 public:
  // units: how many paths it prints first (with --count).
  explicit SimProcess(const std::vector<std::string>& args, size_t units = 1);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& ptyPath() const { return paths_.front(); }
  const std::vector<std::string>& ptyPaths() const { return paths_; }
  pid_t pid() const { return pid_; }
  void signal(int sig);
  // Waits for the end; returns the exit status, or -1 when it did not end in time.
  int wait(int timeoutMs = 5000);
  // Everything printed after the first line, once it has ended.
  const std::string& output() const { return output_; }
  // The "summary key=value ..." line as a map; with unit K, the line "summary unit=K ...".
  std::map<std::string, std::string> summary(int unit = 0) const;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::vector<std::string> paths_;
  std::string output_;
  int status_ = -1;
};

// Runs rq410-sim to its end with these arguments; returns exit status, stdout and stderr.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult runSim(const std::vector<std::string>& args, int timeoutMs = 5000);

class Client {
 public:
  Client(const std::string& path, int baud);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void setBaud(int baud);
  void send(const std::string& bytes);
  // Everything that arrives within the time.
  std::string readFor(int ms);
  // Reads until the text has arrived (returns all read) or the time is up.
  std::string readUntil(const std::string& text, int timeoutMs = 3000);
  // Reads exactly n bytes or until the time is up.
  std::string readBytes(size_t n, int timeoutMs = 3000);

 private:
  int fd_ = -1;
};

struct TranscriptLine {
  long ms = 0;
  std::string dir;   // "in", "out", "ev"
  std::string data;  // bytes for in/out, text for ev
};
std::vector<TranscriptLine> readTranscript(const std::string& path);
std::string allBytes(const std::vector<TranscriptLine>& lines, const std::string& dir);

// One 135-byte record: address text, 128 data bytes, checksum.
std::string record(uint32_t address, const std::string& data128);
std::string pattern(size_t n, uint8_t seed);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Sums over the remote control's regions, computed here from an image.
struct Sums {
  unsigned boot, main, fpga;
};
Sums sumsOf(const std::string& image);
std::string hex4(unsigned v);

// The resident flash loader up to the first SEND BLOCK; returns what it answered.
std::string handshakeAndErase(Client& c);

}  // namespace simtest
