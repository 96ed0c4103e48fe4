#include "core/plot/axes.h"

#include <algorithm>
#include <cmath>

#include "core/common/numbers.h"

namespace korva::plot {
namespace {

constexpr double kIndexLimit = 4.0e18;

std::int64_t TruncIndex(double value) {
  if (std::isnan(value)) return 0;
  if (value > kIndexLimit) return static_cast<std::int64_t>(kIndexLimit);
  if (value < -kIndexLimit) return -static_cast<std::int64_t>(kIndexLimit);
  return static_cast<std::int64_t>(std::trunc(value));
}

bool Divisible(std::int64_t index, int every) {
  return every > 0 && index % every == 0;
}

// Labels that end up centred, pushed right or pushed left depending on how
// close the tick sits to either end of its axis.
int EndAnchor(float value, float lowest, float highest, int near_low, int near_high,
              int otherwise) {
  const double margin = 0.01 * (static_cast<double>(highest) - lowest);
  if (std::fabs(static_cast<double>(value) - lowest) < margin) return near_low;
  if (std::fabs(static_cast<double>(value) - highest) < margin) return near_high;
  return otherwise;
}

}  // namespace

TickIndexRange TickIndices(float lowest, float highest, float step) {
  if (!(step > 0.0f) || !std::isfinite(step)) return {};
  return {TruncIndex(static_cast<double>(lowest) / step),
          TruncIndex(static_cast<double>(highest) / step) + 1};
}

float TickValue(std::int64_t index, float step) {
  return static_cast<float>(static_cast<double>(index) * step);
}

bool TickInRange(float value, float lowest, float highest) {
  return value >= lowest && value <= highest;
}

LabelFormat AxisLabelFormat(float largest) {
  if (!(largest > 0.0f) || !std::isfinite(largest)) return {};
  const int e = RoundToInt(std::log10(static_cast<double>(largest)) - 1.495);
  LabelFormat format;
  format.width = std::abs(e);
  format.decimals = e < 1 ? std::abs(e) : 0;
  return format;
}

std::string FormatLabel(float value, LabelFormat format) {
  return FormatFixed(value, format.width, format.decimals);
}

LabelFormat XLabelFormatWithPasses(float lowest, float highest, float step, int label_every) {
  LabelFormat format = AxisLabelFormat(std::max(std::fabs(highest), std::fabs(lowest)));
  const TickIndexRange range = TickIndices(lowest, highest, step);
  if (range.last - range.first > kMaxTicksPerAxis) return format;
  for (int pass = 0; pass < 3; ++pass) {
    bool repeated = false;
    bool have_previous = false;
    std::string previous;
    for (std::int64_t i = range.first; i <= range.last; ++i) {
      if (!Divisible(i, label_every)) continue;
      const float value = TickValue(i, step);
      if (!TickInRange(value, lowest, highest)) continue;
      std::string label = FormatLabel(value, format);
      if (have_previous && label == previous) repeated = true;
      previous = std::move(label);
      have_previous = true;
    }
    if (repeated) ++format.decimals;
  }
  return format;
}

LinearAxes PlanLinearAxes(const Frame& frame, const Layout& layout, const AxesStyle& style) {
  LinearAxes axes;
  auto to_screen = [&frame](float x, float y) { return WorldToScreen(frame, x, y); };
  const ScreenPoint lower_left = to_screen(frame.PlotXMin, frame.PlotYMin);
  const ScreenPoint upper_right = to_screen(frame.PlotXMax, frame.PlotYMax);
  axes.box_left = lower_left.x;
  axes.box_bottom = lower_left.y;
  axes.box_right = upper_right.x;
  axes.box_top = upper_right.y;

  const float x_lo = frame.PlotXMin;
  const float x_hi = frame.PlotXMax;
  const float y_lo = frame.PlotYMin;
  const float y_hi = frame.PlotYMax;
  axes.x_format = XLabelFormatWithPasses(x_lo, x_hi, style.XTickStep, style.XLabelEvery);
  axes.y_format = AxisLabelFormat(std::max(std::fabs(y_hi), std::fabs(y_lo)));

  const TickIndexRange xs = TickIndices(x_lo, x_hi, style.XTickStep);
  const TickIndexRange ys = TickIndices(y_lo, y_hi, style.YTickStep);
  const bool draw_x = xs.last - xs.first <= kMaxTicksPerAxis;
  const bool draw_y = ys.last - ys.first <= kMaxTicksPerAxis;

  auto x_tick_length = [&style](std::int64_t i) {
    return Divisible(i, style.XLabelEvery) ? 2 * style.XTickLength : style.XTickLength;
  };
  auto y_tick_length = [&style](std::int64_t i) {
    return Divisible(i, style.YLabelEvery) ? 2 * style.YTickLength : style.YTickLength;
  };

  if (draw_x) {
    // Bottom axis, left to right: upward ticks, long ones labelled.
    for (std::int64_t i = xs.first; i <= xs.last; ++i) {
      const float x = TickValue(i, style.XTickStep);
      if (!TickInRange(x, x_lo, x_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x, y_lo);
      tick.tip = {tick.at.x, tick.at.y - x_tick_length(i)};
      if (Divisible(i, style.XLabelEvery)) {
        tick.labelled = true;
        tick.label = FormatLabel(x, axes.x_format);
        tick.label_at = {tick.at.x, tick.at.y + RoundToInt(0.5 * style.XTickLength)};
        tick.anchor = EndAnchor(x, x_lo, x_hi, 0, 2, 1);
      }
      axes.bottom.push_back(std::move(tick));
    }
    // Top axis, right to left: downward ticks, no labels.
    for (std::int64_t i = xs.last; i >= xs.first; --i) {
      const float x = TickValue(i, style.XTickStep);
      if (!TickInRange(x, x_lo, x_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x, y_hi);
      tick.tip = {tick.at.x, tick.at.y + x_tick_length(i)};
      axes.top.push_back(tick);
    }
  }
  if (draw_y) {
    // Right axis, bottom to top: ticks pointing left, no labels.
    for (std::int64_t i = ys.first; i <= ys.last; ++i) {
      const float y = TickValue(i, style.YTickStep);
      if (!TickInRange(y, y_lo, y_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x_hi, y);
      tick.tip = {tick.at.x - y_tick_length(i), tick.at.y};
      axes.right.push_back(tick);
    }
    // Left axis, top to bottom: ticks pointing right, long ones labelled.
    for (std::int64_t i = ys.last; i >= ys.first; --i) {
      const float y = TickValue(i, style.YTickStep);
      if (!TickInRange(y, y_lo, y_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x_lo, y);
      tick.tip = {tick.at.x + y_tick_length(i), tick.at.y};
      if (Divisible(i, style.YLabelEvery)) {
        tick.labelled = true;
        tick.label = FormatLabel(y, axes.y_format);
        tick.label_at = {tick.at.x - RoundToInt(0.5 * style.YTickLength), tick.at.y};
        tick.anchor = EndAnchor(y, y_lo, y_hi, 8, 2, 5);
      }
      axes.left.push_back(std::move(tick));
    }
  }

  const int centre_x = layout.PlotLeft + layout.PlotWidth / 2;
  axes.x_caption = {style.XCaption, {centre_x, layout.PlotTop + layout.FrameHeight - 1}, 7, false};
  axes.title = {style.Title,
                {centre_x, RoundToInt(0.125 * layout.FrameHeight + layout.PlotTop) - 1},
                7,
                false};
  axes.y_caption = {style.YCaption, {0, layout.PlotTop + layout.FrameHeight / 2}, 1, true};
  return axes;
}

LinearAxes PlanTwoRangeAxes(const Frame& frame, const Frame& right, const Layout& layout,
                            const AxesStyle& style, const std::string& right_caption) {
  LinearAxes axes = PlanLinearAxes(frame, layout, style);
  axes.right.clear();
  const float lo = right.PlotYMin;
  const float hi = right.PlotYMax;
  const float step = NiceStep((hi - lo) / 25.0f);
  axes.right_format = AxisLabelFormat(std::max(std::fabs(hi), std::fabs(lo)));
  const TickIndexRange range = TickIndices(lo, hi, step);
  if (range.last - range.first <= kMaxTicksPerAxis) {
    // Bottom to top, ticks pointing left, long ones labelled to the right:
    // the left axis mirrored.
    for (std::int64_t i = range.first; i <= range.last; ++i) {
      float y = TickValue(i, step);
      if (!TickInRange(y, lo, hi)) continue;
      float x = right.PlotXMax;
      AxisTick tick;
      tick.at = {axes.box_right, WorldToScreen(right, x, y).y};
      const bool long_tick = Divisible(i, style.YLabelEvery);
      tick.tip = {tick.at.x - (long_tick ? 2 : 1) * style.YTickLength, tick.at.y};
      if (long_tick) {
        tick.labelled = true;
        tick.label = FormatLabel(y, axes.right_format);
        tick.label_at = {tick.at.x + RoundToInt(0.5 * style.YTickLength), tick.at.y};
        tick.anchor = EndAnchor(y, lo, hi, 6, 0, 3);
      }
      axes.right.push_back(std::move(tick));
    }
  }
  axes.right_caption = {
      right_caption, {layout.FrameWidth, layout.PlotTop + layout.FrameHeight / 2}, 7, true};
  return axes;
}

}  // namespace korva::plot
