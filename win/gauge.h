// The progress gauge drawn with GDI: an off-screen bitmap on black, the kind's shape combined
// by XOR, then the percentage in white combined by XOR, so that the text inverts whatever lies
// under it and the frame outside the drawing area stays black. The arithmetic is the core's.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "sequencer/gauge_model.h"

// The gauge's picture, 0x00RRGGBB per pixel, row by row from the top.
struct GaugePixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> rgb;
  std::uint32_t At(int x, int y) const { return rgb[static_cast<std::size_t>(y * width + x)]; }
};

// `font` draws the percentage; `windowColor` is what a pie or needle leaves outside its dial.
GaugePixels RenderGauge(const TGaugeModel& model, int width, int height, HFONT font,
                        COLORREF windowColor);
// Draws the gauge at (x, y) of `target`.
void PaintGauge(HDC target, int x, int y, const TGaugeModel& model, int width, int height,
                HFONT font);

// The gauge's child window: class "KvGauge", GWLP_USERDATA the TGaugeModel, the font set by
// WM_SETFONT.
void RegisterGaugeClass(HINSTANCE instance);
inline constexpr const char* kGaugeClass = "KvGauge";
