#include "render/surface.h"

namespace korva::render {

SurfacePainter::SurfacePainter(const Surface& surface) {
  if (QPainter* held = surface.Held()) {
    painter_ = held;
    painter_->save();
    painter_->resetTransform();
    painter_->setPen(QPen());
    painter_->setBrush(QBrush());
    painter_->setFont(QFont());
    painter_->setRenderHints(painter_->renderHints(), false);
    painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_->setClipping(false);
  } else {
    own_.emplace(&surface.Device());
    painter_ = &*own_;
  }
  if (!surface.Origin().isNull()) painter_->translate(-surface.Origin());
}

SurfacePainter::~SurfacePainter() {
  if (!own_) painter_->restore();
}

}  // namespace korva::render
