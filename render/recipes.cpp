#include "render/recipes.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <cmath>
#include <utility>

#include "core/common/numbers.h"
#include "core/plot/log_axes.h"
#include "render/protector_plot.h"

namespace korva::render {
namespace {

// One narrow-band curve from bin 1 to half - 1 in `colour`.
void DrawBins(QPainter& painter, const plot::Frame& frame, const BinEnergies& bins, QColor colour) {
  QPolygon curve;
  for (std::int32_t k = 1; k < bins.half; ++k) {
    const double p = bins.P[static_cast<std::size_t>(k)];
    if (!(p > 0.0)) continue;  // no level to draw for an empty bin
    float x = static_cast<float>(std::log10(k * bins.df));
    float y = static_cast<float>(10.0 * std::log10(p));
    const plot::ScreenPoint s = plot::WorldToScreen(frame, x, y);
    curve.append(QPoint(s.x, s.y));
  }
  painter.setPen(QPen(colour, 0));
  if (curve.size() > 1) painter.drawPolyline(curve);
}

}  // namespace

Layer Splash(QImage picture, QString text) {
  return [picture = std::move(picture), text = std::move(text)](Surface& image, PlotState&) {
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(0, 0, image.width(), image.height()), picture);
    QFont font(QFontDatabase::families().contains("Times New Roman") ? "Times New Roman"
                                                                     : "Liberation Serif");
    font.setStyleHint(QFont::Serif);
    font.setBold(true);
    font.setPixelSize(plot::PointsToPixels(32));
    painter.setFont(font);
    painter.setPen(Qt::red);
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(text);
    const int height = metrics.height();
    const int left = image.width() / 2 - width / 2;
    const int top = RoundToInt(0.075 * image.height()) - height / 2;
    painter.drawText(QRect(left, top, width + 1, height), Qt::AlignLeft | Qt::AlignTop, text);
  };
}

Layer PressurePlot(PressurePlotInput plot) {
  return [plot = std::move(plot)](Surface& image, PlotState& state) {
    DrawPressurePlot(image, plot, state);
  };
}

Layer ReflexCurve(std::int32_t last_sample, float dt, ReflexTiming timing) {
  return [last_sample, dt, timing](Surface& image, PlotState& state) {
    DrawReflexCurve(image, state, last_sample, dt, timing);
  };
}

Layer OnsetMark(float ms, float kpa) {
  return [ms, kpa](Surface& image, PlotState& state) {
    float x = ms, y = kpa;
    const plot::ScreenPoint cross = plot::WorldToScreen(state.frames[0], x, y);
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setPen(QPen(QColor(255, 0, 0), 0));
    painter.drawLine(cross.x - 10, cross.y, cross.x + 10, cross.y);
    painter.drawLine(cross.x, cross.y - 10, cross.x, cross.y + 10);
  };
}

Layer PredictedWaveform(std::shared_ptr<const std::vector<float>> samples, float dt,
                        float start_time) {
  return [samples = std::move(samples), dt, start_time](Surface& image, PlotState& state) {
    DrawPredictedWaveform(image, state, *samples, dt, start_time);
  };
}

Layer Spectrum(std::shared_ptr<const Leq300msSpectrum> spectrum, std::string title,
               bool clear_band) {
  return [spectrum = std::move(spectrum), title = std::move(title), clear_band](Surface& image,
                                                                                PlotState& state) {
    DrawLeq300msSpectrum(image, *spectrum, title, clear_band, state.spectrum_view);
  };
}

Layer OverlaySpectra(std::shared_ptr<const OverlayResult> overlay, std::array<float, 4> range,
                     QColor second_colour) {
  return [overlay = std::move(overlay), range, second_colour](Surface& image, PlotState&) {
    const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
    const auto [x_min, x_max, y_min, y_max] = range;
    const plot::Frame frame =
        plot::FrameOver(layout, x_min, x_max > x_min ? x_max : x_min + 1.0f, y_min, y_max);
    const plot::AxesStyle axes =
        plot::LevelAxesStyle(layout, plot::NiceStep((y_max - y_min) / 30.0f));
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
    painter.setFont(PlotFont(image.width(), image.height()));
    PlotLogAxes(painter,
                plot::PlanLogAxes(frame, layout, axes, kSpectrumCaption, kSpectrumUnitsCaption));
    DrawBins(painter, frame, overlay->second_bins, second_colour);
    DrawBins(painter, frame, overlay->first_bins, ToQColor(plot::kBlue));
  };
}

Layer ProtectorModel(std::shared_ptr<const ProtectResult> result) {
  return [result = std::move(result)](Surface& image, PlotState& state) {
    state.frames[2] = DrawProtectorModel(image, result->plot, result->data.record.name);
  };
}

Layer StapesDisplacement(std::shared_ptr<const MovieBuffer> movie, std::int32_t last_frame,
                         float dt, float start_time) {
  return [movie = std::move(movie), last_frame, dt, start_time](Surface& image, PlotState&) {
    PlotStDispTime(image, *movie, last_frame, dt, start_time);
  };
}

Layer UnwrappedCochlea(std::shared_ptr<const MovieBuffer> movie, EarModelParameters params,
                       int places) {
  return [movie = std::move(movie), params = std::move(params), places](Surface& image,
                                                                        PlotState& state) {
    const auto frames = PlotBMDispSpace(image, params, ScanEnvelope(*movie, places));
    state.frames[2] = frames[1];
    DrawEnvelope(image, frames, *movie, params, places);
  };
}

Layer MovieWaveform(PressurePlotInput waveform, float max_hazard) {
  return [waveform = std::move(waveform), max_hazard](Surface& image, PlotState& state) {
    PressureTimePlot2(image, waveform, state, max_hazard);
  };
}

Layer MovieFrame(std::shared_ptr<const MovieFrames> frames) {
  return [frames = std::move(frames)](Surface& image, PlotState& state) {
    frames->DrawFrame(image, state.frames[1], state.frames[3]);
  };
}

}  // namespace korva::render
