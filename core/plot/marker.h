// Data markers: small closed regular polygons around a plotted point, sized
// with the plot so that they stay visible but do not hide the curves.
#pragma once

#include <vector>

#include "core/plot/frame.h"

namespace korva::plot {

// Marker size in pixels for a plot `plot_width` pixels wide: round(width / 130),
// at least 1.
int MarkerSize(int plot_width);

// Corners of a regular polygon of `sides` corners (at least 3) around
// `centre`, closed (the first corner is repeated at the end). A triangle
// points up with its apex 0.6 n above the centre, a square stands on a side,
// other counts start 0.5 n above the centre.
std::vector<ScreenPoint> MarkerCorners(int sides, ScreenPoint centre, int plot_width);

}  // namespace korva::plot
