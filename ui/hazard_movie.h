// The hazard movie after a hazard run: the stapes displacement against time,
// the unwrapped cochlea (displacement envelope and place hazards along it),
// and the animation of the displacement profile and the growing hazard,
// frame by frame from the movie buffer of the run.
//
// Frames are paced by a timer on the window's event loop rather than drawn
// inside a command that pumps events: no other command can run in the
// middle of a frame, and a command that replaces the waveform stops the
// movie before it changes anything the frames read.
#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
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
#include "ui/plot_painter.h"
#include "ui/surface.h"

namespace korva::ui {

inline constexpr const char* kStapesCaption = "STAPES DISPLACEMENT IN MICRONS";
inline constexpr const char* kDistanceCaption = "DISTANCE FROM STAPES IN CM";
inline constexpr const char* kBmCaption = "BM DISPLACEMENT IN MICRONS";
inline constexpr const char* kAruCaption = "AUDITORY RISK UNITS (A.R.U.)";
inline constexpr int kStartMovieDelay = 15;
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

class HazardMovie : public QObject {
  Q_OBJECT

 public:
  explicit HazardMovie(QImage& image, QObject* parent = nullptr);
  // A movie drawn only through DrawFrame (a movie being saved).
  HazardMovie();

  // Takes `input` at frame 1 without drawing or starting.
  void Load(MovieInput input);
  // Moves to `frame` (within 1..last frame) without drawing: the running
  // hazards are those after that frame's samples.
  void SeekTo(std::int32_t frame);
  std::int32_t LastFrame() const { return input_.last_frame; }
  // Samples per frame.
  int Step() const { return step_; }
  void SetStep(int step);

  // Starts from frame 1 with the upper band redrawn. `lower` and
  // `lower_hazard` are the frames of the plot below (PressureTimePlot2).
  void Start(MovieInput input, const plot::Frame& lower, const plot::Frame& lower_hazard);
  // Stops at once (nothing more is drawn); the frame reached stays.
  void Stop();
  bool Running() const { return !stopped_ && (timer_.isActive() || paused_); }
  // Draws the movie as it stands, whole: the upper band (axes, envelope,
  // the profile and the place hazards of the frame reached) and, over the
  // plot below with the given frames, the waveform and the worst place's
  // hazard up to that frame. What a resize or a replay needs.
  void Redraw(const plot::Frame& lower, const plot::Frame& lower_hazard);
  // The same on any surface (an export) with the frames of the plot below as
  // drawn there; the movie itself is left as it is. Returns the upper frames.
  bool DrawsOn(const Surface& target) const { return &target.Device() == &image_; }
  std::array<plot::Frame, 2> DrawFrame(Surface& target, const plot::Frame& lower,
                                       const plot::Frame& lower_hazard) const;
  bool Paused() const { return paused_; }
  std::int32_t MovieFrame() const { return frame_; }
  int MovieDelay() const { return delay_; }
  bool ReplayPending() const { return replay_; }
  // The running hazard of places 1..places at [c - 1].
  std::vector<float> PlaceHazard() const;
  int ProfileSegmentsDrawn() const { return segments_drawn_; }

  // The keys while a movie is on: Enter pauses and resumes, End ends after
  // the current frame, Home replays once, Up and Down change the delay,
  // "+" and "-" the step; while paused Left and Right seek by a step.
  // End and Home take effect at the next frame. Returns whether the key was
  // the movie's.
  bool Key(int key);

  // One frame, as the timer does it (tests step with it).
  void Tick();

 signals:
  void FrameDrawn(std::int32_t frame);
  // The movie reached its last frame (not after Stop).
  void Finished();
  // A replay starts or the movie was moved to another frame: the window
  // redraws the picture (the movie and the pressure plot below).
  void ReplayRequested();

 private:
  // Returns the number of segments drawn.
  int DrawProfile(Surface& target, const plot::Frame& upper, std::int32_t frame) const;
  void DrawHazardProfile(Surface& target, const plot::Frame& upper,
                         const std::vector<float>& hazard) const;
  // The segments of the plot below for frame f: the waveform and the worst
  // place's hazard from sample f - 1 to f.
  void DrawLowerSegment(Surface& target, const plot::Frame& lower, const plot::Frame& lower_hazard,
                        std::int32_t frame) const;
  void Begin();
  // Back to frame 1 with no hazard accumulated.
  void Rewind();
  // The samples of the current frame added to the running hazards.
  void Advance();
  // "t = ... ms  frame f of n" at the top right of the upper band.
  void DrawFrameLabel(Surface& target) const;

  QImage offscreen_;
  QImage& image_;
  QTimer timer_;
  MovieInput input_;
  plot::Frame lower_;
  plot::Frame lower_hazard_;
  std::array<plot::Frame, 2> upper_{};
  std::vector<HalfCycleHazard> hazard_;
  std::vector<float> drawn_hazard_;
  // The worst place's hazard after each frame (0 before the first).
  std::vector<float> worst_;
  std::int32_t frame_ = 0;
  int delay_ = kStartMovieDelay;
  int step_ = 1;
  bool paused_ = false;
  bool replay_ = false;
  bool ending_ = false;
  bool stopped_ = true;
  int segments_drawn_ = 0;
};

}  // namespace korva::ui
