#include "core/plot/pressure_plot.h"

#include <algorithm>
#include <cmath>

#include "core/common/numbers.h"

namespace korva::plot {
namespace {

constexpr float kMilliPerUnit = 1000.0f;  // s -> ms
constexpr float kKiloPerUnit = 0.001f;    // Pa -> kPa

// Makes [lo, hi] a usable range: widened by `half_width` around its centre
// when empty or inverted, and replaced by [-half, +half] when not finite.
void Widen(float& lo, float& hi, float half_width) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) {
    lo = -half_width;
    hi = half_width;
    return;
  }
  if (hi > lo) return;
  const double centre = 0.5 * (static_cast<double>(lo) + hi);
  lo = static_cast<float>(centre - half_width);
  hi = static_cast<float>(centre + half_width);
  if (!(hi > lo)) {  // the centre is so large that the width vanishes in a float
    lo = std::nextafter(lo, -INFINITY);
    hi = std::nextafter(hi, INFINITY);
  }
}

}  // namespace

PressurePlotSetup SetUpPressurePlot(int client_width, int client_height, float start_time,
                                    float end_time, float min_pressure, float peak_pressure,
                                    float sample_interval) {
  PressurePlotSetup setup;
  setup.layout = PressureBandLayout(client_width, client_height);
  const Layout& layout = setup.layout;

  Frame& frame = setup.frame;
  frame.PlotXMin = kMilliPerUnit * start_time;
  frame.PlotXMax = kMilliPerUnit * end_time;
  frame.PlotYMin = kKiloPerUnit * min_pressure;
  frame.PlotYMax = kKiloPerUnit * peak_pressure;
  float dt_ms = kMilliPerUnit * sample_interval;
  if (!(dt_ms > 0.0f) || !std::isfinite(dt_ms)) dt_ms = 1.0f;
  Widen(frame.PlotXMin, frame.PlotXMax, dt_ms);
  Widen(frame.PlotYMin, frame.PlotYMax, 1.0f);
  frame = FrameOver(layout, frame.PlotXMin, frame.PlotXMax, frame.PlotYMin, frame.PlotYMax);

  AxesStyle& axes = setup.axes;
  axes.XTickStep = NiceStep((frame.PlotXMax - frame.PlotXMin) / 50.0f);
  axes.XLabelEvery = 5;
  axes.YTickStep = NiceStep((frame.PlotYMax - frame.PlotYMin) / 30.0f);
  axes.YLabelEvery = 5;
  axes.XCaption = kTimeCaption;
  axes.YCaption = kPressureCaption;
  axes.YTickLength = RoundToInt(0.006435 * layout.PlotWidth);
  axes.XTickLength = RoundToInt(0.0195 * layout.PlotHeight);
  return setup;
}

Rgb OverlayTraceColour(int trace_count) {
  switch (trace_count) {
    case 1:
      return {255, 0, 0};
    case 2:
    case 5:
      return {0, 128, 0};
    case 3:
      return {255, 0, 255};
    case 4:
      return {0, 255, 255};
    default:
      return {128, 0, 0};
  }
}

TraceGeometry PressureTrace(const Frame& frame, int plot_width, std::span<const float> samples,
                            float dt, float start_time) {
  TraceGeometry trace;
  if (samples.empty()) return trace;
  const std::int64_t last = static_cast<std::int64_t>(samples.size()) - 1;
  const std::int64_t s = std::max<std::int64_t>(last / std::max(plot_width, 1), 1);
  auto time_ms = [dt, start_time](std::int64_t i) {
    return static_cast<float>(kMilliPerUnit * (static_cast<double>(i) * dt + start_time));
  };
  if (s < kStrokeGroupThreshold) {
    trace.polyline.reserve(samples.size());
    for (std::int64_t i = 0; i <= last; ++i) {
      float x = time_ms(i);
      float y = kKiloPerUnit * samples[static_cast<std::size_t>(i)];
      trace.polyline.push_back(WorldToScreen(frame, x, y));
    }
    return trace;
  }
  trace.strokes = true;
  const std::int64_t groups = last / s;
  trace.groups.reserve(static_cast<std::size_t>(groups));
  for (std::int64_t g = 0; g < groups; ++g) {
    // Extremes start from the group's first sample, so that a group lying
    // wholly beyond any fixed sentinel still reports one of its samples.
    const std::size_t first = static_cast<std::size_t>(g * s);
    float largest = samples[first];
    float smallest = samples[first];
    for (std::size_t k = first + 1; k < first + static_cast<std::size_t>(s); ++k) {
      if (samples[k] > largest) largest = samples[k];
      if (samples[k] < smallest) smallest = samples[k];
    }
    const float x = time_ms(g * s + s - 1);
    float x1 = x;
    float y1 = kKiloPerUnit * largest;
    float x2 = x;
    float y2 = kKiloPerUnit * smallest;
    trace.groups.push_back({WorldToScreen(frame, x1, y1), WorldToScreen(frame, x2, y2)});
  }
  return trace;
}

std::vector<ScreenPoint> ReflexCurve(const Frame& frame, std::int32_t last_sample, float dt,
                                     std::int32_t onset_sample, float& factor, float decay) {
  std::vector<ScreenPoint> points;
  if (last_sample < 0) return points;
  points.reserve(static_cast<std::size_t>(last_sample) + 1);
  for (std::int32_t i = 0; i <= last_sample; ++i) {
    float x = static_cast<float>(static_cast<double>(i) * dt * kMilliPerUnit);
    float y = 0.0f;
    if (i > onset_sample) {
      factor = factor * decay;
      y = (1.0f - factor) * frame.PlotYMax;
    }
    points.push_back(WorldToScreen(frame, x, y));
  }
  return points;
}

}  // namespace korva::plot
