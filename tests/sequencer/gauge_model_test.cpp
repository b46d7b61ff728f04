// The progress gauge's writers, repaint rule, bound errors and drawing geometry.
#include "sequencer/gauge_model.h"

#include <gtest/gtest.h>

#include "sequencer/window_model.h"

TEST(GaugeModel, PercentageArithmetic) {
  EXPECT_EQ(RatioPercent(5, 0), 0);
  EXPECT_EQ(RatioPercent(1, 3), 33);
  EXPECT_EQ(RatioPercent(9, 1000), 0);
  EXPECT_EQ(RatioPercent(10, 1000), 1);
  EXPECT_EQ(ScalePercent(99, 100), 98);  // 0.99 is formed first
  EXPECT_EQ(ScalePercent(100, 233), 233);
  EXPECT_EQ(ScalePercent(50, 232), 116);
  EXPECT_EQ(ScalePercent(0, 232), 0);

  // Extreme bounds do not overflow.
  TGaugeModel g;
  g.SetMinValue(-2147483647);
  g.SetMaxValue(2147483647);
  g.SetProgress(0);
  EXPECT_EQ(g.ProgressPercent(), 50);
}

TEST(GaugeModel, ProgressIsClampedAndRepaintsOnlyWhenThePercentageMoves) {
  TGaugeModel g;
  int notified = 0;
  g.OnRepaint = [&] { ++notified; };
  g.SetProgress(500);
  EXPECT_EQ(g.Progress(), 100);
  EXPECT_EQ(g.ProgressPercent(), 100);
  g.SetProgress(-3);
  EXPECT_EQ(g.Progress(), 0);

  g.SetMaxValue(1000);
  const int before = g.RepaintCount;
  for (int v = 1; v <= 9; ++v) g.SetProgress(v);
  EXPECT_EQ(g.ProgressPercent(), 0);
  EXPECT_EQ(g.RepaintCount, before);
  g.SetProgress(10);
  EXPECT_EQ(g.ProgressPercent(), 1);
  EXPECT_EQ(g.RepaintCount, before + 1);
  for (int v = 11; v <= 1000; ++v) g.SetProgress(v);
  EXPECT_EQ(g.RepaintCount - before, 100);  // at most 100 from minimum to maximum
  EXPECT_EQ(notified, g.RepaintCount);

  // Equal values change nothing.
  const int count = g.RepaintCount;
  g.SetProgress(1000);
  g.SetMaxValue(1000);
  g.SetKind(TGaugeKind::gkHorizontalBar);
  g.SetShowText(true);
  g.SetBorderStyle(TBorderStyle::bsSingle);
  g.SetForeColor(clBlack);
  g.SetBackColor(clWhite);
  EXPECT_EQ(g.RepaintCount, count);
  g.SetKind(TGaugeKind::gkPie);
  g.SetForeColor(clBlue);
  EXPECT_EQ(g.RepaintCount, count + 2);

  // Lowering the maximum lowers the progress; equal bounds show 0 percent.
  g.SetProgress(80);
  g.SetMaxValue(50);
  EXPECT_EQ(g.Progress(), 50);
  g.SetMinValue(50);
  EXPECT_EQ(g.ProgressPercent(), 0);
  g.SetMinValue(0);
  g.SetMinValue(20);
  EXPECT_EQ(g.Progress(), 50);
  g.SetProgress(0);
  EXPECT_EQ(g.Progress(), 20);  // raised to the minimum
}

TEST(GaugeModel, BoundsBeyondEachOtherAreRefusedUnlessLoading) {
  TGaugeModel g;
  try {
    g.SetMaxValue(-5);
    FAIL() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(g.MaxValue(), 100);
  try {
    g.SetMinValue(200);
    FAIL() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 99");
  }
  EXPECT_EQ(g.MinValue(), 0);

  g.Loading = true;
  g.SetMinValue(200);
  g.SetMaxValue(300);
  EXPECT_EQ(g.MinValue(), 200);
  EXPECT_EQ(g.MaxValue(), 300);
}

TEST(GaugeModel, WindowGaugeGeometryAndListeners) {
  // The main window's gauge: 233 x 33 with a single border.
  const GaugeRect area = GaugeArea(233, 33, TBorderStyle::bsSingle);
  EXPECT_EQ(area, (GaugeRect{1, 1, 232, 32}));
  EXPECT_EQ(HorizontalBarExtent(area, 50), 116);
  EXPECT_EQ(HorizontalBarRect(area, 50), (GaugeRect{1, 1, 116, 32}));   // x 1..115, y 1..31
  EXPECT_EQ(HorizontalBarRect(area, 100), (GaugeRect{1, 1, 232, 32}));  // the whole area
  EXPECT_EQ(HorizontalBarRect(area, 0).R, 1);                           // nothing drawn
  EXPECT_EQ(GaugeArea(233, 33, TBorderStyle::bsNone), (GaugeRect{0, 0, 233, 33}));

  EXPECT_EQ(VerticalBarExtent(area, 100), 31);  // never the whole height
  EXPECT_EQ(VerticalBarRect(area, 50), (GaugeRect{1, 16, 232, 32}));

  const GaugeRect box = PieBox(area, TBorderStyle::bsSingle);
  EXPECT_EQ(box, (GaugeRect{1, 1, 232, 32}));
  EXPECT_EQ(PieStartPoint(box, 0), (GaugePoint{116, 0}));     // the top
  EXPECT_EQ(PieStartPoint(box, 25), (GaugePoint{232, 16}));   // right
  EXPECT_EQ(PieStartPoint(box, 50), (GaugePoint{116, 32}));   // bottom
  EXPECT_EQ(NeedleTip(area, 233, 0), (GaugePoint{0, 31}));    // left
  EXPECT_EQ(NeedleTip(area, 233, 50), (GaugePoint{116, 0}));  // upright
  EXPECT_EQ(NeedleTip(area, 233, 100), (GaugePoint{232, 31}));
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);

  // The window model's notification and a widget's listener both hear a repaint.
  WindowModel w;
  std::string heard;
  w.AddListener([&](Ctl name) { heard += std::string(ControlName(name)) + ";"; });
  int widget = 0;
  const int id = w.Gauge().AddRepaintListener([&] { ++widget; });
  w.Gauge().SetMaxValue(10);
  w.Gauge().SetProgress(5);
  EXPECT_EQ(heard, "Gauge;Gauge;");
  EXPECT_EQ(widget, 2);
  w.Gauge().RemoveRepaintListener(id);
  w.Gauge().SetProgress(6);
  EXPECT_EQ(widget, 2);
  EXPECT_EQ(heard, "Gauge;Gauge;Gauge;");
}
