// The two libraries behind RecordingReader, each behind one small interface:
// libsndfile for sound files, matio for MATLAB files. Internal to the reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "core/recording/recording.h"

namespace korva {

class RecordingSource {
 public:
  virtual ~RecordingSource() = default;
  // Reads `count` frames of `channel` from frame `first` into `out`, in the
  // file's units. FormatError naming the file when the file ends early or
  // cannot be decoded.
  virtual void ReadChannel(int channel, std::int64_t first, std::int64_t count, float* out) = 0;
  // The block size to read `total` frames in when `requested` is asked.
  virtual std::int64_t BlockFrames(std::int64_t requested, std::int64_t /*total*/) const {
    return requested;
  }
};

// A sound file through libsndfile, filling `info` from its header. Nothing
// when libsndfile does not know the file and its first bytes (`magic`) do not claim a
// sound format either; FormatError when it is a sound file that cannot be
// read as a recording.
std::unique_ptr<RecordingSource> OpenSoundFile(const std::filesystem::path& path,
                                               std::string_view magic, RecordingInfo& info);

// Whether a file's first bytes are MATLAB's v5 or v7.3 header text.
inline bool StartsAsMatFile(std::string_view magic) {
  return magic.substr(0, 6) == "MATLAB";
}

// A numeric variable of a MAT file through matio, filling `info`.
// FormatError naming the file for a missing or non-numeric variable (listing
// the numeric ones) or a file matio cannot read.
std::unique_ptr<RecordingSource> OpenMatFile(const std::filesystem::path& path,
                                             const SourceOptions& options, RecordingInfo& info);

}  // namespace korva
