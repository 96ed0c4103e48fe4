#include "ui/shots_overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <utility>

#include "render/picture.h"
#include "render/recipes.h"

namespace korva::ui {

ShotsOverview::ShotsOverview(QWidget* parent) : QWidget(parent) {
  setObjectName("ShotsOverview");
  setMinimumSize(320, 140);
  setMouseTracking(false);
}

void ShotsOverview::SetInput(render::OverviewInput input) {
  input_ = std::move(input);
  selected_ = -1;
  Redraw();
}

void ShotsOverview::SetSelected(int index) {
  if (index == selected_) return;
  selected_ = index;
  update();
}

QRect ShotsOverview::MarkArea(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return {};
  return areas_[static_cast<std::size_t>(index)];
}

int ShotsOverview::MarkAt(QPoint point) const {
  // Close marks overlap: the one whose centre is nearest wins.
  int best = -1;
  int best_distance = 0;
  for (std::size_t k = 0; k < areas_.size(); ++k) {
    if (!areas_[k].contains(point)) continue;
    const int distance = std::abs(areas_[k].center().x() - point.x());
    if (best < 0 || distance < best_distance) {
      best = static_cast<int>(k);
      best_distance = distance;
    }
  }
  return best;
}

void ShotsOverview::Redraw() {
  areas_.clear();
  image_ = QImage(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
  image_.fill(Qt::white);
  if (input_.envelope) {
    // The recipe draws in the lower half of a client area: one twice the
    // widget's height puts that half exactly on the widget.
    QImage client(image_.width(), 2 * image_.height(), QImage::Format_RGB32);
    render::Surface surface(client);
    render::PlotState state;
    render::Picture picture;
    picture.lower = {render::RecordingOverview(input_)};
    picture.Render(surface, state);
    const int top = state.layout.PlotTop;
    image_ = client.copy(0, top, image_.width(), image_.height());
    for (const render::OverviewMark& mark : input_.marks) {
      areas_.push_back(
          render::OverviewMarkArea(state.frames[0], mark, client.width(), client.height())
              .translated(0, -top));
    }
  }
  update();
}

void ShotsOverview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, image_);
  const QRect selected = MarkArea(selected_);
  if (!selected.isNull()) {
    painter.setPen(QPen(QColor(0, 90, 200), 2));
    painter.setBrush(QColor(0, 90, 200, 40));
    painter.drawRect(selected.adjusted(-2, -2, 2, 2));
  }
}

void ShotsOverview::resizeEvent(QResizeEvent*) {
  Redraw();
}

void ShotsOverview::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int mark = MarkAt(event->position().toPoint());
  if (mark >= 0) emit MarkClicked(mark);
}

void ShotsOverview::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int mark = MarkAt(event->position().toPoint());
  if (mark >= 0) emit MarkDoubleClicked(mark);
}

}  // namespace korva::ui
