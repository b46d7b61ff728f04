#include "components/main_thread.h"

struct StdMainThread::Call {
  std::function<void()> fn;
  const void* owner = nullptr;
  bool finished = false;
  bool dropped = false;
  std::condition_variable done;
};

StdMainThread::StdMainThread() : mainId_(std::this_thread::get_id()) {}

StdMainThread::~StdMainThread() { Shutdown(); }

bool StdMainThread::IsMainThread() const { return std::this_thread::get_id() == mainId_; }

bool StdMainThread::CallOnMainThread(std::function<void()> fn, const void* owner) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  call->owner = owner;
  std::unique_lock lock(mutex_);
  if (shutDown_) return false;
  queue_.push_back(call);
  arrived_.notify_all();
  call->done.wait(lock, [&] { return call->finished || call->dropped; });
  return call->finished;
}

void StdMainThread::CancelPending(const void* owner) {
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

void StdMainThread::ProcessPendingMessages() { RunPendingFor(std::chrono::milliseconds(0)); }

int StdMainThread::RunPendingFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (queue_.empty() && timeout.count() > 0) {
    arrived_.wait_for(lock, timeout, [&] { return !queue_.empty() || shutDown_; });
  }
  int ran = 0;
  while (!queue_.empty()) {
    auto call = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      call->fn();
    } catch (...) {
      // Handlers report their own errors; nothing may escape into the worker.
    }
    lock.lock();
    call->finished = true;
    call->done.notify_all();
    ++ran;
  }
  return ran;
}

void StdMainThread::Shutdown() {
  std::lock_guard lock(mutex_);
  shutDown_ = true;
  for (auto& call : queue_) {
    call->dropped = true;
    call->done.notify_all();
  }
  queue_.clear();
  arrived_.notify_all();
}
