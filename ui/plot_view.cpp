#include "ui/plot_view.h"

#include <algorithm>
#include <cmath>

namespace korva::ui {
namespace {

constexpr double kMilli = 1000.0;
constexpr double kKilo = 0.001;
constexpr int kMinRectanglePixels = 4;

// [from, to] of `width` moved inside [lo, hi] (or made [lo, hi] when wider).
void KeepWithin(double& from, double& to, double lo, double hi) {
  const double width = to - from;
  if (width >= hi - lo) {
    from = lo;
    to = hi;
    return;
  }
  if (from < lo) {
    from = lo;
    to = lo + width;
  }
  if (to > hi) {
    to = hi;
    from = hi - width;
  }
}

}  // namespace

WorldPoint ScreenToWorld(const plot::Frame& frame, QPoint at) {
  return {frame.PlotXMin + (at.x() - frame.left) / static_cast<double>(frame.XScale),
          frame.PlotYMax + (at.y() - frame.top) / static_cast<double>(frame.YScale)};
}

std::int32_t SampleAtTime(double ms, float start_time, float dt, std::int32_t last_sample) {
  if (last_sample < 0 || !(dt > 0.0f)) return 0;
  const double index = std::nearbyint((ms / kMilli - start_time) / dt);
  return static_cast<std::int32_t>(std::clamp(index, 0.0, static_cast<double>(last_sample)));
}

PressureView ZoomedInTime(const PressureView& current, const PressureView& full,
                          const plot::Frame& frame, int x, double factor, float dt) {
  const double at = std::clamp(ScreenToWorld(frame, QPoint(x, frame.top)).ms / kMilli,
                               double{current.start_time}, double{current.end_time});
  const double narrowest = kMinSamplesOnView * double{dt};
  double width = std::max((current.end_time - current.start_time) * factor, narrowest);
  // The time under the mouse stays under the mouse.
  const double share = current.end_time > current.start_time
                           ? (at - current.start_time) / (current.end_time - current.start_time)
                           : 0.5;
  double from = at - share * width;
  double to = from + width;
  KeepWithin(from, to, full.start_time, full.end_time);
  PressureView view = current;
  view.start_time = static_cast<float>(from);
  view.end_time = static_cast<float>(to);
  return view;
}

PressureView PannedInTime(const PressureView& current, const PressureView& full, double fraction) {
  const double shift = (current.end_time - current.start_time) * fraction;
  double from = current.start_time + shift;
  double to = current.end_time + shift;
  KeepWithin(from, to, full.start_time, full.end_time);
  PressureView view = current;
  view.start_time = static_cast<float>(from);
  view.end_time = static_cast<float>(to);
  return view;
}

std::optional<PressureView> ViewOfRectangle(const plot::Frame& frame, QRect area,
                                            const PressureView& full, float dt) {
  area = area.normalized();
  if (area.width() < kMinRectanglePixels || area.height() < kMinRectanglePixels) {
    return std::nullopt;
  }
  const WorldPoint top_left = ScreenToWorld(frame, area.topLeft());
  const WorldPoint bottom_right = ScreenToWorld(frame, area.bottomRight());
  double from = top_left.ms / kMilli;
  double to = bottom_right.ms / kMilli;
  const double narrowest = kMinSamplesOnView * double{dt};
  if (to - from < narrowest) to = from + narrowest;
  KeepWithin(from, to, full.start_time, full.end_time);
  PressureView view;
  view.start_time = static_cast<float>(from);
  view.end_time = static_cast<float>(to);
  view.min_pressure = static_cast<float>(bottom_right.kpa / kKilo);
  view.peak_pressure = static_cast<float>(top_left.kpa / kKilo);
  return view;
}

}  // namespace korva::ui
