// Where a picture is drawn: the window's canvas, an off-screen image, an SVG
// drawing or a PDF page. Pictures are laid out for a client area of a given
// size; the device may hold only a part of it (one band), which then appears
// at the device's origin. Drawing code asks the surface for the client size
// and paints through a SurfacePainter, never the device's own size.
#pragma once

#include <QPaintDevice>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <optional>

namespace korva::render {

class Surface {
 public:
  // The whole client area is the device.
  explicit Surface(QPaintDevice& device)
      : device_(device), client_(device.width(), device.height()) {}
  // A client area of `client` pixels of which the device holds the part
  // from `shown_origin` on.
  Surface(QPaintDevice& device, QSize client, QPoint shown_origin)
      : device_(device), client_(client), origin_(shown_origin) {}

  int width() const { return client_.width(); }
  int height() const { return client_.height(); }
  QPaintDevice& Device() const { return device_; }
  QPoint Origin() const { return origin_; }
  // Raster devices take XOR drawing; SVG and PDF do not.
  bool Raster() const { return device_.devType() == QInternal::Image; }

  // An SVG or PDF is one document per painter: while the picture is drawn,
  // one painter holds it open and every drawing step borrows it.
  void HoldOpen(QPainter* painter) { held_ = painter; }
  QPainter* Held() const { return held_; }

 private:
  QPaintDevice& device_;
  QSize client_;
  QPoint origin_;
  QPainter* held_ = nullptr;
};

// A painter on a surface in client coordinates, in a painter's initial
// state: its own on the device, or the held one with its state saved and
// restored. Used as `SurfacePainter paint(surface); QPainter& painter = *paint;`.
class SurfacePainter {
 public:
  explicit SurfacePainter(const Surface& surface);
  ~SurfacePainter();
  SurfacePainter(const SurfacePainter&) = delete;
  SurfacePainter& operator=(const SurfacePainter&) = delete;

  QPainter& operator*() { return *painter_; }
  QPainter* operator->() { return painter_; }

 private:
  std::optional<QPainter> own_;
  QPainter* painter_ = nullptr;
};

}  // namespace korva::render
