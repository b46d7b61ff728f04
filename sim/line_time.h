// The line's own time. A pseudo-terminal moves bytes at memory speed; a cable takes 10 bit times
// a byte (start bit, 8 data bits, stop bit) at the speed the other end set. Paced, a byte the
// other end wrote reaches the unit only when its line time has passed since the byte before it,
// and the unit's answers go out at the same rate instead of in one burst. Unpaced (a real
// device, whose UART keeps the time itself, or --no-line-time) bytes pass as they come. Either
// way writing never blocks: what the other end does not take waits, and is given up when it has
// taken nothing for a while, so a peer that stops reading cannot hold the unit up.
// The unit takes in what has crossed when the burst ends, and at least every kInputHold in a
// long one: it acts on whole messages, and a wake-up per millisecond of a record would cost
// the simulator more than the uploader it serves. Bytes that follow without a pause belong to
// the burst still crossing, as they do on the wire.
// A latency timer, where given, plays a USB adapter's: the unit's bytes reach the other end
// in batches, once every period, as the adapter passes on what it has received.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "line.h"

namespace rqsim {

class LineTime {
 public:
  using Clock = std::chrono::steady_clock;

  // How long the unit's answer may wait for a peer that takes none of it.
  static constexpr std::chrono::milliseconds kGiveUpAfter{500};

  // How long the unit may leave bytes that have crossed untaken.
  static constexpr std::chrono::milliseconds kInputHold{40};

  LineTime(Line& line, bool paced, std::chrono::milliseconds latencyTimer = {})
      : line_(line), paced_(paced), latency_(latencyTimer), epoch_(Clock::now()) {}

  bool paced() const { return paced_; }

  // Takes what the other end has written into got; false when the line has gone.
  bool read(std::string& got, Clock::time_point now);

  // Bytes of one burst (what the other end wrote in one go) whose line time has passed, with
  // whether they begin it (a pause came before them) and end it (a pause follows).
  struct Piece {
    std::string bytes;
    bool begins = false;
    bool ends = false;
  };
  Piece received(Clock::time_point now);

  // The unit's bytes, to go out after what it said before.
  void send(std::string_view bytes);

  // Writes what is due; returns the number of bytes given up because nobody took them.
  size_t writeDue(Clock::time_point now);

  // The next moment something falls due either way.
  std::optional<Clock::time_point> nextDue() const;
  // Bytes are due but the line takes no more for now: wait until it can.
  bool blocked() const { return blocked_; }
  // The unit's bytes not yet written to the line.
  size_t unsent() const;

 private:
  struct Burst {
    std::string bytes;
    size_t done = 0;             // delivered to the unit, or written to the line
    Clock::time_point first;     // the moment bytes[0] has crossed the line
    Clock::duration byteTime{};  // zero: unpaced

    Clock::time_point due(size_t i) const { return first + byteTime * static_cast<Clock::rep>(i); }
    Clock::time_point end() const { return due(bytes.size() - 1); }
    // How many bytes from the first have crossed the line by now.
    size_t crossedBy(Clock::time_point now) const;
  };

  // `join`: bytes that follow the burst still crossing without a pause become part of it.
  void queue(std::deque<Burst>& q, std::string_view bytes, Clock::time_point now, int baud,
             bool join);
  // When the next bytes of b may go, given the last hand-over.
  Clock::time_point notBefore(const Burst& b, Clock::time_point last) const;
  // When the unit takes in the next bytes of b.
  Clock::time_point takeInAt(const Burst& b) const;
  // The latency timer's last expiry by t, and its next one from t on.
  Clock::time_point batchBefore(Clock::time_point t) const;
  Clock::time_point batchFrom(Clock::time_point t) const;

  Line& line_;
  bool paced_;
  Clock::duration latency_;
  Clock::time_point epoch_;
  std::deque<Burst> in_;
  std::deque<Burst> out_;
  Clock::time_point lastOut_{};
  bool blocked_ = false;
};

}  // namespace rqsim
