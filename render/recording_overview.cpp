#include "render/recording_overview.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/common/numbers.h"
#include "core/plot/axes.h"
#include "core/plot/marker.h"
#include "core/plot/pressure_plot.h"
#include "render/plot_painter.h"
#include "render/recipes.h"

namespace korva::render {
namespace {

constexpr const char* kSecondsCaption = "TIME IN SECONDS";

QPoint MarkerCentre(const plot::Frame& frame, const OverviewMark& mark) {
  float x = static_cast<float>(mark.time_s);
  float y = static_cast<float>(mark.peak_pa / 1000.0);
  const plot::ScreenPoint p = plot::WorldToScreen(frame, x, y);
  return {p.x, p.y};
}

// The rectangle of a mark's number, standing on top of its marker.
QRect NumberBox(const QFontMetrics& metrics, QPoint centre, int marker, int number) {
  const QString text = QString::number(number);
  const int width = metrics.horizontalAdvance(text);
  const int height = metrics.height();
  return {centre.x() - width / 2, centre.y() - marker - 2 - height, width, height};
}

}  // namespace

OverviewInput OverviewOf(const RecordingShots& found, std::string title) {
  OverviewInput input;
  input.envelope = std::make_shared<const ChannelEnvelope>(found.envelope);
  for (const Shot& shot : found.shots)
    input.marks.push_back({shot.number, shot.time_s, shot.peak_pa});
  input.title = std::move(title);
  return input;
}

plot::Frame OverviewFrame(const OverviewInput& input, int client_width, int client_height) {
  const ChannelEnvelope& e = *input.envelope;
  float x_min = static_cast<float>(e.SecondsAt(0));
  float x_max = static_cast<float>(e.SecondsAt(e.size()));
  if (!(x_max > x_min)) x_max = x_min + 1.0f;
  float y_min = 0.0f;
  float y_max = 0.0f;
  for (std::size_t k = 0; k < e.size(); ++k) {
    y_min = std::min(y_min, e.low[k] / 1000.0f);
    y_max = std::max(y_max, e.high[k] / 1000.0f);
  }
  for (const OverviewMark& mark : input.marks) {
    y_min = std::min(y_min, static_cast<float>(mark.peak_pa / 1000.0));
    y_max = std::max(y_max, static_cast<float>(mark.peak_pa / 1000.0));
  }
  float span = y_max - y_min;
  if (!(span > 0.0f)) span = 1.0f;
  // Room above the highest marker for its number, and a little below.
  y_max += 0.2f * span;
  y_min -= 0.06f * span;
  return plot::FrameOver(plot::PressureBandLayout(client_width, client_height), x_min, x_max, y_min,
                         y_max);
}

QRect OverviewMarkArea(const plot::Frame& frame, const OverviewMark& mark, int client_width,
                       int client_height) {
  const plot::Layout layout = plot::PressureBandLayout(client_width, client_height);
  const int marker = plot::MarkerSize(layout.PlotWidth);
  const QPoint centre = MarkerCentre(frame, mark);
  const QRect number =
      NumberBox(QFontMetrics(PlotFont(client_width, client_height)), centre, marker, mark.number);
  const int half = std::max(marker, 4);
  return QRect(QPoint(centre.x() - half, number.top()),
               QPoint(centre.x() + half, centre.y() + marker))
      .united(number);
}

Layer RecordingOverview(OverviewInput input) {
  return [input = std::move(input)](Surface& image, PlotState& state) {
    const int width = image.width();
    const int height = image.height();
    const plot::Layout layout = plot::PressureBandLayout(width, height);
    const plot::Frame frame = OverviewFrame(input, width, height);
    state.frames[0] = frame;
    state.layout = layout;

    plot::AxesStyle style;
    style.XTickStep = plot::NiceStep((frame.PlotXMax - frame.PlotXMin) / 50.0f);
    style.YTickStep = plot::NiceStep((frame.PlotYMax - frame.PlotYMin) / 30.0f);
    style.YTickLength = RoundToInt(0.006435 * layout.PlotWidth);
    style.XTickLength = RoundToInt(0.0195 * layout.PlotHeight);
    style.XCaption = kSecondsCaption;
    style.YCaption = plot::kPressureCaption;
    style.Title = input.title;

    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
    const QFont font = PlotFont(width, height);
    painter.setFont(font);
    PlotLinearAxes(painter, plot::PlanLinearAxes(frame, layout, style));

    // Each stretch of the channel from its lowest to its highest pressure.
    const ChannelEnvelope& e = *input.envelope;
    painter.setPen(QPen(ToQColor(plot::kBlack), 0));
    for (std::size_t k = 0; k < e.size(); ++k) {
      float x = static_cast<float>(0.5 * (e.SecondsAt(k) + e.SecondsAt(k + 1)));
      float low = e.low[k] / 1000.0f;
      float x2 = x;
      float high = e.high[k] / 1000.0f;
      const plot::ScreenPoint a = plot::WorldToScreen(frame, x, low);
      const plot::ScreenPoint b = plot::WorldToScreen(frame, x2, high);
      painter.drawLine(a.x, a.y, b.x, b.y);
    }

    // The marks, numbered where the number does not run into the one before
    // (the rounds of a burst stand closer than their numbers are wide).
    const int marker = plot::MarkerSize(layout.PlotWidth);
    const QFontMetrics metrics(font);
    painter.setBrush(ToQColor(plot::kRed));
    int numbered_until = std::numeric_limits<int>::min();
    for (const OverviewMark& mark : input.marks) {
      const QPoint centre = MarkerCentre(frame, mark);
      QPolygon triangle;
      for (const plot::ScreenPoint& c :
           plot::MarkerCorners(3, {centre.x(), centre.y()}, layout.PlotWidth)) {
        triangle.append(QPoint(c.x, c.y));
      }
      painter.setPen(QPen(ToQColor(plot::kRed), 1));
      painter.drawPolygon(triangle);
      const QRect box = NumberBox(metrics, centre, marker, mark.number);
      if (box.left() > numbered_until + 2) {
        painter.drawText(box, Qt::AlignCenter, QString::number(mark.number));
        numbered_until = box.right();
      }
    }
  };
}

}  // namespace korva::render
