#include "core/plot/log_axes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace korva::plot {
namespace {

TEST(LogAxes, LabelsTakeTheirDecimalsFromTheDistanceToOneKilohertz) {
  EXPECT_EQ(KiloHertzLabel(1.0f), "0.01");
  EXPECT_EQ(KiloHertzLabel(std::log10(50.0f)), "0.05");
  EXPECT_EQ(KiloHertzLabel(std::log10(200.0f)), "0.2");
  EXPECT_EQ(KiloHertzLabel(3.0f), "1");
  EXPECT_EQ(KiloHertzLabel(std::log10(20000.0f)), "20");
  EXPECT_EQ(LevelLabel(120.0f), "120");
  EXPECT_EQ(LevelLabel(60.0f), "60");
  EXPECT_EQ(LevelLabel(5.0f), "5.0");
  EXPECT_EQ(LevelLabel(0.0f), "0");
}

TEST(LogAxes, DecadeTicksLabelsAndCaptionsOfASpectrumFrame) {
  // 65,536 samples at 10 us: 1.526 Hz to 50 kHz, levels 60 to 120 dB.
  const Layout layout = SpectrumBandLayout(1000, 700);
  EXPECT_EQ(layout.PlotTop, 0);
  EXPECT_EQ(layout.PlotLeft, 62);
  Frame frame;
  frame.PlotXMin = std::log10(1.0f / (65536 * 1e-5f));
  frame.PlotXMax = std::log10(50000.0f);
  frame.PlotYMin = 60.0f;
  frame.PlotYMax = 120.0f;
  frame.left = layout.PlotLeft;
  frame.top = layout.PlotTop;
  frame.SetScales(layout.PlotWidth, layout.PlotHeight);
  AxesStyle style;
  style.YTickStep = NiceStep(2.0f);
  style.YLabelEvery = 5;
  style.XTickLength = XTickLengthFor(layout);
  style.YTickLength = YTickLengthFor(layout);
  style.Title = "SHOT";
  const LogAxes planned = PlanLogAxes(frame, layout, style, "1/3 OCT LEQ(300MS)", "DB REF 20uPA");
  const LinearAxes& axes = planned.axes;

  // Bottom: 2..9 of the first decade above 1.526 Hz, then every 1..9 up to 50 kHz.
  std::vector<std::string> labels;
  int long_ticks = 0;
  for (const AxisTick& tick : axes.bottom) {
    EXPECT_GE(tick.at.x, axes.box_left);
    EXPECT_LE(tick.at.x, axes.box_right);
    if (tick.labelled) labels.push_back(tick.label);
    if (tick.at.y - tick.tip.y == 2 * style.XTickLength) ++long_ticks;
  }
  EXPECT_EQ(long_ticks, 4);  // 10 Hz, 100 Hz, 1 kHz, 10 kHz
  const std::vector<std::string> expected = {"0.002", "0.005", "0.01", "0.02", "0.05", "0.1", "0.2",
                                             "0.5",   "1",     "2",    "5",    "10",   "20",  "50"};
  EXPECT_EQ(labels, expected);
  EXPECT_EQ(axes.bottom.back().anchor, 2);  // 50 kHz sits on the right end
  EXPECT_TRUE(std::is_sorted(axes.bottom.begin(), axes.bottom.end(),
                             [](const AxisTick& a, const AxisTick& b) { return a.at.x < b.at.x; }));
  // Top, right to left: long at every decade.
  EXPECT_GT(axes.top.front().at.x, axes.top.back().at.x);
  EXPECT_EQ(axes.top.size(), axes.bottom.size());  // the same frequencies, counted from 10 down

  // Left axis: 2 dB ticks, labels every 10 dB, the ends anchored inwards.
  std::vector<std::string> levels;
  for (const AxisTick& tick : axes.left) {
    if (tick.labelled) levels.push_back(tick.label);
  }
  EXPECT_EQ(levels, (std::vector<std::string>{"120", "110", "100", "90", "80", "70", "60"}));
  EXPECT_EQ(axes.left.size(), 31u);
  EXPECT_EQ(axes.right.size(), 31u);
  EXPECT_EQ(axes.left.front().anchor, 2);
  EXPECT_EQ(axes.left.back().anchor, 8);
  EXPECT_EQ(axes.left[5].anchor, 5);

  EXPECT_EQ(axes.x_caption.text, "FREQUENCY IN kHZ");
  EXPECT_TRUE(axes.y_caption.rotated);
  EXPECT_EQ(axes.y_caption.at.x, 0);
  EXPECT_EQ(planned.units_caption.at.x, 19);  // 0.3 x the left margin
  EXPECT_EQ(planned.units_caption.text, "DB REF 20uPA");
}

TEST(LogAxes, ZoomedViewsGetLabelsEnoughToRead) {
  const Layout layout = SpectrumBandLayout(1000, 700);
  auto labels_of = [&](float from_hz, float to_hz) {
    const Frame frame = FrameOver(layout, std::log10(from_hz), std::log10(to_hz), 60.0f, 120.0f);
    const LinearAxes axes = PlanLogAxes(frame, layout, LevelAxesStyle(layout, 2.0f), "", "").axes;
    std::vector<std::string> labels;
    for (const AxisTick& tick : axes.bottom) {
      if (tick.labelled) labels.push_back(tick.label + (tick.anchor == 1 ? "" : "|"));
    }
    EXPECT_EQ(axes.top.size(), axes.bottom.size());
    return labels;
  };
  // Within a decade every decade tick is labelled.
  EXPECT_EQ(labels_of(350.0f, 2100.0f),
            (std::vector<std::string>{"0.4", "0.5", "0.6", "0.7", "0.8", "0.9", "1", "2"}));
  // With fewer than two decade labels inside, even steps in hertz; a label
  // at an end of the axis is anchored inwards.
  EXPECT_EQ(labels_of(1100.0f, 1900.0f), (std::vector<std::string>{"1.2", "1.4", "1.6", "1.8"}));
  EXPECT_EQ(labels_of(1000.0f, 1040.0f).front(), "1.00|");  // 10 Hz steps
}

}  // namespace
}  // namespace korva::plot
