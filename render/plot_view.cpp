#include "render/plot_view.h"

#include <algorithm>
#include <cmath>

namespace korva::render {
namespace {

constexpr double kMilli = 1000.0;
constexpr double kKilo = 0.001;
constexpr int kMinRectanglePixels = 4;

// `span` moved inside `within` (or made `within` when wider).
Span KeptWithin(Span span, Span within) {
  const double width = span.to - span.from;
  if (width >= within.to - within.from) return within;
  if (span.from < within.from) span = {within.from, within.from + width};
  if (span.to > within.to) span = {within.to - width, within.to};
  return span;
}

// A rectangle smaller than this is a click, not a zoom.
bool TooSmall(QRect area) {
  return area.width() < kMinRectanglePixels || area.height() < kMinRectanglePixels;
}

Span TimeSpan(const PressureView& view) {
  return {view.start_time, view.end_time};
}

PressureView WithTimes(PressureView view, Span span) {
  view.start_time = static_cast<float>(span.from);
  view.end_time = static_cast<float>(span.to);
  return view;
}

Span FrequencySpan(const SpectrumView& view) {
  return {view.x_min, view.x_max};
}

SpectrumView WithFrequencies(SpectrumView view, Span span) {
  view.x_min = static_cast<float>(span.from);
  view.x_max = static_cast<float>(span.to);
  return view;
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

Span ZoomedSpan(Span current, Span full, double at, double factor, double narrowest) {
  at = std::clamp(at, current.from, current.to);
  const double width = std::max((current.to - current.from) * factor, narrowest);
  // The value under the mouse stays under the mouse.
  const double share =
      current.to > current.from ? (at - current.from) / (current.to - current.from) : 0.5;
  const double from = at - share * width;
  return KeptWithin({from, from + width}, full);
}

Span PannedSpan(Span current, Span full, double fraction) {
  const double shift = (current.to - current.from) * fraction;
  return KeptWithin({current.from + shift, current.to + shift}, full);
}

PressureView ZoomedInTime(const PressureView& current, const PressureView& full,
                          const plot::Frame& frame, int x, double factor, float dt) {
  const double at = ScreenToWorld(frame, QPoint(x, frame.top)).ms / kMilli;
  return WithTimes(current, ZoomedSpan(TimeSpan(current), TimeSpan(full), at, factor,
                                       kMinSamplesOnView * double{dt}));
}

PressureView PannedInTime(const PressureView& current, const PressureView& full, double fraction) {
  return WithTimes(current, PannedSpan(TimeSpan(current), TimeSpan(full), fraction));
}

std::optional<PressureView> ViewOfRectangle(const plot::Frame& frame, QRect area,
                                            const PressureView& full, float dt) {
  area = area.normalized();
  if (TooSmall(area)) return std::nullopt;
  const WorldPoint top_left = ScreenToWorld(frame, area.topLeft());
  const WorldPoint bottom_right = ScreenToWorld(frame, area.bottomRight());
  const double from = top_left.ms / kMilli;
  const double to = std::max(bottom_right.ms / kMilli, from + kMinSamplesOnView * double{dt});
  PressureView view;
  view.min_pressure = static_cast<float>(bottom_right.kpa / kKilo);
  view.peak_pressure = static_cast<float>(top_left.kpa / kKilo);
  return WithTimes(view, KeptWithin({from, to}, TimeSpan(full)));
}

SpectrumView ZoomedInFrequency(const SpectrumView& current, const SpectrumView& full,
                               const plot::Frame& frame, int x, double factor) {
  const double at = ScreenToWorld(frame, QPoint(x, frame.top)).ms;
  return WithFrequencies(current, ZoomedSpan(FrequencySpan(current), FrequencySpan(full), at,
                                             factor, kMinDecadesOnView));
}

SpectrumView PannedInFrequency(const SpectrumView& current, const SpectrumView& full,
                               double fraction) {
  return WithFrequencies(current,
                         PannedSpan(FrequencySpan(current), FrequencySpan(full), fraction));
}

std::optional<SpectrumView> SpectrumViewOfRectangle(const plot::Frame& frame, QRect area,
                                                    const SpectrumView& full) {
  area = area.normalized();
  if (TooSmall(area)) return std::nullopt;
  const WorldPoint top_left = ScreenToWorld(frame, area.topLeft());
  const WorldPoint bottom_right = ScreenToWorld(frame, area.bottomRight());
  const double from = top_left.ms;
  const double to = std::max(bottom_right.ms, from + kMinDecadesOnView);
  SpectrumView view;
  view.y_min = static_cast<float>(bottom_right.kpa);
  view.y_max = static_cast<float>(top_left.kpa);
  return WithFrequencies(view, KeptWithin({from, to}, FrequencySpan(full)));
}

}  // namespace korva::render
