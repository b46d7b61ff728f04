// TSuperTimer: the tick timer. A worker thread sleeps to each due time on the monotonic clock
// and hands the firing to the main thread, waiting until it has run, so firings never
// overlap and missed ones are not made up. It can count elapsed time up or down and stop
// itself after a number of intervals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "components/component.h"
#include "components/main_thread.h"
#include "components/thread_priority.h"

class TSuperTimer : public TComponent {
 public:
  // `mainThread` must outlive the component.
  explicit TSuperTimer(IMainThread& mainThread);
  ~TSuperTimer() override;

  bool Enabled() const;
  void SetEnabled(bool value);
  std::uint16_t Interval() const;
  // 0 disables the timer.
  void SetInterval(std::uint16_t value);
  TThreadPriority ThreadPriority() const;
  void SetThreadPriority(TThreadPriority value);
  bool CountDown() const;
  void SetCountDown(bool value);

  // Whole intervals in Elapsed, truncated toward zero.
  std::int32_t IntervalCount() const;

  // Milliseconds counted while enabled (up, or down with CountDown); set at each firing.
  std::int32_t Elapsed = 0;
  // The interval count at which the timer stops itself; -1: never (counting up).
  std::int32_t StopCount = -1;

  TNotifyEvent OnTimer;
  TNotifyEvent OnStop;

 protected:
  // Runs on the main thread at each firing.
  virtual void FireTimer();

 private:
  using Clock = std::chrono::steady_clock;
  void workerBody();

  IMainThread& mainThread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool enabled_ = false;
  std::uint16_t interval_ = 1000;
  TThreadPriority priority_ = tpHigher;
  bool priorityChanged_ = false;
  bool countDown_ = false;
  Clock::time_point nextDue_{};
  Clock::time_point anchorTime_{};
  std::int32_t baseElapsed_ = 0;
  std::uint64_t enableCount_ = 0;  // one per enable, so a sleeping worker notices a re-enable
  bool terminate_ = false;
  bool workerDone_ = false;
  std::thread worker_;
};
