#include "components/super_timer.h"

#include <limits>

namespace {
constexpr auto kCancelSlice = std::chrono::milliseconds(5);

std::int32_t clampToInt32(long long v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}
}  // namespace

TSuperTimer::TSuperTimer(IMainThread& mainThread) : mainThread_(mainThread) {}

TSuperTimer::~TSuperTimer() {
  std::unique_lock lock(mutex_);
  enabled_ = false;
  terminate_ = true;
  changed_.notify_all();
  if (!worker_.joinable()) return;
  // The worker may be waiting in a hand-over that this (main) thread would never serve now.
  while (!workerDone_) {
    lock.unlock();
    mainThread_.CancelPending(this);
    lock.lock();
    changed_.wait_for(lock, kCancelSlice, [&] { return workerDone_; });
  }
  lock.unlock();
  worker_.join();
}

bool TSuperTimer::Enabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void TSuperTimer::SetEnabled(bool value) {
  std::lock_guard lock(mutex_);
  if (value == enabled_) return;
  // A timer without an interval cannot run (the interval count would divide by zero).
  if (value && interval_ == 0) return;
  enabled_ = value;
  if (value) {
    baseElapsed_ = Elapsed;
    anchorTime_ = Clock::now();
    nextDue_ = anchorTime_ + std::chrono::milliseconds(interval_);
    ++enableCount_;
    if (!worker_.joinable()) worker_ = std::thread([this] { workerBody(); });
  }
  changed_.notify_all();
}

std::uint16_t TSuperTimer::Interval() const {
  std::lock_guard lock(mutex_);
  return interval_;
}

void TSuperTimer::SetInterval(std::uint16_t value) {
  if (value == Interval()) return;
  if (value == 0) SetEnabled(false);
  std::lock_guard lock(mutex_);
  interval_ = value;
}

TThreadPriority TSuperTimer::ThreadPriority() const {
  std::lock_guard lock(mutex_);
  return priority_;
}

void TSuperTimer::SetThreadPriority(TThreadPriority value) {
  std::lock_guard lock(mutex_);
  if (value == priority_) return;
  priority_ = value;
  priorityChanged_ = true;
  changed_.notify_all();
}

bool TSuperTimer::CountDown() const {
  std::lock_guard lock(mutex_);
  return countDown_;
}

void TSuperTimer::SetCountDown(bool value) {
  std::lock_guard lock(mutex_);
  if (value == countDown_) return;
  countDown_ = value;
  if (enabled_) {
    anchorTime_ = Clock::now();
    baseElapsed_ = Elapsed;
  }
}

std::int32_t TSuperTimer::IntervalCount() const {
  const std::uint16_t interval = Interval();
  return interval == 0 ? 0 : Elapsed / interval;
}

void TSuperTimer::FireTimer() {
  if (OnTimer) OnTimer(this);
  bool stop;
  if (CountDown())
    stop = IntervalCount() <= StopCount || Elapsed <= 0;
  else
    stop = IntervalCount() >= StopCount && StopCount > 0;
  if (stop) {
    SetEnabled(false);
    if (OnStop) OnStop(this);
  }
}

void TSuperTimer::workerBody() {
  NameCurrentThread("kv-timer");
  std::unique_lock lock(mutex_);
  SetCurrentThreadPriority(priority_);
  priorityChanged_ = false;
  while (!terminate_) {
    if (priorityChanged_) {
      priorityChanged_ = false;
      SetCurrentThreadPriority(priority_);
    }
    if (!enabled_) {
      // Parked: no firing is placed until the timer is enabled again.
      changed_.wait(lock, [&] { return terminate_ || enabled_ || priorityChanged_; });
      continue;
    }
    const std::uint64_t enableCount = enableCount_;
    const Clock::time_point due = nextDue_;
    if (Clock::now() < due) {
      // Sleep to the due time itself: no processor is spent waiting, and a wake-up before
      // it (a spurious one, or a change) just goes round again.
      changed_.wait_until(lock, due, [&] {
        return terminate_ || !enabled_ || enableCount != enableCount_ || priorityChanged_;
      });
      continue;
    }
    const Clock::time_point reading = Clock::now();
    // Counted from the moment the wait ended: a late firing is not made up.
    nextDue_ = reading + std::chrono::milliseconds(interval_);
    const long long since =
        std::chrono::duration_cast<std::chrono::milliseconds>(reading - anchorTime_).count();
    const std::int32_t elapsed =
        clampToInt32(countDown_ ? baseElapsed_ - since : since + baseElapsed_);
    lock.unlock();
    mainThread_.CallOnMainThread(
        [this, elapsed] {
          Elapsed = elapsed;
          FireTimer();
        },
        this);
    lock.lock();
  }
  workerDone_ = true;
  changed_.notify_all();
}
