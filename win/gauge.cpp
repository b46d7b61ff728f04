#include "win/gauge.h"

#include <string>

#include "win/win_util.h"

namespace {

COLORREF Ref(TColor c) {
  return RGB(c.r, c.g, c.b);
}

// A 32-bit bitmap selected into its own memory DC, filled black.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    Fill({0, 0, width, height}, RGB(0, 0, 0));
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC Dc() const { return dc_; }
  void Fill(RECT r, COLORREF color) const {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc_, &r, brush);
    DeleteObject(brush);
  }
  void XorFrom(const Canvas& other) const {
    BitBlt(dc_, 0, 0, width_, height_, other.dc_, 0, 0, SRCINVERT);
  }
  GaugePixels Pixels() const {
    GdiFlush();
    GaugePixels p{width_, height_, {}};
    const auto* src = static_cast<const std::uint32_t*>(bits_);
    p.rgb.assign(src, src + static_cast<std::size_t>(width_) * height_);
    for (auto& px : p.rgb) px &= 0xFFFFFFu;
    return p;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

RECT Win(const GaugeRect& r) {
  return {r.L, r.T, r.R, r.B};
}

void DrawRound(const Canvas& c, const TGaugeModel& m, const GaugeRect& area, int width,
               COLORREF windowColor) {
  const int percent = m.ProgressPercent();
  const bool single = m.BorderStyle() == TBorderStyle::bsSingle;
  c.Fill(Win(area), windowColor);
  const GdiTools pencil(c.Dc(), CreatePen(PS_SOLID, 1, Ref(m.ForeColor())),
                        CreateSolidBrush(Ref(m.BackColor())));
  if (m.Kind() == TGaugeKind::gkPie) {
    const GaugeRect box = PieBox(area, m.BorderStyle());
    Ellipse(c.Dc(), box.L, box.T, box.R, box.B);
    if (percent <= 0) return;
    const GaugePoint from = PieStartPoint(box, percent);
    const GdiTools wedge(c.Dc(), CreatePen(PS_SOLID, 1, Ref(m.ForeColor())),
                         CreateSolidBrush(Ref(m.ForeColor())));
    Pie(c.Dc(), box.L, box.T, box.R, box.B, from.x, from.y, box.R / 2, 0);
    return;
  }
  const int extra = single ? 1 : 0;
  const int wBox = area.R - area.L + extra;
  const int hBox = area.B - area.T + extra;
  // The upper half of the ellipse in (L, T, W, 2H - 1): the dial.
  Pie(c.Dc(), area.L, area.T, wBox, 2 * hBox - 1, area.L + wBox, area.B - 1, area.L, area.B - 1);
  MoveToEx(c.Dc(), area.L, area.B, nullptr);
  LineTo(c.Dc(), area.L + wBox, area.B);
  if (percent > 0) {
    const GaugePoint tip = NeedleTip(area, width, percent);
    MoveToEx(c.Dc(), width / 2, area.B - 1, nullptr);
    LineTo(c.Dc(), tip.x, tip.y);
  }
}

void DrawKind(const Canvas& c, const TGaugeModel& m, const GaugeRect& area, int width,
              COLORREF windowColor) {
  const int percent = m.ProgressPercent();
  switch (m.Kind()) {
    case TGaugeKind::gkText:
      c.Fill(Win(area), Ref(m.BackColor()));
      break;
    case TGaugeKind::gkHorizontalBar:
    case TGaugeKind::gkVerticalBar: {
      c.Fill(Win(area), Ref(m.BackColor()));
      const GaugeRect bar = m.Kind() == TGaugeKind::gkHorizontalBar
                                ? HorizontalBarRect(area, percent)
                                : VerticalBarRect(area, percent);
      if (bar.R > bar.L && bar.B > bar.T) c.Fill(Win(bar), Ref(m.ForeColor()));
      break;
    }
    case TGaugeKind::gkPie:
    case TGaugeKind::gkNeedle:
      DrawRound(c, m, area, width, windowColor);
      break;
  }
}

void DrawPercent(const Canvas& c, const TGaugeModel& m, const GaugeRect& area, HFONT font) {
  const std::string s = std::to_string(m.ProgressPercent()) + "%";
  // Plain white pixels, so that the XOR shows black on white and white on black.
  LOGFONTA lf{};
  GetObjectA(font ? font : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfQuality = NONANTIALIASED_QUALITY;
  HFONT plain = CreateFontIndirectA(&lf);
  HGDIOBJ old = SelectObject(c.Dc(), plain);
  SIZE size{};
  GetTextExtentPoint32A(c.Dc(), s.c_str(), static_cast<int>(s.size()), &size);
  const int x = (area.R - area.L + 1 - size.cx) / 2;
  const int y = (area.B - area.T + 1 - size.cy) / 2;
  SetBkMode(c.Dc(), TRANSPARENT);
  SetTextColor(c.Dc(), RGB(255, 255, 255));
  const RECT clip = Win(area);
  ExtTextOutA(c.Dc(), x, y, ETO_CLIPPED, &clip, s.c_str(), static_cast<UINT>(s.size()), nullptr);
  SelectObject(c.Dc(), old);
  DeleteObject(plain);
}

void Compose(const Canvas& image, const TGaugeModel& m, int width, int height, HFONT font,
             COLORREF windowColor) {
  const GaugeRect area = GaugeArea(width, height, m.BorderStyle());
  {
    const Canvas overlay(width, height);
    DrawKind(overlay, m, area, width, windowColor);
    image.XorFrom(overlay);
  }
  if (m.ShowText()) {
    const Canvas text(width, height);
    DrawPercent(text, m, area, font);
    image.XorFrom(text);
  }
}

LRESULT CALLBACK GaugeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETFONT:
      SetPropA(hwnd, "KvFont", reinterpret_cast<HANDLE>(wp));
      if (LOWORD(lp)) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the gauge paints its whole rectangle
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      const auto* model =
          reinterpret_cast<const TGaugeModel*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
      RECT r;
      GetClientRect(hwnd, &r);
      if (model && r.right > 0 && r.bottom > 0) {
        PaintGauge(dc, 0, 0, *model, r.right, r.bottom,
                   static_cast<HFONT>(GetPropA(hwnd, "KvFont")));
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropA(hwnd, "KvFont");
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

GaugePixels RenderGauge(const TGaugeModel& model, int width, int height, HFONT font,
                        COLORREF windowColor) {
  const Canvas image(width, height);
  Compose(image, model, width, height, font, windowColor);
  return image.Pixels();
}

void PaintGauge(HDC target, int x, int y, const TGaugeModel& model, int width, int height,
                HFONT font) {
  const Canvas image(width, height);
  Compose(image, model, width, height, font, GetSysColor(COLOR_BTNFACE));
  BitBlt(target, x, y, width, height, image.Dc(), 0, 0, SRCCOPY);
}

void RegisterGaugeClass(HINSTANCE) {
  RegisterWindowClass(kGaugeClass, GaugeProc, false);
}
