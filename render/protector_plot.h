// The insertion-loss picture of the protector command in the upper half of
// the window, and the predicted eardrum waveform over the free-field one.
#pragma once

#include <span>
#include <string>

#include "core/plot/frame.h"
#include "core/protection/insertion_loss.h"
#include "render/plot_painter.h"
#include "render/surface.h"

namespace korva::render {

inline constexpr const char* kInsertionLossCaption = "INSERTION LOSS (dB)";

// The world-to-screen frame of the picture: log10 Hz across, dB up, laid out
// like a spectrum in the upper band of an image of this size.
plot::Frame ProtectorFrame(int client_width, int client_height, const InsertionLossPlot& plot);

// Colours the four curves show on white: total, piston, leak, material.
inline constexpr std::array<plot::Rgb, 4> kInsertionLossColours{
    plot::Rgb{0, 255, 0}, plot::Rgb{128, 128, 128}, plot::Rgb{0, 0, 255}, plot::kBlack};

// Whitens the upper band and draws the axes, the dashed 0 dB line, the green
// triangles at the measured target, the four curves, their captions, the
// protector title and the red RMS error. Returns the picture's frame.
plot::Frame DrawProtectorModel(Surface& image, const InsertionLossPlot& plot,
                               const std::string& title);

// The four model curves, each in its colour: where two cross, the one drawn
// later shows, never a mixture of both.
void DrawInsertionLossCurves(Surface& image, const plot::Frame& frame,
                             const InsertionLossPlot& plot);

// `samples` (Pa) in green over the pressure plot last drawn (its frame 2).
void DrawPredictedWaveform(Surface& image, const PlotState& state, std::span<const float> samples,
                           float dt, float start_time);

}  // namespace korva::render
