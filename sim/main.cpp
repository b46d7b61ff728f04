// rq410-sim: simulated RQ-410 units on pseudo-terminals or a serial device. Each unit serves
// on a thread of its own (see unit_runner.h); this thread only turns signals into requests to
// the units and waits until all of them have stopped.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kv_build_info.h"
#include "line.h"
#include "options.h"
#include "unit_runner.h"

int main(int argc, char** argv) {
  auto parsed = rqsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "rq410-sim: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options->help) {
    std::fputs(rqsim::helpText().c_str(), stdout);
    return 0;
  }
  if (parsed.options->version) {
    std::puts("rq410-sim " KV_VERSION);
    return 0;
  }

  // Signals arrive through a descriptor, so that they stop the units cleanly between two
  // events; blocked before any unit's thread starts, they reach only this one.
  sigset_t mask;
  sigemptyset(&mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&mask, s);
  ::pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  rqsim::Fd signals(::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
  rqsim::Fd ended(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));

  std::vector<std::unique_ptr<rqsim::UnitRunner>> units;
  for (const rqsim::Options& options : parsed.units) {
    std::string error;
    units.push_back(rqsim::UnitRunner::open(options, error));
    if (!units.back()) {
      std::fprintf(stderr, "rq410-sim: %s\n", error.c_str());
      return 1;  // the units opened so far remove their links
    }
  }
  // The paths come first, one line per unit in order, before anything a unit prints.
  for (const auto& unit : units) std::printf("%s\n", unit->path().c_str());
  std::fflush(stdout);
  for (const auto& unit : units) unit->start(ended.get());

  for (uint64_t stoppedUnits = 0; stoppedUnits < units.size();) {
    pollfd fds[2] = {{signals.get(), POLLIN, 0}, {ended.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      std::fprintf(stderr, "rq410-sim: poll failed: %s\n", std::strerror(errno));
      for (const auto& unit : units) unit->requestStop("the simulator cannot wait for signals");
      break;
    }
    signalfd_siginfo info{};
    while (::read(signals.get(), &info, sizeof info) == sizeof info) {
      for (const auto& unit : units) {
        if (info.ssi_signo == SIGUSR1) {
          unit->requestPowerCycle();
        } else {
          unit->requestStop(std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)));
        }
      }
    }
    uint64_t count = 0;
    if (::read(ended.get(), &count, sizeof count) == sizeof count) stoppedUnits += count;
  }

  int exitCode = 0;
  for (const auto& unit : units) exitCode = std::max(exitCode, unit->join());
  return exitCode;
}
