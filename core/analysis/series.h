// A series of shots from many inputs, as one day's exposure: KRV files each
// analysed as one shot, and field recordings either analysed whole or split
// into their shots, every shot analysed as the waveform its KRV file opens
// to (core/recording/shot_files.h), so that a shot gives the same numbers
// whether it was written out first or not. korva-cli report, the Python
// package and the window call it; everything here may run on a worker
// thread and stops at a stop request of its progress sink (Cancelled).
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/common/progress.h"
#include "core/recording/recording_shots.h"

namespace korva {

// Whether an input is read as a field recording rather than opened as a KRV
// file: a file not named .KRV (in any case) that is a sound or MATLAB file.
// Anything else (text, raw binary) keeps the Open rule, which reads the KRV
// file of the same base name.
bool IsRecordingFile(const std::filesystem::path& path);

struct InputOptions {
  // How a recording among the inputs is read: channel, part, calibration
  // and the shots' microphone location; with `split`, its shots are found
  // by search.shots, else its part is analysed whole as one waveform.
  ShotSearch search;
  bool split = false;
  // With AnalysisOptions::keep_waveform, the analysed waveform is kept for
  // at most this many shots, the loudest by peak level (none: every shot).
  std::optional<std::size_t> keep_loudest;
};

// How many of a series' shots a report pictures by default, the loudest by
// peak level; the others stand in its tables, so a long day stays readable.
inline constexpr std::size_t kDefaultPicturedShots = 20;

struct InputsReport {
  // One row per KRV file and per recording analysed whole, one per shot of
  // a split recording (in order of time), in the order of the inputs. A
  // recording that cannot be read, or holds no shot, is a failed row.
  std::vector<ShotReport> rows;
  // The split recordings, in the order of the inputs, their shots without
  // their windows: what an overview of each shows.
  std::vector<RecordingShots> recordings;
};

// The inputs side by side on options.pool, a split recording's shots side
// by side too. Progress runs over the inputs; a stop request ends the call
// (Cancelled) once the running work has stopped.
InputsReport AnalyzeInputs(std::span<const std::string> files, const InputOptions& inputs,
                           const AnalysisOptions& options, ProgressSink& progress);

// The shots FindRecordingShots kept, each analysed as its ShotWaveform on
// options.pool, in order; `file` names the recording in the rows. Progress
// runs over the shots. What "Analyze all shots" does after a search.
std::vector<ShotReport> AnalyzeShots(const std::string& file, const RecordingShots& found,
                                     const AnalysisOptions& options, ProgressSink& progress);

}  // namespace korva
