#include "core/recording/shot_files.h"

#include <cmath>
#include <utility>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/recording/recording_import.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/import.h"
#include "core/waveform/krv.h"

namespace korva {

ShotSource SourceOf(const RecordingInfo& info, int channel, const Calibration& calibration,
                    std::int32_t mic_location) {
  return {info.path.stem().string(), info, channel, calibration, mic_location};
}

std::string ShotTitle(const ShotSource& source, const Shot& shot) {
  return source.name + " shot " + FormatInteger(shot.number) + " at " +
         FormatFixed(shot.time_s, 3) + " s";
}

std::string ShotFileName(const ShotSource& source, const Shot& shot) {
  std::string number = FormatInteger(shot.number);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
  return source.name + "-shot" + number + ".KRV";
}

void CheckShotWindowLength(const ShotOptions& options, double rate) {
  // The detector's own rounding of the two spans.
  const double pre = std::llround(options.pre_ms / 1000.0 * rate);
  const double post =
      std::max(1.0, static_cast<double>(std::llround(options.post_ms / 1000.0 * rate)));
  if (pre + post <= kMaxSaveAsSamples) return;
  const double longest_post_ms = std::floor((kMaxSaveAsSamples - pre) / rate * 1000.0);
  throw Error("windows of up to " + FormatInteger(static_cast<long long>(pre + post)) +
              " samples (pre " + FormatShortest(options.pre_ms) + " ms + post " +
              FormatShortest(options.post_ms) + " ms at " + FormatShortest(rate) +
              " Hz) exceed the " + FormatInteger(kMaxSaveAsSamples) +
              " samples a waveform file holds: set post to at most " +
              FormatShortest(longest_post_ms) + " ms");
}

Session PartSession(const ShotSource& source, FrameRange range, std::vector<float> samples,
                    const std::string& title, const std::string& note) {
  Session session;
  session.Grid.SetImportTemplate();
  const RecordingInfo& info = source.info;
  CommitImportedSamples(session, std::move(samples), info.RequireRate(),
                        RecordingComment(info, source.channel, range, source.calibration) + note);
  ApplyHeaderEntries(session, {title, std::nullopt, FormatInteger(source.mic_location)});
  session.ImportedWaveform = true;
  return session;
}

Session ShotSession(const ShotSource& source, const Shot& shot) {
  // A recorder's DC offset is no sound: left in, it would shift the zero
  // crossings that bound an impulse's A-duration, and the quiet before a
  // shot would read as part of its positive phase.
  std::vector<float> samples = shot.window;
  const auto offset = static_cast<float>(shot.offset_pa);
  for (float& p : samples) p -= offset;
  const std::string note =
      offset != 0.0f ? "; ambient offset " + FormatFixed(offset, 4) + " Pa taken off" : "";
  return PartSession(source, {shot.first_sample, shot.first_sample + shot.samples},
                     std::move(samples), ShotTitle(source, shot), note);
}

std::filesystem::path WriteShotFile(const ShotSource& source, const Shot& shot,
                                    const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / ShotFileName(source, shot);
  const Session session = ShotSession(source, shot);
  WriteFileAtomically(path, SaveAsText(session, path.string()));
  return path;
}

Waveform ShotWaveform(const ShotSource& source, const Shot& shot) {
  return ReopenedAsSaved(ShotSession(source, shot), ShotFileName(source, shot));
}

}  // namespace korva
