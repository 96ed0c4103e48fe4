// A recording of any kind into the analysis session: what `korva-cli import`
// and the window's Open recording do. Sound and MATLAB files go through the
// recording reader (one channel, a part of it, calibrated); text and raw
// binary files through the importer with its questions, the part and the
// calibration then applying to what it read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/recording/calibration.h"
#include "core/recording/recording.h"
#include "core/recording/request.h"
#include "core/waveform/import.h"
#include "core/waveform/session.h"

namespace korva {

struct RecordingImportOptions {
  // The channel is a sound or MATLAB file's; a text file's channel is the
  // importer's question, answered by the prompter.
  RecordingRequest request;
  ImportOptions import;
  // The most samples the caller can keep: a longer part is refused before
  // anything is read.
  std::optional<std::int64_t> max_samples;
};

struct RecordingImport {
  ImportOutcome outcome = ImportOutcome::kCancelled;
  std::optional<RecordingInfo> recording;  // when the recording reader read the file
  int file_channels = 1;                   // channels of the file (1 for text, raw binary)
  Calibration calibration;
};

// Reads `path` into the session. A WAV file the importer reads (up to its
// buffer limit) stays the importer's when neither a channel nor a part is
// asked for, so that it imports as it always did: two channels one after
// the other, more than two refused. The session changes only when something
// was imported (or, for a WAV file whose samples cannot be decoded, its
// description shown); errors name the file.
RecordingImport ImportRecordingFile(Session& session, const std::filesystem::path& path,
                                    const RecordingImportOptions& options, Prompter& prompter,
                                    ProgressSink& progress);

// What cell (2, 2) says of a part read by the recording reader: the file's
// format, the channel and part, and the calibration.
std::string RecordingComment(const RecordingInfo& info, int channel, FrameRange range,
                             const Calibration& calibration);

}  // namespace korva
