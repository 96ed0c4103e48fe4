// The hazard movie saved as a video: frames drawn off the screen at a chosen
// size, every `step` samples, and piped to the ffmpeg program, which encodes
// them as MP4 (H.264) or an animated GIF.
#pragma once

#include <QSize>
#include <filesystem>
#include <optional>

#include "core/common/progress.h"
#include "render/movie_frames.h"

namespace korva::render {

struct MovieExportOptions {
  QSize size{1280, 720};  // even sides: H.264 wants them
  int step = 100;         // samples per frame
  int frames_per_second = 25;
};

// The ffmpeg program on PATH, or nothing.
std::optional<std::filesystem::path> FindFfmpeg();

// The number of video frames a movie of last_frame samples gets at `step`:
// frames 1, 1 + step, ... and always the last one.
int MovieVideoFrames(std::int32_t last_frame, int step);

// Writes the movie to `file` (".gif" makes a GIF, anything else MP4). The
// lower plot is the waveform against the worst place's hazard, as in the
// window. Reports each frame; a stop or a failure leaves no file. Throws
// Error with the reason (ffmpeg missing, ffmpeg's own message).
void SaveMovie(const MovieInput& input, const PressurePlotInput& waveform, float max_hazard,
               const MovieExportOptions& options, const std::filesystem::path& file,
               ProgressSink& progress);

}  // namespace korva::render
