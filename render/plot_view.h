// The part of a plot on view: zooming and panning change what is drawn,
// never the data. The pressure-time plot's view is in seconds and pascals,
// as the plot's setup takes them; the spectrum's in its frame's units.
#pragma once

#include <QPoint>
#include <QRect>
#include <cstdint>
#include <optional>

#include "core/plot/frame.h"

namespace korva::render {

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

// One axis's range on view, in world units.
struct Span {
  double from = 0.0;
  double to = 0.0;
};

// `current` zoomed by `factor` (< 1 zooms in) around `at`, which keeps its
// place on screen; at least `narrowest` wide and within `full`.
Span ZoomedSpan(Span current, Span full, double at, double factor, double narrowest);

// `current` moved by `fraction` of its width, stopping at the ends of `full`.
Span PannedSpan(Span current, Span full, double fraction);

// The part of the spectrum on view: log10 of the frequency in hertz across,
// level in dB up.
struct SpectrumView {
  float x_min = 0.0f;
  float x_max = 0.0f;
  float y_min = 0.0f;
  float y_max = 0.0f;
  bool operator==(const SpectrumView&) const = default;
};

// The narrowest frequency view, in decades (a 2.3 % wide band): still a
// few narrow-band bins above some 150 Hz.
inline constexpr double kMinDecadesOnView = 0.01;

// The spectrum's frequency view zoomed by `factor` around screen `x` of
// `frame`, and moved by `fraction` of its width; the level range stays.
SpectrumView ZoomedInFrequency(const SpectrumView& current, const SpectrumView& full,
                               const plot::Frame& frame, int x, double factor);
SpectrumView PannedInFrequency(const SpectrumView& current, const SpectrumView& full,
                               double fraction);

// The spectrum view of the screen rectangle `area` of `frame`; nothing for a click.
std::optional<SpectrumView> SpectrumViewOfRectangle(const plot::Frame& frame, QRect area,
                                                    const SpectrumView& full);

// World coordinates (ms, kPa) under screen point `at` of `frame`.
struct WorldPoint {
  double ms = 0.0;
  double kpa = 0.0;
};
WorldPoint ScreenToWorld(const plot::Frame& frame, QPoint at);

// The sample nearest to time `ms` of a waveform starting at `start_time` (s)
// with interval dt, within 0..last_sample.
std::int32_t SampleAtTime(double ms, float start_time, float dt, std::int32_t last_sample);

}  // namespace korva::render
