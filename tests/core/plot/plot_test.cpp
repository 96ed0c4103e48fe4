// Frame arithmetic, tick steps, label formats and the pressure plot geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/plot/axes.h"
#include "core/plot/frame.h"
#include "core/plot/pressure_plot.h"

namespace korva::plot {
namespace {

TEST(NiceStep, RoundsRawStepsToOneTwoOrTenTimesADecade) {
  struct Row {
    float raw;
    float expected;
  };
  const Row rows[] = {{0.73f, 1.0f},     {0.25f, 0.2f},       {0.06f, 0.1f}, {3.0f, 2.0f},
                      {5.0f, 10.0f},     {1.0f, 1.0f},        {1.4f, 1.0f},  {1.42f, 2.0f},
                      {4.4f, 2.0f},      {4.5f, 10.0f},       {0.2f, 0.2f},  {250.0f, 200.0f},
                      {0.0031f, 0.002f}, {12000.0f, 10000.0f}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.raw);
    EXPECT_FLOAT_EQ(NiceStep(row.raw), row.expected);
  }
}

TEST(NiceStep, DegenerateStepsReturnOneInsteadOfLooping) {
  EXPECT_EQ(NiceStep(0.0f), 1.0f);
  EXPECT_EQ(NiceStep(-3.0f), 1.0f);
  EXPECT_EQ(NiceStep(std::numeric_limits<float>::quiet_NaN()), 1.0f);
  EXPECT_EQ(NiceStep(std::numeric_limits<float>::infinity()), 1.0f);
  EXPECT_GT(NiceStep(1e-30f), 0.0f);
}

Frame TestFrame() {
  Frame frame;
  frame.PlotXMin = 0.0f;
  frame.PlotXMax = 10.0f;
  frame.PlotYMin = -5.0f;
  frame.PlotYMax = 20.0f;
  frame.left = 56;
  frame.top = 300;
  frame.SetScales(700, 250);
  return frame;
}

TEST(WorldToScreen, MapsCornersAndClampsOutsidePointsOntoTheEdgeWritingThemBack) {
  const Frame frame = TestFrame();
  float x = 0.0f, y = 20.0f;
  EXPECT_EQ(WorldToScreen(frame, x, y), (ScreenPoint{56, 300}));
  x = 10.0f, y = -5.0f;
  EXPECT_EQ(WorldToScreen(frame, x, y), (ScreenPoint{756, 550}));
  x = 5.0f, y = 0.0f;
  EXPECT_EQ(WorldToScreen(frame, x, y), (ScreenPoint{406, 500}));

  x = -3.0f, y = 99.0f;
  EXPECT_EQ(WorldToScreen(frame, x, y), (ScreenPoint{56, 300}));
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, 20.0f);
  x = 42.0f, y = -7.0f;
  EXPECT_EQ(WorldToScreen(frame, x, y), (ScreenPoint{756, 550}));
  EXPECT_EQ(x, 10.0f);
  EXPECT_EQ(y, -5.0f);

  x = std::numeric_limits<float>::infinity();
  y = std::numeric_limits<float>::quiet_NaN();
  const ScreenPoint p = WorldToScreen(frame, x, y);
  EXPECT_EQ(p.x, 756);
  EXPECT_TRUE(p.y == 300 || p.y == 550);
}

TEST(WorldToScreen, BeyondTheFrameAgreesInsideAndExtendsPastTheEdgesWithoutOverflow) {
  const Frame frame = TestFrame();
  EXPECT_EQ(WorldToScreenBeyond(frame, 5.0, 0.0), (ScreenPoint{406, 500}));
  EXPECT_EQ(WorldToScreenBeyond(frame, 10.0, -5.0), (ScreenPoint{756, 550}));
  EXPECT_EQ(WorldToScreenBeyond(frame, -1.0, 25.0), (ScreenPoint{-14, 250}));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(WorldToScreenBeyond(frame, inf, -inf), (ScreenPoint{1000000, 1000000}));
  EXPECT_EQ(WorldToScreenBeyond(frame, std::nan(""), 1e300).y, -1000000);
}

TEST(AnchorRule, PlacesTextByColumnAndRowOfTheCodeAndSwapsForRotatedText) {
  EXPECT_EQ(AnchorTopLeft(0, 100, 50, 41, 21), (ScreenPoint{100, 50}));
  EXPECT_EQ(AnchorTopLeft(4, 100, 50, 41, 21), (ScreenPoint{80, 40}));
  EXPECT_EQ(AnchorTopLeft(7, 100, 50, 41, 21), (ScreenPoint{80, 30}));
  EXPECT_EQ(AnchorTopLeft(8, 100, 50, 41, 21), (ScreenPoint{60, 30}));
  EXPECT_EQ(AnchorRotatedStart(1, 0, 300, 200, 20), (ScreenPoint{0, 400}));
  EXPECT_EQ(AnchorRotatedStart(5, 30, 300, 200, 20), (ScreenPoint{20, 500}));
}

TEST(PressureBandLayout, TakesTheLowerHalfWithSevenPercentLeftMarginAndNeverCollapses) {
  const Layout layout = PressureBandLayout(800, 600);
  EXPECT_EQ(layout.FrameHeight, 300);
  EXPECT_EQ(layout.PlotTop, 300);
  EXPECT_EQ(layout.BottomMargin, 39);
  EXPECT_EQ(layout.PlotLeft, 56);
  EXPECT_EQ(layout.PlotWidth, 743);
  EXPECT_EQ(layout.PlotHeight, 261);
  EXPECT_EQ(PressureBandLayout(1001, 701).FrameHeight, 350);  // 350.5 rounds to even

  const Layout tiny = PressureBandLayout(1, 1);
  EXPECT_GE(tiny.PlotWidth, 1);
  EXPECT_GE(tiny.PlotHeight, 1);

  EXPECT_EQ(PlotFontPoints(800, 600), 8);
  EXPECT_EQ(PlotFontPoints(1600, 600), 8);
  EXPECT_EQ(PlotFontPoints(1600, 1200), 16);
  EXPECT_EQ(PlotFontPoints(20, 20), 1);
}

TEST(AxisLabelFormat, DecimalsFollowTheMagnitudeOfTheAxis) {
  struct Row {
    float largest;
    int width;
    int decimals;
  };
  const Row rows[] = {{20.0f, 0, 0},   {10.0f, 0, 0}, {0.05f, 3, 3},
                      {1000.0f, 2, 0}, {0.5f, 2, 2},  {0.0f, 0, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.largest);
    const LabelFormat format = AxisLabelFormat(row.largest);
    EXPECT_EQ(format.width, row.width);
    EXPECT_EQ(format.decimals, row.decimals);
  }
  EXPECT_EQ(FormatLabel(2.5f, {3, 3}), "2.500");
  EXPECT_EQ(FormatLabel(0.0f, {2, 0}), " 0");
}

TEST(XLabelFormatWithPasses, AddsDecimalsWhileNeighbouringLabelsRepeatAtMostThreeTimes) {
  // 100.00 .. 100.50 ms labelled every 0.05: no decimals repeat, one still
  // repeats (100.05 and 100.10 both "100.1"), two are distinct.
  EXPECT_EQ(XLabelFormatWithPasses(100.0f, 100.5f, 0.01f, 5).decimals, 2);
  // A span far below the float resolution never separates: three passes only.
  EXPECT_EQ(XLabelFormatWithPasses(1000.0f, 1000.001f, 2e-5f, 5).decimals, 3);
  // Distinct labels from the start keep the first choice.
  EXPECT_EQ(XLabelFormatWithPasses(0.0f, 10.0f, 0.2f, 5).decimals, 0);
}

TEST(PressurePlot, TenMillisecondsTwentyKilopascalsExampleGivesTheDocumentedTicks) {
  // 2001 samples at 200 kHz: 0..10 ms; peak 20 kPa, trough -5 kPa.
  const PressurePlotSetup setup =
      SetUpPressurePlot(800, 600, 0.0f, 0.01f, -5000.0f, 20000.0f, 5e-6f);
  EXPECT_FLOAT_EQ(setup.axes.XTickStep, 0.2f);
  EXPECT_EQ(setup.axes.XLabelEvery, 5);
  EXPECT_FLOAT_EQ(setup.axes.YTickStep, 1.0f);
  EXPECT_EQ(setup.axes.YLabelEvery, 5);
  EXPECT_EQ(setup.axes.XTickLength, 5);  // round(0.0195 x 261)
  EXPECT_EQ(setup.axes.YTickLength, 5);  // round(0.006435 x 743)
  EXPECT_EQ(setup.axes.XCaption, "TIME IN MILLISECONDS");
  EXPECT_EQ(setup.axes.YCaption, "PRESSURE IN KILOPASCALS");

  const LinearAxes axes = PlanLinearAxes(setup.frame, setup.layout, setup.axes);
  ASSERT_EQ(axes.bottom.size(), 51u);  // 0, 0.2, ..., 10 ms, both ends included
  std::vector<std::string> x_labels;
  for (const AxisTick& tick : axes.bottom) {
    if (tick.labelled) x_labels.push_back(tick.label);
  }
  EXPECT_EQ(x_labels,
            (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(axes.bottom.front().anchor, 0);
  EXPECT_EQ(axes.bottom[5].anchor, 1);
  EXPECT_EQ(axes.bottom.back().anchor, 2);
  EXPECT_EQ(axes.bottom[1].at.y - axes.bottom[1].tip.y, 5);
  EXPECT_EQ(axes.bottom[5].at.y - axes.bottom[5].tip.y, 10);
  EXPECT_EQ(axes.bottom.front().label_at.y, axes.box_bottom + 2);  // round(2.5) = 2

  ASSERT_EQ(axes.left.size(), 26u);  // 20 down to -5 kPa
  std::vector<std::string> y_labels;
  std::vector<int> y_anchors;
  for (const AxisTick& tick : axes.left) {
    if (!tick.labelled) continue;
    y_labels.push_back(tick.label);
    y_anchors.push_back(tick.anchor);
  }
  EXPECT_EQ(y_labels, (std::vector<std::string>{"20", "15", "10", "5", "0", "-5"}));
  EXPECT_EQ(y_anchors, (std::vector<int>{2, 5, 5, 5, 5, 8}));
  EXPECT_EQ(axes.right.size(), 26u);
  EXPECT_EQ(axes.top.size(), 51u);
  EXPECT_EQ(axes.right.front().at.y, axes.box_bottom);
  EXPECT_EQ(axes.top.front().at.x, axes.box_right);

  EXPECT_EQ(axes.box_left, 56);
  EXPECT_EQ(axes.box_right, 799);
  EXPECT_EQ(axes.box_top, 300);
  EXPECT_EQ(axes.box_bottom, 561);
  EXPECT_EQ(axes.x_caption.at, (ScreenPoint{56 + 371, 599}));
  EXPECT_EQ(axes.x_caption.anchor, 7);
  EXPECT_TRUE(axes.y_caption.rotated);
  EXPECT_EQ(axes.y_caption.at, (ScreenPoint{0, 450}));
  EXPECT_EQ(axes.title.at.y, 337);  // round(337.5) = 338 (halves to even), minus 1
}

TEST(TwoRangeAxes, RightAxisReadsTheSecondRangeWithMirroredLabelsAndItsCaption) {
  // A waveform in kPa on the left and a hazard from 0 to 130 A.R.U. on the
  // right, sharing the lower band.
  const Layout layout = TwoRangeBandLayout(800, 600, 300);
  EXPECT_EQ(layout.PlotLeft, 56);
  EXPECT_EQ(layout.PlotWidth, 800 - 1 - 2 * 56);
  EXPECT_EQ(layout.PlotTop, 300);
  Frame left{0.0f, 10.0f, -5.0f, 20.0f};
  Frame right{0.0f, 10.0f, 0.0f, 130.0f};
  for (Frame* f : {&left, &right}) {
    f->left = layout.PlotLeft;
    f->top = layout.PlotTop;
    f->SetScales(layout.PlotWidth, layout.PlotHeight);
  }
  AxesStyle style;
  style.XTickStep = 0.2f;
  style.YTickStep = 1.0f;
  style.YTickLength = 4;
  const LinearAxes axes = PlanTwoRangeAxes(left, right, layout, style, "A.R.U.");

  // The left axis still reads the waveform.
  EXPECT_EQ(axes.left.front().label, "20");
  // Right: step NiceStep(130 / 25) = 10, ticks 0..130 from bottom to top,
  // every fifth labelled, placed right of the axis.
  ASSERT_EQ(axes.right.size(), 14u);
  EXPECT_EQ(axes.right.front().at, (ScreenPoint{axes.box_right, axes.box_bottom}));
  EXPECT_EQ(axes.right.back().at.y, axes.box_top);
  std::vector<std::string> labels;
  std::vector<int> anchors;
  for (const AxisTick& tick : axes.right) {
    EXPECT_LT(tick.tip.x, tick.at.x);
    if (!tick.labelled) continue;
    labels.push_back(tick.label);
    anchors.push_back(tick.anchor);
    EXPECT_EQ(tick.label_at.x, axes.box_right + 2);
    EXPECT_EQ(tick.at.x - tick.tip.x, 8);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"0", "50", "100"}));
  EXPECT_EQ(anchors, (std::vector<int>{6, 3, 3}));
  // The caption stands against the window's right edge, centred on the band.
  EXPECT_EQ(axes.right_caption.text, "A.R.U.");
  EXPECT_TRUE(axes.right_caption.rotated);
  EXPECT_EQ(axes.right_caption.at, (ScreenPoint{800, 450}));
  EXPECT_EQ(axes.right_caption.anchor, 7);
  // A plain linear plot has neither.
  EXPECT_TRUE(PlanLinearAxes(left, layout, style).right_caption.text.empty());
}

TEST(PressurePlot, FlatOrOneSampleWaveformsGetAUsableFrame) {
  const PressurePlotSetup flat = SetUpPressurePlot(800, 600, 0.0f, 0.0f, 0.0f, 0.0f, 5e-6f);
  EXPECT_LT(flat.frame.PlotXMin, flat.frame.PlotXMax);
  EXPECT_FLOAT_EQ(flat.frame.PlotYMin, -1.0f);
  EXPECT_FLOAT_EQ(flat.frame.PlotYMax, 1.0f);
  EXPECT_TRUE(std::isfinite(flat.frame.XScale));
  EXPECT_TRUE(std::isfinite(flat.frame.YScale));
  const LinearAxes axes = PlanLinearAxes(flat.frame, flat.layout, flat.axes);
  EXPECT_FALSE(axes.left.empty());

  // An import that found no samples leaves inverted sentinels as extremes.
  const PressurePlotSetup inverted = SetUpPressurePlot(800, 600, 0.0f, 0.01f, 1e13f, -1e13f, 5e-6f);
  EXPECT_LT(inverted.frame.PlotYMin, inverted.frame.PlotYMax);
}

TEST(PressureTrace, PolylineThroughEverySampleOrOneStrokePerFullGroup) {
  Frame frame;
  frame.PlotXMin = 0.0f;
  frame.PlotXMax = 1000.0f;
  frame.PlotYMin = -1.0f;
  frame.PlotYMax = 1.0f;
  frame.left = 10;
  frame.top = 0;
  frame.SetScales(100, 100);

  std::vector<float> few(50, 0.0f);
  TraceGeometry polyline = PressureTrace(frame, 100, few, 0.001f, 0.0f);
  EXPECT_FALSE(polyline.strokes);
  EXPECT_EQ(polyline.polyline.size(), 50u);

  // 25,051 samples on 100 columns: s = 250 samples per group, 100 full groups,
  // the 51 samples after them not drawn.
  std::vector<float> many(25051, 0.0f);
  many[0] = 800.0f;       // group 0 maximum, 0.8 kPa
  many[249] = -400.0f;    // group 0 minimum, its last sample
  many[25050] = 1000.0f;  // beyond the last full group
  frame.PlotXMax = 25.05f;
  frame.SetScales(100, 100);
  TraceGeometry strokes = PressureTrace(frame, 100, many, 1e-6f, 0.0f);
  ASSERT_TRUE(strokes.strokes);
  ASSERT_EQ(strokes.groups.size(), 100u);
  float x = 0.249f, y_max = 0.8f, y_min = -0.4f;
  EXPECT_EQ(strokes.groups[0].from, WorldToScreen(frame, x, y_max));
  EXPECT_EQ(strokes.groups[0].to, WorldToScreen(frame, x, y_min));
  for (const Stroke& stroke : strokes.groups) EXPECT_GT(stroke.from.y, 0);  // 1 kPa never drawn
}

TEST(ReflexCurve, StaysAtZeroUntilTheOnsetThenRisesTowardTheTop) {
  Frame frame;
  frame.PlotXMin = 0.0f;
  frame.PlotXMax = 1.0f;
  frame.PlotYMin = 0.0f;
  frame.PlotYMax = 10.0f;
  frame.SetScales(100, 100);
  float factor = 1.0f;
  const std::vector<ScreenPoint> curve =
      ReflexCurve(frame, 99, 0.01f / 1000.0f * 1000.0f / 1000.0f, 9, factor, 0.9f);
  ASSERT_EQ(curve.size(), 100u);
  for (int i = 0; i <= 9; ++i) EXPECT_EQ(curve[i].y, 100);
  EXPECT_LT(curve[10].y, 100);
  EXPECT_LT(curve[99].y, curve[20].y);
  EXPECT_NEAR(factor, std::pow(0.9f, 90), 1e-6);
}

}  // namespace
}  // namespace korva::plot
