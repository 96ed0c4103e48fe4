// The part of the pressure-time plot on view: zooming and panning change
// what is drawn, never the samples. Times in seconds and pressures in
// pascals, as the plot's setup takes them.
#pragma once

#include <QPoint>
#include <QRect>
#include <cstdint>
#include <optional>

#include "core/plot/frame.h"

namespace korva::ui {

struct PressureView {
  float start_time = 0.0f;  // s
  float end_time = 0.0f;    // s
  float min_pressure = 0.0f;
  float peak_pressure = 0.0f;
  bool operator==(const PressureView&) const = default;
};

// The smallest view: a few samples across, whatever the zoom asks.
inline constexpr int kMinSamplesOnView = 4;

// The view with `full` as the whole waveform's extent, zoomed in time by
// `factor` (< 1 zooms in) around the time at screen `x` of `frame`, kept
// within the waveform and at least kMinSamplesOnView samples wide. The
// pressure range stays as it is.
PressureView ZoomedInTime(const PressureView& current, const PressureView& full,
                          const plot::Frame& frame, int x, double factor, float dt);

// The view moved in time by `fraction` of its width (negative: earlier),
// stopping at the waveform's ends.
PressureView PannedInTime(const PressureView& current, const PressureView& full, double fraction);

// The view of the screen rectangle `area` of `frame`; nothing when the
// rectangle is too small to mean a zoom (a click).
std::optional<PressureView> ViewOfRectangle(const plot::Frame& frame, QRect area,
                                            const PressureView& full, float dt);

// World coordinates (ms, kPa) under screen point `at` of `frame`.
struct WorldPoint {
  double ms = 0.0;
  double kpa = 0.0;
};
WorldPoint ScreenToWorld(const plot::Frame& frame, QPoint at);

// The sample nearest to time `ms` of a waveform starting at `start_time` (s)
// with interval dt, within 0..last_sample.
std::int32_t SampleAtTime(double ms, float start_time, float dt, std::int32_t last_sample);

}  // namespace korva::ui
