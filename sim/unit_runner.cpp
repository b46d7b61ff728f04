#include "unit_runner.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "line_time.h"
#include "unit.h"

namespace rqsim {

namespace {

using Clock = LineTime::Clock;
using std::chrono::milliseconds;

constexpr milliseconds kDrainWait{2000};
constexpr milliseconds kDrainQuiet{20};
constexpr milliseconds kIdleWake{1000};

// The link is ours to replace only when it is a link; never a file that someone else made.
bool makeLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = "'" + link + "' exists and is not a symbolic link; choose another --link path";
      return false;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    error = "cannot make the link '" + link + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

long msBetween(Clock::time_point from, Clock::time_point to) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(to - from).count());
}

timespec timespecOf(Clock::duration d) {
  auto ns = std::max<long long>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

std::unique_ptr<UnitRunner> UnitRunner::open(const Options& options, std::string& error) {
  std::unique_ptr<UnitRunner> r(new UnitRunner(options));  // private constructor
  if (!options.flashFile.empty()) {
    error = r->flash_.load(options.flashFile);
    if (!error.empty()) return nullptr;
  }
  r->line_ =
      options.device.empty() ? Line::openPty(error) : Line::openDevice(options.device, error);
  if (!r->line_) return nullptr;
  if (!options.link.empty()) {
    if (!makeLink(options.link, r->line_->path(), error)) return nullptr;
    r->link_ = options.link;
  }
  std::string label =
      options.unitNumber > 0 ? "unit " + std::to_string(options.unitNumber) + ": " : std::string();
  r->transcript_ =
      std::make_unique<Transcript>(options.transcriptFile, options.verbose, error, label);
  if (!error.empty()) return nullptr;  // the destructor removes the link
  r->wake_ = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (r->wake_.get() < 0) {
    error = std::string("cannot make an eventfd: ") + std::strerror(errno);
    return nullptr;
  }
  return r;
}

UnitRunner::~UnitRunner() {
  if (thread_.joinable()) {
    requestStop("the simulator ends");
    thread_.join();
  }
  removeLink();
}

std::string UnitRunner::who() const {
  return options_.unitNumber > 0 ? "rq410-sim: unit " + std::to_string(options_.unitNumber) + ": "
                                 : "rq410-sim: ";
}

void UnitRunner::removeLink() {
  if (link_.empty()) return;
  std::vector<char> buffer(4096);
  ssize_t n = ::readlink(link_.c_str(), buffer.data(), buffer.size() - 1);
  if (n > 0 && std::string(buffer.data(), static_cast<size_t>(n)) == line_->path())
    ::unlink(link_.c_str());
  link_.clear();
}

void UnitRunner::wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

void UnitRunner::start(int endedFd) {
  endedFd_ = endedFd;
  thread_ = std::thread([this] { serve(); });
}

void UnitRunner::requestStop(const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (stopWhy_.empty()) stopWhy_ = why;
  }
  stop_.store(true);
  wake();
}

void UnitRunner::requestPowerCycle() {
  powerCycles_.fetch_add(1);
  wake();
}

int UnitRunner::join() {
  if (thread_.joinable()) thread_.join();
  return exitCode_;
}

void UnitRunner::serve() {
  ::pthread_setname_np(::pthread_self(), "rq410-unit");
  const Clock::time_point start = Clock::now();
  auto msAt = [start](Clock::time_point t) { return msBetween(start, t); };
  LineTime wire(*line_, options_.lineTime && line_->isPty(), milliseconds(options_.latencyMs));
  Unit unit(options_, *line_, wire, *transcript_, flash_);
  unit.start(0);

  long lastInput = 0;
  std::string why;
  std::string got;
  while (why.empty()) {
    Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = now + kIdleWake;
    auto until = [&](long ms) { wakeAt = std::min(wakeAt, start + milliseconds(ms)); };
    if (auto d = unit.nextDeadline()) until(*d);
    if (options_.exitAfterMs > 0) until(options_.exitAfterMs);
    if (options_.idleExitMs > 0) until(lastInput + options_.idleExitMs);
    if (auto d = wire.nextDue()) wakeAt = std::min(wakeAt, *d);

    const short lineEvents = static_cast<short>(POLLIN | (wire.blocked() ? POLLOUT : 0));
    pollfd fds[2] = {{line_->fd(), lineEvents, 0}, {wake_.get(), POLLIN, 0}};
    timespec timeout = timespecOf(wakeAt - now);
    int n = ::ppoll(fds, 2, &timeout, nullptr);
    now = Clock::now();
    const long nowMs = msAt(now);
    if (n < 0 && errno != EINTR) {
      why = std::string("poll failed: ") + std::strerror(errno);
      exitCode_ = 1;
      break;
    }
    if (n > 0 && (fds[1].revents & POLLIN)) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t r = ::read(wake_.get(), &count, sizeof count);
    }
    if (stop_.load()) {
      std::lock_guard<std::mutex> lock(stopMutex_);
      why = stopWhy_;
      break;
    }
    for (int cycles = powerCycles_.exchange(0); cycles > 0; --cycles)
      unit.powerCycle(nowMs, "SIGUSR1");

    // What fell due before these bytes arrived happens first (a reboot that has ended, say).
    unit.onTime(nowMs);
    if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (!wire.read(got, now)) {
        why = "the device has gone";
        exitCode_ = 1;
      } else if (!got.empty()) {
        lastInput = nowMs;
        // Logged as the other end sent them; the unit takes them in as they cross the line.
        transcript_->bytesIn(nowMs, got);
      }
    }
    for (auto piece = wire.received(now); !piece.bytes.empty(); piece = wire.received(now))
      unit.onInput(piece.bytes, nowMs, piece.begins, piece.ends);
    unit.onTime(nowMs);
    if (size_t lost = wire.writeDue(Clock::now()); lost > 0)
      transcript_->event(nowMs, "nobody takes the answer: " + std::to_string(lost) + " bytes lost");

    if (unit.done()) why = "the upload is over (--once)";
    if (options_.exitAfterMs > 0 && nowMs >= options_.exitAfterMs) why = "--exit-after-ms reached";
    if (options_.idleExitMs > 0 && nowMs - lastInput >= options_.idleExitMs)
      why = "nothing arrived for --idle-exit-ms";
  }

  drainLastAnswer(wire);
  stopped(why, msAt(Clock::now()), unit.summary());
}

void UnitRunner::drainLastAnswer(LineTime& wire) {
  // Let the other end take the last answer, at the line's pace, before the line goes away.
  // It has taken it all only once nothing has waited for it for a while: bytes still on their
  // way through the terminal's buffers are not counted as waiting, and would be lost.
  auto quietSince = Clock::now();
  for (const auto until = Clock::now() + kDrainWait; Clock::now() < until;) {
    if (wire.writeDue(Clock::now()) > 0) break;
    if (wire.unsent() != 0 || line_->pendingToPeer() != 0) {
      quietSince = Clock::now();
    } else if (Clock::now() - quietSince >= kDrainQuiet) {
      break;
    }
    ::usleep(1000);
  }
}

void UnitRunner::stopped(const std::string& why, long ms, const std::string& summary) {
  transcript_->event(ms, "stop: " + why);
  if (!options_.dumpFile.empty()) {
    if (std::string error = flash_.dump(options_.dumpFile); !error.empty()) {
      std::fprintf(stderr, "%s%s\n", who().c_str(), error.c_str());
      exitCode_ = 1;
    }
  }
  std::printf("%s\n", summary.c_str());
  std::fflush(stdout);
  removeLink();
  if (exitCode_ != 0) std::fprintf(stderr, "%sstopped: %s\n", who().c_str(), why.c_str());
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(endedFd_, &one, sizeof one);
}

}  // namespace rqsim
