#include "render/protector_plot.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/plot/log_axes.h"
#include "core/plot/marker.h"
#include "core/plot/pressure_plot.h"

namespace korva::render {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QPoint Point(const plot::Frame& frame, double x, double y) {
  float wx = static_cast<float>(x);
  float wy = static_cast<float>(y);
  const plot::ScreenPoint p = plot::WorldToScreen(frame, wx, wy);
  return {p.x, p.y};
}

constexpr plot::Rgb kMarkerGreen{0, 128, 0};

// The curve cut where it leaves the level range: a loss beyond -60 dB is
// not drawn along the axis, where it would read as -60 dB. Consecutive equal
// pixels are merged.
std::vector<QPolygon> ClippedPieces(const plot::Frame& frame, const std::vector<double>& x,
                                    const std::vector<double>& y, std::size_t count) {
  const double low = frame.PlotYMin;
  const double high = frame.PlotYMax;
  std::vector<QPolygon> pieces;
  QPolygon current;
  auto finish = [&] {
    if (current.size() > 1) pieces.push_back(current);
    current.clear();
  };
  auto add = [&](double px, double py) {
    const QPoint p = Point(frame, px, py);
    if (current.isEmpty() || current.back() != p) current.append(p);
  };
  for (std::size_t k = 1; k < count; ++k) {
    const double x0 = x[k - 1], y0 = y[k - 1], x1 = x[k], y1 = y[k];
    if (!std::isfinite(y0) || !std::isfinite(y1) || (y0 < low && y1 < low) ||
        (y0 > high && y1 > high)) {
      finish();
      continue;
    }
    double t0 = 0.0, t1 = 1.0;
    if (y1 != y0) {
      const double ta = (low - y0) / (y1 - y0);
      const double tb = (high - y0) / (y1 - y0);
      t0 = std::max(t0, std::min(ta, tb));
      t1 = std::min(t1, std::max(ta, tb));
    }
    if (t0 > t1) {
      finish();
      continue;
    }
    if (t0 > 0.0) finish();
    add(x0 + t0 * (x1 - x0), y0 + t0 * (y1 - y0));
    add(x0 + t1 * (x1 - x0), y0 + t1 * (y1 - y0));
    if (t1 < 1.0) finish();
  }
  finish();
  return pieces;
}

}  // namespace

plot::Frame ProtectorFrame(int client_width, int client_height, const InsertionLossPlot& plot) {
  const plot::Layout layout = plot::SpectrumBandLayout(client_width, client_height);
  return plot::FrameOver(layout, static_cast<float>(plot.x_min), static_cast<float>(plot.x_max),
                         static_cast<float>(plot.y_min), static_cast<float>(plot.y_max));
}

void DrawInsertionLossCurves(Surface& image, const plot::Frame& frame,
                             const InsertionLossPlot& plot) {
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  const std::array<const std::vector<double>*, 4> curves{&plot.total, &plot.piston, &plot.leak,
                                                         &plot.material};
  for (std::size_t c = 0; c < curves.size(); ++c) {
    const std::vector<double>& y = *curves[c];
    const std::size_t count = std::min(y.size(), plot.x.size());
    if (count < 2) continue;
    painter.setPen(QPen(ToQColor(kInsertionLossColours[c]), 0));
    for (const QPolygon& piece : ClippedPieces(frame, plot.x, y, count)) {
      painter.drawPolyline(piece);
    }
  }
}

plot::Frame DrawProtectorModel(Surface& image, const InsertionLossPlot& plot,
                               const std::string& title) {
  const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
  const plot::Frame frame = ProtectorFrame(image.width(), image.height(), plot);
  const plot::AxesStyle style = plot::LevelAxesStyle(
      layout, plot::NiceStep(static_cast<float>((plot.y_max - plot.y_min) / 30.0)));
  {
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
    painter.setFont(PlotFont(image.width(), image.height()));
    PlotLogAxes(painter, plot::PlanLogAxes(frame, layout, style, kInsertionLossCaption, ""));

    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawLine(Point(frame, plot.x_min, 0.0), Point(frame, plot.x_max, 0.0));

    painter.setPen(QPen(ToQColor(kMarkerGreen), 0));
    const std::size_t markers = std::min(plot.marker_x.size(), plot.marker_y.size());
    for (std::size_t i = 0; i < markers; ++i) {
      const QPoint centre = Point(frame, plot.marker_x[i], plot.marker_y[i]);
      QPolygon outline;
      for (const plot::ScreenPoint& p :
           plot::MarkerCorners(3, {centre.x(), centre.y()}, layout.PlotWidth)) {
        outline.append(QPoint(p.x, p.y));
      }
      painter.drawPolyline(outline);
      painter.drawPoint(centre);
    }
  }
  DrawInsertionLossCurves(image, frame, plot);

  SurfacePainter paint(image);

  QPainter& painter = *paint;
  painter.setFont(PlotFont(image.width(), image.height()));
  for (std::size_t c = 0; c < plot.label_texts.size(); ++c) {
    painter.setPen(ToQColor(kInsertionLossColours[c]));
    const QPoint at = Point(frame, plot.label_x, plot.label_tops[c]);
    LabelOverOut(painter, at.x(), at.y(), Latin1(plot.label_texts[c]), 0);
  }
  painter.setPen(Qt::black);
  const QPoint title_at = Point(frame, plot.title_x, plot.title_y);
  LabelOverOut(painter, title_at.x(), title_at.y(), Latin1(title), 0);
  painter.setPen(ToQColor(plot::kRed));
  const QPoint rms_at = Point(frame, plot.label_x, plot.rms_y);
  LabelOverOut(painter, rms_at.x(), rms_at.y(), Latin1(plot.rms_text), 6);
  return frame;
}

void DrawPredictedWaveform(Surface& image, const PlotState& state, std::span<const float> samples,
                           float dt, float start_time) {
  if (samples.empty() || !state.frame2_set) return;
  const plot::Frame& frame = state.frames[1];
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(QColor(0, 128, 0), 0));
  DrawTrace(painter, plot::PressureTrace(frame, state.layout.PlotWidth, samples, dt, start_time));
}

}  // namespace korva::render
