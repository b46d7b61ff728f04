#include "app/qt_main_thread.h"

#include <QCoreApplication>
#include <QThread>

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
  // One posted event per call; an event that finds the queue already served does nothing.
  return m_queue.PlaceAndWait(std::move(fn), owner, [this] {
    QMetaObject::invokeMethod(this, &QtMainThread::runQueued, Qt::QueuedConnection);
  });
}

void QtMainThread::CancelPending(const void* owner) {
  m_queue.Cancel(owner);
}

void QtMainThread::ProcessPendingMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  runQueued();
}

void QtMainThread::runQueued() {
  m_queue.RunAll();
}

void QtMainThread::Shutdown() {
  m_queue.Shutdown();
}
