#include "core/analysis/analysis.h"

#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/model/cochlea.h"

namespace korva {
namespace {

// The parts of a piece of work that run side by side (listeners, files),
// each reporting its own progress, summed into one sink and passed on one
// report at a time; every part stops when the sink asks.
class PartsProgress {
 public:
  PartsProgress(ProgressSink& outer, std::size_t parts) : outer_(outer), done_(parts, 0) {}

  class Part final : public ProgressSink {
   public:
    Part(PartsProgress& owner, std::size_t index) : owner_(owner), index_(index) {}
    void Report(long long done, long long total) override {
      owner_.Update(index_, total > 0 ? done * kPart / total : kPart);
    }
    bool StopRequested() const override { return owner_.outer_.StopRequested(); }

   private:
    PartsProgress& owner_;
    std::size_t index_;
  };

  Part operator[](std::size_t index) { return Part(*this, index); }

 private:
  static constexpr long long kPart = 1000;

  void Update(std::size_t index, long long permille) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[index] = permille;
    long long sum = 0;
    for (const long long d : done_) sum += d;
    outer_.Report(sum, kPart * static_cast<long long>(done_.size()));
  }

  ProgressSink& outer_;
  std::mutex mutex_;
  std::vector<long long> done_;
};

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
  // The interval's part first, when there is one, then one per listener.
  const bool interval = options.measure || options.describe;
  const std::size_t first_run = interval ? 1 : 0;
  PartsProgress parts(progress, first_run + listeners.size());
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
  if (stopped[0] || stopped[1]) throw Cancelled();
  for (auto& run : runs) {
    if (run) AddHazardRun(shot, std::move(*run));
  }
  shot.error = ErrorText(shot);
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
  std::vector<char> stopped(files.size(), 0);
  PartsProgress parts(progress, files.size());
  {
    TaskGroup group(options.pool);
    for (std::size_t i = 0; i < files.size(); ++i) {
      group.Run([&, i] {
        PartsProgress::Part part = parts[i];
        try {
          if (part.StopRequested()) throw Cancelled();
          shots[i] = AnalyzeFile(files[i], options, part);
        } catch (const Cancelled&) {
          stopped[i] = 1;
        }
      });
    }
    group.Wait();
  }
  for (const char s : stopped) {
    if (s != 0) throw Cancelled();
  }
  return shots;
}

ShotSummary SummariseShots(std::span<const ShotReport> shots) {
  ShotSummary s;
  EnergySum peak, lae, laeq8hr;
  for (const ShotReport& shot : shots) {
    ++s.files;
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
      s.least_allowed_rounds_file = shot.file;
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
        s.least_allowed_file[k] = shot.file;
      }
    }
  }
  s.peak_db = peak.Levels();
  s.lae_db = lae.Levels();
  s.LAeq8hr = laeq8hr.Levels();
  s.day_LAeq8hr = laeq8hr.Total();
  if (s.day_LAeq8hr) s.day_allowed_by_energy = AllowedRoundsFor(*s.day_LAeq8hr);
  for (std::size_t k = 0; k < 2; ++k) {
    s.day_allowed_by_model[k] = AllowedExposures(s.day_aru[k]);
  }
  return s;
}

}  // namespace korva
