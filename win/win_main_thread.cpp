#include "win/win_main_thread.h"

namespace {
constexpr UINT kWake = WM_APP + 1;
constexpr const char* kWakeClass = "KvMainThreadWake";
}  // namespace

WinMainThread::WinMainThread() : threadId_(GetCurrentThreadId()) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &WinMainThread::WakeProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kWakeClass;
  RegisterClassA(&wc);  // a second registration fails harmlessly
  wake_ = CreateWindowExA(0, kWakeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                          nullptr);
  SetWindowLongPtrA(wake_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WinMainThread::~WinMainThread() {
  Shutdown();
  if (wake_) DestroyWindow(wake_);
}

LRESULT CALLBACK WinMainThread::WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWake) {
    auto* self = reinterpret_cast<WinMainThread*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) self->queue_.RunAll();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool WinMainThread::IsMainThread() const {
  return GetCurrentThreadId() == threadId_;
}

bool WinMainThread::CallOnMainThread(std::function<void()> fn, const void* owner) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  // One posted message per call; one that finds the queue already served does nothing.
  return queue_.PlaceAndWait(std::move(fn), owner, [this] { PostMessageA(wake_, kWake, 0, 0); });
}

void WinMainThread::CancelPending(const void* owner) {
  queue_.Cancel(owner);
}

void WinMainThread::ProcessPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The loop that waits for it must still see it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (PreTranslate && PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  queue_.RunAll();
}

void WinMainThread::Shutdown() {
  queue_.Shutdown();
}

int RunMessageLoop(const std::function<bool(MSG&)>& filter) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (filter && filter(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}
