// The window's drawing surface: one persistent image of the client size that
// every command draws on and paintEvent only copies to the screen. Snapshots
// of it erase transient drawings (cursor lines, help pictures, pop-up
// remnants); XOR lines erase themselves when drawn twice.
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
  // new area white, nothing redrawn.
  void FollowWidgetSize();

  // The snapshot: SaveForm copies the whole image, RestoreForm copies it
  // back (at its own size, so a snapshot taken before a resize still lands
  // where it was taken).
  void SaveForm();
  void RestoreForm();
  const QImage& Snapshot() const { return snapshot_; }
  void SetSnapshot(const QImage& snapshot) { snapshot_ = snapshot; }

  // The whole client area white.
  void ClearCanvas();
  // `picture` stretched over the whole client area.
  void StretchPicture(const QImage& picture);

  // A straight line drawn with an XOR pen: on white it shows `shown`, and
  // drawing the same line again restores the pixels exactly.
  void XorLine(QPoint from, QPoint to, QColor shown);

 signals:
  void Pressed(Qt::MouseButton button, QPoint position);
  // Moves arrive only while a button is held (the widget keeps the mouse
  // until release, so x may lie outside it).
  void Moved(QPoint position);
  void Released(Qt::MouseButton button, QPoint position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  QImage snapshot_;
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
