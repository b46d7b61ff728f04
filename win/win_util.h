// Small pieces that every window of the program shares: its classes, the object behind a
// window procedure, a control's text, and pens and brushes that clean up after themselves.
#pragma once

#include <windows.h>

#include <string>

// Registers a window class of this program with the button-face background; `icon`: the
// program's icon in its caption. A second registration fails harmlessly.
void RegisterWindowClass(const char* name, WNDPROC proc, bool icon);

// The object that a window created with it as lpParam belongs to; null before WM_NCCREATE.
template <typename T>
T* WindowOwner(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// A window's or control's text.
std::string WindowTextOf(HWND hwnd);

// Arial at `pixels`, as the window's text is.
HFONT ArialFont(int pixels, bool bold = false, bool italic = false);

// A pen and a brush selected into a DC for one shape (null: none); put back and deleted at the
// end of the scope.
class GdiTools {
 public:
  GdiTools(HDC dc, HPEN pen, HBRUSH brush);
  ~GdiTools();
  GdiTools(const GdiTools&) = delete;
  GdiTools& operator=(const GdiTools&) = delete;

 private:
  HDC dc_;
  HPEN pen_;
  HBRUSH brush_;
  HGDIOBJ oldPen_, oldBrush_;
};
