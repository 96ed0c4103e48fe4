#include "core/plot/marker.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korva::plot {

int MarkerSize(int plot_width) {
  return std::max(1, static_cast<int>(std::nearbyint(plot_width / 130.0)));
}

std::vector<ScreenPoint> MarkerCorners(int sides, ScreenPoint centre, int plot_width) {
  sides = std::max(sides, 3);
  const double n = MarkerSize(plot_width);
  double dx = 0.0;
  double dy = -0.5 * n;
  if (sides == 3) {
    dy = -0.6 * n;
  } else if (sides == 4) {
    dx = -0.707 * n / 2.0 * 1.2;
    dy = dx;
  }
  const double step = 2.0 * std::numbers::pi / sides;
  std::vector<ScreenPoint> corners;
  corners.reserve(static_cast<std::size_t>(sides) + 1);
  for (int k = 0; k < sides; ++k) {
    const double c = std::cos(step * k);
    const double s = std::sin(step * k);
    const double x = dx * c - dy * s;
    const double y = dx * s + dy * c;
    corners.push_back({centre.x + static_cast<int>(std::nearbyint(x)),
                       centre.y + static_cast<int>(std::nearbyint(y))});
  }
  corners.push_back(corners.front());
  return corners;
}

}  // namespace korva::plot
