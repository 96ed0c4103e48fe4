// Drawing of the pressure-time plot and its linear axes with QPainter, on any
// image the size of a client area: the window's canvas or an off-screen
// image of the plot command. The geometry comes from core/plot.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/metrics/leq300.h"
#include "core/model/reflex.h"
#include "core/plot/axes.h"
#include "core/plot/frame.h"
#include "core/plot/log_axes.h"
#include "core/plot/pressure_plot.h"
#include "core/waveform/session.h"
#include "render/plot_view.h"
#include "render/surface.h"

namespace korva::render {

// Frames and axis values that persist between drawings.
struct PlotState {
  // frames[0], frame 1: the pressure plot, on which the cursor lines stand.
  // frames[1], frame 2: a copy of frame 1 after each pressure plot, or the
  //   waveform of the two-range plot below the movie.
  // frames[2], frame 3: the upper band's second range (protector picture,
  //   hazard along the cochlea).
  // frames[3], frame 4: the hazard against time below the movie.
  std::array<plot::Frame, 4> frames{};
  bool frame2_set = false;  // a pressure plot has defined frame 2
  plot::Layout layout;
  plot::AxesStyle axes;
  int TraceCount = 0;  // 1 after Open or Import; counts overlay traces
  // The zoomed part of the pressure plot; none: the whole waveform. A fresh
  // plot of a waveform starts unzoomed.
  std::optional<PressureView> view;
  // The zoomed part of the spectrum; none: all of it.
  std::optional<SpectrumView> spectrum_view;
};

QColor ToQColor(plot::Rgb rgb);

// "Arial" bold (or its metric twin Liberation Sans) at the plot size rule.
QFont PlotFont(int client_width, int client_height);

// Text placed at (x, y) by the anchor code (0..8), in the painter's font and pen.
void LabelOut(QPainter& painter, int x, int y, const QString& text, int anchor);
// The same on a white box of the text's size, over whatever was drawn there:
// titles and captions drawn last stay readable where curves pass beneath.
void LabelOverOut(QPainter& painter, int x, int y, const QString& text, int anchor);
// The same with the text rotated by 90 degrees, reading upward.
void RotatedLabelOut(QPainter& painter, int x, int y, const QString& text, int anchor);

// A waveform trace (polyline or min/max strokes) in the painter's pen.
void DrawTrace(QPainter& painter, const plot::TraceGeometry& trace);
// The plot rectangle of `frame`, edges included.
QRect BoxOf(const plot::Frame& frame);
// The samples of a waveform (from start_time, s, at interval dt) whose times
// lie on the frame's time range, and one beyond each side so that the trace
// meets the box: those further off would be pressed flat against its edges.
// In a zoomed view the trace is also cut at the top and bottom of the box.
void DrawVisibleTrace(QPainter& painter, const plot::Frame& frame, int plot_width,
                      std::span<const float> samples, float dt, float start_time, bool zoomed);

// Box, ticks, labels and captions of `axes` in black.
void PlotLinearAxes(QPainter& painter, const plot::LinearAxes& axes);

// The log-frequency axes with their two vertical captions.
void PlotLogAxes(QPainter& painter, const plot::LogAxes& axes);

// The whole of the spectrum as a view.
SpectrumView WholeSpectrum(const Leq300msSpectrum& spectrum);

// The frame of the spectrum (or of `view` of it) in the upper half of a
// client of width x height.
plot::Frame SpectrumFrame(const Leq300msSpectrum& spectrum, const std::optional<SpectrumView>& view,
                          int width, int height);

// The Leq300ms spectrum in the upper half of `image`, or the part of it in
// `view`: the axes, the narrow-band trace in blue and the third-octave band
// trace in green. With `clear_band` the upper half is whitened first. The
// pressure plot's frame is left as it was: the cursor lines keep standing on it.
void DrawLeq300msSpectrum(Surface& image, const Leq300msSpectrum& spectrum,
                          const std::string& title, bool clear_band,
                          const std::optional<SpectrumView>& view = std::nullopt);

// What the status bar reads under `at` on that spectrum drawn on a client of
// width x height: the frequency, the narrow-band level there and the level of
// the third-octave band around it; empty outside the plot.
QString SpectrumReadoutAt(const Leq300msSpectrum& spectrum, const std::optional<SpectrumView>& view,
                          int width, int height, QPoint at);

// One pressure-time trace in the lower half of the client area, with what
// it needs to be drawn again at any size: either on fresh axes (the band
// cleared, the zero line, axes and title) or over the plot drawn before it,
// sharing that plot's axes (an overlay).
struct PressurePlotInput {
  std::shared_ptr<const std::vector<float>> samples;  // Pa, samples 0..LastSample
  float dt = 0.0f;                                    // s
  float start_time = 0.0f;                            // s
  float end_time = 0.0f;                              // s
  float min_pressure = 0.0f;                          // Pa
  float peak_pressure = 0.0f;                         // Pa
  std::string title;
  bool fresh_axes = true;
  QColor colour;
};

// The session's waveform as a fresh plot, taken without changing anything.
PressurePlotInput PressurePlotOf(const Session& session);

// The plot the session's waveform gets now: fresh axes with ClearPlotFirst
// or before any plot was drawn, else an overlay trace in the colour of
// TraceCount (which counts it). Sets KeepPlotRange and the session's plot
// range. Nothing while there is no waveform.
std::optional<PressurePlotInput> NextPressurePlot(Session& session, PlotState& state,
                                                  int client_width, int client_height);

// Draws one plot of NextPressurePlot into `image`: frame 1 and frame 2 become
// its frame, the layout and axes its own.
void DrawPressurePlot(Surface& image, const PressurePlotInput& plot, PlotState& state);

// NextPressurePlot drawn at once, for a picture that is drawn only once.
void PressureTimePlot(Surface& image, Session& session, PlotState& state);

// The reflex activation curve in RGB(0,170,170) over frame 1, for a
// waveform of last_sample + 1 samples at interval dt.
void DrawReflexCurve(Surface& image, const PlotState& state, std::int32_t last_sample, float dt,
                     const ReflexTiming& timing);

}  // namespace korva::render
