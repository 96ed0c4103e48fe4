#include "ui/hazard_movie.h"

#include <algorithm>

namespace korva::ui {

HazardMovie::HazardMovie(QImage& image, QObject* parent) : QObject(parent), image_(image) {
  // Delays of a few milliseconds are the point of the Up key; a coarse timer
  // would round them to its own granularity.
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &HazardMovie::Tick);
}

void HazardMovie::Start(render::MovieInput input, const plot::Frame& lower,
                        const plot::Frame& lower_hazard) {
  Stop();
  frames_.Load(std::move(input));
  lower_ = lower;
  lower_hazard_ = lower_hazard;
  replay_ = false;
  Begin();
}

void HazardMovie::Begin() {
  frames_.Rewind();
  segments_drawn_ = 0;
  paused_ = false;
  ending_ = false;
  stopped_ = false;
  Redraw(lower_, lower_hazard_);
  if (frames_.LastFrame() < 1) {
    stopped_ = true;
    emit Finished();
    return;
  }
  timer_.start(delay_);
}

void HazardMovie::Stop() {
  timer_.stop();
  paused_ = false;
  stopped_ = true;
}

void HazardMovie::Redraw(const plot::Frame& lower, const plot::Frame& lower_hazard) {
  if (!frames_.Loaded()) return;
  lower_ = lower;
  lower_hazard_ = lower_hazard;
  render::Surface canvas(image_);
  upper_ = frames_.DrawFrame(canvas, lower, lower_hazard);
}

void HazardMovie::Tick() {
  if (stopped_ || paused_ || !frames_.Loaded()) return;
  // Ending early leaves the current profile standing rather than jumping
  // the frame count, which would erase a profile that was never drawn.
  if (frames_.Frame() >= frames_.LastFrame() || ending_) {
    timer_.stop();
    if (replay_) {
      replay_ = false;
      Begin();
      emit ReplayRequested();
      return;
    }
    emit Finished();
    return;
  }
  // The profiles of this frame erased, those `step` samples on drawn.
  render::Surface canvas(image_);
  segments_drawn_ += frames_.DrawProfile(canvas, upper_[0], frames_.Frame());
  frames_.DrawShownHazard(canvas, upper_[1]);
  const std::int32_t target = std::min(frames_.Frame() + frames_.Step(), frames_.LastFrame());
  while (frames_.Frame() < target) {
    frames_.Advance();
    frames_.DrawLowerSegment(canvas, lower_, lower_hazard_, frames_.Frame() - 1);
  }
  segments_drawn_ += frames_.DrawProfile(canvas, upper_[0], frames_.Frame());
  frames_.ShowPlaceHazard();
  frames_.DrawShownHazard(canvas, upper_[1]);
  frames_.DrawFrameLabel(canvas);
  emit FrameDrawn(frames_.Frame() - 1);
  timer_.setInterval(delay_);
}

bool HazardMovie::Key(int key) {
  if (!Running()) return false;
  switch (key) {
    case Qt::Key_Up:
      delay_ = std::max(delay_ - 1, 1);
      break;
    case Qt::Key_Down:
      ++delay_;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      paused_ = !paused_;
      if (paused_) {
        timer_.stop();
      } else {
        timer_.start(delay_);
      }
      break;
    case Qt::Key_End:
      ending_ = true;
      break;
    case Qt::Key_Plus:
    case Qt::Key_Minus: {
      const int step = frames_.Step();
      const auto at = std::find(render::kMovieSteps.begin(), render::kMovieSteps.end(), step);
      if (key == Qt::Key_Plus && at + 1 < render::kMovieSteps.end()) frames_.SetStep(*(at + 1));
      if (key == Qt::Key_Minus && at > render::kMovieSteps.begin()) frames_.SetStep(*(at - 1));
      break;
    }
    case Qt::Key_Left:
    case Qt::Key_Right:
      if (!paused_) return false;
      frames_.SeekTo(frames_.Frame() + (key == Qt::Key_Right ? frames_.Step() : -frames_.Step()));
      emit ReplayRequested();
      break;
    case Qt::Key_Home:
      if (!replay_) {
        ending_ = true;
        replay_ = true;
      }
      break;
    default:
      return false;
  }
  return true;
}

}  // namespace korva::ui
