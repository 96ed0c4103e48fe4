// A shot found in a recording as a waveform of its own: the KRV file it is
// written to, and the waveform that file opens to. Everything that analyses
// a shot (korva-cli shots --out followed by hazard, korva-cli report
// --shots, the Python package, the window) takes it from here, so a shot
// analysed straight from the recording gives exactly what its file gives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/recording/calibration.h"
#include "core/recording/recording.h"
#include "core/recording/shots.h"
#include "core/waveform/session.h"
#include "core/waveform/waveform.h"

namespace korva {

// Where a recording's shots come from, as their files tell it.
struct ShotSource {
  // NAME of "NAME-shot001.KRV" and of the titles: the recording's file
  // name without its extension.
  std::string name;
  RecordingInfo info;
  int channel = 0;
  Calibration calibration;
  std::int32_t mic_location = 1;  // 1 free field, 2 ear-canal entrance, 3 eardrum
};

// The source of `info`'s channel read with `calibration`: named after the file.
ShotSource SourceOf(const RecordingInfo& info, int channel, const Calibration& calibration,
                    std::int32_t mic_location);

// "range shot 1 at 12.345 s"
std::string ShotTitle(const ShotSource& source, const Shot& shot);

// "range-shot001.KRV" (more digits from shot 1000 on).
std::string ShotFileName(const ShotSource& source, const Shot& shot);

// Error unless the windows `options` cut at `rate` samples per second fit in
// a KRV file, naming the longest `post` that would.
void CheckShotWindowLength(const ShotOptions& options, double rate);

// Frames `range` of the source's channel (their samples in pascals) as a
// waveform imported from it and titled `title`: the import's header, the
// comment cell saying the recording's format, the channel, the part and the
// calibration (then `note`), and the source's microphone location.
Session PartSession(const ShotSource& source, FrameRange range, std::vector<float> samples,
                    const std::string& title, const std::string& note = "");

// The shot's window as such a waveform, titled ShotTitle, with the ambient
// offset the detector measured before the shot taken off its samples (and
// said in the comment cell).
Session ShotSession(const ShotSource& source, const Shot& shot);

// Writes the shot's KRV file, as Save As writes ShotSession, atomically as
// `folder` / ShotFileName. Returns the path written.
std::filesystem::path WriteShotFile(const ShotSource& source, const Shot& shot,
                                    const std::filesystem::path& folder);

// The waveform the shot's KRV file opens to (its samples as the file stores
// them, dithered and rounded in length as every opened file is), without
// writing the file: what every analysis of the shot analyses.
Waveform ShotWaveform(const ShotSource& source, const Shot& shot);

}  // namespace korva
