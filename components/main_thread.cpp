#include "components/main_thread.h"

StdMainThread::StdMainThread() : mainId_(std::this_thread::get_id()) {}

StdMainThread::~StdMainThread() {
  Shutdown();
}

bool StdMainThread::IsMainThread() const {
  return std::this_thread::get_id() == mainId_;
}

bool StdMainThread::CallOnMainThread(std::function<void()> fn, const void* owner) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  return queue_.PlaceAndWait(std::move(fn), owner, nullptr);
}

void StdMainThread::CancelPending(const void* owner) {
  queue_.Cancel(owner);
}

void StdMainThread::ProcessPendingMessages() {
  queue_.RunAll();
}

int StdMainThread::RunPendingFor(std::chrono::milliseconds timeout) {
  queue_.WaitForCall(timeout);
  return queue_.RunAll();
}

void StdMainThread::Shutdown() {
  queue_.Shutdown();
}
