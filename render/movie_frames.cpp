#include "render/movie_frames.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>

#include "core/common/numbers.h"
#include "core/plot/axes.h"

namespace korva::render {
namespace {

QPoint Point(const plot::Frame& frame, double x, double y) {
  float wx = static_cast<float>(x);
  float wy = static_cast<float>(y);
  const plot::ScreenPoint p = plot::WorldToScreen(frame, wx, wy);
  return {p.x, p.y};
}

// A range that has collapsed to a point still spans something, so the
// scales stay finite.
void Widen(float& low, float& high) {
  if (!std::isfinite(low) || !std::isfinite(high)) low = high = 0.0f;
  if (high <= low) {
    const float pad = std::max(std::fabs(low) * 0.5f, 1.0e-6f);
    low -= pad;
    high += pad;
  }
}

// The upper band laid out like the pressure plot below it.
plot::Layout UpperLayout(int width, int height) {
  plot::Layout layout = plot::PressureBandLayout(width, height);
  layout.PlotTop = 0;
  return layout;
}

plot::Frame MakeFrame(const plot::Layout& layout, float x0, float x1, float y0, float y1) {
  Widen(x0, x1);
  Widen(y0, y1);
  return plot::FrameOver(layout, x0, x1, y0, y1);
}

plot::AxesStyle AxesStyleFor(const plot::Frame& frame, const plot::Layout& layout,
                             float x_divisions, const char* x_caption, const char* y_caption) {
  plot::AxesStyle style;
  style.XTickStep = plot::NiceStep((frame.PlotXMax - frame.PlotXMin) / x_divisions);
  style.YTickStep = plot::NiceStep((frame.PlotYMax - frame.PlotYMin) / 30.0f);
  style.XTickLength = plot::XTickLengthFor(layout);
  style.YTickLength = plot::YTickLengthFor(layout);
  style.XCaption = x_caption;
  style.YCaption = y_caption;
  return style;
}

// A run without hazard still gets a hazard axis that starts at 0.
float HazardTop(float max_hazard) {
  return max_hazard > 0.0f && std::isfinite(max_hazard) ? max_hazard : 1.0f;
}

void ClearUpperBand(Surface& image) {
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.fillRect(QRect(0, 0, image.width(), image.height() / 2), Qt::white);
}

void Polyline(QPainter& painter, const QPolygon& polygon) {
  if (polygon.size() > 1) painter.drawPolyline(polygon);
}

constexpr QRgb kXorWhite = 0xFFFFFFu;

}  // namespace

Envelope ScanEnvelope(const MovieBuffer& movie, int places) {
  Envelope envelope;
  for (int c = 1; c <= places; ++c) {
    envelope.max_hazard = std::max(envelope.max_hazard, movie.At(1, c + 2));
    envelope.max_displacement = std::max(envelope.max_displacement, movie.At(2, c + 2));
    envelope.min_displacement = std::min(envelope.min_displacement, movie.At(3, c + 2));
  }
  return envelope;
}

std::int32_t LastMovieFrame(std::int32_t last_sample, std::int32_t fft_length) {
  return std::max<std::int32_t>(0, std::min(last_sample, fft_length - 1));
}

void PlotStDispTime(Surface& image, const MovieBuffer& movie, std::int32_t last_frame, float dt,
                    float start_time) {
  ClearUpperBand(image);
  const plot::Layout layout = UpperLayout(image.width(), image.height());
  const plot::Frame frame =
      MakeFrame(layout, 0.0f, static_cast<float>(last_frame * double{dt} * 1000.0), movie.At(3, 2),
                movie.At(2, 2));
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(ToQColor(plot::kPurple), 0));
  painter.drawLine(Point(frame, frame.PlotXMin, 0.0), Point(frame, frame.PlotXMax, 0.0));
  QPolygon curve;
  curve.reserve(last_frame + 1);
  for (std::int32_t i = 0; i <= last_frame; ++i) {
    curve.append(Point(frame, (i * double{dt} + start_time) * 1000.0, double{movie.At(i + 4, 2)}));
  }
  painter.setPen(QPen(QColor(0, 0, 200), 0));
  Polyline(painter, curve);
  painter.setFont(PlotFont(image.width(), image.height()));
  PlotLinearAxes(painter,
                 plot::PlanLinearAxes(
                     frame, layout,
                     AxesStyleFor(frame, layout, 50.0f, "TIME IN MILLISECONDS", kStapesCaption)));
}

std::array<plot::Frame, 2> PlotBMDispSpace(Surface& image, const EarModelParameters& params,
                                           const Envelope& envelope) {
  ClearUpperBand(image);
  const plot::Layout layout = plot::TwoRangeBandLayout(image.width(), image.height(), 0);
  const float first = params.FirstPlaceDistance();
  const float last = params.LastPlaceDistance();
  const plot::Frame displacement =
      MakeFrame(layout, first, last, envelope.min_displacement, envelope.max_displacement);
  const plot::Frame hazard = MakeFrame(layout, first, last, 0.0f, HazardTop(envelope.max_hazard));
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setFont(PlotFont(image.width(), image.height()));
  PlotLinearAxes(painter, plot::PlanTwoRangeAxes(displacement, hazard, layout,
                                                 AxesStyleFor(displacement, layout, 25.0f,
                                                              kDistanceCaption, kBmCaption),
                                                 kAruCaption));
  return {displacement, hazard};
}

void PressureTimePlot2(Surface& image, const PressurePlotInput& waveform, PlotState& state,
                       float max_hazard) {
  if (waveform.samples->empty()) return;
  // The pressure plot's zoom, when there is one, is this plot's too.
  const PressureView range = state.view.value_or(PressureView{
      waveform.start_time, waveform.end_time, waveform.min_pressure, waveform.peak_pressure});
  const plot::PressurePlotSetup setup =
      plot::SetUpPressurePlot(image.width(), image.height(), range.start_time, range.end_time,
                              range.min_pressure, range.peak_pressure, waveform.dt);
  const plot::Layout layout =
      plot::TwoRangeBandLayout(image.width(), image.height(), setup.layout.PlotTop);
  const plot::Frame& ranges = setup.frame;
  const plot::Frame frame =
      MakeFrame(layout, ranges.PlotXMin, ranges.PlotXMax, ranges.PlotYMin, ranges.PlotYMax);
  const plot::Frame hazard =
      MakeFrame(layout, ranges.PlotXMin, ranges.PlotXMax, 0.0f, HazardTop(max_hazard));

  SurfacePainter paint(image);

  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
  painter.setPen(QPen(ToQColor(plot::kPurple), 0));
  // A zoomed pressure range may leave zero off the view.
  if (frame.PlotYMin <= 0.0f && frame.PlotYMax >= 0.0f) {
    painter.drawLine(Point(frame, frame.PlotXMin, 0.0), Point(frame, frame.PlotXMax, 0.0));
  }
  painter.setPen(QPen(ToQColor(plot::kBlue), 0));
  DrawVisibleTrace(painter, frame, layout.PlotWidth, *waveform.samples, waveform.dt,
                   waveform.start_time, state.view.has_value());
  plot::AxesStyle style = setup.axes;
  style.XTickLength = plot::XTickLengthFor(layout);
  style.YTickLength = plot::YTickLengthFor(layout);
  style.Title = waveform.title;
  painter.setFont(PlotFont(image.width(), image.height()));
  PlotLinearAxes(painter, plot::PlanTwoRangeAxes(frame, hazard, layout, style, kAruCaption));
  state.frames[1] = frame;
  state.frames[3] = hazard;
  state.frame2_set = true;
}

void DrawEnvelope(Surface& image, const std::array<plot::Frame, 2>& frames,
                  const MovieBuffer& movie, const EarModelParameters& params, int places) {
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  QPolygon maxima, minima, hazards;
  for (int c = 1; c <= places; ++c) {
    const double x = PlaceDistance(params, c);
    maxima.append(Point(frames[0], x, movie.At(2, c + 2)));
    minima.append(Point(frames[0], x, movie.At(3, c + 2)));
    hazards.append(Point(frames[1], x, movie.At(1, c + 2)));
  }
  painter.setPen(QPen(ToQColor(plot::kBlue), 0));
  Polyline(painter, maxima);
  Polyline(painter, minima);
  painter.setPen(QPen(ToQColor(plot::kRed), 0));
  Polyline(painter, hazards);
}

QString CochleaReadoutAt(const EarModelParameters& params, std::span<const float> hazard, int width,
                         int height, QPoint at) {
  const plot::Layout layout = plot::TwoRangeBandLayout(width, height, 0);
  if (hazard.empty() ||
      !QRect(layout.PlotLeft, layout.PlotTop, layout.PlotWidth + 1, layout.PlotHeight + 1)
           .contains(at)) {
    return {};
  }
  // The axis of PlotBMDispSpace: only its distances matter here.
  const plot::Frame frame =
      MakeFrame(layout, params.FirstPlaceDistance(), params.LastPlaceDistance(), 0.0f, 1.0f);
  const double x = ScreenToWorld(frame, at).ms;
  const int places = static_cast<int>(hazard.size());
  int nearest = 1;
  for (int c = 2; c <= places; ++c) {
    if (std::fabs(PlaceDistance(params, c) - x) < std::fabs(PlaceDistance(params, nearest) - x)) {
      nearest = c;
    }
  }
  const double distance = PlaceDistance(params, nearest);
  const std::string text =
      FormatFixed(distance, 3) + " cm   (place " + FormatInteger(nearest) + " of " +
      FormatInteger(places) + ", " +
      FormatFixed(CharacteristicFrequency(params, distance) / 1000.0, 2) + " kHz)   " +
      FormatFixed(hazard[static_cast<std::size_t>(nearest - 1)], 3) + " A.R.U.";
  return QString::fromStdString(text);
}

MovieInput MovieInputOf(const HazardRunResult& run, const Session& session) {
  MovieInput input;
  input.movie = run.movie;
  input.params = run.parameters;
  input.places = run.cochlea.Places;
  input.worst_section = run.cochlea.WorstSection;
  input.last_frame = LastMovieFrame(session.LastSample, run.cochlea.FftLength);
  input.dt = session.SampleInterval;
  input.start_time = session.StartTime;
  const auto pressure = session.Pressure.Range(0, input.last_frame);
  input.pressure.assign(pressure.begin(), pressure.end());
  return input;
}

void MovieFrames::Load(MovieInput input) {
  input_ = std::move(input);
  Rewind();
}

void MovieFrames::Rewind() {
  hazard_ = PlaceHazards(input_.params, input_.places);
  shown_hazard_.assign(static_cast<std::size_t>(input_.places), 0.0f);
  worst_.assign(1, 0.0f);
  frame_ = 1;
}

void MovieFrames::Advance() {
  for (std::size_t c = 0; c < hazard_.size(); ++c) {
    hazard_[c].Add(input_.movie->At(frame_ + 4, static_cast<int>(c) + 3));
  }
  const std::size_t worst =
      static_cast<std::size_t>(std::clamp(input_.worst_section, 1, std::max(input_.places, 1)) - 1);
  worst_.push_back(worst < hazard_.size() ? hazard_[worst].Hazard() : 0.0f);
  ++frame_;
}

void MovieFrames::SeekTo(std::int32_t frame) {
  if (!input_.movie) return;
  frame = std::clamp<std::int32_t>(frame, 1, std::max<std::int32_t>(input_.last_frame, 1));
  if (frame < frame_) Rewind();
  while (frame_ < frame) Advance();
  shown_hazard_ = PlaceHazard();
}

void MovieFrames::SetStep(int step) {
  step_ = std::max(step, 1);
}

void MovieFrames::DrawFrameLabel(Surface& target) const {
  const plot::Layout layout = plot::TwoRangeBandLayout(target.width(), target.height(), 0);
  auto text_at = [this](std::int32_t frame, int step) {
    const double ms = 1000.0 * (input_.start_time + static_cast<double>(frame) * input_.dt);
    return QString("t = %1 ms   frame %2 of %3   step %4")
        .arg(ms, 0, 'f', 3)
        .arg(frame)
        .arg(input_.last_frame)
        .arg(step);
  };
  SurfacePainter paint(target);
  QPainter& painter = *paint;
  painter.setFont(PlotFont(target.width(), target.height()));
  // The label is drawn over the last one: the room of the widest label of
  // this movie is cleared first, so that a shorter one (a seek back, a
  // smaller step) leaves nothing of a longer one beside it.
  const QFontMetrics metrics(painter.font());
  const int right = layout.PlotLeft + layout.PlotWidth;
  int widest = 0;
  for (const std::int32_t frame : {std::int32_t{1}, input_.last_frame}) {
    widest = std::max(widest, metrics.horizontalAdvance(text_at(frame, kMovieSteps.back())));
  }
  painter.fillRect(QRect(right - widest - 2, 2, widest + 4, metrics.height()), Qt::white);
  painter.setPen(Qt::black);
  LabelOverOut(painter, right, 2, text_at(frame_, step_), 2);
}

std::array<plot::Frame, 2> MovieFrames::DrawFrame(Surface& target, const plot::Frame& lower,
                                                  const plot::Frame& lower_hazard) const {
  if (!input_.movie) return {};
  const MovieBuffer& movie = *input_.movie;
  const std::array<plot::Frame, 2> upper =
      PlotBMDispSpace(target, input_.params, ScanEnvelope(movie, input_.places));
  // Only the envelope: the place hazards grow as the movie runs.
  {
    SurfacePainter paint(target);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(ToQColor(plot::kBlue), 0));
    QPolygon maxima, minima;
    for (int c = 1; c <= input_.places; ++c) {
      const double x = PlaceDistance(input_.params, c);
      maxima.append(Point(upper[0], x, movie.At(2, c + 2)));
      minima.append(Point(upper[0], x, movie.At(3, c + 2)));
    }
    Polyline(painter, maxima);
    Polyline(painter, minima);
  }
  if (input_.last_frame < 1) return upper;
  DrawProfile(target, upper[0], frame_);
  DrawShownHazard(target, upper[1]);
  for (std::int32_t f = 1; f < static_cast<std::int32_t>(worst_.size()); ++f) {
    DrawLowerSegment(target, lower, lower_hazard, f);
  }
  DrawFrameLabel(target);
  return upper;
}

void MovieFrames::DrawLowerSegment(Surface& target, const plot::Frame& lower,
                                   const plot::Frame& lower_hazard, std::int32_t frame) const {
  const double dt_ms = input_.dt * 1000.0;
  // A zoomed view shows part of the run: segments off it are cut at the box.
  if (frame * dt_ms < lower.PlotXMin || (frame - 1) * dt_ms > lower.PlotXMax) return;
  SurfacePainter paint(target);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setClipRect(BoxOf(lower));
  const auto point = [](const plot::Frame& f, double x, double y) {
    const plot::ScreenPoint p = plot::WorldToScreenBeyond(f, x, y);
    return QPoint(p.x, p.y);
  };
  const auto i = static_cast<std::size_t>(frame);
  if (i < input_.pressure.size()) {
    painter.setPen(QPen(QColor(0, 128, 0), 0));
    DrawLineWithin(painter, point(lower, (frame - 1) * dt_ms, 0.001 * input_.pressure[i - 1]),
                   point(lower, frame * dt_ms, 0.001 * input_.pressure[i]), BoxOf(lower));
  }
  painter.setPen(QPen(ToQColor(plot::kRed), 0));
  DrawLineWithin(painter, point(lower_hazard, (frame - 1) * dt_ms, worst_[i - 1]),
                 point(lower_hazard, frame * dt_ms, worst_[i]), BoxOf(lower));
}

namespace {

// Profiles are drawn with XOR on a raster surface so that the next frame
// erases them by drawing them again; a vector target gets them in their colours.
void StartProfilePen(QPainter& painter, const Surface& target, QColor colour) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (target.Raster()) {
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    colour = QColor::fromRgb(colour.rgb() ^ kXorWhite);
  }
  painter.setPen(QPen(colour, 0));
}

}  // namespace

int MovieFrames::DrawProfile(Surface& target, const plot::Frame& upper, std::int32_t frame) const {
  SurfacePainter paint(target);
  QPainter& painter = *paint;
  StartProfilePen(painter, target, QColor(0, 255, 0));
  int segments = 0;
  for (int c = 1; c < input_.places; ++c) {
    painter.drawLine(
        Point(upper, PlaceDistance(input_.params, c), input_.movie->At(frame + 4, c + 2)),
        Point(upper, PlaceDistance(input_.params, c + 1), input_.movie->At(frame + 4, c + 3)));
    ++segments;
  }
  return segments;
}

void MovieFrames::DrawShownHazard(Surface& target, const plot::Frame& upper) const {
  SurfacePainter paint(target);
  QPainter& painter = *paint;
  StartProfilePen(painter, target, QColor(255, 0, 0));
  for (int c = 1; c < input_.places; ++c) {
    painter.drawLine(Point(upper, PlaceDistance(input_.params, c), shown_hazard_[c - 1]),
                     Point(upper, PlaceDistance(input_.params, c + 1), shown_hazard_[c]));
  }
}

std::vector<float> MovieFrames::PlaceHazard() const {
  std::vector<float> sums;
  for (const HalfCycleHazard& place : hazard_) sums.push_back(place.Hazard());
  return sums;
}

}  // namespace korva::render
