#include "sequencer/gauge_model.h"
// TODO(owner): gauge arithmetic
int RatioPercent(std::int32_t part, std::int32_t whole) {
  return whole == 0 ? 0 : static_cast<int>(static_cast<double>(part) * 100.0 / whole);
}
int ScalePercent(int percent, int length) { return static_cast<int>(length * (percent * 0.01)); }
int TGaugeModel::ProgressPercent() const { return RatioPercent(progress_ - minValue_, maxValue_ - minValue_); }
void TGaugeModel::SetMinValue(std::int32_t v) { minValue_ = v; }
void TGaugeModel::SetMaxValue(std::int32_t v) { maxValue_ = v; }
void TGaugeModel::SetProgress(std::int32_t v) { progress_ = v; }
void TGaugeModel::SetKind(TGaugeKind v) { kind_ = v; }
void TGaugeModel::SetShowText(bool v) { showText_ = v; }
void TGaugeModel::SetBorderStyle(TBorderStyle v) { borderStyle_ = v; }
void TGaugeModel::SetForeColor(TColor v) { foreColor_ = v; }
void TGaugeModel::SetBackColor(TColor v) { backColor_ = v; }
void TGaugeModel::Repaint() { ++RepaintCount; if (OnRepaint) OnRepaint(); }
