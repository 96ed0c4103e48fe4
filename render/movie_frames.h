// The pictures of a hazard run's movie buffer: the stapes displacement
// against time, the unwrapped cochlea (displacement envelope and place
// hazards along it), the waveform below read against the worst place's
// hazard, and the animation of the displacement profile and the growing
// hazard, frame by frame. The window plays the frames on a timer; a saved
// video draws them one after another.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/model/cochlea.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/plot/frame.h"
#include "core/waveform/session.h"
#include "render/plot_painter.h"
#include "render/surface.h"

namespace korva::render {

inline constexpr const char* kStapesCaption = "STAPES DISPLACEMENT IN MICRONS";
inline constexpr const char* kDistanceCaption = "DISTANCE FROM STAPES IN CM";
inline constexpr const char* kBmCaption = "BM DISPLACEMENT IN MICRONS";
inline constexpr const char* kAruCaption = "AUDITORY RISK UNITS (A.R.U.)";
// Samples per frame the movie may step by ("+" and "-" walk this list).
inline constexpr std::array<int, 7> kMovieSteps{1, 2, 5, 10, 20, 50, 100};

// Envelope extremes of places 1..places (header rows 1 to 3); only the
// places the run computed, so stale columns never set the axes.
struct Envelope {
  float max_displacement = -1.0e6f;
  float min_displacement = 1.0e6f;
  float max_hazard = 0.0f;
};
Envelope ScanEnvelope(const MovieBuffer& movie, int places);

// The frame of the last sample the movie may show: the buffer holds rows
// only for the samples the cochlea analysed.
std::int32_t LastMovieFrame(std::int32_t last_sample, std::int32_t fft_length);

// Everything one movie reads, fixed when it starts.
struct MovieInput {
  std::shared_ptr<const MovieBuffer> movie;
  EarModelParameters params;
  int places = 0;
  int worst_section = 1;
  std::int32_t last_frame = 0;
  float dt = 0.0f;              // seconds
  float start_time = 0.0f;      // seconds, of sample 0
  std::vector<float> pressure;  // Pa, samples 0..last_frame
};

// What the movie of a hazard run on `session` replays.
MovieInput MovieInputOf(const HazardRunResult& run, const Session& session);

// The stapes displacement in the upper band (rows 4.. of column 2).
void PlotStDispTime(Surface& image, const MovieBuffer& movie, std::int32_t last_frame, float dt,
                    float start_time);

// The two-axis frame of the unwrapped cochlea in the upper band: distance
// across, displacement on the left, hazard on the right. Returns the two
// frames (displacement, hazard) that share the pixel rectangle.
std::array<plot::Frame, 2> PlotBMDispSpace(Surface& image, const EarModelParameters& params,
                                           const Envelope& envelope);

// The waveform in the lower band read against the worst place's hazard: the
// waveform in frame 2, the hazard from 0 to `max_hazard` A.R.U. in frame 4 on
// a labelled right-hand axis (both kept in `state`).
void PressureTimePlot2(Surface& image, const PressurePlotInput& waveform, PlotState& state,
                       float max_hazard);

// The envelope (maxima and minima) in blue, and the place hazards of the run
// in red, on the frames of PlotBMDispSpace.
void DrawEnvelope(Surface& image, const std::array<plot::Frame, 2>& frames,
                  const MovieBuffer& movie, const EarModelParameters& params, int places);

// What the status bar reads at `at` over the unwrapped cochlea drawn on a
// client of width x height: the place nearest the mouse with its distance
// from the stapes (cm, as the axis reads) and characteristic frequency, and
// `hazard` there (A.R.U., hazard[c - 1] for place c); empty off the plot.
QString CochleaReadoutAt(const EarModelParameters& params, std::span<const float> hazard, int width,
                         int height, QPoint at);

// The replay of a run, frame by frame: the running hazard of each place
// after each frame, and the drawing of a frame, whole or as the segments a
// player adds from one frame to the next.
class MovieFrames {
 public:
  // Takes `input` at frame 1 with no hazard accumulated.
  void Load(MovieInput input);
  bool Loaded() const { return input_.movie != nullptr; }
  const MovieInput& Input() const { return input_; }
  std::int32_t LastFrame() const { return input_.last_frame; }
  std::int32_t Frame() const { return frame_; }
  // Samples per frame.
  int Step() const { return step_; }
  void SetStep(int step);

  // Back to frame 1 with no hazard accumulated.
  void Rewind();
  // The samples of the current frame added to the running hazards; the
  // next frame becomes current.
  void Advance();
  // Moves to `frame` (within 1..last frame): the running hazards are those
  // after that frame's samples, and the picture shows them.
  void SeekTo(std::int32_t frame);
  // The running hazard of places 1..places at [c - 1].
  std::vector<float> PlaceHazard() const;
  // The picture of the current frame shows the running hazards as they are now.
  void ShowPlaceHazard() { shown_hazard_ = PlaceHazard(); }

  // The frame reached, whole: the upper band (axes, envelope, the profile
  // and the place hazards shown) and, over the plot below with the given
  // frames (PressureTimePlot2), the waveform and the worst place's hazard
  // up to that frame. Returns the upper frames (displacement, hazard).
  std::array<plot::Frame, 2> DrawFrame(Surface& target, const plot::Frame& lower,
                                       const plot::Frame& lower_hazard) const;

  // The pieces a player draws from one frame to the next. The profiles are
  // XOR lines on a raster surface, so drawing one twice erases it.
  // The displacement profile of `frame`; returns the segments drawn.
  int DrawProfile(Surface& target, const plot::Frame& upper, std::int32_t frame) const;
  // The place hazards the current frame shows.
  void DrawShownHazard(Surface& target, const plot::Frame& upper) const;
  // The segments of the plot below for frame f: the waveform and the worst
  // place's hazard from sample f - 1 to f.
  void DrawLowerSegment(Surface& target, const plot::Frame& lower, const plot::Frame& lower_hazard,
                        std::int32_t frame) const;
  // "t = ... ms  frame f of n  step s" at the top right of the upper band.
  void DrawFrameLabel(Surface& target) const;

 private:
  MovieInput input_;
  std::vector<HalfCycleHazard> hazard_;
  std::vector<float> shown_hazard_;
  // The worst place's hazard after each frame (0 before the first).
  std::vector<float> worst_;
  std::int32_t frame_ = 0;
  int step_ = 1;
};

}  // namespace korva::render
