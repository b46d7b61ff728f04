#include "sequencer/gauge_model.h"

#include <cmath>
#include <numbers>
#include <string>

namespace {

constexpr std::int32_t kLowestBound =
    -2147483647;  // the message's bounds, as the library words them
constexpr std::int32_t kHighestBound = 2147483647;

EInvalidOperation OutOfRange(std::int64_t low, std::int64_t high) {
  return EInvalidOperation("Value must be between " + std::to_string(low) + " and " +
                           std::to_string(high));
}

}  // namespace

int RatioPercent(std::int64_t part, std::int64_t whole) {
  if (whole == 0) return 0;
  return static_cast<int>(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
}

int ScalePercent(int percent, int length) {
  const double fraction = percent * 0.01;
  // Truncate the exact product: rounding it to a double first can reach the next whole
  // number (100 x 0.99 rounds to 99.0 although the product lies just below it).
  const double product = length * fraction;
  double whole = std::trunc(product);
  if (product == whole) {
    const double error = std::fma(static_cast<double>(length), fraction, -product);
    if (product > 0 && error < 0) whole -= 1;
    if (product < 0 && error > 0) whole += 1;
  }
  return static_cast<int>(whole);
}

int RoundHalfEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

GaugeRect GaugeArea(int width, int height, TBorderStyle border) {
  GaugeRect a{0, 0, width, height};
  if (border == TBorderStyle::bsSingle) {
    ++a.L;
    ++a.T;
    --a.R;
    --a.B;
  }
  return a;
}

int HorizontalBarExtent(const GaugeRect& area, int percent) {
  const int w = area.R - area.L + 1;
  const int f = ScalePercent(percent, w);
  return f > w ? w : f;
}

GaugeRect HorizontalBarRect(const GaugeRect& area, int percent) {
  const int h = area.B - area.T + 1;
  const int f = HorizontalBarExtent(area, percent);
  if (f < 1) return GaugeRect{area.L, area.T, area.L, area.T};
  return GaugeRect{area.L, area.T, f, h};
}

int VerticalBarExtent(const GaugeRect& area, int percent) {
  const int h = area.B - area.T + 1;
  const int f = ScalePercent(percent, h);
  return f >= h ? h - 1 : f;
}

GaugeRect VerticalBarRect(const GaugeRect& area, int percent) {
  const int w = area.R - area.L + 1;
  const int h = area.B - area.T + 1;
  const int f = VerticalBarExtent(area, percent);
  return GaugeRect{area.L, h - f, w, h};
}

GaugeRect PieBox(const GaugeRect& area, TBorderStyle border) {
  const int extra = border == TBorderStyle::bsSingle ? 1 : 0;
  return GaugeRect{area.L, area.T, area.R - area.L + extra, area.B - area.T + extra};
}

GaugePoint PieStartPoint(const GaugeRect& box, int percent) {
  const int mx = box.R / 2;
  const int my = box.B / 2;
  const double a = (percent / 50.0 + 0.5) * std::numbers::pi;
  return GaugePoint{RoundHalfEven(mx * (1 - std::cos(a))), RoundHalfEven(my * (1 - std::sin(a)))};
}

GaugePoint NeedleTip(const GaugeRect& area, int controlWidth, int percent) {
  const int c = controlWidth / 2;
  const double a = percent / 100.0 * std::numbers::pi;
  return GaugePoint{RoundHalfEven(c * (1 - std::cos(a))),
                    RoundHalfEven((area.B - 1) * (1 - std::sin(a)))};
}

int TGaugeModel::ProgressPercent() const {
  return RatioPercent(static_cast<std::int64_t>(progress_) - minValue_,
                      static_cast<std::int64_t>(maxValue_) - minValue_);
}

void TGaugeModel::SetMinValue(std::int32_t value) {
  if (value == minValue_) return;
  if (value > maxValue_ && !Loading) {
    throw OutOfRange(kLowestBound, static_cast<std::int64_t>(maxValue_) - 1);
  }
  minValue_ = value;
  if (progress_ < value) progress_ = value;
  Repaint();
}

void TGaugeModel::SetMaxValue(std::int32_t value) {
  if (value == maxValue_) return;
  if (value < minValue_ && !Loading) {
    throw OutOfRange(static_cast<std::int64_t>(minValue_) + 1, kHighestBound);
  }
  maxValue_ = value;
  if (progress_ > value) progress_ = value;
  Repaint();
}

void TGaugeModel::SetProgress(std::int32_t value) {
  const int before = ProgressPercent();
  if (value < minValue_) {
    value = minValue_;
  } else if (value > maxValue_) {
    value = maxValue_;
  }
  if (value == progress_) return;
  progress_ = value;
  if (ProgressPercent() != before) Repaint();
}

void TGaugeModel::SetKind(TGaugeKind value) {
  if (value == kind_) return;
  kind_ = value;
  Repaint();
}

void TGaugeModel::SetShowText(bool value) {
  if (value == showText_) return;
  showText_ = value;
  Repaint();
}

void TGaugeModel::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  Repaint();
}

void TGaugeModel::SetForeColor(TColor value) {
  if (value == foreColor_) return;
  foreColor_ = value;
  Repaint();
}

void TGaugeModel::SetBackColor(TColor value) {
  if (value == backColor_) return;
  backColor_ = value;
  Repaint();
}

int TGaugeModel::AddRepaintListener(std::function<void()> listener) {
  const int id = nextListenerId_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void TGaugeModel::RemoveRepaintListener(int id) {
  listeners_.erase(id);
}

void TGaugeModel::Repaint() {
  ++RepaintCount;
  if (OnRepaint) OnRepaint();
  // A copy: a listener may remove itself while it runs.
  const auto listeners = listeners_;
  for (const auto& [id, listener] : listeners) listener();
}
