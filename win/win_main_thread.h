// The hand-over to the window's thread over its message loop: a worker's call is placed in a
// queue, a message posted to a hidden window wakes the loop, and the worker waits until the
// call has run, as the Qt window's blocking queued call does.
#pragma once

#include <windows.h>

#include <functional>

#include "components/hand_over_queue.h"
#include "components/main_thread.h"

class WinMainThread final : public IMainThread {
 public:
  WinMainThread();  // the constructing thread is the main thread
  ~WinMainThread() override;

  bool CallOnMainThread(std::function<void()> fn, const void* owner = nullptr) override;
  void CancelPending(const void* owner) override;
  void ProcessPendingMessages() override;
  bool IsMainThread() const override;

  // Drops every queued and later call and releases the waiting workers.
  void Shutdown();
  // Set by the window: a message that the loop's own filter (Tab, mnemonics, F1) must see.
  std::function<bool(MSG&)> PreTranslate;

 private:
  static LRESULT CALLBACK WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HandOverQueue queue_;
  DWORD threadId_;
  HWND wake_ = nullptr;
};

// Runs the thread's message loop until WM_QUIT; `filter` may take a message first.
int RunMessageLoop(const std::function<bool(MSG&)>& filter);
