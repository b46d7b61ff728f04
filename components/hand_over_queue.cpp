#include "components/hand_over_queue.h"

#include <cstdio>
#include <exception>

struct HandOverQueue::Call {
  std::function<void()> fn;
  const void* owner = nullptr;
  bool finished = false;
  bool dropped = false;
  std::condition_variable done;
};

bool HandOverQueue::PlaceAndWait(std::function<void()> fn, const void* owner,
                                 const std::function<void()>& wake) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  call->owner = owner;
  {
    std::lock_guard lock(mutex_);
    if (shutDown_) return false;
    queue_.push_back(call);
  }
  // Told with the lock released, so that the main thread does not wake only to wait for it.
  arrived_.notify_all();
  if (wake) wake();
  std::unique_lock lock(mutex_);
  call->done.wait(lock, [&] { return call->finished || call->dropped; });
  return call->finished;
}

void HandOverQueue::Cancel(const void* owner) {
  std::lock_guard lock(mutex_);
  for (auto it = queue_.begin(); it != queue_.end();) {
    if ((*it)->owner == owner) {
      (*it)->dropped = true;
      (*it)->done.notify_all();
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

void HandOverQueue::WaitForCall(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (queue_.empty() && timeout.count() > 0) {
    arrived_.wait_for(lock, timeout, [&] { return !queue_.empty() || shutDown_; });
  }
}

int HandOverQueue::RunAll() {
  std::unique_lock lock(mutex_);
  int ran = 0;
  while (!queue_.empty()) {
    auto call = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      call->fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kvuflash: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "kvuflash: unexpected error in a handed-over call\n");
    }
    lock.lock();
    call->finished = true;
    lock.unlock();
    call->done.notify_all();
    lock.lock();
    ++ran;
  }
  return ran;
}

void HandOverQueue::Shutdown() {
  std::lock_guard lock(mutex_);
  shutDown_ = true;
  for (auto& call : queue_) {
    call->dropped = true;
    call->done.notify_all();
  }
  queue_.clear();
  arrived_.notify_all();
}
