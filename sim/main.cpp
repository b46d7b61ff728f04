// rq410-sim: a simulated RQ-410 unit on a pseudo-terminal or a serial device. One thread: it
// waits for bytes, signals and the unit's next timed event, and hands each to the unit.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "flash.h"
#include "kv_build_info.h"
#include "line.h"
#include "options.h"
#include "transcript.h"
#include "unit.h"

namespace {

using rqsim::Options;

constexpr int kDrainWaitMs = 2000;

long msSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

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

void removeLinkIfOurs(const std::string& link, const std::string& target) {
  std::vector<char> buffer(4096);
  ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  if (n > 0 && std::string(buffer.data(), static_cast<size_t>(n)) == target) ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = rqsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "rq410-sim: %s\n", parsed.error.c_str());
    return 2;
  }
  const Options& options = *parsed.options;
  if (options.help) {
    std::fputs(rqsim::helpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("rq410-sim " KV_VERSION);
    return 0;
  }

  // Signals arrive through a descriptor, so that the loop stops cleanly between two events.
  sigset_t mask;
  sigemptyset(&mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&mask, s);
  ::sigprocmask(SIG_BLOCK, &mask, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  rqsim::Fd signals(::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));

  rqsim::Flash flash;
  if (!options.flashFile.empty()) {
    if (std::string error = flash.load(options.flashFile); !error.empty()) {
      std::fprintf(stderr, "rq410-sim: %s\n", error.c_str());
      return 1;
    }
  }

  std::string error;
  std::unique_ptr<rqsim::Line> line = options.device.empty()
                                          ? rqsim::Line::openPty(error)
                                          : rqsim::Line::openDevice(options.device, error);
  if (!line) {
    std::fprintf(stderr, "rq410-sim: %s\n", error.c_str());
    return 1;
  }
  if (!options.link.empty() && !makeLink(options.link, line->path(), error)) {
    std::fprintf(stderr, "rq410-sim: %s\n", error.c_str());
    return 1;
  }
  rqsim::Transcript transcript(options.transcriptFile, options.verbose, error);
  if (!error.empty()) {
    std::fprintf(stderr, "rq410-sim: %s\n", error.c_str());
    if (!options.link.empty()) removeLinkIfOurs(options.link, line->path());
    return 1;
  }

  std::printf("%s\n", line->path().c_str());
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  rqsim::Unit unit(options, *line, transcript, flash);
  unit.start(0);

  long lastInput = 0;
  std::string why;
  int exitCode = 0;
  std::vector<char> buffer(4096);
  while (why.empty()) {
    long now = msSince(start);
    long wait = 1000;
    auto limit = [&](long at) { wait = std::max(0L, std::min(wait, at - now)); };
    if (auto d = unit.nextDeadline()) limit(*d);
    if (options.exitAfterMs > 0) limit(options.exitAfterMs);
    if (options.idleExitMs > 0) limit(lastInput + options.idleExitMs);

    pollfd fds[2] = {{line->fd(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
    int n = ::poll(fds, 2, static_cast<int>(wait));
    now = msSince(start);
    if (n < 0 && errno != EINTR) {
      why = std::string("poll failed: ") + std::strerror(errno);
      exitCode = 1;
      break;
    }
    if (n > 0 && (fds[1].revents & POLLIN)) {
      signalfd_siginfo info{};
      while (::read(signals.get(), &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGUSR1) {
          unit.powerCycle(now, "SIGUSR1");
        } else {
          why = std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo));
        }
      }
    }
    // What fell due before these bytes arrived happens first (a reboot that has ended, say).
    unit.onTime(now);
    if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      long got = line->readSome(buffer.data(), buffer.size());
      if (got > 0) {
        lastInput = now;
        unit.onInput(std::string_view(buffer.data(), static_cast<size_t>(got)), now);
      } else if (got < 0) {
        why = "the device has gone";
        exitCode = 1;
      }
    }
    unit.onTime(now);
    if (unit.done()) why = "the upload is over (--once)";
    if (options.exitAfterMs > 0 && now >= options.exitAfterMs) why = "--exit-after-ms reached";
    if (options.idleExitMs > 0 && now - lastInput >= options.idleExitMs)
      why = "nothing arrived for --idle-exit-ms";
  }

  // Let the other end take the last answer before the line goes away with us.
  for (int waited = 0; waited < kDrainWaitMs && line->pendingToPeer() > 0; waited += 10)
    ::usleep(10000);

  transcript.event(msSince(start), "stop: " + why);
  if (!options.dumpFile.empty()) {
    if (std::string dumpError = flash.dump(options.dumpFile); !dumpError.empty()) {
      std::fprintf(stderr, "rq410-sim: %s\n", dumpError.c_str());
      exitCode = 1;
    }
  }
  std::printf("%s\n", unit.summary().c_str());
  std::fflush(stdout);
  if (!options.link.empty()) removeLinkIfOurs(options.link, line->path());
  if (exitCode != 0) std::fprintf(stderr, "rq410-sim: stopped: %s\n", why.c_str());
  return exitCode;
}
