#include "ui/canvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>

namespace korva::ui {

Canvas::Canvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Moves without a button pressed feed the read-outs under the mouse.
  setMouseTracking(true);
  setContextMenuPolicy(Qt::CustomContextMenu);
  image_ = QImage(1, 1, QImage::Format_RGB32);
  image_.fill(Qt::white);
}

void Canvas::FollowWidgetSize() {
  const QSize wanted = size().expandedTo(QSize(1, 1));
  if (wanted == image_.size()) return;
  QImage grown(wanted, QImage::Format_RGB32);
  grown.fill(Qt::white);
  QPainter painter(&grown);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(0, 0, image_);
  painter.end();
  image_ = std::move(grown);
}

void Canvas::ClearCanvas() {
  image_.fill(Qt::white);
  update();
}

void Canvas::StretchPicture(const QImage& picture) {
  CanvasPainter painter(*this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRect(QPoint(0, 0), image_.size()), picture);
}

void Canvas::XorLine(QPoint from, QPoint to, QColor shown) {
  CanvasPainter painter(*this);
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.setPen(QPen(QColor::fromRgb(shown.rgb() ^ 0xFFFFFFu), 0));
  painter.drawLine(from, to);
}

void Canvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::white);
  painter.drawImage(event->rect(), image_, event->rect());
}

void Canvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FollowWidgetSize();
  emit Resized();
}

void Canvas::mousePressEvent(QMouseEvent* event) {
  emit Pressed(event->button(), event->position().toPoint(), event->modifiers());
  QWidget::mousePressEvent(event);
}

void Canvas::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() == Qt::NoButton) {
    emit Hovered(event->position().toPoint());
  } else {
    emit Moved(event->position().toPoint());
  }
  QWidget::mouseMoveEvent(event);
}

void Canvas::mouseReleaseEvent(QMouseEvent* event) {
  emit Released(event->button(), event->position().toPoint());
  QWidget::mouseReleaseEvent(event);
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* event) {
  emit DoubleClicked(event->button(), event->position().toPoint());
  QWidget::mouseDoubleClickEvent(event);
}

void Canvas::wheelEvent(QWheelEvent* event) {
  emit Wheeled(event->position().toPoint(), event->angleDelta(), event->modifiers());
  event->accept();
}

CanvasPainter::CanvasPainter(Canvas& canvas) : QPainter(&canvas.Image()), canvas_(canvas) {
  setRenderHint(QPainter::Antialiasing, false);
  setRenderHint(QPainter::TextAntialiasing, true);
  setPen(QPen(Qt::black, 0));
}

CanvasPainter::~CanvasPainter() {
  end();
  canvas_.update();
}

}  // namespace korva::ui
