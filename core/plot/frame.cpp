#include "core/plot/frame.h"

#include <algorithm>
#include <cmath>

#include "core/common/numbers.h"

namespace korva::plot {
namespace {

float ClampTo(float value, float lowest, float highest) {
  if (std::isnan(value)) return lowest;
  if (value < lowest) return lowest;
  if (value > highest) return highest;
  return value;
}

}  // namespace

void Frame::SetScales(int plot_width, int plot_height) {
  XScale = static_cast<float>(plot_width / (static_cast<double>(PlotXMax) - PlotXMin));
  YScale = static_cast<float>(plot_height / (static_cast<double>(PlotYMin) - PlotYMax));
}

ScreenPoint WorldToScreen(const Frame& frame, float& world_x, float& world_y) {
  world_x = ClampTo(world_x, frame.PlotXMin, frame.PlotXMax);
  world_y = ClampTo(world_y, frame.PlotYMin, frame.PlotYMax);
  const double x = (static_cast<double>(world_x) - frame.PlotXMin) * frame.XScale + frame.left;
  const double y = (static_cast<double>(world_y) - frame.PlotYMax) * frame.YScale + frame.top;
  return {RoundToInt(x), RoundToInt(y)};
}

ScreenPoint WorldToScreenBeyond(const Frame& frame, double world_x, double world_y) {
  const auto pixel = [](double v) {
    return RoundToInt(std::isnan(v) ? -1.0e6 : std::clamp(v, -1.0e6, 1.0e6));
  };
  return {pixel((world_x - frame.PlotXMin) * frame.XScale + frame.left),
          pixel((world_y - frame.PlotYMax) * frame.YScale + frame.top)};
}

float NiceStep(float x) {
  if (!(x > 0.0f) || !std::isfinite(x)) return 1.0f;
  const double l = std::log10(static_cast<double>(x));
  // Split l into e + m: m in [0, 1) above zero, in (0, 1] at or below zero.
  double e;
  if (l > 0.0) {
    e = std::floor(l);
  } else {
    e = -(std::floor(-l) + 1.0);
  }
  const double m = l - e;
  const double to_one = std::fabs(m);
  const double to_two = std::fabs(m - 0.301);
  const double to_ten = std::fabs(m - 1.0);
  double step;
  if (to_one < to_two && to_one < to_ten) {
    step = std::pow(10.0, e);
  } else if (to_two < to_one && to_two < to_ten) {
    step = std::pow(10.0, e + 0.30103);
  } else {
    step = std::pow(10.0, e + 1.0);
  }
  return static_cast<float>(step);
}

Layout PressureBandLayout(int client_width, int client_height) {
  Layout layout;
  layout.FrameWidth = std::max(client_width, 1);
  layout.FrameHeight = std::max(RoundToInt(0.5 * client_height), 1);
  layout.PlotTop = layout.FrameHeight;
  layout.BottomMargin = static_cast<int>(std::trunc(0.13 * layout.FrameHeight));
  layout.PlotLeft = static_cast<int>(std::trunc(0.07 * layout.FrameWidth));
  layout.PlotWidth = std::max(layout.FrameWidth - 1 - layout.PlotLeft, 1);
  layout.PlotHeight = std::max(layout.FrameHeight - layout.BottomMargin, 1);
  return layout;
}

Frame FrameOver(const Layout& layout, float x_min, float x_max, float y_min, float y_max) {
  Frame frame{x_min, x_max, y_min, y_max};
  frame.left = layout.PlotLeft;
  frame.top = layout.PlotTop;
  frame.SetScales(layout.PlotWidth, layout.PlotHeight);
  return frame;
}

Layout TwoRangeBandLayout(int client_width, int client_height, int top) {
  Layout layout = PressureBandLayout(client_width, client_height);
  layout.PlotTop = top;
  layout.PlotWidth = std::max(layout.FrameWidth - 1 - 2 * layout.PlotLeft, 1);
  return layout;
}

int PlotFontPoints(int client_width, int client_height) {
  const int by_height = RoundToInt(8.0 * client_height / 600.0);
  const int by_width = RoundToInt(8.0 * client_width / 800.0);
  return std::max(std::min(by_height, by_width), 1);
}

int PointsToPixels(int points) {
  return std::max(RoundToInt(points * 96.0 / 72.0), 1);
}

ScreenPoint AnchorTopLeft(int anchor, int x, int y, int text_width, int text_height) {
  return {x - (anchor % 3) * (text_width / 2), y - (anchor / 3) * (text_height / 2)};
}

ScreenPoint AnchorRotatedStart(int anchor, int x, int y, int text_width, int text_height) {
  return {x - (anchor / 3) * (text_height / 2), y + (anchor % 3) * (text_width / 2)};
}

}  // namespace korva::plot
