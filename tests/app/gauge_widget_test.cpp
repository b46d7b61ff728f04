// The gauge widget rendered offscreen: black frame, black bar up to its extent, and the
// percentage inverting what lies under it.
#include "app/gauge_widget.h"

#include <gtest/gtest.h>

#include <QImage>
#include <memory>

namespace {

bool IsBlack(const QImage& img, int x, int y) {
  return img.pixelColor(x, y) == QColor(Qt::black);
}
bool IsWhite(const QImage& img, int x, int y) {
  return img.pixelColor(x, y) == QColor(Qt::white);
}

// Counts black and white pixels in columns [x0, x1) of every row.
struct Counts {
  int black = 0, white = 0, other = 0;
};
Counts CountColumns(const QImage& img, int x0, int x1, int y0, int y1) {
  Counts c;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (IsBlack(img, x, y)) {
        ++c.black;
      } else if (IsWhite(img, x, y)) {
        ++c.white;
      } else {
        ++c.other;
      }
    }
  }
  return c;
}

}  // namespace

TEST(GaugeWidget, DrawsFrameBarAndInvertingPercentage) {
  TGaugeModel model;
  TGauge gauge(model);
  gauge.resize(233, 33);
  model.SetProgress(50);
  const QImage img = gauge.grab().toImage();
  ASSERT_EQ(img.width(), 233);
  ASSERT_EQ(img.height(), 33);

  // The single border: a black frame all round.
  for (int x = 0; x < 233; ++x) {
    ASSERT_TRUE(IsBlack(img, x, 0)) << x;
    ASSERT_TRUE(IsBlack(img, x, 32)) << x;
  }
  for (int y = 0; y < 33; ++y) {
    ASSERT_TRUE(IsBlack(img, 0, y)) << y;
    ASSERT_TRUE(IsBlack(img, 232, y)) << y;
  }
  // Above the text the bar is black from x = 1 to 115 and white from 116 to 231.
  for (int x = 1; x <= 115; ++x) ASSERT_TRUE(IsBlack(img, x, 1)) << x;
  for (int x = 116; x <= 231; ++x) ASSERT_TRUE(IsWhite(img, x, 1)) << x;
  // The whole image is black and white only.
  EXPECT_EQ(CountColumns(img, 0, 233, 0, 33).other, 0);
  // Left of the middle the text shows white on the bar, right of it black on the empty part.
  EXPECT_GT(CountColumns(img, 80, 116, 1, 32).white, 0);
  EXPECT_GT(CountColumns(img, 116, 150, 1, 32).black, 0);
  // Away from the text nothing is inverted.
  EXPECT_EQ(CountColumns(img, 1, 60, 1, 32).white, 0);
  EXPECT_EQ(CountColumns(img, 175, 232, 1, 32).black, 0);

  // Without the text the two halves are plain.
  model.SetShowText(false);
  const QImage plain = gauge.grab().toImage();
  EXPECT_EQ(CountColumns(plain, 1, 116, 1, 32).white, 0);
  EXPECT_EQ(CountColumns(plain, 116, 232, 1, 32).black, 0);

  // Full: the bar fills the area; empty: no bar at all.
  model.SetProgress(100);
  const QImage full = gauge.grab().toImage();
  EXPECT_EQ(CountColumns(full, 1, 232, 1, 32).white, 0);
  model.SetProgress(0);
  const QImage empty = gauge.grab().toImage();
  EXPECT_EQ(CountColumns(empty, 1, 232, 1, 32).black, 0);

  // No border: the bar reaches the edges.
  model.SetBorderStyle(TBorderStyle::bsNone);
  model.SetProgress(100);
  const QImage edge = gauge.grab().toImage();
  EXPECT_EQ(CountColumns(edge, 0, 233, 0, 33).white, 0);
  model.SetProgress(0);
  const QImage blank = gauge.grab().toImage();
  EXPECT_EQ(CountColumns(blank, 0, 233, 0, 33).black, 0);
}

TEST(GaugeWidget, OtherKindsAndRepaintHookup) {
  TGaugeModel model;
  model.SetShowText(false);
  {
    TGauge gauge(model);
    gauge.resize(101, 101);
    model.SetKind(TGaugeKind::gkVerticalBar);
    model.SetProgress(50);
    const QImage bar = gauge.grab().toImage();
    EXPECT_TRUE(IsWhite(bar, 50, 10));  // empty upper part
    EXPECT_TRUE(IsBlack(bar, 50, 90));  // filled from the bottom

    model.SetKind(TGaugeKind::gkPie);
    model.SetProgress(25);
    const QImage pie = gauge.grab().toImage();
    EXPECT_TRUE(IsBlack(pie, 70, 30));  // the wedge: top right quarter
    EXPECT_TRUE(IsWhite(pie, 30, 30));  // the rest of the disc
    EXPECT_TRUE(IsWhite(pie, 70, 70));

    model.SetKind(TGaugeKind::gkNeedle);
    model.SetProgress(50);
    const QImage needle = gauge.grab().toImage();
    EXPECT_TRUE(IsBlack(needle, 50, 50));  // the upright needle
    EXPECT_TRUE(IsWhite(needle, 30, 80));  // inside the dial

    model.SetKind(TGaugeKind::gkText);
    const QImage text = gauge.grab().toImage();
    EXPECT_EQ(CountColumns(text, 1, 100, 1, 100).black, 0);
  }
  // A gauge that is gone is no longer told to repaint.
  model.SetProgress(80);
  EXPECT_EQ(model.Progress(), 80);
}

// On a screen at 200 % the gauge is drawn at the screen's pixels: the frame and the bar where
// twice their places lie, and the percentage finer than a picture at 100 % blown up.
TEST(GaugeWidget, DrawnAtTheScreensResolutionOnAScaledScreen) {
  TGaugeModel model;
  TGauge gauge(model);
  gauge.resize(233, 33);
  model.SetProgress(50);
  const QImage img = gauge.Render(2.0);
  ASSERT_EQ(img.width(), 466);
  ASSERT_EQ(img.height(), 66);
  const auto pixel = [&](int x, int y) { return img.pixelColor(x, y); };
  EXPECT_EQ(pixel(1, 1), QColor(Qt::black));  // the frame
  EXPECT_EQ(pixel(464, 64), QColor(Qt::black));
  EXPECT_EQ(pixel(100, 4), QColor(Qt::black));  // the bar's half
  EXPECT_EQ(pixel(400, 4), QColor(Qt::white));  // the empty half
  EXPECT_EQ(CountColumns(img, 0, 466, 0, 66).other, 0);
  // Somewhere in the text a 2 x 2 block of pixels is not of one colour.
  bool finer = false;
  for (int y = 0; y + 1 < 66 && !finer; y += 2) {
    for (int x = 0; x + 1 < 466 && !finer; x += 2) {
      const QColor c = pixel(x, y);
      finer = pixel(x + 1, y) != c || pixel(x, y + 1) != c || pixel(x + 1, y + 1) != c;
    }
  }
  EXPECT_TRUE(finer) << "the percentage is a 100 % picture drawn twice as large";
}
