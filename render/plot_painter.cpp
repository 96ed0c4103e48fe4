#include "render/plot_painter.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/common/numbers.h"

namespace korva::render {
namespace {

QPoint ToQPoint(plot::ScreenPoint p) {
  return {p.x, p.y};
}

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Windows font names mapped to installed faces: the Liberation fonts share
// the metrics of Arial and Times New Roman.
QString SansFamily() {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    if (families.contains("Arial")) return QString("Arial");
    if (families.contains("Liberation Sans")) return QString("Liberation Sans");
    return QString("Sans Serif");
  }();
  return family;
}

QPainter& Prepare(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  return painter;
}

// Samples [first, first + count) of a waveform of `size` samples from
// start_time (s) at interval dt whose times lie within the frame's time
// range, widened by one sample each side.
struct VisibleSamples {
  std::size_t first = 0;
  std::size_t count = 0;
};
VisibleSamples SamplesWithin(const plot::Frame& frame, float start_time, float dt,
                             std::size_t size) {
  if (size == 0) return {};
  if (!(dt > 0.0f)) return {0, size};
  const double last = static_cast<double>(size - 1);
  const double from = std::floor((frame.PlotXMin / 1000.0 - start_time) / dt) - 1.0;
  const double to = std::ceil((frame.PlotXMax / 1000.0 - start_time) / dt) + 1.0;
  if (to < 0.0 || from > last) return {};
  const auto first = static_cast<std::size_t>(std::max(from, 0.0));
  const auto end = static_cast<std::size_t>(std::min(to, last)) + 1;
  return {first, end - first};
}

// A frame of the same scales as `frame` whose ranges reach a whole view
// beyond each side, for drawing code that places points through a frame:
// points off the view land beyond the box, where a clip cuts them, instead
// of being pressed flat along its edges.
plot::Frame ReachingBeyond(const plot::Frame& frame) {
  const float width = frame.PlotXMax - frame.PlotXMin;
  const float height = frame.PlotYMax - frame.PlotYMin;
  plot::Frame placing = frame;
  placing.PlotXMin -= width;
  placing.PlotXMax += width;
  placing.PlotYMin -= height;
  placing.PlotYMax += height;
  placing.left -= static_cast<int>(std::lround(width * frame.XScale));
  placing.top -= static_cast<int>(std::lround(height * -frame.YScale));
  return placing;
}

}  // namespace

QColor ToQColor(plot::Rgb rgb) {
  return QColor(rgb.r, rgb.g, rgb.b);
}

QFont PlotFont(int client_width, int client_height) {
  QFont font(SansFamily());
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  font.setPixelSize(plot::PointsToPixels(plot::PlotFontPoints(client_width, client_height)));
  return font;
}

void LabelOut(QPainter& painter, int x, int y, const QString& text, int anchor) {
  const QFontMetrics metrics(painter.font());
  const int width = metrics.horizontalAdvance(text);
  const int height = metrics.height();
  const plot::ScreenPoint top_left = plot::AnchorTopLeft(anchor, x, y, width, height);
  painter.drawText(QRect(top_left.x, top_left.y, width + 1, height), Qt::AlignLeft | Qt::AlignTop,
                   text);
}

void LabelOverOut(QPainter& painter, int x, int y, const QString& text, int anchor) {
  if (text.isEmpty()) return;
  const QFontMetrics metrics(painter.font());
  const int width = metrics.horizontalAdvance(text);
  const plot::ScreenPoint top_left = plot::AnchorTopLeft(anchor, x, y, width, metrics.height());
  painter.fillRect(QRect(top_left.x - 2, top_left.y, width + 4, metrics.height()), Qt::white);
  LabelOut(painter, x, y, text, anchor);
}

void RotatedLabelOut(QPainter& painter, int x, int y, const QString& text, int anchor) {
  const QFontMetrics metrics(painter.font());
  const int width = metrics.horizontalAdvance(text);
  const int height = metrics.height();
  const plot::ScreenPoint start = plot::AnchorRotatedStart(anchor, x, y, width, height);
  painter.save();
  painter.translate(start.x, start.y);
  painter.rotate(-90.0);
  painter.drawText(QRect(0, 0, width + 1, height), Qt::AlignLeft | Qt::AlignTop, text);
  painter.restore();
}

void DrawTrace(QPainter& painter, const plot::TraceGeometry& trace) {
  if (trace.strokes) {
    for (const plot::Stroke& stroke : trace.groups) {
      painter.drawLine(ToQPoint(stroke.from), ToQPoint(stroke.to));
    }
  } else if (trace.polyline.size() == 1) {
    painter.drawPoint(ToQPoint(trace.polyline.front()));
  } else {
    QPolygon polygon;
    polygon.reserve(static_cast<qsizetype>(trace.polyline.size()));
    for (const plot::ScreenPoint& p : trace.polyline) polygon.append(ToQPoint(p));
    painter.drawPolyline(polygon);
  }
}

void PlotLinearAxes(QPainter& painter, const plot::LinearAxes& axes) {
  Prepare(painter);
  painter.setPen(QPen(Qt::black, 0));
  const QPoint lower_left(axes.box_left, axes.box_bottom);
  const QPoint lower_right(axes.box_right, axes.box_bottom);
  const QPoint upper_right(axes.box_right, axes.box_top);
  const QPoint upper_left(axes.box_left, axes.box_top);
  painter.drawLine(lower_left, lower_right);
  painter.drawLine(lower_right, upper_right);
  painter.drawLine(upper_right, upper_left);
  painter.drawLine(upper_left, lower_left);
  for (const auto* side : {&axes.bottom, &axes.right, &axes.top, &axes.left}) {
    for (const plot::AxisTick& tick : *side) {
      painter.drawLine(ToQPoint(tick.at), ToQPoint(tick.tip));
      if (tick.labelled) {
        LabelOut(painter, tick.label_at.x, tick.label_at.y, Latin1(tick.label), tick.anchor);
      }
    }
  }
  for (const plot::Caption* caption : {&axes.x_caption, &axes.title}) {
    LabelOut(painter, caption->at.x, caption->at.y, Latin1(caption->text), caption->anchor);
  }
  for (const plot::Caption* caption : {&axes.y_caption, &axes.right_caption}) {
    if (caption->text.empty()) continue;
    RotatedLabelOut(painter, caption->at.x, caption->at.y, Latin1(caption->text), caption->anchor);
  }
}

void PlotLogAxes(QPainter& painter, const plot::LogAxes& axes) {
  PlotLinearAxes(painter, axes.axes);
  RotatedLabelOut(painter, axes.units_caption.at.x, axes.units_caption.at.y,
                  Latin1(axes.units_caption.text), axes.units_caption.anchor);
}

SpectrumView WholeSpectrum(const Leq300msSpectrum& spectrum) {
  return {spectrum.PlotXMin, spectrum.PlotXMax, spectrum.PlotYMin, spectrum.PlotYMax};
}

plot::Frame SpectrumFrame(const Leq300msSpectrum& spectrum, const std::optional<SpectrumView>& view,
                          int width, int height) {
  const SpectrumView shown = view.value_or(WholeSpectrum(spectrum));
  return plot::FrameOver(plot::SpectrumBandLayout(width, height), shown.x_min, shown.x_max,
                         shown.y_min, shown.y_max);
}

void DrawLeq300msSpectrum(Surface& image, const Leq300msSpectrum& spectrum,
                          const std::string& title, bool clear_band,
                          const std::optional<SpectrumView>& view) {
  const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
  const plot::Frame frame = SpectrumFrame(spectrum, view, image.width(), image.height());
  // A zoomed level range is ticked by the rule the whole one is.
  const float tick_step =
      view ? plot::NiceStep((view->y_max - view->y_min) / 30.0f) : spectrum.YTickStep;
  plot::AxesStyle style = plot::LevelAxesStyle(layout, tick_step, spectrum.YLabelEvery);
  style.Title = title;

  SurfacePainter paint(image);

  QPainter& painter = *paint;
  Prepare(painter);
  if (clear_band) {
    painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
  }
  painter.setFont(PlotFont(image.width(), image.height()));
  const plot::LogAxes plan =
      plot::PlanLogAxes(frame, layout, style, kSpectrumCaption, kSpectrumUnitsCaption);
  PlotLogAxes(painter, plan);

  // In a zoomed view the traces are cut at the box rather than pressed flat
  // along its edges.
  if (view) painter.setClipRect(BoxOf(frame));
  auto point = [&frame, zoomed = view.has_value()](double x, double y) {
    if (zoomed) return ToQPoint(plot::WorldToScreenBeyond(frame, x, y));
    float wx = static_cast<float>(x);
    float wy = static_cast<float>(y);
    return ToQPoint(plot::WorldToScreen(frame, wx, wy));
  };
  // Narrow band: bins 1 .. half - 1 (DC and Nyquist have no mirror image and
  // would misstate the level).
  const BinEnergies& bins = spectrum.bins;
  QPolygon narrow;
  for (std::int32_t j = 1; j < bins.half; ++j) {
    narrow.append(point(std::log10(j * bins.df),
                        10.0 * std::log10(double{bins.P[static_cast<std::size_t>(j)]})));
  }
  painter.setPen(QPen(QColor(0, 0, 255), 0));
  if (narrow.size() > 1) painter.drawPolyline(narrow);
  QPolygon band;
  for (int b = spectrum.bands.first; b <= spectrum.bands.last; ++b) {
    band.append(point(b / 10.0, spectrum.bands.Level(b)));
  }
  painter.setPen(QPen(QColor(0, 128, 0), 0));
  if (band.size() > 1) painter.drawPolyline(band);
  painter.setClipping(false);
  // The title stands inside the plot: over the curves, not under them.
  const plot::Caption& caption = plan.axes.title;
  painter.setPen(Qt::black);
  LabelOverOut(painter, caption.at.x, caption.at.y, Latin1(caption.text), caption.anchor);
}

QString SpectrumReadoutAt(const Leq300msSpectrum& spectrum, const std::optional<SpectrumView>& view,
                          int width, int height, QPoint at) {
  const plot::Layout layout = plot::SpectrumBandLayout(width, height);
  if (at.x() < layout.PlotLeft || at.x() > layout.PlotLeft + layout.PlotWidth ||
      at.y() < layout.PlotTop || at.y() > layout.PlotTop + layout.PlotHeight) {
    return {};
  }
  const plot::Frame frame = SpectrumFrame(spectrum, view, width, height);
  const double decade = ScreenToWorld(frame, at).ms;  // log10 of the frequency
  const BinEnergies& bins = spectrum.bins;
  if (bins.half < 2 || !(bins.df > 0.0)) return {};
  const auto bin = static_cast<std::int32_t>(std::clamp(
      std::nearbyint(std::pow(10.0, decade) / bins.df), 1.0, static_cast<double>(bins.half - 1)));
  const double energy = bins.P[static_cast<std::size_t>(bin)];
  std::string text = FormatFixed(static_cast<double>(bin) * bins.df, 1) + " Hz   " +
                     (energy > 0.0 ? FormatFixed(10.0 * std::log10(energy), 1) + " dB" : "-inf dB");
  const int band = static_cast<int>(std::lround(10.0 * decade));
  if (band >= spectrum.bands.first && band <= spectrum.bands.last) {
    text += "   (1/3 octave " + FormatFixed(BandEnergies::CentreFrequency(band), 0) +
            " Hz: " + FormatFixed(spectrum.bands.Level(band), 2) + " dB)";
  }
  return QString::fromStdString(text);
}

PressurePlotInput PressurePlotOf(const Session& session) {
  PressurePlotInput plot;
  if (session.LastSample >= 0) {
    const auto samples = session.Pressure.Range(0, session.LastSample);
    plot.samples = std::make_shared<const std::vector<float>>(samples.begin(), samples.end());
  } else {
    plot.samples = std::make_shared<const std::vector<float>>();
  }
  plot.dt = session.SampleInterval;
  plot.start_time = session.StartTime;
  plot.end_time = session.EndTime;
  plot.min_pressure = session.MinPressure;
  plot.peak_pressure = session.PeakPressure;
  plot.title = session.WaveformTitle;
  plot.colour = ToQColor(plot::kBlue);
  return plot;
}

std::optional<PressurePlotInput> NextPressurePlot(Session& session, PlotState& state,
                                                  int client_width, int client_height) {
  if (session.LastSample < 0) return std::nullopt;
  session.KeepPlotRange = true;
  const plot::PressurePlotSetup setup =
      plot::SetUpPressurePlot(client_width, client_height, session.StartTime, session.EndTime,
                              session.MinPressure, session.PeakPressure, session.SampleInterval);
  session.PlotYMax = setup.frame.PlotYMax;
  session.PlotYMin = setup.frame.PlotYMin;

  PressurePlotInput plot = PressurePlotOf(session);
  plot.fresh_axes = session.ClearPlotFirst || !state.frame2_set;
  if (plot.fresh_axes) {
    state.view.reset();
    plot.colour = state.TraceCount == 0 ? Qt::white : ToQColor(plot::kBlue);
  } else {
    plot.colour = ToQColor(plot::OverlayTraceColour(state.TraceCount));
    ++state.TraceCount;
  }
  return plot;
}

void DrawPressurePlot(Surface& image, const PressurePlotInput& plot, PlotState& state) {
  const int width = image.width();
  const int height = image.height();
  PressureView range{plot.start_time, plot.end_time, plot.min_pressure, plot.peak_pressure};
  if (state.view) range = *state.view;
  plot::PressurePlotSetup setup =
      plot::SetUpPressurePlot(width, height, range.start_time, range.end_time, range.min_pressure,
                              range.peak_pressure, plot.dt);
  state.layout = setup.layout;
  setup.axes.Title = plot.title;
  state.axes = setup.axes;
  const plot::Layout& layout = setup.layout;

  SurfacePainter paint(image);

  QPainter& painter = *paint;
  Prepare(painter);
  // An overlay shares the axes of the plot drawn before it.
  plot::Frame frame = plot.fresh_axes || !state.frame2_set ? setup.frame : state.frames[1];
  if (plot.fresh_axes) {
    painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
    // A zoomed pressure range may leave zero off the view.
    if (frame.PlotYMin <= 0.0f && frame.PlotYMax >= 0.0f) {
      painter.setPen(QPen(ToQColor(plot::kPurple), 0));
      painter.drawLine(ToQPoint(plot::WorldToScreenBeyond(frame, frame.PlotXMin, 0.0)),
                       ToQPoint(plot::WorldToScreenBeyond(frame, frame.PlotXMax, 0.0)));
    }
  }
  state.frames[0] = frame;

  painter.setPen(QPen(plot.colour, 0));
  DrawVisibleTrace(painter, frame, layout.PlotWidth, *plot.samples, plot.dt, plot.start_time,
                   state.view.has_value());

  painter.setFont(PlotFont(width, height));
  if (plot.fresh_axes) {
    PlotLinearAxes(painter, plot::PlanLinearAxes(frame, layout, state.axes));
  }
  state.frames[1] = frame;
  state.frame2_set = true;
}

QRect BoxOf(const plot::Frame& frame) {
  const plot::ScreenPoint corner = plot::WorldToScreenBeyond(frame, frame.PlotXMax, frame.PlotYMin);
  return QRect(QPoint(frame.left, frame.top), QPoint(corner.x, corner.y));
}

void DrawVisibleTrace(QPainter& painter, const plot::Frame& frame, int plot_width,
                      std::span<const float> samples, float dt, float start_time, bool zoomed) {
  const VisibleSamples visible = SamplesWithin(frame, start_time, dt, samples.size());
  if (visible.count == 0) return;
  painter.save();
  if (zoomed) painter.setClipRect(BoxOf(frame));
  DrawTrace(painter, plot::PressureTrace(zoomed ? ReachingBeyond(frame) : frame, plot_width,
                                         samples.subspan(visible.first, visible.count), dt,
                                         start_time + static_cast<float>(visible.first) * dt));
  painter.restore();
}

void PressureTimePlot(Surface& image, Session& session, PlotState& state) {
  if (const auto plot = NextPressurePlot(session, state, image.width(), image.height())) {
    DrawPressurePlot(image, *plot, state);
  }
}

void DrawReflexCurve(Surface& image, const PlotState& state, std::int32_t last_sample, float dt,
                     const ReflexTiming& timing) {
  float factor = timing.ReflexFactor;
  std::vector<plot::ScreenPoint> curve = plot::ReflexCurve(
      state.frames[0], last_sample, dt, timing.ReflexOnsetSample, factor, timing.ReflexDecay);
  // One point per sample from time 0: in a zoomed view, only those on view.
  const VisibleSamples visible = SamplesWithin(state.frames[0], 0.0f, dt, curve.size());
  curve.erase(curve.begin() + static_cast<std::ptrdiff_t>(visible.first + visible.count),
              curve.end());
  curve.erase(curve.begin(), curve.begin() + static_cast<std::ptrdiff_t>(visible.first));
  if (curve.size() < 2) return;
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  Prepare(painter);
  painter.setPen(QPen(ToQColor(plot::kReflexCurve), 0));
  QPolygon polygon;
  polygon.reserve(static_cast<qsizetype>(curve.size()));
  for (const plot::ScreenPoint& p : curve) polygon.append(ToQPoint(p));
  painter.drawPolyline(polygon);
  // The curve climbs to the top of the plot, where the title stands.
  const plot::Caption title = plot::PlanLinearAxes(state.frames[0], state.layout, state.axes).title;
  painter.setFont(PlotFont(image.width(), image.height()));
  painter.setPen(Qt::black);
  LabelOverOut(painter, title.at.x, title.at.y, Latin1(title.text), title.anchor);
}

}  // namespace korva::render
