// Every picture KORVA draws, one recipe each: a Layer that draws it on any
// Surface (the window's canvas, a PNG, SVG or PDF, a video frame, a report
// picture) from the data it captures. The window, `korva-cli plot`, `korva-cli
// movie` and the report put the same recipes together, so a picture looks the
// same wherever it is drawn.
//
// Layers that set up a frame leave it in the plot state for the layers after
// them: the pressure plot frames 1 and 2, the movie's waveform frames 2 and
// 4, the unwrapped cochlea and the protector picture frame 3.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/metrics/leq300.h"
#include "core/model/cochlea.h"
#include "core/model/ear_model.h"
#include "core/model/reflex.h"
#include "core/protection/overlay.h"
#include "core/protection/protect_command.h"
#include "render/movie_frames.h"
#include "render/picture.h"
#include "render/plot_painter.h"

namespace korva::render {

// The start-up picture stretched over the client area with `text` centred
// near its top.
Layer Splash(QImage picture, QString text);

// The pressure-time plot in the lower band: a waveform on fresh axes, or a
// trace over the plot drawn before it (NextPressurePlot decides which).
Layer PressurePlot(PressurePlotInput plot);

// The reflex activation curve of a hazard run over the pressure plot, for a
// waveform of last_sample + 1 samples at interval dt.
Layer ReflexCurve(std::int32_t last_sample, float dt, ReflexTiming timing);

// A red cross on the pressure plot at (ms, kPa): where an onset was found.
Layer OnsetMark(float ms, float kpa);

// The waveform predicted at the eardrum (Pa) in green over the pressure plot.
Layer PredictedWaveform(std::shared_ptr<const std::vector<float>> samples, float dt,
                        float start_time);

// The Leq300ms spectrum in the upper band, zoomed as the plot state's
// spectrum view says; with `clear_band` the band is whitened first.
Layer Spectrum(std::shared_ptr<const Leq300msSpectrum> spectrum, std::string title,
               bool clear_band);

// Both narrow-band spectra of an overlay in the upper band on `range` (x
// from, x to, y from, y to): the second recording in `second_colour`, the
// first in blue.
Layer OverlaySpectra(std::shared_ptr<const OverlayResult> overlay, std::array<float, 4> range,
                     QColor second_colour);

// The protector command's insertion-loss picture in the upper band,
// captioned with the protector's name.
Layer ProtectorModel(std::shared_ptr<const ProtectResult> result);

// The stapes displacement of a hazard run against time, in the upper band:
// frames 0..last_frame of the run's movie buffer.
Layer StapesDisplacement(std::shared_ptr<const MovieBuffer> movie, std::int32_t last_frame,
                         float dt, float start_time);

// The unwrapped cochlea of a hazard run in the upper band: the displacement
// envelope along the cochlea and the hazard of each place.
Layer UnwrappedCochlea(std::shared_ptr<const MovieBuffer> movie, EarModelParameters params,
                       int places);

// The waveform in the lower band read against the worst place's hazard of a
// run, from 0 to `max_hazard` A.R.U., as below the movie.
Layer MovieWaveform(PressurePlotInput waveform, float max_hazard);

// The movie's frame reached by `frames`, over the plot of MovieWaveform.
Layer MovieFrame(std::shared_ptr<const MovieFrames> frames);

}  // namespace korva::render
