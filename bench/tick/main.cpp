// Tick timer figures: a TSuperTimer at the sequencer's tick, served by the standard-library
// hand-over for N seconds (default 30). Prints the interval error between firings (mean, p99,
// max, in ms) measured on the main thread, the worker's own wake-up lateness, and the processor
// time the process used, as a share of one core.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "components/main_thread.h"
#include "components/super_timer.h"
#include "sequencer/ticks.h"

namespace {
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace

int main(int argc, char** argv) {
  int seconds = 30;
  if (argc > 1) {
    seconds = std::atoi(argv[1]);
    if (seconds <= 0) {
      std::fprintf(stderr, "usage: bench_tick [seconds > 0]\n");
      return 2;
    }
  }
  constexpr int kIntervalMs = kTickMs;
  using Clock = std::chrono::steady_clock;

  StdMainThread main;
  TSuperTimer timer(main);
  timer.SetInterval(kIntervalMs);
  timer.SetThreadPriority(tpTimeCritical);
  std::vector<Clock::time_point> firings;
  std::vector<std::int32_t> elapsed;  // the worker's own reading at each firing, in whole ms
  firings.reserve(static_cast<std::size_t>(seconds) * 1000 / kIntervalMs + 16);
  timer.OnTimer = [&](TComponent*) {
    firings.push_back(Clock::now());
    elapsed.push_back(timer.Elapsed);
  };

  const double cpuStart = cpuSeconds();
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  timer.SetEnabled(true);
  while (Clock::now() < end) main.RunPendingFor(std::chrono::milliseconds(200));
  timer.SetEnabled(false);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuStart;

  std::vector<double> errors;
  int early = 0;
  for (std::size_t i = 1; i < firings.size(); ++i) {
    const double gap =
        std::chrono::duration<double, std::milli>(firings[i] - firings[i - 1]).count();
    if (gap < kIntervalMs) ++early;
    errors.push_back(std::fabs(gap - kIntervalMs));
  }
  if (errors.empty()) {
    std::printf("no firings measured\n");
    return 1;
  }
  double sum = 0;
  for (double e : errors) sum += e;
  std::vector<double> sorted = errors;
  std::sort(sorted.begin(), sorted.end());
  const double p99 = sorted[std::min(
      sorted.size() - 1, static_cast<std::size_t>(0.99 * static_cast<double>(sorted.size())))];
  std::printf("tick timer: %d ms interval, %.1f s, %zu firings\n", kIntervalMs, wall,
              firings.size());
  std::printf("interval error ms: mean %.3f  p99 %.3f  max %.3f  (gaps under %d ms: %d)\n",
              sum / static_cast<double>(errors.size()), p99, sorted.back(), kIntervalMs, early);
  // The worker's lateness alone (its wake-up against the due time), without the main
  // thread's latency in serving the hand-over.
  std::vector<int> late;
  for (std::size_t i = 1; i < elapsed.size(); ++i)
    late.push_back(elapsed[i] - elapsed[i - 1] - kIntervalMs);
  std::sort(late.begin(), late.end());
  if (!late.empty())
    std::printf("worker wake-up late ms (1 ms steps): median %d  p99 %d  max %d  min %d\n",
                late[late.size() / 2],
                late[std::min(late.size() - 1,
                              static_cast<std::size_t>(0.99 * static_cast<double>(late.size())))],
                late.back(), late.front());
  std::printf("processor time: %.3f s = %.2f %% of one core\n", cpu, 100.0 * cpu / wall);
  return 0;
}
