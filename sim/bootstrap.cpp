#include "bootstrap.h"

#include <cstdio>
#include <utility>

namespace rqsim {

namespace {
constexpr uint8_t kTypeData = 0x00;
constexpr uint8_t kTypeEnd = 0x01;
constexpr uint8_t kTypeUpper = 0x04;
}  // namespace

Bootstrap::Bootstrap(BootstrapFaults faults, UnitIo& io, long byteTimeoutMs, uint32_t seed)
    : faults_(std::move(faults)), io_(io), byteTimeoutMs_(byteTimeoutMs), random_(seed) {}

void Bootstrap::onBytes(std::string_view bytes, long now) {
  for (char c : bytes) {
    switch (state_) {
      case State::WaitZero:
        // The chip measures its speed from a zero byte and ignores anything else.
        if (c != 0) break;
        ++stats_.zeroBytes;
        if (faults_.idByte) {
          io_.note("bootstrap: zero byte, identification sent");
          io_.send(std::string(1, static_cast<char>(*faults_.idByte)));
        } else {
          io_.note("bootstrap: zero byte, no identification (fault)");
        }
        state_ = State::Loader1;
        buffer_.clear();
        break;
      case State::Loader1:
        // Whatever follows the identification is Loader 1, an extra zero byte included.
        buffer_.push_back(c);
        if (buffer_.size() == kLoader1Size) {
          io_.note("bootstrap: Loader 1 received: " + hexBytes(buffer_));
          if (!faults_.loader1Reply.empty()) io_.send(faults_.loader1Reply);
          state_ = State::Loader2;
          buffer_.clear();
        }
        break;
      case State::Loader2:
        buffer_.push_back(c);
        if (buffer_.size() == kLoader2Size) {
          io_.note("bootstrap: Loader 2 received (172 bytes)");
          if (!faults_.loader2Reply.empty()) io_.send(faults_.loader2Reply);
          state_ = State::Frames;
          buffer_.clear();
        }
        break;
      case State::Frames: {
        buffer_.push_back(c);
        uint8_t type = static_cast<uint8_t>(buffer_[0]);
        size_t need = 0;
        if (type == kTypeData) {
          need = buffer_.size() >= 2 ? 4 + static_cast<uint8_t>(buffer_[1]) : 2;
        } else if (type == kTypeUpper) {
          need = 2;
        } else if (type == kTypeEnd) {
          need = 1;
        } else {
          io_.note("bootstrap: unknown frame type " + hexBytes(buffer_.substr(0, 1)) + " dropped");
          buffer_.clear();
          break;
        }
        if (buffer_.size() == need) {
          onFrame(std::exchange(buffer_, {}));
        }
        break;
      }
      case State::Started:
        break;
    }
  }
  lastByteAt_ = now;
}

void Bootstrap::onFrame(std::string frame) {
  ++stats_.frames;
  if (frame != lastFrame_ || lastAnswerRight_) ++stats_.lines;
  lastFrame_ = frame;
  const long line = stats_.lines;
  const uint8_t type = static_cast<uint8_t>(frame[0]);
  if (type == kTypeEnd) {
    // Loader 2 starts the program on the end frame and answers it with nothing, so there is no
    // check byte to make wrong; a fault asked for this line is said to be impossible rather
    // than left out without a word.
    if (faults_.badCheckLines.take(line)) {
      const std::string text = "--bad-check-lines names line " + std::to_string(line) +
                               ", the end frame, which gets no check byte: not applied";
      io_.note("bootstrap: " + text);
      std::fprintf(stderr, "rq410-sim: %s\n", text.c_str());
    }
    io_.note("bootstrap: end frame, line " + std::to_string(line) + "; the loaded program starts");
    state_ = State::Started;
    return;
  }

  if (faults_.corruptLineRate > 0 &&
      std::uniform_real_distribution<double>(0.0, 1.0)(random_) < faults_.corruptLineRate) {
    size_t first = type == kTypeData && frame.size() > 4 ? 4 : 1;
    size_t at = first + std::uniform_int_distribution<size_t>(0, frame.size() - 1 - first)(random_);
    frame[at] =
        static_cast<char>(frame[at] ^ (1 << std::uniform_int_distribution<int>(0, 7)(random_)));
    io_.note("bootstrap: line " + std::to_string(line) + " damaged on the line (fault)");
  }

  uint8_t sum = 0;
  for (char c : frame) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  uint8_t check = static_cast<uint8_t>(0x100 - sum);

  if (type == kTypeUpper) {
    upper_ = static_cast<uint8_t>(frame[1]);
  } else {
    uint32_t address =
        (upper_ << 16) | (static_cast<uint8_t>(frame[2]) << 8) | static_cast<uint8_t>(frame[3]);
    for (size_t i = 4; i < frame.size(); ++i)
      ram_[(address + static_cast<uint32_t>(i - 4)) & 0xFFFFFF] = static_cast<uint8_t>(frame[i]);
  }

  if (faults_.badCheckLines.take(line)) {
    check = static_cast<uint8_t>(check + 0x55);
    io_.note("bootstrap: wrong check byte for line " + std::to_string(line) + " (fault)");
  }
  // The right answer is the one for the frame as sent; a damaged frame gives a wrong one.
  uint8_t sentSum = 0;
  for (char c : lastFrame_) sentSum = static_cast<uint8_t>(sentSum + static_cast<uint8_t>(c));
  lastAnswerRight_ = static_cast<uint8_t>(sentSum + check) == 0;
  if (!lastAnswerRight_) ++stats_.badChecks;
  io_.send(std::string(1, static_cast<char>(check)));
}

void Bootstrap::onTime(long now) {
  if (state_ == State::Frames && !buffer_.empty() && now - lastByteAt_ >= byteTimeoutMs_) {
    io_.note("bootstrap: incomplete frame of " + std::to_string(buffer_.size()) + " bytes dropped");
    buffer_.clear();
  }
}

std::optional<long> Bootstrap::nextDeadline() const {
  if (state_ == State::Frames && !buffer_.empty()) return lastByteAt_ + byteTimeoutMs_;
  return std::nullopt;
}

std::string Bootstrap::loadedFrom(uint32_t address) const {
  std::string out;
  for (auto it = ram_.find(address); it != ram_.end() && it->first == address; ++it, ++address) {
    out.push_back(static_cast<char>(it->second));
  }
  return out;
}

}  // namespace rqsim
