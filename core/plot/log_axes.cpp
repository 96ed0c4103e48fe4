#include "core/plot/log_axes.h"

#include <algorithm>
#include <cmath>

#include "core/common/numbers.h"

namespace korva::plot {
namespace {

int TruncToInt(double value) {
  return static_cast<int>(std::trunc(std::clamp(value, -1.0e6, 1.0e6)));
}

// The anchor of a frequency label at x: inward within 1 % of the axis from
// either end, so that it stays under the box; centred elsewhere.
int FrequencyLabelAnchor(float x, float x_lo, float x_hi) {
  const double near = 0.01 * (double{x_hi} - x_lo);
  if (x - x_lo < near) return 0;
  return x_hi - x < near ? 2 : 1;
}

// The labelled decade ticks (1, 2 and 5 of every decade) within [x_lo, x_hi].
int LabelledDecadeTicks(float x_lo, float x_hi) {
  int count = 0;
  for (int d = TruncToInt(x_lo) - 1; d <= TruncToInt(x_hi); ++d) {
    for (const int k : {1, 2, 5}) {
      count += TickInRange(static_cast<float>(d + std::log10(double(k))), x_lo, x_hi) ? 1 : 0;
    }
  }
  return count;
}

// Ticks at 1..9 of every decade, labelled at 1, 2 and 5, or all of them
// on a view narrower than a decade.
void PlanDecadeTicks(const Frame& frame, const AxesStyle& style, LinearAxes& axes) {
  auto to_screen = [&frame](float x, float y) { return WorldToScreen(frame, x, y); };
  const float x_lo = frame.PlotXMin;
  const float x_hi = frame.PlotXMax;
  const float y_lo = frame.PlotYMin;
  const float y_hi = frame.PlotYMax;
  const bool label_all = x_hi - x_lo < 1.0f;
  // Bottom axis: 1..9 of every decade, long at 1.
  for (int d = TruncToInt(x_lo) - 1; d <= TruncToInt(x_hi); ++d) {
    for (int k = 1; k <= 9; ++k) {
      const auto x = static_cast<float>(d + std::log10(double(k)));
      if (!TickInRange(x, x_lo, x_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x, y_lo);
      tick.tip = {tick.at.x, tick.at.y - (k == 1 ? 2 : 1) * style.XTickLength};
      if (k == 1 || k == 2 || k == 5 || label_all) {
        tick.labelled = true;
        tick.label = KiloHertzLabel(x);
        tick.label_at = {tick.at.x, tick.at.y + RoundToInt(0.3 * style.XTickLength)};
        tick.anchor = FrequencyLabelAnchor(x, x_lo, x_hi);
      }
      axes.bottom.push_back(std::move(tick));
    }
  }
  // Top axis, right to left: 10 down to 2 of every decade, long at 10.
  for (int d = TruncToInt(x_hi); d >= TruncToInt(x_lo); --d) {
    for (int k = 10; k >= 2; --k) {
      const auto x = static_cast<float>(d + std::log10(double(k)));
      if (!TickInRange(x, x_lo, x_hi)) continue;
      AxisTick tick;
      tick.at = to_screen(x, y_hi);
      tick.tip = {tick.at.x, tick.at.y + (k == 10 ? 2 : 1) * style.XTickLength};
      axes.top.push_back(tick);
    }
  }
}

// Within less than a factor of about two and a half the decade ticks leave
// the axis nearly bare: there the frequencies are ticked evenly in hertz, at
// a nice step, each tick long and labelled in kHz with the step's decimals.
void PlanEvenFrequencyTicks(const Frame& frame, const AxesStyle& style, LinearAxes& axes) {
  const double f_lo = std::pow(10.0, double{frame.PlotXMin});
  const double f_hi = std::pow(10.0, double{frame.PlotXMax});
  const double step = NiceStep(static_cast<float>((f_hi - f_lo) / 5.0));
  const double from = std::ceil(f_lo / step);
  const double to = std::floor(f_hi / step);
  // Indices are whole numbers well inside 64 bits, or there are no ticks.
  if (!(step > 0.0) || !(from >= 0.0) || !(to < 1e15) || to - from > kMaxTicksPerAxis) return;
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step / 1000.0) + 1e-9)));
  const auto first = static_cast<std::int64_t>(from);
  const auto last = static_cast<std::int64_t>(to);
  for (std::int64_t i = first; i <= last; ++i) {
    auto x = static_cast<float>(std::log10(static_cast<double>(i) * step));
    if (!TickInRange(x, frame.PlotXMin, frame.PlotXMax)) continue;
    float y = frame.PlotYMin;
    AxisTick tick;
    tick.at = WorldToScreen(frame, x, y);
    tick.tip = {tick.at.x, tick.at.y - 2 * style.XTickLength};
    tick.labelled = true;
    tick.label = FormatFixed(static_cast<double>(i) * step / 1000.0, decimals);
    tick.label_at = {tick.at.x, tick.at.y + RoundToInt(0.3 * style.XTickLength)};
    tick.anchor = FrequencyLabelAnchor(x, frame.PlotXMin, frame.PlotXMax);
    axes.bottom.push_back(tick);
    y = frame.PlotYMax;
    AxisTick top;
    top.at = WorldToScreen(frame, x, y);
    top.tip = {top.at.x, top.at.y + 2 * style.XTickLength};
    axes.top.insert(axes.top.begin(), top);
  }
}

}  // namespace

Layout SpectrumBandLayout(int client_width, int client_height) {
  Layout layout;
  layout.FrameWidth = std::max(client_width, 1);
  layout.FrameHeight = std::max(RoundToInt(0.5 * client_height), 1);
  layout.PlotTop = 0;
  layout.BottomMargin = static_cast<int>(std::trunc(0.13 * layout.FrameHeight));
  layout.PlotLeft = static_cast<int>(std::trunc(0.0625 * layout.FrameWidth));
  layout.PlotWidth = std::max(layout.FrameWidth - 1 - layout.PlotLeft, 1);
  layout.PlotHeight = std::max(layout.FrameHeight - layout.BottomMargin, 1);
  return layout;
}

int YTickLengthFor(const Layout& layout) {
  return RoundToInt(0.006435 * layout.PlotWidth);
}

int XTickLengthFor(const Layout& layout) {
  return RoundToInt(0.0195 * layout.PlotHeight);
}

AxesStyle LevelAxesStyle(const Layout& layout, float y_tick_step, int y_label_every) {
  AxesStyle style;
  style.YTickStep = y_tick_step;
  style.YLabelEvery = y_label_every;
  style.XTickLength = XTickLengthFor(layout);
  style.YTickLength = YTickLengthFor(layout);
  return style;
}

std::string KiloHertzLabel(float x) {
  const int r = RoundToInt(double{x} - 3.0 - 0.495);
  const int decimals = r < 1 ? std::abs(r) : 0;
  return FormatFixed(std::pow(10.0, double{x}) / 1000.0, decimals);
}

std::string LevelLabel(float y) {
  const int r = RoundToInt(std::log10(std::fabs(double{y}) + 0.000001) - 1.8);
  int decimals = 0;
  if (r < -7) {
    decimals = 0;
  } else if (r < -2) {
    decimals = 2;
  } else {
    decimals = r < 1 ? std::abs(r) : 0;
  }
  return FormatFixed(double{y}, decimals);
}

LogAxes PlanLogAxes(const Frame& frame, const Layout& layout, const AxesStyle& style,
                    const std::string& spectrum_caption, const std::string& units_caption) {
  LogAxes result;
  LinearAxes& axes = result.axes;
  auto to_screen = [&frame](float x, float y) { return WorldToScreen(frame, x, y); };
  const float x_lo = frame.PlotXMin;
  const float x_hi = frame.PlotXMax;
  const float y_lo = frame.PlotYMin;
  const float y_hi = frame.PlotYMax;
  const ScreenPoint lower_left = to_screen(x_lo, y_lo);
  const ScreenPoint upper_right = to_screen(x_hi, y_hi);
  axes.box_left = lower_left.x;
  axes.box_bottom = lower_left.y;
  axes.box_right = upper_right.x;
  axes.box_top = upper_right.y;

  if (LabelledDecadeTicks(x_lo, x_hi) < 2) {
    PlanEvenFrequencyTicks(frame, style, axes);
  } else {
    PlanDecadeTicks(frame, style, axes);
  }

  // Level ticks: whole label groups one beyond either end of the range.
  const int every = std::max(style.YLabelEvery, 1);
  const double group = double{style.YTickStep} * every;
  if (style.YTickStep > 0.0f && std::isfinite(group) && group > 0.0) {
    const std::int64_t first = (std::llround(y_lo / group) - 1) * every;
    const std::int64_t last = (std::llround(y_hi / group) + 1) * every;
    if (last - first <= kMaxTicksPerAxis) {
      auto length = [&](std::int64_t i) { return (i % every == 0 ? 2 : 1) * style.YTickLength; };
      for (std::int64_t i = first; i <= last; ++i) {
        const float y = TickValue(i, style.YTickStep);
        if (!TickInRange(y, y_lo, y_hi)) continue;
        AxisTick tick;
        tick.at = to_screen(x_hi, y);
        tick.tip = {tick.at.x - length(i), tick.at.y};
        axes.right.push_back(tick);
      }
      for (std::int64_t i = last; i >= first; --i) {
        const float y = TickValue(i, style.YTickStep);
        if (!TickInRange(y, y_lo, y_hi)) continue;
        AxisTick tick;
        tick.at = to_screen(x_lo, y);
        tick.tip = {tick.at.x + length(i), tick.at.y};
        if (i % every == 0) {
          tick.labelled = true;
          tick.label = LevelLabel(y);
          tick.label_at = {tick.at.x - RoundToInt(0.4 * style.YTickLength), tick.at.y};
          if (std::fabs(double{y} - y_hi) < 0.01 * std::fabs(double{y_hi})) {
            tick.anchor = 2;
          } else if (std::fabs(double{y} - y_lo) < std::fabs(0.01 * y_lo)) {
            tick.anchor = 8;
          } else {
            tick.anchor = 5;
          }
        }
        axes.left.push_back(std::move(tick));
      }
    }
  }

  const int centre_x = layout.PlotLeft + layout.PlotWidth / 2;
  axes.x_caption = {
      "FREQUENCY IN kHZ", {centre_x, layout.PlotTop + layout.FrameHeight - 1}, 7, false};
  axes.title = {style.Title,
                {centre_x, RoundToInt(0.03 * layout.FrameHeight + layout.PlotTop) - 1},
                1,
                false};
  const int centre_y = layout.PlotTop + layout.PlotHeight / 2;
  axes.y_caption = {spectrum_caption, {0, centre_y}, 1, true};
  result.units_caption = {units_caption, {RoundToInt(0.3 * layout.PlotLeft), centre_y}, 1, true};
  return result;
}

}  // namespace korva::plot
