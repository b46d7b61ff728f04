// The queue behind every hand-over to the main thread: a worker places a call and waits until
// the main thread has run it, or until it is dropped (its owner cancelled it, or the queue shut
// down), so that a component can always stop its worker without a deadlock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class HandOverQueue {
 public:
  // Worker: queues `fn`, calls `wake` (under the queue's lock) so that the main thread learns
  // of it, and blocks. True when the call ran, false when it was dropped.
  bool PlaceAndWait(std::function<void()> fn, const void* owner, const std::function<void()>& wake);
  // Drops every call of `owner` that has not started and releases its worker.
  void Cancel(const void* owner);
  // Main thread: waits up to `timeout` for a call (or the shut-down) when none is queued.
  void WaitForCall(std::chrono::milliseconds timeout);
  // Main thread: runs every queued call; returns how many ran. A call that throws is reported
  // on standard error: handlers report their own errors, and nothing may reach the worker.
  int RunAll();
  // Drops every queued and later call and releases the waiting workers.
  void Shutdown();

 private:
  struct Call;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::shared_ptr<Call>> queue_;
  bool shutDown_ = false;
};
