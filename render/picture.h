// What the canvas shows, kept as the steps that draw it rather than as
// pixels, so that the window can draw it again whole at any size: after a
// resize, to erase what was drawn over it (cursor lines, a help picture), or
// to put back the picture a command started from when it is cancelled.
//
// Each step captures the data it draws (shared, so that copies are cheap) and
// sets the frames of the plot state as it draws, so frames always match the
// size of the image last drawn.
#pragma once

#include <functional>
#include <vector>

#include "core/plot/frame.h"
#include "render/plot_painter.h"
#include "render/surface.h"

namespace korva::render {

using Layer = std::function<void(Surface& image, PlotState& state)>;

struct Picture {
  // The whole client area (the start-up picture); white when empty.
  Layer background;
  // The upper band (spectra, the protector picture, the movie's plots) and
  // the lower band (the pressure plot and what is drawn over it), each in
  // the order drawn.
  std::vector<Layer> upper;
  std::vector<Layer> lower;

  // With `upper_covered` the upper band lies under a widget (the window's
  // header grid), which leaves a strip of it uncovered above the lower band:
  // what the upper band drew is wiped before the lower band is drawn, so
  // that nothing of it (an axis caption at its foot) shows beside the widget.
  void Render(Surface& image, PlotState& state, bool upper_covered = false) const {
    SurfacePainter(image)->fillRect(QRect(0, 0, image.width(), image.height()), Qt::white);
    if (background) background(image, state);
    for (const Layer& layer : upper) layer(image, state);
    if (upper_covered) {
      const int band = plot::PressureBandLayout(image.width(), image.height()).PlotTop;
      SurfacePainter(image)->fillRect(QRect(0, 0, image.width(), band), Qt::white);
    }
    for (const Layer& layer : lower) layer(image, state);
  }
};

}  // namespace korva::render
