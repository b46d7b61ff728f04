// The progress gauge's state and arithmetic, without drawing: the Qt widget paints from it.
// The extent of the bar, the pie's starting point and the needle's tip are computed here so
// that every front end draws the same shape and tests reach the numbers without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>

#include "sequencer/colors.h"

enum class TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TBorderStyle { bsNone, bsSingle };

// The class library's invalid-operation error ("Value must be between %d and %d").
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Part * 100 / Whole in floating point, truncated; 0 when Whole is 0. Taken as 64-bit so that
// the difference of two extreme 32-bit bounds cannot overflow.
int RatioPercent(std::int64_t part, std::int64_t whole);
// Length * (Percent * 0.01), the product Percent * 0.01 formed first, truncated: 99 percent
// of 100 pixels gives 98.
int ScalePercent(int percent, int length);

// A rectangle as the window system gives it: right and bottom edges excluded.
struct GaugeRect {
  int L = 0, T = 0, R = 0, B = 0;
  friend bool operator==(const GaugeRect&, const GaugeRect&) = default;
};
struct GaugePoint {
  int x = 0, y = 0;
  friend bool operator==(const GaugePoint&, const GaugePoint&) = default;
};

// The drawing area: the client rectangle, less one pixel on every side with a single border
// (the frame left outside it stays black).
GaugeRect GaugeArea(int width, int height, TBorderStyle border);
// The filled rectangle of a horizontal bar at `percent`, from (L, T) to (F, H) with
// W = R - L + 1 and H = B - T + 1; empty (R <= L) when F is below 1.
GaugeRect HorizontalBarRect(const GaugeRect& area, int percent);
// F of the horizontal bar: ScalePercent(percent, W), at most W.
int HorizontalBarExtent(const GaugeRect& area, int percent);
// The filled rectangle of a vertical bar: from (L, H - F) to (W, H).
GaugeRect VerticalBarRect(const GaugeRect& area, int percent);
// F of the vertical bar: ScalePercent(percent, H), at most H - 1.
int VerticalBarExtent(const GaugeRect& area, int percent);
// The box of the pie's ellipse and of the needle's dial: (L, T, W, H) with W = R - L and
// H = B - T, each plus 1 with a single border (W and H are the box's right and bottom).
GaugeRect PieBox(const GaugeRect& area, TBorderStyle border);
// Where the pie's wedge starts; it runs counter-clockwise from here to (W div 2, 0), so the
// wedge grows clockwise from the top.
GaugePoint PieStartPoint(const GaugeRect& box, int percent);
// The needle's tip; it starts at (width div 2, B - 1) and lies left at 0 percent, upright at 50
// and right at 100.
GaugePoint NeedleTip(const GaugeRect& area, int controlWidth, int percent);
// Nearest whole pixel, halves to the even neighbour.
int RoundHalfEven(double value);

class TGaugeModel {
 public:
  std::int32_t MinValue() const { return minValue_; }
  std::int32_t MaxValue() const { return maxValue_; }
  std::int32_t Progress() const { return progress_; }
  TGaugeKind Kind() const { return kind_; }
  bool ShowText() const { return showText_; }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  TColor ForeColor() const { return foreColor_; }
  TColor BackColor() const { return backColor_; }
  int ProgressPercent() const;

  // Writers store and repaint only on a change; SetMinValue/SetMaxValue throw
  // EInvalidOperation for a value beyond the other bound (unless Loading).
  void SetMinValue(std::int32_t value);
  void SetMaxValue(std::int32_t value);
  void SetProgress(std::int32_t value);  // clamped; repaints only when the percentage changes
  void SetKind(TGaugeKind value);
  void SetShowText(bool value);
  void SetBorderStyle(TBorderStyle value);
  void SetForeColor(TColor value);
  void SetBackColor(TColor value);

  bool Loading = false;             // being loaded from a form description: no bound checks
  std::function<void()> OnRepaint;  // raised at each repaint a writer asks for
  int RepaintCount = 0;             // repaints asked for so far

  // Further views (a widget) that repaint with the gauge; OnRepaint stays the window model's.
  int AddRepaintListener(std::function<void()> listener);
  void RemoveRepaintListener(int id);

 private:
  void Repaint();
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 100;
  std::int32_t progress_ = 0;
  TGaugeKind kind_ = TGaugeKind::gkHorizontalBar;
  bool showText_ = true;
  TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
  TColor foreColor_ = clBlack;
  TColor backColor_ = clWhite;
  std::map<int, std::function<void()>> listeners_;
  int nextListenerId_ = 1;
};
