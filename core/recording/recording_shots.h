// The shots of one channel of a recording file, found in one pass as the
// channel is read block by block, with a picture's worth of the channel
// beside them: what korva-cli shots and report --shots, the Python package
// and the window's Shots panel start from. Callable from any thread; a stop
// request on the progress sink ends it (Cancelled).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/common/progress.h"
#include "core/recording/request.h"
#include "core/recording/shot_files.h"
#include "core/recording/shots.h"

namespace korva {

// The channel decimated for drawing: the lowest and highest pressure of each
// of size() equal stretches of it.
struct ChannelEnvelope {
  double rate = 0.0;
  std::int64_t first_frame = 0;  // the recording's frame the first stretch starts at
  std::int64_t frames = 0;
  std::vector<float> low, high;  // Pa

  std::size_t size() const { return low.size(); }
  // Seconds from the recording's start to the beginning of stretch k (k up
  // to size(), the end).
  double SecondsAt(std::size_t k) const;
};

// Stretches of an envelope unless the channel has fewer samples.
inline constexpr std::size_t kEnvelopeStretches = 4096;

// Fills an envelope of `frames` frames from `first_frame` on as the samples
// come, block by block.
class EnvelopeBuilder {
 public:
  EnvelopeBuilder(double rate, std::int64_t first_frame, std::int64_t frames,
                  std::size_t stretches = kEnvelopeStretches);
  void Push(std::span<const float> samples);
  ChannelEnvelope Finish() { return std::move(envelope_); }

 private:
  ChannelEnvelope envelope_;
  std::int64_t position_ = 0;  // frames pushed
  std::size_t stretch_ = 0;
  std::int64_t stretch_end_ = 0;
};

// What is asked of a recording's shots.
struct ShotSearch {
  RecordingRequest recording;  // channel, part, calibration
  ShotOptions shots;
  std::int32_t mic_location = 1;  // of the shots' waveforms and files
};

struct RecordingShots {
  ShotSource source;
  FrameRange range;  // the frames searched
  ShotOptions options;
  DetectionSummary summary;
  ChannelEnvelope envelope;
  std::vector<Shot> shots;  // with their windows; empty when a sink took them
};

using ShotSink = std::function<void(const ShotSource& source, Shot&& shot)>;

// Reads the requested channel of `path` once and finds its shots. With a
// sink each shot goes there as soon as its window closes and is not kept,
// so memory does not grow with the recording; without one they are kept
// with their windows. Progress runs over the calibrator recording (if any)
// and the frames read. Errors name the file; the microphone location must
// be 1, 2 or 3.
RecordingShots FindRecordingShots(const std::filesystem::path& path, const ShotSearch& search,
                                  ProgressSink& progress, const ShotSink& sink = nullptr);

}  // namespace korva
