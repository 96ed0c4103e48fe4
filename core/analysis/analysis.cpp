#include "core/analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <utility>

#include "core/analysis/parts_progress.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/model/cochlea.h"

namespace korva {
namespace {

// Runs `work`; what it threw, as a part of a result that failed. A stop
// request is no failure: it goes on.
template <class Work>
PartError ErrorOf(Work&& work) {
  try {
    work();
    return {};
  } catch (const Cancelled&) {
    throw;
  } catch (const std::bad_alloc&) {
    return {"not enough memory", std::current_exception()};
  } catch (const std::exception& e) {
    const std::string message = e.what();
    return {message.empty() ? "failed" : message, std::current_exception()};
  }
}

// Sums levels as energies: 10 log10(sum 10^(L/10)), with the count.
struct EnergySum {
  double sum = 0.0;
  int count = 0;
  std::optional<double> maximum;

  void Add(const std::optional<double>& level) {
    if (!level) return;
    sum += std::pow(10.0, *level / 10.0);
    ++count;
    if (!maximum || *level > *maximum) maximum = *level;
  }
  std::optional<double> Total() const {
    if (count == 0 || !(sum > 0.0)) return std::nullopt;
    return 10.0 * std::log10(sum);
  }
  ShotSummary::Levels Levels() const {
    const std::optional<double> total = Total();
    if (!total) return {};
    return {*total - 10.0 * std::log10(count), maximum};
  }
};

}  // namespace

Selection ResolveInterval(const IntervalRequest& r, std::int32_t last_sample, float dt) {
  auto index_of = [&](double ms) { return std::nearbyint(ms * 0.001 / dt); };
  double first = 0.0;
  double last = last_sample;
  if (r.from_ms) first = index_of(*r.from_ms);
  if (r.to_ms) last = index_of(*r.to_ms);
  if (r.first) first = static_cast<double>(*r.first);
  if (r.last) last = static_cast<double>(*r.last);
  return IntervalWithin(last_sample, dt, first, last);
}

namespace {

// The failures of the parts of an analysis in one message.
std::string ErrorText(const ShotReport& shot) {
  std::string text = shot.describe_error.message;
  const auto add = [&text](const std::string& message) {
    text += (text.empty() ? "" : "; ") + message;
  };
  // A failure of both listeners' runs is said once; one listener's is named
  // when the other ran too.
  const auto& runs = shot.hazard_error;
  if (runs[0].message == runs[1].message) {
    if (runs[0].failed()) add(runs[0].message);
    return text;
  }
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    const PartError& run = runs[ListenerSlot(listener)];
    const std::size_t other = 1 - ListenerSlot(listener);
    if (!run.failed()) continue;
    const bool both = runs[other].failed() || shot.hazard[other].has_value();
    add(both ? std::string(ListenerName(listener)) + " run: " + run.message : run.message);
  }
  return text;
}

// The same with what failed under each protector, named.
std::string ErrorText(const ShotReport& shot, std::span<const std::string> protectors) {
  std::string text = ErrorText(shot);
  for (std::size_t p = 0; p < shot.protector_error.size(); ++p) {
    if (!shot.protector_error[p].failed()) continue;
    text += (text.empty() ? "" : "; ") + protectors[p] + ": " + shot.protector_error[p].message;
  }
  return text;
}

// The descriptors and spectrum of shot.interval of the waveform.
void Describe(const WaveformView& waveform, ShotReport& shot) {
  const Selection interval = shot.interval;
  const std::span<const float> analysed =
      waveform.samples.subspan(static_cast<std::size_t>(interval.first),
                               static_cast<std::size_t>(interval.last - interval.first) + 1);
  shot.descriptors = DescribeImpulse(analysed, waveform.SampleInterval);
  try {
    shot.spectrum = ComputeLeq300msSpectrum(analysed, waveform.SampleInterval);
  } catch (const Error& e) {
    shot.spectrum_error = e.what();
  }
  shot.described = true;
}

}  // namespace

ShotReport FailedShot(std::string file, std::string error) {
  ShotReport shot;
  shot.file = std::move(file);
  shot.error = error.empty() ? "failed" : std::move(error);
  shot.opened = false;
  return shot;
}

std::string ShotName(const ShotReport& shot) {
  if (!shot.shot) return shot.file;
  return shot.file + " shot " + FormatInteger(*shot.shot) +
         (shot.time_s ? " at " + FormatFixed(*shot.time_s, 3) + " s" : std::string());
}

ShotReport DescribeShot(const std::string& file, const WaveformView& waveform, Selection interval) {
  const auto last_sample = static_cast<std::int32_t>(waveform.samples.size()) - 1;
  if (last_sample < 1) throw Error("The waveform holds fewer than 2 samples");
  if (interval.first < 0 || interval.last > last_sample || interval.last <= interval.first) {
    throw Error(
        "The interval must hold at least 2 samples of the waveform, whose samples run "
        "from 0 to " +
        FormatInteger(last_sample));
  }
  ShotReport shot;
  shot.file = file;
  shot.title = std::string(waveform.title);
  shot.samples = last_sample + 1;
  shot.dt = waveform.SampleInterval;
  shot.rate = waveform.SampleRate;
  shot.mic_location = waveform.MicLocation;
  shot.interval = interval;
  shot.metrics =
      IntervalMetrics(waveform.samples, waveform.SampleInterval, interval.first, interval.last);
  shot.measured = true;
  Describe(waveform, shot);
  AddCriteria(shot, {});
  return shot;
}

ShotReport DescribeShot(const std::string& file, const Session& session, Selection interval) {
  return DescribeShot(file, ViewOf(session), interval);
}

void AddHazardRun(ShotReport& shot, HazardRunResult run) {
  const int places = run.cochlea.Places;
  shot.place_distance_cm.resize(static_cast<std::size_t>(std::max(places, 0)));
  for (int c = 1; c <= places; ++c) {
    shot.place_distance_cm[static_cast<std::size_t>(c - 1)] = PlaceDistance(run.parameters, c);
  }
  shot.hazard[ListenerSlot(run.listener)] = std::move(run);
}

void AddCriteria(ShotReport& shot, std::span<const std::string> protectors,
                 std::span<const std::optional<ProtectedShot>> runs) {
  if (!shot.described) return;
  ModelHazard model;
  if (const auto& run = shot.Run(Listener::Warned)) model.warned_aru = run->cochlea.TotalHazardARU;
  if (const auto& run = shot.Run(Listener::Unwarned)) {
    model.unwarned_aru = run->cochlea.TotalHazardARU;
  }
  shot.criteria =
      CriteriaOfAnalysedShot(shot.descriptors, shot.mic_location, model, protectors, runs);
  shot.criteria_note = NotFreeFieldNote(shot.mic_location);
}

ShotReport Analyze(const std::string& name, const WaveformView& waveform,
                   const AnalysisOptions& options, ProgressSink& progress) {
  ShotReport shot;
  shot.file = name;
  shot.title = std::string(waveform.title);
  shot.samples = static_cast<std::int32_t>(waveform.samples.size());
  shot.rate = waveform.SampleRate;
  shot.dt = waveform.SampleInterval;
  shot.mic_location = waveform.MicLocation;

  const std::vector<Listener>& listeners = options.listeners;
  std::array<std::optional<HazardRunResult>, 2> runs;
  std::array<bool, 2> stopped{};
  // The protectors' runs need listeners and a free-field measurement.
  const std::vector<std::string>& protectors = options.protectors.names;
  const bool protect = !listeners.empty() && MeasuredInFreeField(waveform.MicLocation);
  std::vector<std::optional<ProtectedShot>> protected_runs(protectors.size());
  std::vector<char> protector_stopped(protectors.size(), 0);
  shot.protector_error.resize(protectors.size());
  // The interval's part first, when there is one, then one per listener,
  // then one per protector.
  const bool interval = options.measure || options.describe;
  const std::size_t first_run = interval ? 1 : 0;
  const std::size_t first_protector = first_run + listeners.size();
  PartsProgress parts(progress, first_protector + (protect ? protectors.size() : 0));
  std::filesystem::path model_file;
  if (!listeners.empty()) {
    const PartError model_error = ErrorOf([&] {
      model_file = ChooseModelFile(options.model_file);
      shot.model = IdentifyModelFile(model_file);
    });
    for (const Listener listener : listeners)
      shot.hazard_error[ListenerSlot(listener)] = model_error;
    if (model_error.failed()) model_file.clear();
  }
  {
    TaskGroup group(options.pool);
    if (!model_file.empty()) {
      for (std::size_t k = 0; k < listeners.size(); ++k) {
        group.Run([&, k] {
          const Listener listener = listeners[k];
          const std::size_t slot = ListenerSlot(listener);
          PartsProgress::Part part = parts[first_run + k];
          try {
            shot.hazard_error[slot] = ErrorOf([&] {
              Session session = SessionOf(waveform);
              HazardRunOptions run;
              run.listener = listener;
              run.model_file = model_file;
              run.keep_movie = options.keep_movie;
              run.keep_stapes = options.keep_stapes;
              run.write_place_table = options.write_place_table &&
                                      (listeners.size() == 1 || listener == Listener::Unwarned);
              run.pool = options.pool;
              runs[slot] = RunHazardAnalysis(session, run, part);
            });
          } catch (const Cancelled&) {
            stopped[slot] = true;
          }
        });
      }
    }
    if (!model_file.empty() && protect) {
      for (std::size_t p = 0; p < protectors.size(); ++p) {
        group.Run([&, p] {
          PartsProgress::Part part = parts[first_protector + p];
          try {
            shot.protector_error[p] = ErrorOf([&] {
              protected_runs[p] = RunUnderProtector(waveform, options.protectors, protectors[p],
                                                    model_file, listeners, options.pool, part);
            });
          } catch (const Cancelled&) {
            protector_stopped[p] = 1;
          }
        });
      }
    }
    if (interval) {
      PartsProgress::Part part = parts[0];
      shot.describe_error = ErrorOf([&] {
        shot.interval = ResolveInterval(options.interval, shot.samples - 1, shot.dt);
        if (options.measure) {
          shot.metrics =
              IntervalMetrics(waveform.samples, shot.dt, shot.interval.first, shot.interval.last);
          shot.measured = true;
        }
        if (options.describe) {
          if (shot.interval.last <= shot.interval.first) {
            throw Error("The descriptors need an interval of at least 2 samples");
          }
          Describe(waveform, shot);
        }
      });
      part.Checkpoint(1, 1);
    }
    group.Wait();
  }
  const bool protector_was_stopped =
      std::find(protector_stopped.begin(), protector_stopped.end(), 1) != protector_stopped.end();
  if (stopped[0] || stopped[1] || protector_was_stopped) throw Cancelled();
  for (auto& run : runs) {
    if (run) AddHazardRun(shot, std::move(*run));
  }
  AddCriteria(shot, protectors, protected_runs);
  shot.error = ErrorText(shot, protectors);
  if (options.keep_waveform) {
    auto kept = std::make_shared<Waveform>(WaveformOf(SessionOf(waveform)));
    kept->file = waveform.file;
    shot.waveform = std::move(kept);
  }
  return shot;
}

ShotReport AnalyzeFile(const std::string& file, const AnalysisOptions& options,
                       ProgressSink& progress) {
  // Reading is quick beside the analysis; its progress is not shown apart.
  StageProgress reading(progress, 0, 0, 1);
  auto waveform = std::make_shared<Waveform>();
  PartError error = ErrorOf([&] { *waveform = ReadWaveform(file, reading); });
  if (error.failed()) return FailedShot(file, std::move(error.message));
  AnalysisOptions without_copy = options;
  without_copy.keep_waveform = false;
  ShotReport shot = Analyze(file, waveform->View(), without_copy, progress);
  if (options.keep_waveform) shot.waveform = std::move(waveform);
  return shot;
}

std::vector<ShotReport> AnalyzeFiles(std::span<const std::string> files,
                                     const AnalysisOptions& options, ProgressSink& progress) {
  std::vector<ShotReport> shots(files.size());
  PartsProgress parts(progress, files.size());
  // A stop request ends every file at its next checkpoint, and the
  // Cancelled comes back once they have all ended.
  ParallelFor(options.pool, static_cast<int>(files.size()), [&](int i) {
    PartsProgress::Part part = parts[static_cast<std::size_t>(i)];
    if (part.StopRequested()) throw Cancelled();
    shots[static_cast<std::size_t>(i)] =
        AnalyzeFile(files[static_cast<std::size_t>(i)], options, part);
  });
  return shots;
}

ShotSummary SummariseShots(std::span<const ShotReport> shots) {
  ShotSummary s;
  EnergySum peak, lae, laeq8hr;
  std::set<std::string_view> recordings;
  for (const ShotReport& shot : shots) {
    if (shot.shot) {
      ++s.shots;
      recordings.insert(shot.file);
    } else {
      ++s.files;
    }
    if (shot.failed()) {
      ++s.failed;
      continue;
    }
    peak.Add(shot.descriptors.peak_db);
    lae.Add(shot.descriptors.lae_db);
    laeq8hr.Add(shot.metrics.LAeq8hr);
    if (const auto& rounds = shot.metrics.AllowedRounds;
        rounds && (!s.least_allowed_rounds || *rounds < *s.least_allowed_rounds)) {
      s.least_allowed_rounds = rounds;
      s.least_allowed_rounds_file = ShotName(shot);
    }
    for (std::size_t k = 0; k < 2; ++k) {
      const auto& run = shot.hazard[k];
      if (!run) continue;
      const float aru = run->cochlea.TotalHazardARU;
      ++s.runs[k];
      s.day_aru[k] += aru;
      const std::optional<double> allowed = AllowedExposures(aru);
      if (allowed && (!s.least_allowed[k] || *allowed < *s.least_allowed[k])) {
        s.least_allowed[k] = allowed;
        s.least_allowed_file[k] = ShotName(shot);
      }
    }
  }
  s.peak_db = peak.Levels();
  // The peak and energy criteria count the shots measured in the free field
  // alone; the model judges every shot.
  std::vector<ShotCriteria> judged, free_field;
  for (const ShotReport& shot : shots) {
    if (shot.failed() || !shot.criteria) continue;
    judged.push_back(*shot.criteria);
    if (shot.criteria_note.empty()) {
      free_field.push_back(*shot.criteria);
    } else {
      ++s.not_free_field;
    }
  }
  if (!judged.empty()) {
    const SeriesCriteria all = CriteriaOfSeries(judged);
    s.criteria = CriteriaOfSeries(free_field);
    s.criteria->warned = all.warned;
    s.criteria->unwarned = all.unwarned;
    s.criteria->protectors = all.protectors;
    s.verdict = JudgeSeries(*s.criteria);
  }
  s.lae_db = lae.Levels();
  s.LAeq8hr = laeq8hr.Levels();
  s.day_LAeq8hr = laeq8hr.Total();
  if (s.day_LAeq8hr) s.day_allowed_by_energy = AllowedRoundsFor(*s.day_LAeq8hr);
  for (std::size_t k = 0; k < 2; ++k) {
    s.day_allowed_by_model[k] = AllowedExposures(s.day_aru[k]);
  }
  s.recordings = static_cast<int>(recordings.size());
  s.files += s.recordings;
  return s;
}

std::string RowsText(const ShotSummary& s) {
  const auto count = [](int n, const char* one, const char* many) {
    return FormatInteger(n) + " " + (n == 1 ? one : many);
  };
  const int files = s.files - s.recordings;
  if (s.shots == 0) return count(files, "file", "files");
  return count(s.shots, "shot", "shots") + " of " + count(s.recordings, "recording", "recordings") +
         (files > 0 ? " and " + count(files, "file", "files") : "");
}

}  // namespace korva
