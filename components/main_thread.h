// Hand-over of calls from worker threads (serial events, timer ticks) to the user-interface
// thread. All program logic runs on that one thread, so handlers never overlap and need no lock.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "components/hand_over_queue.h"

class IMainThread {
 public:
  virtual ~IMainThread() = default;

  // Called on a worker thread: places `fn` for the main thread and blocks until it has run.
  // Returns false when the call was dropped instead (cancelled by its owner, or the main
  // thread has shut down). `owner` tags the call so that CancelPending can find it.
  // Called on the main thread itself, it runs `fn` at once.
  virtual bool CallOnMainThread(std::function<void()> fn, const void* owner = nullptr) = 0;

  // Main thread: drops every call of `owner` that has not started yet and releases its
  // waiting worker (its CallOnMainThread returns false). A call already running finishes.
  virtual void CancelPending(const void* owner) = 0;

  // Main thread: runs every call placed so far (the platform's process-pending-messages).
  virtual void ProcessPendingMessages() = 0;

  // True on the main thread.
  virtual bool IsMainThread() const = 0;
};

// The standard-library hand-over: a queue that the main loop of a program without a window
// (the command line, tests) serves. The thread that constructs it is the main thread.
class StdMainThread final : public IMainThread {
 public:
  StdMainThread();
  ~StdMainThread() override;

  bool CallOnMainThread(std::function<void()> fn, const void* owner = nullptr) override;
  void CancelPending(const void* owner) override;
  void ProcessPendingMessages() override;
  bool IsMainThread() const override;

  // Main thread: waits up to `timeout` for a call to arrive, then runs all placed calls.
  // Returns the number of calls run.
  int RunPendingFor(std::chrono::milliseconds timeout);
  // Ends the hand-over: queued and later calls are dropped, their workers released.
  void Shutdown();

 private:
  HandOverQueue queue_;
  std::thread::id mainId_;
};
