// Linear axes: tick index ranges, label number formats (with the passes that
// add decimals when neighbouring labels would repeat), label anchors, and the
// full list of ticks, labels and captions of a boxed plot in screen terms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/plot/frame.h"

namespace korva::plot {

// Indices i whose ticks i x step may lie in [lowest, highest]: from
// trunc(lowest / step) to trunc(highest / step) + 1. Callers still test each
// tick against the range.
struct TickIndexRange {
  std::int64_t first = 0;
  std::int64_t last = -1;
};
TickIndexRange TickIndices(float lowest, float highest, float step);

// The world position of tick i, stored in single precision as the frame is,
// so that the tick at the end of a range such as 50 x 0.2 = 10 is not lost
// to the rounding of 0.2.
float TickValue(std::int64_t index, float step);

// True when `value` lies in [lowest, highest].
bool TickInRange(float value, float lowest, float highest);

// Fixed-point format of axis labels.
struct LabelFormat {
  int width = 0;
  int decimals = 0;
};

// The format for labels of an axis whose largest magnitude is `largest`:
// e = round(log10 largest - 1.495); decimals |e| when e < 1, else none;
// field width |e|. A zero or non-finite magnitude gives no decimals.
LabelFormat AxisLabelFormat(float largest);

std::string FormatLabel(float value, LabelFormat format);

// Formats the labelled ticks (indices divisible by `label_every` within the
// range) of a linear X axis. Three passes: after each pass in which two
// neighbouring labels came out equal, one more decimal. Returns the format
// finally used.
LabelFormat XLabelFormatWithPasses(float lowest, float highest, float step, int label_every);

// Everything a boxed linear plot (bottom, right, top, left axes) draws, in
// screen coordinates.
struct AxisTick {
  ScreenPoint at;   // on the axis line
  ScreenPoint tip;  // end of the tick mark
  bool labelled = false;
  std::string label;  // for labelled ticks of the bottom and left axes
  ScreenPoint label_at;
  int anchor = 0;
};

struct Caption {
  std::string text;
  ScreenPoint at;
  int anchor = 0;
  bool rotated = false;
};

struct AxesStyle {
  float XTickStep = 1.0f;
  float YTickStep = 1.0f;
  int XLabelEvery = 5;
  int YLabelEvery = 5;
  int XTickLength = 1;  // pixels, ticks on the horizontal axes
  int YTickLength = 1;  // pixels, ticks on the vertical axes
  std::string XCaption;
  std::string YCaption;
  std::string Title;
};

struct LinearAxes {
  // Corners of the box: left/right screen X of PlotXMin/PlotXMax, bottom/top
  // screen Y of PlotYMin/PlotYMax.
  int box_left = 0;
  int box_right = 0;
  int box_top = 0;
  int box_bottom = 0;
  std::vector<AxisTick> bottom;  // left to right, upward ticks, labelled
  std::vector<AxisTick> right;   // bottom to top, ticks pointing left
  std::vector<AxisTick> top;     // right to left, ticks pointing down
  std::vector<AxisTick> left;    // top to bottom, ticks pointing right, labelled
  LabelFormat x_format;
  LabelFormat y_format;
  Caption x_caption;
  Caption title;
  Caption y_caption;
  // Only a plot read against a second range labels its right-hand axis and
  // captions it (rotated, against the right edge of the window).
  LabelFormat right_format;
  Caption right_caption;
};

// More ticks than this on one axis are not drawn (a range far from zero with
// a tiny step would otherwise produce millions of marks).
inline constexpr std::int64_t kMaxTicksPerAxis = 100000;

LinearAxes PlanLinearAxes(const Frame& frame, const Layout& layout, const AxesStyle& style);

// A plot read against two Y ranges over one box: the bottom, top and left
// axes from `frame`, the right-hand axis ticked over `right`'s Y range (same
// pixel rectangle) every NiceStep(range / 25), long and labelled every
// YLabelEvery-th tick, with `right_caption` centred on the band.
LinearAxes PlanTwoRangeAxes(const Frame& frame, const Frame& right, const Layout& layout,
                            const AxesStyle& style, const std::string& right_caption);

}  // namespace korva::plot
