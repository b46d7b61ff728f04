#include "win/logo.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "win/win_util.h"

namespace {

const COLORREF kNavy = RGB(16, 42, 96);
const COLORREF kSky = RGB(36, 128, 208);
const COLORREF kAmber = RGB(240, 160, 32);

// Design units (the logo's 299 x 68 box) to device pixels.
struct Scaler {
  int x0, y0;
  double s;
  int X(double x) const { return x0 + static_cast<int>(std::lround(x * s)); }
  int Y(double y) const { return y0 + static_cast<int>(std::lround(y * s)); }
  int L(double v) const { return std::max(1, static_cast<int>(std::lround(v * s))); }
};

// The orbit: an ellipse of half-axes (36, 11) about the disc's centre, turned 24 degrees.
std::vector<POINT> Orbit(const Scaler& sc) {
  const double turn = -24.0 * std::numbers::pi / 180.0;
  std::vector<POINT> points;
  for (int i = 0; i <= 72; ++i) {
    const double a = 2 * std::numbers::pi * i / 72;
    const double x = 36 * std::cos(a), y = 11 * std::sin(a);
    points.push_back({sc.X(34 + x * std::cos(turn) - y * std::sin(turn)),
                      sc.Y(34 + x * std::sin(turn) + y * std::cos(turn))});
  }
  return points;
}

}  // namespace

void DrawLogo(HDC dc, int x, int y, int dpi) {
  const Scaler sc{x, y, dpi / 96.0};
  {
    // The disc, its lower half lighter.
    const GdiTools navy(dc, nullptr, CreateSolidBrush(kNavy));
    Ellipse(dc, sc.X(6), sc.Y(6), sc.X(62), sc.Y(62));
  }
  {
    const GdiTools sky(dc, nullptr, CreateSolidBrush(kSky));
    Chord(dc, sc.X(6), sc.Y(6), sc.X(62), sc.Y(62), sc.X(6), sc.Y(34), sc.X(62), sc.Y(34));
  }
  {
    const GdiTools amber(dc, CreatePen(PS_SOLID, sc.L(3), kAmber), nullptr);
    const std::vector<POINT> orbit = Orbit(sc);
    Polyline(dc, orbit.data(), static_cast<int>(orbit.size()));
  }
  {
    // The satellite on the orbit's right, as the orbit turns it.
    const double turn = -24.0 * std::numbers::pi / 180.0;
    const double cx = 34 + 33 * std::cos(turn) + 5 * std::sin(turn);
    const double cy = 34 + 33 * std::sin(turn) - 5 * std::cos(turn);
    const GdiTools white(dc, nullptr, CreateSolidBrush(RGB(255, 255, 255)));
    Ellipse(dc, sc.X(cx - 4), sc.Y(cy - 4), sc.X(cx + 4), sc.Y(cy + 4));
  }
  // The name, and a thin rule under it in the orbit's colour.
  HFONT font = CreateFontA(-sc.L(44), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                           ANTIALIASED_QUALITY, 0, "Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kNavy);
  SetTextCharacterExtra(dc, sc.L(1));
  RECT name{sc.X(74), sc.Y(0), sc.X(299), sc.Y(56)};
  DrawTextA(dc, "Korvane", -1, &name, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SetTextCharacterExtra(dc, 0);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  const GdiTools rule(dc, CreatePen(PS_SOLID, sc.L(2.5), kAmber), nullptr);
  MoveToEx(dc, sc.X(77), sc.Y(58), nullptr);
  LineTo(dc, sc.X(292), sc.Y(58));
}
