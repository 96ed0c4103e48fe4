// The hazard movie played in the window after a hazard run: the frames of
// the run's replay drawn on the canvas one step at a time, paced by a timer
// on the window's event loop rather than inside a command that pumps events:
// no other command can run in the middle of a frame, and a command that
// replaces the waveform stops the movie before it changes anything the
// frames read.
#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <vector>

#include "core/plot/frame.h"
#include "render/movie_frames.h"
#include "render/surface.h"

namespace korva::ui {

inline constexpr int kStartMovieDelay = 15;

class HazardMovie : public QObject {
  Q_OBJECT

 public:
  // A movie drawn on `image` (the window's canvas).
  explicit HazardMovie(QImage& image, QObject* parent = nullptr);

  std::int32_t LastFrame() const { return frames_.LastFrame(); }
  // Samples per frame.
  int Step() const { return frames_.Step(); }
  void SetStep(int step) { frames_.SetStep(step); }

  // Starts from frame 1 with the upper band redrawn. `lower` and
  // `lower_hazard` are the frames of the plot below (PressureTimePlot2).
  void Start(render::MovieInput input, const plot::Frame& lower, const plot::Frame& lower_hazard);
  // Stops at once (nothing more is drawn); the frame reached stays.
  void Stop();
  bool Running() const { return !stopped_ && (timer_.isActive() || paused_); }
  // Draws the movie as it stands, whole, over the plot below with the given
  // frames: what a resize or a replay needs.
  void Redraw(const plot::Frame& lower, const plot::Frame& lower_hazard);
  // The frame reached on another surface (an export), the movie left as it is.
  bool DrawsOn(const render::Surface& target) const { return &target.Device() == &image_; }
  std::array<plot::Frame, 2> DrawFrame(render::Surface& target, const plot::Frame& lower,
                                       const plot::Frame& lower_hazard) const {
    return frames_.DrawFrame(target, lower, lower_hazard);
  }
  bool Paused() const { return paused_; }
  std::int32_t MovieFrame() const { return frames_.Frame(); }
  int MovieDelay() const { return delay_; }
  bool ReplayPending() const { return replay_; }
  // The running hazard of places 1..places at [c - 1].
  std::vector<float> PlaceHazard() const { return frames_.PlaceHazard(); }
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
  void Begin();

  QImage& image_;
  QTimer timer_;
  render::MovieFrames frames_;
  plot::Frame lower_;
  plot::Frame lower_hazard_;
  std::array<plot::Frame, 2> upper_{};
  int delay_ = kStartMovieDelay;
  bool paused_ = false;
  bool replay_ = false;
  bool ending_ = false;
  bool stopped_ = true;
  int segments_drawn_ = 0;
};

}  // namespace korva::ui
