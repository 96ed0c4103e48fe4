// The window's drawing surface: one persistent image of the client size that
// the window's picture is drawn into and paintEvent only copies to the
// screen. XOR lines erase themselves when drawn twice.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

namespace korva::ui {

class Canvas : public QWidget {
  Q_OBJECT

 public:
  explicit Canvas(QWidget* parent = nullptr);

  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }
  int ClientWidth() const { return image_.width(); }
  int ClientHeight() const { return image_.height(); }

  // Makes the image follow the widget's size: old pixels kept at (0, 0),
  // new area white, nothing redrawn (the Resized signal asks for that).
  void FollowWidgetSize();

  // The whole client area white.
  void ClearCanvas();
  // `picture` stretched over the whole client area.
  void StretchPicture(const QImage& picture);

  // A straight line drawn with an XOR pen: on white it shows `shown`, and
  // drawing the same line again restores the pixels exactly.
  void XorLine(QPoint from, QPoint to, QColor shown);

 signals:
  // The widget has a new size; the image follows it, blank where it grew.
  void Resized();
  void Pressed(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers);
  // Moves arrive only while a button is held (the widget keeps the mouse
  // until release, so x may lie outside it).
  void Moved(QPoint position);
  void Released(Qt::MouseButton button, QPoint position);
  // The mouse moved with no button held (for the read-outs under it).
  void Hovered(QPoint position);
  // A wheel turn, in eighths of a degree (120 a notch), with the keys held.
  void Wheeled(QPoint position, QPoint angle_delta, Qt::KeyboardModifiers modifiers);
  void DoubleClicked(Qt::MouseButton button, QPoint position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QImage image_;
};

// A painter on the canvas image: antialiasing off, copy mode, cosmetic
// one-pixel pen. Schedules a repaint of the widget when it ends.
class CanvasPainter : public QPainter {
 public:
  explicit CanvasPainter(Canvas& canvas);
  ~CanvasPainter();
  CanvasPainter(const CanvasPainter&) = delete;
  CanvasPainter& operator=(const CanvasPainter&) = delete;

 private:
  Canvas& canvas_;
};

}  // namespace korva::ui
