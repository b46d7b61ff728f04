// The C161's bootstrap loader and the two small loaders behind it, as the line sees them: the
// zero byte answered by the identification byte, 32 bytes of Loader 1 answered, 172 bytes of
// Loader 2 answered, then line frames (00 data, 04 upper address, 01 end) each answered with the
// check byte that makes the frame sum to zero. The data lands in the unit's RAM.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "options.h"
#include "sim_common.h"

namespace rqsim {

struct BootstrapStats {
  long zeroBytes = 0;
  long frames = 0;
  long lines = 0;      // distinct lines, a repeated frame counted once
  long badChecks = 0;  // frames answered with a wrong check byte
};

class Bootstrap {
 public:
  static constexpr size_t kLoader1Size = 32;
  static constexpr size_t kLoader2Size = 172;
  static constexpr uint32_t kTextBase = 0x080000;

  enum class State { WaitZero, Loader1, Loader2, Frames, Started };

  Bootstrap(BootstrapFaults faults, UnitIo& io, long byteTimeoutMs, uint32_t seed);

  void onBytes(std::string_view bytes, long now);
  void onTime(long now);
  std::optional<long> nextDeadline() const;

  State state() const { return state_; }
  const BootstrapStats& stats() const { return stats_; }
  // The loaded bytes that run on without a gap from an address.
  std::string loadedFrom(uint32_t address) const;

 private:
  void onFrame(std::string frame);

  BootstrapFaults faults_;
  UnitIo& io_;
  long byteTimeoutMs_;
  std::mt19937 random_;

  State state_ = State::WaitZero;
  std::string buffer_;
  long lastByteAt_ = 0;
  uint32_t upper_ = 0;
  std::string lastFrame_;
  bool lastAnswerRight_ = true;
  std::map<uint32_t, uint8_t> ram_;
  BootstrapStats stats_;
};

}  // namespace rqsim
