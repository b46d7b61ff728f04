#include "win/win_util.h"

void RegisterWindowClass(const char* name, WNDPROC proc, bool icon) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = icon ? LoadIcon(instance, MAKEINTRESOURCE(1)) : nullptr;
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

std::string WindowTextOf(HWND hwnd) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

HFONT ArialFont(int pixels, bool bold, bool italic) {
  return CreateFontA(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, 0, 0, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                     "Arial");
}

GdiTools::GdiTools(HDC dc, HPEN pen, HBRUSH brush) : dc_(dc), pen_(pen), brush_(brush) {
  oldPen_ = SelectObject(dc_, pen_ ? static_cast<HGDIOBJ>(pen_) : GetStockObject(NULL_PEN));
  oldBrush_ = SelectObject(dc_, brush_ ? static_cast<HGDIOBJ>(brush_) : GetStockObject(NULL_BRUSH));
}

GdiTools::~GdiTools() {
  SelectObject(dc_, oldPen_);
  SelectObject(dc_, oldBrush_);
  if (pen_) DeleteObject(pen_);
  if (brush_) DeleteObject(brush_);
}
