#include "components/super_timer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "components/component_test_support.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SuperTimer, FiresOnTheMainThreadNeverEarlyAndNeverMoreOftenThanTheInterval) {
  StdMainThread main;
  TSuperTimer timer(main);
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_EQ(timer.ThreadPriority(), tpHigher);
  EXPECT_FALSE(timer.Enabled());
  timer.SetThreadPriority(tpTimeCritical);  // refused quietly where not permitted
  timer.SetInterval(60);

  std::vector<Clock::time_point> at;
  std::vector<int32_t> elapsed;
  bool offThread = false;
  timer.OnTimer = [&](TComponent* sender) {
    if (!main.IsMainThread() || sender != &timer) offThread = true;
    at.push_back(Clock::now());
    elapsed.push_back(timer.Elapsed);
  };
  const auto enabledAt = Clock::now();
  timer.SetEnabled(true);
  timer.SetEnabled(true);  // no re-anchor, no extra firing
  ASSERT_TRUE(ServeUntil(main, [&] { return at.size() >= 6; }));
  const auto span = Clock::now() - enabledAt;
  EXPECT_FALSE(offThread);
  EXPECT_GE(at[0] - enabledAt, 60ms);
  EXPECT_GE(elapsed[0], 60);
  for (std::size_t i = 1; i < elapsed.size(); ++i) EXPECT_GE(elapsed[i] - elapsed[i - 1], 60) << i;
  EXPECT_LE(static_cast<long long>(at.size()), span / 60ms);
  EXPECT_EQ(timer.IntervalCount(), timer.Elapsed / 60);
}

TEST(SuperTimer, SlowHandlerIsNeitherOverlappedNorCaughtUp) {
  StdMainThread main;
  TSuperTimer timer(main);
  timer.SetInterval(50);
  int depth = 0, maxDepth = 0, firings = 0;
  timer.OnTimer = [&](TComponent*) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    ++firings;
    // Like the tick handler: let pending calls run, then take longer than the interval.
    main.ProcessPendingMessages();
    std::this_thread::sleep_for(200ms);
    main.ProcessPendingMessages();
    --depth;
  };
  const auto start = Clock::now();
  timer.SetEnabled(true);
  ServeFor(main, 1200ms);
  timer.SetEnabled(false);
  const auto span = Clock::now() - start;
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GE(firings, 2);
  // Each firing holds the main thread 200 ms: no queue of missed firings follows.
  EXPECT_LE(firings, static_cast<int>(span / 200ms) + 1);
}

TEST(SuperTimer, DisableParksTheWorkerAndEnableContinuesTheCount) {
  StdMainThread main;
  TSuperTimer timer(main);
  timer.SetInterval(40);
  int firings = 0;
  timer.OnTimer = [&](TComponent*) { ++firings; };
  timer.SetEnabled(true);
  ASSERT_TRUE(ServeUntil(main, [&] { return firings >= 3; }));
  timer.SetEnabled(false);
  main.ProcessPendingMessages();  // a firing placed before the disable may still run, once
  const int firingsAtDisable = firings;
  const int32_t elapsedAtDisable = timer.Elapsed;
  ServeFor(main, 400ms);
  EXPECT_EQ(firings, firingsAtDisable);
  EXPECT_EQ(timer.Elapsed, elapsedAtDisable);

  timer.SetEnabled(true);
  ASSERT_TRUE(ServeUntil(main, [&] { return firings > firingsAtDisable; }));
  // The 400 ms spent disabled are not counted.
  EXPECT_GE(timer.Elapsed, elapsedAtDisable + 40);
  EXPECT_LT(timer.Elapsed, elapsedAtDisable + 400);

  // Interval 0 disables, and a timer without an interval cannot be enabled.
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Enabled());
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.Enabled());
  const int firingsAtZero = firings;
  ServeFor(main, 200ms);
  EXPECT_LE(firings, firingsAtZero + 1);
  EXPECT_EQ(timer.IntervalCount(), 0);
}

TEST(SuperTimer, StopsItselfCountingUpOrDown) {
  StdMainThread main;
  {
    TSuperTimer timer(main);
    timer.SetInterval(50);
    timer.StopCount = 3;
    int firings = 0, stops = 0, firingsAtStop = -1;
    timer.OnTimer = [&](TComponent*) { ++firings; };
    timer.OnStop = [&](TComponent* s) {
      EXPECT_EQ(s, &timer);
      ++stops;
      firingsAtStop = firings;
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(ServeUntil(main, [&] { return stops > 0; }));
    ServeFor(main, 300ms);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(firingsAtStop, firings);  // OnTimer ran first, then the stop
    EXPECT_FALSE(timer.Enabled());
    EXPECT_GE(timer.Elapsed, 150);
    EXPECT_GE(timer.IntervalCount(), 3);
    EXPECT_LE(firings, 3);
  }
  {
    TSuperTimer timer(main);
    timer.SetInterval(50);
    timer.SetCountDown(true);
    timer.Elapsed = 200;
    int firings = 0, stops = 0;
    timer.OnTimer = [&](TComponent*) { ++firings; };
    timer.OnStop = [&](TComponent*) { ++stops; };
    timer.SetEnabled(true);
    ASSERT_TRUE(ServeUntil(main, [&] { return stops > 0; }));
    EXPECT_LE(timer.Elapsed, 0);
    EXPECT_GE(firings, 1);
    EXPECT_LE(firings, 4);
    EXPECT_FALSE(timer.Enabled());
  }
}

TEST(SuperTimer, DestroyingATimerWithAFiringWaitingDoesNotHang) {
  StdMainThread main;
  auto timer = std::make_unique<TSuperTimer>(main);
  timer->SetInterval(10);
  int firings = 0;
  timer->OnTimer = [&](TComponent*) { ++firings; };
  timer->SetEnabled(true);
  std::this_thread::sleep_for(100ms);  // the worker now waits in its hand-over
  timer.reset();
  main.ProcessPendingMessages();
  EXPECT_EQ(firings, 0);
}
