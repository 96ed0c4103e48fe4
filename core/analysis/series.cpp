#include "core/analysis/series.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "core/analysis/parts_progress.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/recording/recording_import.h"
#include "core/waveform/krv.h"

namespace korva {
namespace {

// Of an input's thousandths of progress, what reading takes before the
// analysis: a split recording is read once, quickly beside its shots' runs.
constexpr long long kTotal = 1000;
constexpr long long kSearchShare = 50;
constexpr long long kReadShare = 200;

// What an error says, as a failed row shows it.
std::string Reason(const std::exception& e) {
  const std::string message = e.what();
  return message.empty() ? "failed" : message;
}

// The analysed waveforms of the loudest shots so far, at most `capacity`
// of them: the others let theirs go as soon as they are beaten, so a long
// series never holds every shot's waveform at once.
class LoudestWaveforms {
 public:
  explicit LoudestWaveforms(std::optional<std::size_t> capacity) : capacity_(capacity) {}

  // `row` is complete and stays where it is until the series ends.
  void Offer(ShotReport& row) {
    if (!row.waveform || !capacity_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.size() < *capacity_) {
      kept_.push_back(&row);
      return;
    }
    const auto quietest = std::min_element(kept_.begin(), kept_.end(),
                                           [](auto* a, auto* b) { return Peak(*a) < Peak(*b); });
    if (quietest == kept_.end() || Peak(row) <= Peak(**quietest)) {
      row.waveform.reset();
      return;
    }
    (*quietest)->waveform.reset();
    *quietest = &row;
  }

 private:
  static double Peak(const ShotReport& row) {
    return row.described && row.descriptors.peak_db ? *row.descriptors.peak_db
                                                    : -std::numeric_limits<double>::infinity();
  }

  std::optional<std::size_t> capacity_;
  std::mutex mutex_;
  std::vector<ShotReport*> kept_;
};

// Analyses `waveform` (made by `make`, which may fail) as the row of `file`.
template <class Make>
ShotReport AnalyzeMade(const std::string& file, Make&& make, const AnalysisOptions& options,
                       ProgressSink& progress) {
  std::shared_ptr<Waveform> waveform;
  try {
    waveform = std::make_shared<Waveform>(make());
  } catch (const Cancelled&) {
    throw;
  } catch (const std::bad_alloc&) {
    return FailedShot(file, "not enough memory");
  } catch (const std::exception& e) {
    return FailedShot(file, Reason(e));
  }
  AnalysisOptions without_copy = options;
  without_copy.keep_waveform = false;
  ShotReport row = Analyze(file, waveform->View(), without_copy, progress);
  if (options.keep_waveform) row.waveform = std::move(waveform);
  return row;
}

// The shots side by side, the waveform of shot i made by `waveform_of(i)`.
template <class WaveformOf>
std::vector<ShotReport> AnalyzeEach(const std::string& file, std::span<const Shot> shots,
                                    WaveformOf&& waveform_of, const AnalysisOptions& options,
                                    LoudestWaveforms& loudest, ProgressSink& progress) {
  std::vector<ShotReport> rows(shots.size());
  PartsProgress parts(progress, shots.size());
  ParallelFor(options.pool, static_cast<int>(shots.size()), [&](int index) {
    const auto i = static_cast<std::size_t>(index);
    PartsProgress::Part part = parts[i];
    if (part.StopRequested()) throw Cancelled();
    rows[i] = AnalyzeMade(
        file, [&] { return waveform_of(i); }, options, part);
    rows[i].shot = shots[i].number;
    rows[i].time_s = shots[i].time_s;
    loudest.Offer(rows[i]);
  });
  return rows;
}

// A recording's part as one waveform, as its imported KRV file opens.
Waveform WholeRecording(const std::filesystem::path& path, const ShotSearch& search,
                        ProgressSink& progress) {
  RecordingReader reader(path, search.recording.source);
  const RecordingInfo& info = reader.Info();
  const FrameRange part = TimeRange(info, search.recording.from_s, search.recording.to_s);
  const double rate = info.RequireRate();
  if (part.Count() > kMaxSaveAsSamples) {
    throw Error(WithFile(path.string(),
                         "the part holds " + FormatInteger(part.Count()) + " samples (" +
                             FormatFixed(part.Count() / rate, 3) + " s), more than the " +
                             FormatInteger(kMaxSaveAsSamples) +
                             " a waveform file holds: analyse its shots, or a part of at most " +
                             FormatFixed(kMaxSaveAsSamples / rate, 3) + " s"));
  }
  const ChannelPlan plan = PlanChannel(reader, search.recording, progress);
  const ShotSource source = SourceOf(info, plan.channel, plan.calibration, search.mic_location);
  std::vector<float> samples =
      reader.ReadAll(plan.channel, plan.range, plan.calibration.pa_per_unit, progress);
  return ReopenedAsSaved(PartSession(source, plan.range, std::move(samples), source.name),
                         source.name + ".KRV");
}

// The rows of one input, and its overview when it was split.
struct InputResult {
  std::vector<ShotReport> rows;
  std::optional<RecordingShots> recording;
};

InputResult AnalyzeInput(const std::string& file, const InputOptions& inputs,
                         const AnalysisOptions& options, LoudestWaveforms& loudest,
                         ProgressSink& progress) {
  InputResult result;
  if (!IsRecordingFile(file)) {
    result.rows.push_back(AnalyzeFile(file, options, progress));
    loudest.Offer(result.rows.back());
    return result;
  }
  if (!inputs.split) {
    StageProgress reading(progress, 0, kReadShare, kTotal);
    StageProgress analysing(progress, kReadShare, kTotal, kTotal);
    result.rows.push_back(AnalyzeMade(
        file, [&] { return WholeRecording(file, inputs.search, reading); }, options, analysing));
    loudest.Offer(result.rows.back());
    return result;
  }
  RecordingShots found;
  try {
    const RecordingReader header(file, inputs.search.recording.source);
    CheckShotWindowLength(inputs.search.shots, header.Info().RequireRate());
    StageProgress searching(progress, 0, kSearchShare, kTotal);
    found = FindRecordingShots(file, inputs.search, searching);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    result.rows.push_back(FailedShot(file, Reason(e)));
    return result;
  }
  if (found.shots.empty()) {
    result.rows.push_back(FailedShot(file, NoShotsText(found.summary)));
  } else {
    StageProgress analysing(progress, kSearchShare, kTotal, kTotal);
    // Each window is let go once its waveform is made.
    const auto waveform_of = [&found](std::size_t i) {
      Waveform waveform = ShotWaveform(found.source, found.shots[i]);
      std::vector<float>().swap(found.shots[i].window);
      return waveform;
    };
    result.rows = AnalyzeEach(file, found.shots, waveform_of, options, loudest, analysing);
  }
  for (Shot& shot : found.shots) std::vector<float>().swap(shot.window);
  result.recording = std::move(found);
  return result;
}

}  // namespace

bool IsRecordingFile(const std::filesystem::path& path) {
  if (ToUpperAscii(path.extension().string()) == ".KRV") return false;
  try {
    return ProbeRecording(path).has_value();
  } catch (const FormatError&) {
    return true;  // a sound or MATLAB file that is damaged: the reader says how
  } catch (const Error&) {
    return false;  // not there, or unreadable: the Open rule says so
  }
}

InputsReport AnalyzeInputs(std::span<const std::string> files, const InputOptions& inputs,
                           const AnalysisOptions& options, ProgressSink& progress) {
  std::vector<InputResult> results(files.size());
  LoudestWaveforms loudest(options.keep_waveform ? inputs.keep_loudest : std::nullopt);
  PartsProgress parts(progress, files.size());
  ParallelFor(options.pool, static_cast<int>(files.size()), [&](int index) {
    const auto i = static_cast<std::size_t>(index);
    PartsProgress::Part part = parts[i];
    if (part.StopRequested()) throw Cancelled();
    results[i] = AnalyzeInput(files[i], inputs, options, loudest, part);
  });
  InputsReport report;
  for (InputResult& result : results) {
    for (ShotReport& row : result.rows) report.rows.push_back(std::move(row));
    if (result.recording) report.recordings.push_back(std::move(*result.recording));
  }
  return report;
}

std::vector<ShotReport> AnalyzeShots(const std::string& file, const RecordingShots& found,
                                     const AnalysisOptions& options, ProgressSink& progress) {
  LoudestWaveforms every(std::nullopt);
  const auto waveform_of = [&found](std::size_t i) {
    return ShotWaveform(found.source, found.shots[i]);
  };
  return AnalyzeEach(file, found.shots, waveform_of, options, every, progress);
}

}  // namespace korva
