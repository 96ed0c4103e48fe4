// Plot frames: world ranges mapped to pixel rectangles, the tick-step rule,
// the layout of the pressure band and the text anchor rule. Pure arithmetic,
// shared by the window and the headless plot command.
#pragma once

#include <array>
#include <string>

namespace korva::plot {

// One plot frame: a world rectangle and the pixel rectangle it maps to.
struct Frame {
  float PlotXMin = 0.0f;
  float PlotXMax = 1.0f;
  float PlotYMin = 0.0f;
  float PlotYMax = 1.0f;
  float XScale = 1.0f;   // pixels per world X unit
  float YScale = -1.0f;  // pixels per world Y unit; negative, screen Y grows downward
  int left = 0;          // screen position of the plot rectangle's top-left corner
  int top = 0;

  // Sets XScale and YScale for a plot rectangle of the given size.
  void SetScales(int plot_width, int plot_height);
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// Maps a world point into `frame`. A point outside the frame lands on its
// edge, and the clamped values are written back into world_x and world_y
// (callers rely on reading them back). Infinite or NaN coordinates go to an
// edge too, so that no undefined float-to-int conversion can happen.
ScreenPoint WorldToScreen(const Frame& frame, float& world_x, float& world_y);

// The same without the clamp, for drawing clipped to the plot rectangle: a
// point beyond the frame lands beyond its edge, so a line leaving a zoomed
// view is cut there rather than pressed flat along it. Far-off, infinite or
// NaN coordinates saturate a million pixels out.
ScreenPoint WorldToScreenBeyond(const Frame& frame, double world_x, double world_y);

// A tick step near x: 1, 2 or 10 times a power of ten. Raw steps from 1 to
// about 1.41 give 1, up to about 4.47 give 2, above that 10. A step of zero,
// a negative or a non-finite one gives 1: a flat waveform must still plot.
float NiceStep(float x);

// The layout shared by the plotting bands of the window.
struct Layout {
  int FrameWidth = 1;
  int FrameHeight = 1;
  int PlotTop = 0;
  int BottomMargin = 0;
  int PlotLeft = 0;
  int PlotWidth = 1;
  int PlotHeight = 1;
};

// The lower half of a client area of the given size, as the pressure-time
// plot lays it out (left margin 7 % of the width). Plot sizes are at least
// one pixel so that a tiny window never divides by zero.
Layout PressureBandLayout(int client_width, int client_height);

// A band starting at `top` for a plot read against two Y ranges: the
// pressure band's margins, plus a right margin as wide as the left one for
// the labels and caption of the right-hand axis.
Layout TwoRangeBandLayout(int client_width, int client_height, int top);

// The frame mapping [x_min, x_max] x [y_min, y_max] onto the plot rectangle
// of `layout`.
Frame FrameOver(const Layout& layout, float x_min, float x_max, float y_min, float y_max);

// Font size in points of every plot text: the smaller of round(8 H / 600) and
// round(8 W / 800), at least 1.
int PlotFontPoints(int client_width, int client_height);

// Pixel size of a font of `points` points on the 96-dpi grid the layout
// rules assume.
int PointsToPixels(int points);

// Anchor rule: code a in 0..8 places text relative to (x, y). a mod 3 = 0, 1,
// 2 is left-aligned, centred, right-aligned; a div 3 = 0, 1, 2 puts the top,
// the middle or the bottom of the text at y. Returns the text's top-left.
ScreenPoint AnchorTopLeft(int anchor, int x, int y, int text_width, int text_height);

// The same for text rotated by 90 degrees (reading upward): the roles of the
// offsets swap. Returns the start point of the rotated text, i.e. where the
// unrotated text's top-left corner lands.
ScreenPoint AnchorRotatedStart(int anchor, int x, int y, int text_width, int text_height);

// RGB colours the plots use.
struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
  bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kPurple{128, 0, 128};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kReflexCurve{0, 170, 170};

}  // namespace korva::plot
