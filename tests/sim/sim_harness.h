// Drives the built rq410-sim from tests (started by the shared launcher): opens the
// pseudo-terminal it prints like any client would (raw, at a chosen speed), and reads its
// transcript and dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace simtest {

using kvtest::RunResult;
using kvtest::RunSim;
using kvtest::ScratchFolder;
using kvtest::SimProcess;

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
