#include "render/verdict_chart.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/common/numbers.h"
#include "render/surface.h"

namespace korva::render {
namespace {

const QColor kFreeField(60, 100, 175);
const QColor kProtected(0, 128, 0);
const QColor kLimiting(200, 0, 0);
const QColor kUnlimited(200, 200, 200);

// Text in pixels at this width of picture.
int FontPixels(int width) {
  return std::max(10, width / 72);
}

int RowPitch(int width) {
  return FontPixels(width) * 2;
}

// Rows above the bars (title and subtitle) and below them (axis labels and
// caption), in row pitches.
constexpr int kRowsAbove = 3;
constexpr int kRowsBelow = 3;

// The row's criterion, and its protector when there is one; a label too
// long for `width` pixels gives up the middle of the protector's name, so
// that the listener stays readable.
QString RowLabel(const VerdictRow& row, const QFontMetrics& metrics, int width) {
  const QString criterion = QString::fromStdString(row.criterion);
  if (row.protector.empty()) return metrics.elidedText(criterion, Qt::ElideMiddle, width);
  const QString head = criterion + ", under ";
  const int room = std::max(0, width - metrics.horizontalAdvance(head));
  return head + metrics.elidedText(QString::fromStdString(row.protector), Qt::ElideMiddle, room);
}

// The decades the axis spans: from the smallest finite count (at most 1)
// to the largest, at least one decade.
std::pair<int, int> Decades(const Verdict& verdict) {
  double low = 1.0;
  double high = 1.0;
  for (const VerdictRow& row : verdict.rows) {
    if (!row.allowed_shots || !(*row.allowed_shots > 0.0)) continue;
    low = std::min(low, *row.allowed_shots);
    high = std::max(high, *row.allowed_shots);
  }
  const int first = static_cast<int>(std::floor(std::log10(low)));
  const int last = std::max(first + 1, static_cast<int>(std::ceil(std::log10(high) - 1e-9)));
  return {first, last};
}

QString DecadeLabel(int decade) {
  if (decade >= 0 && decade <= 9)
    return QString::fromStdString(FormatFixed(std::pow(10.0, decade), 0));
  if (decade < 0 && decade >= -3)
    return QString::fromStdString(FormatShortest(std::pow(10.0, decade)));
  return "1e" + QString::number(decade);
}

}  // namespace

QSize VerdictChartSize(const Verdict& verdict, int width) {
  const int rows = static_cast<int>(verdict.rows.size());
  return {width, (rows + kRowsAbove + kRowsBelow) * RowPitch(width)};
}

Layer AllowedShotsChart(std::shared_ptr<const Verdict> verdict) {
  return [verdict](Surface& image, PlotState&) {
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const int width = image.width();
    QFont font("Liberation Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(FontPixels(width));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int pitch = RowPitch(width);
    const int left = static_cast<int>(0.36 * width);
    const int right = width - width / 14;
    const int top = kRowsAbove * pitch;
    const int bottom = top + static_cast<int>(verdict->rows.size()) * pitch;

    painter.setPen(Qt::black);
    QFont title = font;
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(0, 0, width, pitch), Qt::AlignCenter, "Allowed shots per day");
    painter.setFont(font);
    painter.drawText(QRect(0, pitch, width, pitch), Qt::AlignCenter,
                     "by criterion and protector, shots of this series, logarithmic scale");

    const auto [first, last] = Decades(*verdict);
    const auto x_of = [&, first = first, last = last](double count) {
      const double f = (std::log10(count) - first) / (last - first);
      return left + static_cast<int>(std::lround(f * (right - left)));
    };
    // The decades, as lines across the bars and labels under them.
    for (int decade = first; decade <= last; ++decade) {
      const int x = x_of(std::pow(10.0, decade));
      painter.setPen(QPen(QColor(210, 210, 210), 1));
      painter.drawLine(x, top, x, bottom);
      painter.setPen(Qt::black);
      painter.drawLine(x, bottom, x, bottom + pitch / 4);
      painter.drawText(QRect(x - pitch * 2, bottom + pitch / 4, pitch * 4, pitch),
                       Qt::AlignHCenter | Qt::AlignTop, DecadeLabel(decade));
    }
    painter.drawLine(left, top, left, bottom);
    painter.drawLine(left, bottom, right, bottom);
    painter.drawText(QRect(left, bottom + pitch, right - left, pitch), Qt::AlignCenter,
                     "allowed shots per day");

    for (std::size_t k = 0; k < verdict->rows.size(); ++k) {
      const VerdictRow& row = verdict->rows[k];
      const int y = top + static_cast<int>(k) * pitch;
      const QRect label_box(width / 100, y, left - width / 100 - pitch / 3, pitch);
      painter.setPen(Qt::black);
      painter.drawText(label_box, Qt::AlignRight | Qt::AlignVCenter,
                       RowLabel(row, metrics, label_box.width()));
      const bool limiting = verdict->limiting && *verdict->limiting == k;
      const QColor colour = limiting ? kLimiting : row.protector.empty() ? kFreeField : kProtected;
      const int bar_top = y + pitch / 5;
      const int bar_height = pitch - 2 * (pitch / 5);
      const QString text = QString::fromStdString(AllowedShotsText(row));
      if (!row.allowed_shots) {
        // Unlimited: a pale bar running off the axis.
        painter.fillRect(QRect(left + 1, bar_top, right - left - 1, bar_height), kUnlimited);
        painter.setPen(Qt::black);
        painter.drawText(QRect(left, y, right - left - pitch / 3, pitch),
                         Qt::AlignRight | Qt::AlignVCenter, text);
      } else if (!(*row.allowed_shots > 0.0)) {
        painter.setPen(QPen(colour, 2));
        const int s = bar_height / 2;
        const int cx = left + pitch / 2;
        const int cy = y + pitch / 2;
        painter.drawLine(cx - s, cy - s, cx + s, cy + s);
        painter.drawLine(cx - s, cy + s, cx + s, cy - s);
        painter.drawText(QRect(cx + pitch / 2, y, right - cx, pitch),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
      } else {
        const int end = std::max(left + 2, x_of(*row.allowed_shots));
        painter.fillRect(QRect(left + 1, bar_top, end - left - 1, bar_height), colour);
        painter.setPen(Qt::black);
        painter.drawText(QRect(end + pitch / 4, y, width - end, pitch),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
      }
    }
  };
}

}  // namespace korva::render
