// How fast the ear model runs, in two cases:
// - where users run it: the shipped Human.par on FRIED160 (65,536 samples of
//   a 160 dB Friedlander impulse), a warned listener, with the floor of the
//   run printed term by term;
// - where it is slowest: a stiff parameter file (bench/data/stiff.par: a
//   stiffer stapes suspension whose wall is reached near 158 dB, and a
//   substep reduction of 2, so N never falls below 512) on a 16,384-sample
//   158 dB reverberant impulse (bench/data/REVERB158.KRV, made by
//   `korva-cli synth --peak 158 --b-duration 50 --samples 16384`).
//
// Every figure is measured against the straightforward model the tuning
// started from (bench/reference_ear.h) in the same run, and the summary at
// the end gives ratios, which survive a busy machine better than times.
// Single-thread figures are thread CPU time (min of repetitions), thread
// figures wall time. A whole analysis starts with an empty cache of cochlear
// transfer functions, as the first run of a process does; "series" runs
// find them computed, as every later shot of the same length does.
// Before timing, the program checks that the model still gives the recorded
// results (tests/data/model_results.txt).
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/reference_ear.h"
#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/model/cochlear_transfer.h"
#include "core/model/ear_equations.h"
#include "core/model/fft.h"
#include "core/model/hazard.h"
#include "core/waveform/krv.h"
#include "tests/core/model/model_results.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

const fs::path kRoot = KORVA_SOURCE_DIR;

// A recording and a parameter file, with what the measurements need.
struct Case {
  fs::path waveform, parameters;
  EarModelConstants model;
  ReflexTiming timing;
  float dt = 0.0f;
  std::vector<float> pressure;
  // States of the loud part of the run, for evaluations in isolation.
  std::vector<reference::EarState> states;
};

// `loud`: the sample where the states for evaluations in isolation start.
Case LoadCase(const fs::path& waveform, const fs::path& parameters, std::size_t loud) {
  Case s;
  s.waveform = kRoot / waveform;
  s.parameters = kRoot / parameters;
  s.model = LoadEarModel(s.parameters);
  Session session(1 << 21);
  NoProgress none;
  OpenWaveform(session, s.waveform, none);
  s.dt = session.SampleInterval;
  const auto samples = std::as_const(session.LoadedPressure).Range(0, session.LastSample);
  s.pressure.assign(samples.begin(), samples.end());
  s.timing = ComputeReflexTiming(kWarnedReflexOffset, s.dt, s.model.params.ReflexTimeConstant());
  // 64 states from the 400 samples after `loud`.
  std::vector<reference::EarState> all;
  std::vector<float> out(loud + 400);
  reference::TimeDomainModel1(s.model, s.timing, s.dt,
                              std::span<const float>(s.pressure).subspan(0, out.size()), out, &all);
  for (std::size_t k = 0; k < 64; ++k) s.states.push_back(all[loud + 6 * k]);
  return s;
}

// The impulse arrives after 5 ms (sample 1000); its first 2 ms are where
// the stapes spring is hardest.
const Case& Stiff() {
  static const Case c = LoadCase("bench/data/REVERB158.KRV", "bench/data/stiff.par", 1000);
  return c;
}

// The shipped model on the loudest bundled Friedlander impulse but one.
const Case& Users() {
  static const Case c = LoadCase("data/examples/FRIED160.KRV", "data/Human.par", 400);
  return c;
}

void SetEvaluationCounters(benchmark::State& state, long long evaluations) {
  state.counters["evals"] = static_cast<double>(evaluations);
  state.counters["ns_per_eval"] = benchmark::Counter(
      static_cast<double>(evaluations) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The warned listener's middle ear with the loop as it was (and with only
// its tangent replaced).
template <bool kFastTangent>
void BM_MiddleEar_Reference(benchmark::State& state, const Case* (*which)()) {
  const Case& s = *which();
  std::vector<float> out(s.pressure.size());
  MiddleEarStats stats;
  for (auto _ : state) {
    stats = reference::TimeDomainModel1<kFastTangent>(s.model, s.timing, s.dt, s.pressure, out);
    benchmark::DoNotOptimize(out.data());
  }
  SetEvaluationCounters(state, stats.derivative_evaluations);
}

// The tuned loop; `options` switches parts of the tuning off to show what
// each buys.
void BM_MiddleEar_Current(benchmark::State& state, const Case* (*which)(),
                          IntegrationOptions options) {
  const Case& s = *which();
  std::vector<float> out(s.pressure.size());
  NoProgress none;
  MiddleEarStats stats;
  for (auto _ : state) {
    stats = RunMiddleEarModel(EarVariant::FreeField, s.model, s.timing, s.dt, s.pressure, out, none,
                              options);
    benchmark::DoNotOptimize(out.data());
  }
  SetEvaluationCounters(state, stats.derivative_evaluations);
}

// One derivative evaluation at a time, on states of the loud part of the run.
void BM_Evaluation_Reference(benchmark::State& state, const Case* (*which)()) {
  const Case& s = *which();
  double a[27] = {};
  std::size_t k = 0;
  for (auto _ : state) {
    const reference::EarState& x = s.states[k++ & 63];
    reference::Derivatives<EarVariant::FreeField>(s.model, x.Q.data(), x.V.data(), 632.0,
                                                  s.model.F1, s.model.F2, a);
    benchmark::DoNotOptimize(a);
    benchmark::ClobberMemory();
  }
  SetEvaluationCounters(state, 1);
}

// The tuned evaluation, inlined into a loop compiled for the same vector
// width as the run uses, 64 states per call.
template <int kWidth>
[[gnu::flatten]] void Evaluate64(const EarModelConstants& c, const EarLaneCoefficients& k,
                                 const EarState* states, EarState& sink) {
  using Passes = EarPasses<EarVariant::FreeField, kWidth>;
  typename Passes::Coefficients vk;
  Passes::Load(vk, k);
  for (int i = 0; i < 64; ++i) {
    typename Passes::Vec q[Passes::kVectors], v[Passes::kVectors], a[Passes::kVectors];
    Passes::Load(q, states[i].Q.data());
    Passes::Load(v, states[i].V.data());
    Passes::Accelerations(c, vk, q, v, 632.0, c.F1, c.F2, a);
    std::memcpy(sink.V.data(), a, sizeof a);
    benchmark::ClobberMemory();
  }
}

#if defined(__x86_64__)
[[gnu::target("avx512f"), gnu::flatten]] void Evaluate64Wide(const EarModelConstants& c,
                                                             const EarLaneCoefficients& k,
                                                             const EarState* states,
                                                             EarState& sink) {
  Evaluate64<8>(c, k, states, sink);
}
[[gnu::target("avx2"), gnu::flatten]] void Evaluate64Avx2(const EarModelConstants& c,
                                                          const EarLaneCoefficients& k,
                                                          const EarState* states, EarState& sink) {
  Evaluate64<4>(c, k, states, sink);
}
#endif

void BM_Evaluation_Current(benchmark::State& state, const Case* (*which)()) {
  const Case& s = *which();
  const EarLaneCoefficients k = LaneCoefficients(EarVariant::FreeField, s.model);
  std::vector<EarState> states(64);
  for (std::size_t i = 0; i < 64; ++i) {
    for (int j = 1; j <= 24; ++j) {
      states[i].Q[static_cast<std::size_t>(Lane(j))] = s.states[i].Q[static_cast<std::size_t>(j)];
      states[i].V[static_cast<std::size_t>(Lane(j))] = s.states[i].V[static_cast<std::size_t>(j)];
    }
  }
  EarState sink;
  const int width = WidestVectorWidth();
  for (auto _ : state) {
#if defined(__x86_64__)
    if (width == 8) {
      Evaluate64Wide(s.model, k, states.data(), sink);
      continue;
    }
    if (width == 4) {
      Evaluate64Avx2(s.model, k, states.data(), sink);
      continue;
    }
#endif
    Evaluate64<2>(s.model, k, states.data(), sink);
  }
  SetEvaluationCounters(state, 64);
}

HazardRunOptions RunOptions(const Case& c, Listener listener, ThreadPool* pool) {
  HazardRunOptions options;
  options.listener = listener;
  options.model_file = c.parameters;
  options.keep_movie = false;
  options.write_place_table = false;
  options.pool = pool;
  return options;
}

// A whole analysis of one listener as korva-cli hazard runs it: reading the
// file, the middle ear, the cochlea. `series`: the transfer functions are
// already computed, as for every shot of a series after the first.
void BM_Analysis_Current(benchmark::State& state, const Case* (*which)(), bool series) {
  const Case& c = *which();
  NoProgress none;
  for (auto _ : state) {
    if (!series) ForgetCochlearTransfers();
    Session session(1 << 21);
    OpenWaveform(session, c.waveform, none);
    const HazardRunResult run =
        RunHazardAnalysis(session, RunOptions(c, Listener::Warned, nullptr), none);
    state.counters["evals"] = static_cast<double>(run.middle_ear.derivative_evaluations);
    benchmark::DoNotOptimize(run.cochlea.TotalHazardARU);
  }
}

// The same with the straightforward model.
void BM_Analysis_Reference(benchmark::State& state, const Case* (*which)()) {
  const Case& c = *which();
  NoProgress none;
  for (auto _ : state) {
    Session session(1 << 21);
    OpenWaveform(session, c.waveform, none);
    const auto pressure = std::as_const(session.LoadedPressure).Range(0, session.LastSample);
    std::vector<float> stapes(pressure.size());
    reference::TimeDomainModel1(c.model, c.timing, c.dt, pressure, stapes);
    benchmark::DoNotOptimize(reference::CochlearHazard(c.model.params, stapes, c.dt));
  }
}

// Every place's transfer function for the run's length, computed afresh:
// what the first run of a process does beyond the floor.
void BM_Transfers(benchmark::State& state, const Case* (*which)()) {
  const Case& c = *which();
  const std::int32_t length = FftLengthFor(static_cast<std::int32_t>(c.pressure.size()));
  for (auto _ : state) {
    const CochlearTransfers transfers(c.model.params, length, c.dt);
    for (int place = 1; place <= transfers.places(); ++place) {
      benchmark::DoNotOptimize(transfers.Place(place).data());
    }
  }
}

// The floor's other terms: reading the file, and one transform of the
// run's length with the fastest plan FFTW finds on this machine (as the
// analysis plans its transforms without measuring, this is at most as fast).
void BM_Reading(benchmark::State& state, const Case* (*which)()) {
  const Case& c = *which();
  NoProgress none;
  for (auto _ : state) {
    Session session(1 << 21);
    OpenWaveform(session, c.waveform, none);
    benchmark::DoNotOptimize(session.LastSample);
  }
}

void BM_FastestTransform(benchmark::State& state, const Case* (*which)(), bool inverse) {
  const int length = FftLengthFor(static_cast<std::int32_t>(which()->pressure.size()));
  RealSeries x(static_cast<std::size_t>(length));
  HalfSpectrum X(static_cast<std::size_t>(length / 2 + 1));
  auto* bins = reinterpret_cast<fftw_complex*>(X.data());
  fftw_plan plan = inverse ? fftw_plan_dft_c2r_1d(length, bins, x.data(), FFTW_PATIENT)
                           : fftw_plan_dft_r2c_1d(length, x.data(), bins, FFTW_PATIENT);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.001 * static_cast<double>(i));
  if (inverse) RealTransform::Of(length).Forward(x, X);
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::DoNotOptimize(x.data());
    benchmark::DoNotOptimize(X.data());
  }
  fftw_destroy_plan(plan);
}

// Whole analyses (open, middle ear, cochlea) on a pool of `threads`
// threads: one listener, or both side by side. Wall time.
void BM_Listeners(benchmark::State& state, const Case* (*which)(), int threads,
                  std::vector<Listener> listeners) {
  const Case& c = *which();
  NoProgress none;
  ThreadPool pool(threads);
  for (auto _ : state) {
    ForgetCochlearTransfers();
    Session opened(1 << 21);
    OpenWaveform(opened, c.waveform, none);
    TaskGroup runs(&pool);
    for (const Listener listener : listeners) {
      runs.Run([&, listener] {
        Session session = opened;
        benchmark::DoNotOptimize(
            RunHazardAnalysis(session, RunOptions(c, listener, &pool), none).cochlea);
      });
    }
    runs.Wait();
  }
}

// korva-cli hazard on copies of files in a folder of its own, from the
// shell: what a user waits for, process start, loading and planning
// included. Wall time.
class CliRun {
 public:
  explicit CliRun(const std::vector<fs::path>& files)
      : dir_(fs::temp_directory_path() / ("korva_bench_" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
    for (const fs::path& file : files) {
      fs::copy_file(file, dir_ / file.filename(), fs::copy_options::overwrite_existing);
      files_ += " '" + (dir_ / file.filename()).string() + "'";
    }
  }
  ~CliRun() { fs::remove_all(dir_); }
  bool Run(const std::string& options) const {
    const std::string command = std::string("'") + KORVA_CLI_PATH + "' hazard " + options +
                                " --model '" + (kRoot / "data/Human.par").string() + "'" + files_ +
                                " > /dev/null";
    return std::system(command.c_str()) == 0;
  }

 private:
  fs::path dir_;
  std::string files_;
};

// The warned listener of the users' case, one thread.
void BM_CliUsers(benchmark::State& state) {
  const CliRun run({Users().waveform});
  for (auto _ : state) {
    if (!run.Run("--warned -j 1")) state.SkipWithError("korva-cli hazard failed");
  }
}

// Both listeners of every bundled example with -j N: files per second.
void BM_CliFiles(benchmark::State& state, int threads) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kRoot / "data/examples")) {
    if (entry.path().extension() == ".KRV") files.push_back(entry.path());
  }
  const CliRun run(files);
  for (auto _ : state) {
    if (!run.Run("--json -j " + std::to_string(threads))) {
      state.SkipWithError("korva-cli hazard failed");
    }
  }
  state.counters["files_per_s"] = benchmark::Counter(static_cast<double>(files.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

double Min(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

const Case* UsersCase() {
  return &Users();
}
const Case* StiffCase() {
  return &Stiff();
}

void Register() {
  const auto single = [](benchmark::internal::Benchmark* b, int repetitions = 3) {
    b->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(repetitions)
        ->ComputeStatistics("min", Min);
  };
  const auto wall = [&](benchmark::internal::Benchmark* b, int repetitions = 3) {
    single(b, repetitions);
    b->UseRealTime();
  };
  const auto evaluation = [](benchmark::internal::Benchmark* b) {
    b->Repetitions(3)->ComputeStatistics("min", Min);
  };
  using benchmark::RegisterBenchmark;

  // Where users run it.
  single(RegisterBenchmark("Users/analysis/reference", BM_Analysis_Reference, UsersCase));
  single(RegisterBenchmark("Users/analysis/current", BM_Analysis_Current, UsersCase, false), 5);
  single(RegisterBenchmark("Users/analysis/series", BM_Analysis_Current, UsersCase, true), 5);
  single(RegisterBenchmark("Users/middle_ear/reference", BM_MiddleEar_Reference<false>, UsersCase));
  single(RegisterBenchmark("Users/middle_ear/current", BM_MiddleEar_Current, UsersCase,
                           IntegrationOptions{}),
         5);
  evaluation(RegisterBenchmark("Users/evaluation/current", BM_Evaluation_Current, UsersCase));
  evaluation(
      RegisterBenchmark("Users/transfers", BM_Transfers, UsersCase)->Unit(benchmark::kMillisecond));
  evaluation(
      RegisterBenchmark("Users/reading", BM_Reading, UsersCase)->Unit(benchmark::kMillisecond));
  evaluation(RegisterBenchmark("Users/forward", BM_FastestTransform, UsersCase, false)
                 ->Unit(benchmark::kMicrosecond));
  evaluation(RegisterBenchmark("Users/inverse", BM_FastestTransform, UsersCase, true)
                 ->Unit(benchmark::kMicrosecond));

  wall(RegisterBenchmark("Users/korva-cli", BM_CliUsers), 5);

  // Where it is slowest.
  single(RegisterBenchmark("Stiff/middle_ear/reference", BM_MiddleEar_Reference<false>, StiffCase));
  single(RegisterBenchmark("Stiff/middle_ear/reference+tangent", BM_MiddleEar_Reference<true>,
                           StiffCase));
  single(RegisterBenchmark("Stiff/middle_ear/current", BM_MiddleEar_Current, StiffCase,
                           IntegrationOptions{}));
  IntegrationOptions unpaired;
  unpaired.paired_passes = false;
  single(RegisterBenchmark("Stiff/middle_ear/unpaired", BM_MiddleEar_Current, StiffCase, unpaired));
  for (const int width : {4, 2}) {
    if (width >= WidestVectorWidth()) continue;
    IntegrationOptions narrow;
    narrow.vector_width = width;
    single(RegisterBenchmark(("Stiff/middle_ear/width" + std::to_string(width)).c_str(),
                             BM_MiddleEar_Current, StiffCase, narrow));
  }
  evaluation(RegisterBenchmark("Stiff/evaluation/reference", BM_Evaluation_Reference, StiffCase));
  evaluation(RegisterBenchmark("Stiff/evaluation/current", BM_Evaluation_Current, StiffCase));

  // Threads.
  std::vector<int> counts = {1, 2};
  if (CoreCount() > 2) counts.push_back(CoreCount());
  for (const int threads : counts) {
    const std::string t = std::to_string(threads);
    using Which = const Case* (*)();
    for (const auto& [name, which] : {std::pair<const char*, Which>{"Users", UsersCase},
                                      std::pair<const char*, Which>{"Stiff", StiffCase}}) {
      wall(RegisterBenchmark((std::string(name) + "/one_listener/threads:" + t).c_str(),
                             BM_Listeners, which, threads,
                             std::vector<Listener>{Listener::Warned}));
      wall(RegisterBenchmark((std::string(name) + "/both_listeners/threads:" + t).c_str(),
                             BM_Listeners, which, threads,
                             std::vector<Listener>{Listener::Warned, Listener::Unwarned}));
    }
    wall(RegisterBenchmark(("CliExamples/j:" + t).c_str(), BM_CliFiles, threads));
  }
}

// Keeps the "min" rows of the console output for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name != "min") continue;
      const std::string& name = run.run_name.function_name;
      cpu_ns_[name] = run.GetAdjustedCPUTime() * Scale(run.time_unit);
      real_ns_[name] = run.GetAdjustedRealTime() * Scale(run.time_unit);
      for (const auto& [key, counter] : run.counters) counters_[name + ":" + key] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  double Cpu(const std::string& name) const { return Find(cpu_ns_, name); }
  double Real(const std::string& name) const { return Find(real_ns_, name); }
  double Counter(const std::string& name, const std::string& key) const {
    return Find(counters_, name + ":" + key);
  }

 private:
  static double Scale(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1.0;
    }
  }
  static double Find(const std::map<std::string, double>& m, const std::string& key) {
    const auto it = m.find(key);
    return it == m.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> cpu_ns_, real_ns_, counters_;
};

// The recorded results, so that a fast but wrong model shows at once.
bool CheckRecordedResults() {
  std::printf("Results against tests/data/model_results.txt:\n");
  bool all = true;
  for (const auto& r : testing::ReadRecordedResults(kRoot / "tests/data/model_results.txt")) {
    const HazardRunResult run = testing::RunRecordedCase(r, kRoot);
    const double diff = testing::RelativeDifference(run.cochlea.TotalHazardARU, r.hazard);
    const bool same_counts = run.middle_ear.derivative_evaluations == r.derivative_evaluations &&
                             run.middle_ear.passes == r.passes &&
                             run.middle_ear.max_substeps == r.max_substeps;
    const bool ok = diff <= testing::kRecordedHazardTolerance && same_counts;
    all = all && ok;
    std::printf("  %-28s %-8s %12.9g A.R.U.  rel. diff %.1e  substeps %s  %s\n", r.waveform.c_str(),
                ListenerName(r.listener), double{run.cochlea.TotalHazardARU}, diff,
                same_counts ? "same" : "CHANGED", ok ? "ok" : "DIFFERS");
  }
  return all;
}

void PrintThreads(const SummaryReporter& r, const std::string& what) {
  const double one = r.Real(what + "/threads:1");
  if (one <= 0.0) return;
  std::printf("  %-22s %.3f s on 1 thread", what.c_str(), one * 1e-9);
  for (const char* threads : {"2", "3", "4", "8", "16"}) {
    const double t = r.Real(what + "/threads:" + threads);
    if (t > 0.0) std::printf(", %.3f s on %s (%.2fx)", t * 1e-9, threads, one / t);
  }
  std::printf("\n");
}

void PrintUsersSummary(const SummaryReporter& r) {
  const double ref = r.Cpu("Users/analysis/reference");
  const double cur = r.Cpu("Users/analysis/current");
  const double series = r.Cpu("Users/analysis/series");
  if (cur <= 0.0) return;
  const double evals = r.Counter("Users/analysis/current", "evals");
  const double eval_ns = r.Counter("Users/evaluation/current", "ns_per_eval");
  const double ear_floor = evals * eval_ns;
  const double reading = r.Cpu("Users/reading");
  const double forward = r.Cpu("Users/forward");
  const double inverse = r.Cpu("Users/inverse");
  const int places = Users().model.params.Places;
  const double floor = ear_floor + places * inverse + reading + forward;
  std::printf("\nWhere users run it: Human.par, FRIED160, warned listener, one thread:\n");
  std::printf(
      "  whole analysis: %.1f ms (straightforward model %.1f ms: %.2fx faster); "
      "in a series %.1f ms\n",
      cur * 1e-6, ref * 1e-6, ref / cur, series * 1e-6);
  std::printf(
      "  floor %.1f ms: middle ear %.0f evaluations x %.2f ns = %.1f ms, %d places x "
      "inverse transform %.3f ms = %.2f ms, reading %.2f ms, forward transform %.3f ms\n",
      floor * 1e-6, evals, eval_ns, ear_floor * 1e-6, places, inverse * 1e-6,
      places * inverse * 1e-6, reading * 1e-6, forward * 1e-6);
  std::printf(
      "  run / floor: %.2f (in a series %.2f); beyond the floor the first run computes "
      "the transfer functions, %.1f ms\n",
      cur / floor, series / floor, r.Cpu("Users/transfers") * 1e-6);
  const double ear = r.Cpu("Users/middle_ear/current");
  const double ear_ref = r.Cpu("Users/middle_ear/reference");
  std::printf(
      "  middle ear alone: %.1f ms (straightforward loop %.1f ms: %.2fx), "
      "run / (evaluations x isolated cost) %.2f\n",
      ear * 1e-6, ear_ref * 1e-6, ear_ref / ear, ear / ear_floor);
  const double cli = r.Real("Users/korva-cli");
  if (cli > 0.0) {
    std::printf("  korva-cli hazard --warned -j 1, from the shell: %.3f s\n", cli * 1e-9);
  }
  PrintThreads(r, "Users/one_listener");
  PrintThreads(r, "Users/both_listeners");
  const double both_one = r.Real("Users/both_listeners/threads:1");
  const double both_two = r.Real("Users/both_listeners/threads:2");
  if (both_two > 0.0) {
    std::printf("  both listeners, two threads against one: %.2fx\n", both_one / both_two);
  }
}

void PrintStiffSummary(const SummaryReporter& r) {
  const double ref = r.Cpu("Stiff/middle_ear/reference");
  const double cur = r.Cpu("Stiff/middle_ear/current");
  const double ref_eval = r.Counter("Stiff/evaluation/reference", "ns_per_eval");
  const double cur_eval = r.Counter("Stiff/evaluation/current", "ns_per_eval");
  const double ref_run = r.Counter("Stiff/middle_ear/reference", "ns_per_eval");
  const double cur_run = r.Counter("Stiff/middle_ear/current", "ns_per_eval");
  if (ref <= 0.0 || cur <= 0.0) return;
  std::printf("\nWhere it is slowest: stiff.par, REVERB158, warned listener:\n");
  std::printf("  middle ear, one core: %.2fx faster than the straightforward loop\n", ref / cur);
  for (const char* part : {"Stiff/middle_ear/reference+tangent", "Stiff/middle_ear/unpaired",
                           "Stiff/middle_ear/width4", "Stiff/middle_ear/width2"}) {
    if (r.Cpu(part) > 0.0) std::printf("    %-36s %.2fx\n", part, ref / r.Cpu(part));
  }
  std::printf("  ns per evaluation in the run: reference %.1f, current %.1f\n", ref_run, cur_run);
  if (ref_eval > 0.0 && cur_eval > 0.0) {
    std::printf("  ns per evaluation in isolation: reference %.1f, current %.1f\n", ref_eval,
                cur_eval);
    std::printf(
        "  floor ratio (run / (evaluations x isolated cost)): reference %.2f, current %.2f\n",
        ref_run / ref_eval, cur_run / cur_eval);
  }
  PrintThreads(r, "Stiff/one_listener");
  PrintThreads(r, "Stiff/both_listeners");
}

void PrintSummary(const SummaryReporter& r) {
  std::printf("\nSummary (ratios within this run; %d vector width, %d cores):\n",
              WidestVectorWidth(), CoreCount());
  PrintUsersSummary(r);
  PrintStiffSummary(r);
  const double files_one = r.Counter("CliExamples/j:1", "files_per_s");
  if (files_one > 0.0) {
    std::printf("\nkorva-cli hazard, bundled examples: %.2f files/s with -j 1", files_one);
    for (const char* threads : {"2", "3", "4", "8", "16"}) {
      const double f = r.Counter(std::string("CliExamples/j:") + threads, "files_per_s");
      if (f > 0.0) std::printf(", %.2f with -j %s (%.2fx)", f, threads, f / files_one);
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace korva

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const bool results_ok = korva::CheckRecordedResults();
  korva::Register();
  korva::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  korva::PrintSummary(reporter);
  benchmark::Shutdown();
  return results_ok ? 0 : 1;
}
