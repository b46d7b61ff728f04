// The GDI gauge against the pixels that the Qt gauge's tests expect: black frame, black bar up
// to its extent, the percentage inverting what lies under it.
#include <gtest/gtest.h>

#include "win/gauge.h"

namespace {

constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kWhite = 0xFFFFFF;

struct Counts {
  int black = 0, white = 0, other = 0;
};
Counts CountColumns(const GaugePixels& img, int x0, int x1, int y0, int y1) {
  Counts c;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const std::uint32_t px = img.At(x, y);
      ++(px == kBlack ? c.black : px == kWhite ? c.white : c.other);
    }
  }
  return c;
}

class WinGauge : public ::testing::Test {
 protected:
  ~WinGauge() override { DeleteObject(font_); }
  GaugePixels Render(int w, int h) { return RenderGauge(model_, w, h, font_, RGB(240, 240, 240)); }
  TGaugeModel model_;
  HFONT font_ = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
};

TEST_F(WinGauge, DrawsFrameBarAndInvertingPercentage) {
  model_.SetProgress(50);
  const GaugePixels img = Render(233, 33);
  for (int x = 0; x < 233; ++x) {
    ASSERT_EQ(img.At(x, 0), kBlack) << x;
    ASSERT_EQ(img.At(x, 32), kBlack) << x;
  }
  for (int y = 0; y < 33; ++y) {
    ASSERT_EQ(img.At(0, y), kBlack) << y;
    ASSERT_EQ(img.At(232, y), kBlack) << y;
  }
  for (int x = 1; x <= 115; ++x) ASSERT_EQ(img.At(x, 1), kBlack) << x;
  for (int x = 116; x <= 231; ++x) ASSERT_EQ(img.At(x, 1), kWhite) << x;
  EXPECT_EQ(CountColumns(img, 0, 233, 0, 33).other, 0);
  EXPECT_GT(CountColumns(img, 80, 116, 1, 32).white, 0);
  EXPECT_GT(CountColumns(img, 116, 150, 1, 32).black, 0);
  EXPECT_EQ(CountColumns(img, 1, 60, 1, 32).white, 0);
  EXPECT_EQ(CountColumns(img, 175, 232, 1, 32).black, 0);

  model_.SetShowText(false);
  const GaugePixels plain = Render(233, 33);
  EXPECT_EQ(CountColumns(plain, 1, 116, 1, 32).white, 0);
  EXPECT_EQ(CountColumns(plain, 116, 232, 1, 32).black, 0);
  model_.SetProgress(100);
  EXPECT_EQ(CountColumns(Render(233, 33), 1, 232, 1, 32).white, 0);
  model_.SetProgress(0);
  EXPECT_EQ(CountColumns(Render(233, 33), 1, 232, 1, 32).black, 0);

  model_.SetBorderStyle(TBorderStyle::bsNone);
  model_.SetProgress(100);
  EXPECT_EQ(CountColumns(Render(233, 33), 0, 233, 0, 33).white, 0);
  model_.SetProgress(0);
  EXPECT_EQ(CountColumns(Render(233, 33), 0, 233, 0, 33).black, 0);
}

TEST_F(WinGauge, OtherKinds) {
  model_.SetShowText(false);
  model_.SetKind(TGaugeKind::gkVerticalBar);
  model_.SetProgress(50);
  const GaugePixels bar = Render(101, 101);
  EXPECT_EQ(bar.At(50, 10), kWhite);
  EXPECT_EQ(bar.At(50, 90), kBlack);

  model_.SetKind(TGaugeKind::gkPie);
  model_.SetProgress(25);
  const GaugePixels pie = Render(101, 101);
  EXPECT_EQ(pie.At(70, 30), kBlack);
  EXPECT_EQ(pie.At(30, 30), kWhite);
  EXPECT_EQ(pie.At(70, 70), kWhite);

  model_.SetKind(TGaugeKind::gkNeedle);
  model_.SetProgress(50);
  const GaugePixels needle = Render(101, 101);
  EXPECT_EQ(needle.At(50, 50), kBlack);
  EXPECT_EQ(needle.At(30, 80), kWhite);

  model_.SetKind(TGaugeKind::gkText);
  EXPECT_EQ(CountColumns(Render(101, 101), 1, 100, 1, 100).black, 0);
}

}  // namespace
