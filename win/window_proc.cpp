// The main window's messages: sizes and scrolling at the screen's resolution, the keyboard,
// colours, the logo and closing.
#include <algorithm>

#include "win/help_viewer.h"
#include "win/logo.h"
#include "win/main_window.h"
#include "win/win_util.h"

LRESULT CALLBACK WinForm1::MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowOwner<WinForm1>(hwnd, msg, lp);
  if (!self || !self->hwnd_) return DefWindowProcA(hwnd, msg, wp, lp);
  return self->OnMain(msg, wp, lp);
}

LRESULT CALLBACK WinForm1::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowOwner<WinForm1>(hwnd, msg, lp);
  LRESULT result = 0;
  if (self && self->OnPanel(msg, wp, lp, result)) return result;
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool WinForm1::OnPanel(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND control = reinterpret_cast<HWND>(lp);
      const auto color = reinterpret_cast<UINT_PTR>(GetPropA(control, "KvColor"));
      SetTextColor(dc, color & kColorSet ? static_cast<COLORREF>(color & 0xFFFFFF) : RGB(0, 0, 0));
      const int id = GetDlgCtrlID(control) - kControlIdBase;
      const bool memo =
          id == static_cast<int>(Ctl::MemoCable) || id == static_cast<int>(Ctl::FUpHist);
      SetBkColor(dc, memo ? RGB(255, 255, 255) : GetSysColor(COLOR_BTNFACE));
      result = reinterpret_cast<LRESULT>(memo ? white_ : face_);
      return true;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      FillRect(item->hDC, &item->rcItem, face_);
      const int w = item->rcItem.right - item->rcItem.left;
      const int h = item->rcItem.bottom - item->rcItem.top;
      DrawLogo(item->hDC, (w - Scale(kLogoWidth)) / 2, (h - Scale(kLogoHeight)) / 2, dpi_);
      result = TRUE;
      return true;
    }
  }
  return false;
}

LRESULT WinForm1::OnMain(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      LayoutPanel();
      return 0;
    case WM_GETMINMAXINFO:
      MinTrackSize(*reinterpret_cast<MINMAXINFO*>(lp));
      return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
      OnScroll(msg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wp));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd_, msg, wp, lp);
}

bool WinForm1::PreTranslate(MSG& msg) {
  if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) {
    WinHelpViewer* help = ui_.Help();
    return help && help->Hwnd() && IsDialogMessageA(help->Hwnd(), &msg);
  }
  // F1 is the Help button's key, as in any window.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_F1) {
    Guarded(&MainForm::BtnHelpClick);
    return true;
  }
  const bool handled = IsDialogMessageA(hwnd_, &msg) != FALSE;
  FollowFocus();
  return handled;
}

void WinForm1::PlaceAll() {
  placed_ = true;
  placedMemo_ = Model().Visible(Ctl::MemoCable);
  const int lift = placedMemo_ ? 0 : kPortRowLift;
  auto place = [this, lift](HWND hwnd, const Placement& p) {
    const bool portRow = p.id == Ctl::CommPortBox || p.id == Ctl::Label3;
    const int top = p.y - (portRow ? lift : 0);
    if (hwnd) MoveWindow(hwnd, Scale(p.x), Scale(top), Scale(p.w), Scale(p.h), TRUE);
  };
  for (const ControlDesign& c : kControls) {
    place(controls_[static_cast<std::size_t>(c.id)], PlacementOf(c.id));
    Refresh(c.id);
  }
  place(portDevice_, kPortDevicePlace);
  SendMessageA(portDevice_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(Scale(13), false, false)),
               TRUE);
  LayoutPanel();
}

void WinForm1::LayoutPanel() {
  if (!panel_) return;
  // The design area keeps its size and stands in the middle of a larger window; in a smaller
  // one it scrolls, so that no button is lost.
  const int dw = Scale(kDesignWidth), dh = Scale(kDesignHeight);
  RECT client;
  GetClientRect(hwnd_, &client);
  for (int bar : {SB_HORZ, SB_VERT}) {
    const int have = bar == SB_HORZ ? client.right : client.bottom;
    const int need = bar == SB_HORZ ? dw : dh;
    SCROLLINFO si{
        sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, need - 1, static_cast<UINT>(have), 0, 0};
    LONG& pos = bar == SB_HORZ ? scroll_.x : scroll_.y;
    pos = std::clamp<LONG>(pos, 0, std::max(0, need - have));
    si.nPos = pos;
    SetScrollInfo(hwnd_, bar, &si, TRUE);
  }
  GetClientRect(hwnd_, &client);
  const int x = client.right > dw ? (client.right - dw) / 2 : -scroll_.x;
  const int y = client.bottom > dh ? (client.bottom - dh) / 2 : -scroll_.y;
  MoveWindow(panel_, x, y, dw, dh, TRUE);
}

void WinForm1::OnScroll(int bar, int code) {
  SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
  GetScrollInfo(hwnd_, bar, &si);
  int pos = si.nPos;
  const int line = Scale(16);
  switch (code) {
    case SB_LINEUP:
      pos -= line;
      break;
    case SB_LINEDOWN:
      pos += line;
      break;
    case SB_PAGEUP:
      pos -= static_cast<int>(si.nPage);
      break;
    case SB_PAGEDOWN:
      pos += static_cast<int>(si.nPage);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      pos = si.nTrackPos;
      break;
    case SB_TOP:
      pos = 0;
      break;
    case SB_BOTTOM:
      pos = si.nMax;
      break;
    default:
      return;
  }
  (bar == SB_HORZ ? scroll_.x : scroll_.y) = pos;
  LayoutPanel();
}

void WinForm1::FollowFocus() {
  // Tab or a mnemonic may give the focus to a control scrolled out of sight; it is brought into
  // view once, when it gets the focus, so that scrolling away from it afterwards stays possible.
  HWND focus = GetFocus();
  if (focus == focusSeen_) return;
  focusSeen_ = focus;
  if (!focus || !IsChild(panel_, focus)) return;
  RECT r;
  GetWindowRect(focus, &r);
  MapWindowPoints(HWND_DESKTOP, panel_, reinterpret_cast<POINT*>(&r), 2);
  RECT client;
  GetClientRect(hwnd_, &client);
  const POINT before = scroll_;
  // The far edge first, so that a control larger than the view shows its start.
  const auto fit = [](LONG& pos, LONG low, LONG high, LONG have) {
    if (high - pos > have) pos = high - have;
    if (low < pos) pos = low;
  };
  fit(scroll_.x, r.left, r.right, client.right);
  fit(scroll_.y, r.top, r.bottom, client.bottom);
  if (scroll_.x != before.x || scroll_.y != before.y) LayoutPanel();
}

void WinForm1::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceAll();
}

void WinForm1::MinTrackSize(MINMAXINFO& info) const {
  // Never smaller than the design size, unless the screen itself is smaller: then the
  // content scrolls.
  RECT r{0, 0, Scale(kDesignWidth), Scale(kDesignHeight)};
  AdjustWindowRectExForDpi(&r, WS_OVERLAPPEDWINDOW, FALSE, 0, static_cast<UINT>(dpi_));
  MONITORINFO monitor{sizeof monitor, {}, {}, 0};
  GetMonitorInfoA(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  info.ptMinTrackSize.x = std::min<LONG>(r.right - r.left, work.right - work.left);
  info.ptMinTrackSize.y = std::min<LONG>(r.bottom - r.top, work.bottom - work.top);
}
