// The hand-over of worker-thread calls (timer ticks, serial events) to the Qt user-interface
// thread: the worker posts the call to an object living on the GUI thread and blocks until it
// has run. Unlike a plain blocking queued connection, a call not yet started can be dropped
// (CancelPending, Shutdown), which lets a component stop its worker without a deadlock.
#pragma once

#include <QObject>

#include "components/hand_over_queue.h"
#include "components/main_thread.h"

class QtMainThread final : public QObject, public IMainThread {
  Q_OBJECT

 public:
  // Construct on the GUI thread: that thread becomes the main thread.
  QtMainThread();
  ~QtMainThread() override;

  bool CallOnMainThread(std::function<void()> fn, const void* owner = nullptr) override;
  void CancelPending(const void* owner) override;
  // Runs every posted event (QCoreApplication::processEvents), hand-overs included.
  void ProcessPendingMessages() override;
  bool IsMainThread() const override;

  // Drops every queued and later call and releases the waiting workers.
  void Shutdown();

 private:
  void runQueued();

  HandOverQueue m_queue;
};
