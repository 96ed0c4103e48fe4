// Field recordings as recorders and MATLAB save them: WAV (plain, extensible,
// RF64), W64, FLAC, AIFF, CAF and other sound files through libsndfile, MAT
// v5 and v7.3 files through matio. A reader opens the file and reads its
// header only; samples are then read one channel at a time, block by block,
// so that memory does not grow with the recording's length.
//
// Samples come in the file's own units: integers as their integer values (a
// 16-bit sample of 1000 is 1000.0), floating-point values as they are. A
// scale (pascals per unit, see calibration.h) is applied while reading.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/progress.h"

namespace korva {

// What a MATLAB file needs said about it; sound files carry all of it in
// their header.
struct SourceOptions {
  std::optional<std::string> variable;  // the variable holding the samples
  // Samples per second: required for a MAT file without `rate_variable`;
  // for a sound file it replaces the header's rate.
  std::optional<double> rate;
  std::optional<std::string> rate_variable;  // a numeric scalar variable holding the rate
};

struct RecordingInfo {
  std::filesystem::path path;
  std::string format;    // "FLAC", "WAV", "MAT v7.3", ...
  std::string encoding;  // "24-bit integer", "32-bit float", "int16", "double"
  bool integer = false;  // whole-number samples, read as their integer values
  int bits = 0;          // bits per sample
  int channels = 0;
  std::int64_t frames = 0;
  double rate = 0.0;         // samples per second; 0 when a MAT file's rate is unknown
  std::string variable;      // MAT files: the variable read
  std::string rate_problem;  // why `rate` is 0: what would give it

  // The value that stands for full scale: 2^(bits-1) for integers, 1 for
  // floating-point samples (fractions of full scale).
  double FullScale() const;
  // The duration in seconds (0 when the rate is unknown).
  double Seconds() const;
  // "FLAC, 24-bit integer, 2 channels": what the file holds, for headers and dialogs.
  std::string Description() const;
  // The rate, or a FormatError naming the file and what would give it.
  double RequireRate() const;
};

// Frames first..end-1 of a recording.
struct FrameRange {
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::int64_t Count() const { return end - first; }
};

// The frames from `from_s` to `to_s` seconds into the recording (its start
// and end when not given), each rounded to the nearest frame. Error naming
// the file for a range that is empty, negative or beyond the recording.
FrameRange TimeRange(const RecordingInfo& info, std::optional<double> from_s,
                     std::optional<double> to_s);

// Frames read in one block unless a caller asks otherwise.
inline constexpr std::int64_t kRecordingBlockFrames = 1 << 16;

class RecordingSource;

class RecordingReader {
 public:
  // Opens `path` and reads its header, no samples. FormatError naming the
  // file and the reason when it is not a recording either library reads,
  // when it is truncated or corrupt, empty, or holds samples that are not
  // integers of 8 to 32 bits or 32- or 64-bit floating-point numbers.
  explicit RecordingReader(const std::filesystem::path& path, const SourceOptions& source = {});
  // The same, but nothing for a file neither library knows and that does not
  // claim to be a sound or MATLAB file by its first bytes (text, raw binary:
  // the importer's).
  static std::optional<RecordingReader> TryOpen(const std::filesystem::path& path,
                                                const SourceOptions& source = {});
  ~RecordingReader();
  RecordingReader(RecordingReader&&) noexcept;
  RecordingReader& operator=(RecordingReader&&) noexcept;

  const RecordingInfo& Info() const { return info_; }
  FrameRange All() const { return {0, info_.frames}; }

  // Receives consecutive blocks of samples; `first_frame` is the frame of
  // the recording that the block's first sample belongs to.
  using BlockSink = std::function<void(std::span<const float> samples, std::int64_t first_frame)>;

  // Hands frames `range` of `channel` (from 0), each multiplied by `scale`,
  // to `sink` in order, in blocks of at most `block_frames` (a compressed
  // MAT v5 variable in larger ones: zlib cannot start in its middle).
  // Reports progress in frames after each block and stops there when asked
  // (Cancelled). Error naming the file for a channel or range outside the
  // recording; FormatError for a file that ends early or is corrupt, and for
  // a sample that is not a finite number (naming its frame).
  void Read(int channel, FrameRange range, double scale, const BlockSink& sink,
            ProgressSink& progress, std::int64_t block_frames = kRecordingBlockFrames);

  // The frames of `range` of `channel` times `scale`, in memory.
  std::vector<float> ReadAll(int channel, FrameRange range, double scale, ProgressSink& progress);

 private:
  RecordingReader(RecordingInfo info, std::unique_ptr<RecordingSource> source);

  RecordingInfo info_;
  std::unique_ptr<RecordingSource> source_;
};

// The header of `path` as TryOpen finds it: what a dialog shows before
// anything is read.
std::optional<RecordingInfo> ProbeRecording(const std::filesystem::path& path,
                                            const SourceOptions& source = {});

// Error naming the file unless `channel` is one of the recording's.
void RequireChannel(const RecordingInfo& info, int channel);

}  // namespace korva
