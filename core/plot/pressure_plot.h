// The arithmetic of the pressure-time plot: ranges in milliseconds and
// kilopascals, tick steps, tick lengths, overlay colours and the trace as
// screen points (a polyline, or one min/max stroke per pixel-sized group of
// samples when there are many samples per column).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/plot/axes.h"
#include "core/plot/frame.h"

namespace korva::plot {

inline constexpr const char* kTimeCaption = "TIME IN MILLISECONDS";
inline constexpr const char* kPressureCaption = "PRESSURE IN KILOPASCALS";

// Frame 1 of a pressure-time plot of a client area: layout, world ranges
// (ms, kPa) and scales, and the axis steps, tick lengths and captions.
struct PressurePlotSetup {
  Layout layout;
  Frame frame;
  AxesStyle axes;
};

// start_time, end_time in seconds; min_pressure, peak_pressure in pascals;
// sample_interval in seconds. An empty or inverted range is widened (time by
// one sample interval each way, pressure by 1 kPa each way) so that a flat or
// one-sample waveform still has a plot.
PressurePlotSetup SetUpPressurePlot(int client_width, int client_height, float start_time,
                                    float end_time, float min_pressure, float peak_pressure,
                                    float sample_interval);

// Colour and pen width of an overlay trace by the number of traces drawn so
// far: 1 red (1 px), 2 green, 3 fuchsia, 4 aqua, 5 green, others maroon.
Rgb OverlayTraceColour(int trace_count);

// Groups of samples per pixel column from which the trace switches to strokes.
inline constexpr std::int32_t kStrokeGroupThreshold = 100;

struct Stroke {
  ScreenPoint from;  // the group's largest value
  ScreenPoint to;    // the group's smallest value
};

struct TraceGeometry {
  bool strokes = false;
  std::vector<ScreenPoint> polyline;  // when !strokes
  std::vector<Stroke> groups;         // when strokes
};

// The trace of samples[0..last] at times i x dt + start_time (seconds),
// drawn in milliseconds and kilopascals on `frame` with `plot_width` pixel
// columns. With s = trunc(last / plot_width) >= 100 samples per column, each
// full group of s samples becomes one vertical stroke from its largest to its
// smallest value at the time of its last sample; samples after the last full
// group are not drawn.
TraceGeometry PressureTrace(const Frame& frame, int plot_width, std::span<const float> samples,
                            float dt, float start_time);

// The reflex activation curve over the waveform: 0 up to the onset sample,
// then (1 - f) x PlotYMax with f decaying from `factor` by `decay` each
// sample, at time i x dt (seconds). `factor` is updated as it is consumed.
std::vector<ScreenPoint> ReflexCurve(const Frame& frame, std::int32_t last_sample, float dt,
                                     std::int32_t onset_sample, float& factor, float decay);

}  // namespace korva::plot
