#include "line_time.h"

#include <algorithm>

namespace rqsim {

namespace {

constexpr int kBitsPerByte = 10;
// The unit's bytes are handed over at most once a millisecond: a wake-up per byte (0.17 ms at
// 57600) would cost far more than it shows, and no byte is ever handed over before its time.
constexpr std::chrono::milliseconds kQuantum{1};

}  // namespace

size_t LineTime::Burst::crossedBy(Clock::time_point now) const {
  if (now < first) return 0;
  if (byteTime == Clock::duration::zero()) return bytes.size();
  auto n = static_cast<size_t>((now - first) / byteTime) + 1;
  return std::min(n, bytes.size());
}

void LineTime::queue(std::deque<Burst>& q, std::string_view bytes, Clock::time_point now, int baud,
                     bool join) {
  if (bytes.empty()) return;
  Burst b;
  b.bytes = bytes;
  if (paced_ && baud > 0) {
    b.byteTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte / baud));
  }
  if (join && !q.empty() && b.byteTime > Clock::duration::zero() &&
      q.back().byteTime == b.byteTime && now < q.back().end()) {
    q.back().bytes += bytes;
    return;
  }
  // A byte starts when the line is free: now, or when the last queued byte has crossed.
  Clock::time_point start = now;
  if (!q.empty()) start = std::max(start, q.back().end());
  b.first = start + b.byteTime;
  q.push_back(std::move(b));
}

LineTime::Clock::time_point LineTime::notBefore(const Burst& b, Clock::time_point last) const {
  const Clock::time_point due = b.due(b.done);
  // The burst's last byte goes at its own time: the other end acts on a whole message, and a
  // quantum's wait there would be the line's time lost on every record.
  return paced_ ? std::max(due, std::min(last + kQuantum, b.end())) : due;
}

LineTime::Clock::time_point LineTime::takeInAt(const Burst& b) const {
  const Clock::time_point due = b.due(b.done);
  return paced_ ? std::max(due, std::min(due + kInputHold, b.end())) : due;
}

LineTime::Clock::time_point LineTime::batchBefore(Clock::time_point t) const {
  if (latency_ <= Clock::duration::zero() || t < epoch_) return t;
  return epoch_ + (t - epoch_) / latency_ * latency_;
}

LineTime::Clock::time_point LineTime::batchFrom(Clock::time_point t) const {
  const Clock::time_point before = batchBefore(t);
  return before == t ? t : before + latency_;
}

bool LineTime::read(std::string& got, Clock::time_point now) {
  // One read per readiness: a terminal set for VMIN 0 answers a read with nothing waiting as
  // if the line had gone.
  char buffer[4096];
  long n = line_.readSome(buffer, sizeof buffer);
  if (n < 0) return false;
  got.assign(buffer, static_cast<size_t>(n));
  // The other end sends at the speed it set for sending.
  auto peer = line_.peerSpeeds();
  queue(in_, got, now, peer ? peer->send : 0, true);
  return true;
}

LineTime::Piece LineTime::received(Clock::time_point now) {
  Piece piece;
  if (in_.empty()) return piece;
  Burst& front = in_.front();
  size_t upTo = front.crossedBy(now);
  if (upTo <= front.done) return piece;
  piece.bytes = front.bytes.substr(front.done, upTo - front.done);
  piece.begins = front.done == 0;
  piece.ends = upTo == front.bytes.size();
  front.done = upTo;
  if (front.done == front.bytes.size()) in_.pop_front();
  return piece;
}

void LineTime::send(std::string_view bytes) {
  // The other end hears at the speed it set for receiving.
  auto peer = line_.peerSpeeds();
  queue(out_, bytes, Clock::now(), peer ? peer->receive : 0, false);
}

size_t LineTime::writeDue(Clock::time_point now) {
  blocked_ = false;
  // Behind a latency timer only what had crossed when it last ran out goes on.
  const Clock::time_point passedOn = batchBefore(now);
  while (!out_.empty()) {
    Burst& front = out_.front();
    size_t upTo = front.crossedBy(passedOn);
    if (upTo <= front.done) break;
    size_t n = line_.writeSome(std::string_view(front.bytes).substr(front.done, upTo - front.done));
    if (n > 0) {
      front.done += n;
      lastOut_ = now;
    }
    if (front.done == front.bytes.size()) {
      out_.pop_front();
      continue;
    }
    if (front.done < upTo) {
      // The line took less than was due (full, or an error): wait, and in the end give up.
      blocked_ = true;
      if (now - front.due(front.done) >= kGiveUpAfter) {
        size_t lost = unsent();
        out_.clear();
        blocked_ = false;
        return lost;
      }
    }
    break;
  }
  return 0;
}

std::optional<LineTime::Clock::time_point> LineTime::nextDue() const {
  std::optional<Clock::time_point> next;
  auto earliest = [&next](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
  if (!in_.empty()) earliest(takeInAt(in_.front()));
  if (!out_.empty()) {
    const Burst& front = out_.front();
    // A blocked line wakes the loop when it can take more; this is only for giving up.
    earliest(blocked_ ? front.due(front.done) + kGiveUpAfter
                      : batchFrom(notBefore(front, lastOut_)));
  }
  return next;
}

size_t LineTime::unsent() const {
  size_t n = 0;
  for (const Burst& b : out_) n += b.bytes.size() - b.done;
  return n;
}

}  // namespace rqsim
