#include "win/logo.h"

#include <cmath>
#include <numbers>

namespace {

const COLORREF kNavy = RGB(16, 42, 96);
const COLORREF kSky = RGB(36, 128, 208);
const COLORREF kAmber = RGB(240, 160, 32);

void Shape(HDC dc, COLORREF pen, int penWidth, COLORREF brush, bool filled, RECT r) {
  HPEN p = penWidth > 0 ? CreatePen(PS_SOLID, penWidth, pen)
                        : static_cast<HPEN>(GetStockObject(NULL_PEN));
  HBRUSH b = filled ? CreateSolidBrush(brush) : static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, p);
  HGDIOBJ oldBrush = SelectObject(dc, b);
  Ellipse(dc, r.left, r.top, r.right, r.bottom);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  if (penWidth > 0) DeleteObject(p);
  if (filled) DeleteObject(b);
}

}  // namespace

void DrawLogo(HDC dc, int x, int y, int dpi) {
  const int saved = SaveDC(dc);
  SetGraphicsMode(dc, GM_ADVANCED);
  const float scale = static_cast<float>(dpi) / 96.0f;
  XFORM place{scale, 0, 0, scale, static_cast<float>(x), static_cast<float>(y)};
  SetWorldTransform(dc, &place);

  // The disc, its lower half lighter.
  Shape(dc, 0, 0, kNavy, true, {6, 6, 62, 62});
  {
    HBRUSH sky = CreateSolidBrush(kSky);
    HGDIOBJ oldBrush = SelectObject(dc, sky);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Chord(dc, 6, 6, 62, 62, 6, 34, 62, 34);  // counter-clockwise: the lower half
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(sky);
  }

  // The orbit, tilted 24 degrees about the disc's centre, with its satellite.
  const float a = static_cast<float>(-24.0 * std::numbers::pi / 180.0);
  XFORM tilt{std::cos(a), std::sin(a), -std::sin(a), std::cos(a), 34, 34};
  SetWorldTransform(dc, &tilt);
  ModifyWorldTransform(dc, &place, MWT_RIGHTMULTIPLY);
  Shape(dc, kAmber, 3, 0, false, {-36, -11, 36, 11});
  Shape(dc, 0, 0, RGB(255, 255, 255), true, {29, -9, 37, -1});
  SetWorldTransform(dc, &place);

  // The name, and a thin rule under it in the orbit's colour.
  HFONT font = CreateFontA(-44, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                           ANTIALIASED_QUALITY, 0, "Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kNavy);
  SetTextCharacterExtra(dc, 1);
  RECT name{74, 0, 299, 56};
  DrawTextA(dc, "Korvane", -1, &name, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  HPEN rule = CreatePen(PS_SOLID, 3, kAmber);
  HGDIOBJ oldPen = SelectObject(dc, rule);
  MoveToEx(dc, 77, 58, nullptr);
  LineTo(dc, 292, 58);
  SelectObject(dc, oldPen);
  DeleteObject(rule);
  RestoreDC(dc, saved);
}
