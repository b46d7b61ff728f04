#include "components/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace std::chrono_literals;

TEST(StdMainThread, HandOverRunsOnTheMainThreadAndCanBeDroppedOrEnded) {
  StdMainThread main;
  EXPECT_TRUE(main.IsMainThread());

  // A placed call runs on the main thread, and the worker waits for it.
  std::atomic<bool> ranOnMain{false};
  auto worker = std::async(std::launch::async, [&] {
    return main.CallOnMainThread([&] { ranOnMain = main.IsMainThread(); }, &main);
  });
  int ran = 0;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (ran == 0 && std::chrono::steady_clock::now() < end) ran += main.RunPendingFor(50ms);
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(worker.get());
  EXPECT_TRUE(ranOnMain);

  // On the main thread itself the call runs at once.
  bool direct = false;
  EXPECT_TRUE(main.CallOnMainThread([&] { direct = true; }));
  EXPECT_TRUE(direct);

  // CancelPending drops only its owner's calls and releases their workers.
  int owner1 = 0, owner2 = 0;
  std::atomic<int> placedRuns{0};
  auto dropped = std::async(std::launch::async,
                            [&] { return main.CallOnMainThread([&] { ++placedRuns; }, &owner1); });
  auto kept = std::async(std::launch::async,
                         [&] { return main.CallOnMainThread([&] { placedRuns += 10; }, &owner2); });
  std::this_thread::sleep_for(100ms);
  main.CancelPending(&owner1);
  EXPECT_EQ(dropped.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(dropped.get());
  while (kept.wait_for(0ms) != std::future_status::ready) main.RunPendingFor(10ms);
  EXPECT_TRUE(kept.get());
  EXPECT_EQ(placedRuns, 10);

  // Shutdown releases a waiting worker and refuses later calls.
  auto waiting =
      std::async(std::launch::async, [&] { return main.CallOnMainThread([] {}, &owner1); });
  std::this_thread::sleep_for(50ms);
  main.Shutdown();
  EXPECT_EQ(waiting.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  auto late = std::async(std::launch::async, [&] { return main.CallOnMainThread([] {}); });
  EXPECT_EQ(late.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(late.get());
}
