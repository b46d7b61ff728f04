// The progress gauge's state and arithmetic, without drawing: the Qt widget paints from it.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>

#include "sequencer/colors.h"

enum class TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TBorderStyle { bsNone, bsSingle };

// The class library's invalid-operation error ("Value must be between %d and %d").
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Part * 100 / Whole in floating point, truncated; 0 when Whole is 0.
int RatioPercent(std::int32_t part, std::int32_t whole);
// Length * (Percent * 0.01), the product Percent * 0.01 formed first, truncated.
int ScalePercent(int percent, int length);

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

  bool Loading = false;      // being loaded from a form description: no bound checks
  std::function<void()> OnRepaint;  // raised at each repaint a writer asks for
  int RepaintCount = 0;      // repaints asked for so far

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
};
