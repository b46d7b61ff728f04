#include "app/qt_main_thread.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <exception>

struct QtMainThread::Call {
  std::function<void()> fn;
  const void* owner = nullptr;
  bool finished = false;
  bool dropped = false;
  std::condition_variable done;
};

QtMainThread::QtMainThread() = default;

QtMainThread::~QtMainThread() {
  Shutdown();
}

bool QtMainThread::IsMainThread() const {
  return QThread::currentThread() == thread();
}

bool QtMainThread::CallOnMainThread(std::function<void()> fn, const void* owner) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  call->owner = owner;
  std::unique_lock lock(m_mutex);
  if (m_shutDown) return false;
  m_queue.push_back(call);
  // One posted event per call; an event that finds the queue already served does nothing.
  QMetaObject::invokeMethod(this, &QtMainThread::runQueued, Qt::QueuedConnection);
  call->done.wait(lock, [&] { return call->finished || call->dropped; });
  return call->finished;
}

void QtMainThread::CancelPending(const void* owner) {
  std::lock_guard lock(m_mutex);
  for (auto it = m_queue.begin(); it != m_queue.end();) {
    if ((*it)->owner == owner) {
      (*it)->dropped = true;
      (*it)->done.notify_all();
      it = m_queue.erase(it);
    } else {
      ++it;
    }
  }
}

void QtMainThread::ProcessPendingMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  runQueued();
}

void QtMainThread::runQueued() {
  std::unique_lock lock(m_mutex);
  while (!m_queue.empty()) {
    auto call = m_queue.front();
    m_queue.pop_front();
    lock.unlock();
    try {
      call->fn();
    } catch (const std::exception& e) {
      // Handlers report their own errors; nothing may reach the waiting worker.
      std::fprintf(stderr, "kvuflash: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "kvuflash: unexpected error in a handed-over call\n");
    }
    lock.lock();
    call->finished = true;
    call->done.notify_all();
  }
}

void QtMainThread::Shutdown() {
  std::lock_guard lock(m_mutex);
  m_shutDown = true;
  for (auto& call : m_queue) {
    call->dropped = true;
    call->done.notify_all();
  }
  m_queue.clear();
}
