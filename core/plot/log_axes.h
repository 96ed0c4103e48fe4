// Axes with a logarithmic frequency axis (world X is log10 of the frequency
// in Hz, labelled in kHz at 1, 2 and 5 of every decade) and a linear level
// axis, for spectra in the upper band of the window.
#pragma once

#include <string>

#include "core/plot/axes.h"
#include "core/plot/frame.h"

namespace korva::plot {

// The upper half of a client area laid out for a spectrum (left margin
// 6.25 % of the width, room for the two vertical captions).
Layout SpectrumBandLayout(int client_width, int client_height);

// Tick lengths of both kinds of axes: 0.6435 % of the plot width on the
// vertical axes, 1.95 % of the plot height on the horizontal ones.
int YTickLengthFor(const Layout& layout);
int XTickLengthFor(const Layout& layout);

// The style of a level axis over a log-frequency axis: `y_tick_step`, every
// `y_label_every`-th tick labelled, tick lengths of `layout`.
AxesStyle LevelAxesStyle(const Layout& layout, float y_tick_step, int y_label_every = 5);

// The kHz label of a frequency tick at world x (log10 Hz): the closer to
// 1 kHz, the fewer decimals; 10 Hz reads "0.01".
std::string KiloHertzLabel(float x);

// A level label of the left axis: decimals only for small magnitudes.
std::string LevelLabel(float y);

struct LogAxes {
  LinearAxes axes;  // x_caption, title, y_caption (the spectrum caption) filled
  Caption units_caption;
};

// Ticks, labels and captions of the log-frequency plot in `frame` (its scales
// already set for `layout`). `style` supplies YTickStep, YLabelEvery, the
// tick lengths and the title.
LogAxes PlanLogAxes(const Frame& frame, const Layout& layout, const AxesStyle& style,
                    const std::string& spectrum_caption, const std::string& units_caption);

}  // namespace korva::plot
