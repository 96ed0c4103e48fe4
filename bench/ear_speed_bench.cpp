// How fast the ear model runs where it is slowest: a stiff parameter file
// (bench/data/stiff.par: a stiffer stapes suspension whose wall is reached
// near 158 dB, and a substep reduction of 2, so N never falls below 512) on a
// 16,384-sample 158 dB reverberant impulse (bench/data/REVERB158.KRV, made by
// `korva-cli synth --peak 158 --b-duration 50 --samples 16384`).
//
// Every figure is measured against the straightforward loop the tuning
// started from (bench/reference_ear.h) in the same run, and the summary at
// the end gives ratios, which survive a busy machine better than times.
// Single-thread figures are thread CPU time (min of repetitions).
// Before timing, the program checks that the model still gives the recorded
// results (tests/data/model_results.txt).
#include <benchmark/benchmark.h>
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
#include "core/model/ear_equations.h"
#include "core/model/hazard.h"
#include "core/waveform/krv.h"
#include "tests/core/model/model_results.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path();

struct StiffCase {
  EarModelConstants model;
  ReflexTiming timing;
  float dt = 0.0f;
  std::vector<float> pressure;
  // States of the loud part of the run, for evaluations in isolation.
  std::vector<reference::EarState> states;
};

const StiffCase& Stiff() {
  static const StiffCase stiff = [] {
    StiffCase s;
    s.model = LoadEarModel(kRoot / "bench/data/stiff.par");
    Session session(1 << 21);
    NoProgress none;
    OpenWaveform(session, kRoot / "bench/data/REVERB158.KRV", none);
    s.dt = session.SampleInterval;
    const auto samples = std::as_const(session.LoadedPressure).Range(0, session.LastSample);
    s.pressure.assign(samples.begin(), samples.end());
    s.timing = ComputeReflexTiming(kWarnedReflexOffset, s.dt, s.model.params.ReflexTimeConstant());
    // The impulse arrives after 5 ms (sample 1000); keep 64 states from the
    // first 2 ms of it, where the stapes spring is hardest.
    std::vector<reference::EarState> all;
    std::vector<float> out(1400);
    reference::TimeDomainModel1(s.model, s.timing, s.dt,
                                std::span<const float>(s.pressure).subspan(0, 1400), out, &all);
    for (std::size_t k = 0; k < 64; ++k) s.states.push_back(all[1000 + 6 * k]);
    return s;
  }();
  return stiff;
}

void SetEvaluationCounters(benchmark::State& state, long long evaluations) {
  state.counters["evals"] = static_cast<double>(evaluations);
  state.counters["ns_per_eval"] = benchmark::Counter(
      static_cast<double>(evaluations) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The warned listener's middle ear on the stiff case, with the loop as it
// was (and with only its tangent replaced).
template <bool kFastTangent>
void BM_StiffMiddleEar_Reference(benchmark::State& state) {
  const StiffCase& s = Stiff();
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
void BM_StiffMiddleEar_Current(benchmark::State& state, IntegrationOptions options) {
  const StiffCase& s = Stiff();
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
void BM_StiffEvaluation_Reference(benchmark::State& state) {
  const StiffCase& s = Stiff();
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

void BM_StiffEvaluation_Current(benchmark::State& state) {
  const StiffCase& s = Stiff();
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

// Whole analyses as the CLI runs them (open, middle ear, cochlea) on a pool
// of `threads` threads: one listener, or both side by side. Wall time.
void BM_StiffListeners(benchmark::State& state, int threads, std::vector<Listener> listeners) {
  Session opened(1 << 21);
  NoProgress none;
  OpenWaveform(opened, kRoot / "bench/data/REVERB158.KRV", none);
  ThreadPool pool(threads);
  for (auto _ : state) {
    TaskGroup runs(&pool);
    for (const Listener listener : listeners) {
      runs.Run([&, listener] {
        Session session = opened;
        HazardRunOptions options;
        options.listener = listener;
        options.model_file = kRoot / "bench/data/stiff.par";
        options.keep_movie = false;
        options.write_place_table = false;
        options.pool = &pool;
        benchmark::DoNotOptimize(RunHazardAnalysis(session, options, none).cochlea);
      });
    }
    runs.Wait();
  }
}

// korva-cli hazard -j N on copies of the bundled examples (both listeners):
// files per second.
void BM_CliFiles(benchmark::State& state, int threads) {
  const fs::path dir = fs::temp_directory_path() / ("korva_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string files;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(kRoot / "data/examples")) {
    if (entry.path().extension() != ".KRV") continue;
    fs::copy_file(entry.path(), dir / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
    files += " '" + (dir / entry.path().filename()).string() + "'";
    ++count;
  }
  const std::string command = std::string("'") + KORVA_CLI_PATH + "' hazard --json -j " +
                              std::to_string(threads) + " --model '" +
                              (kRoot / "data/Human.par").string() + "'" + files + " > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("korva-cli hazard failed");
  }
  state.counters["files_per_s"] =
      benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate);
  fs::remove_all(dir);
}

double Min(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

void Register() {
  const auto single = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ComputeStatistics("min", Min);
  };
  single(
      benchmark::RegisterBenchmark("StiffMiddleEar/reference", BM_StiffMiddleEar_Reference<false>));
  single(benchmark::RegisterBenchmark("StiffMiddleEar/reference+tangent",
                                      BM_StiffMiddleEar_Reference<true>));
  single(benchmark::RegisterBenchmark("StiffMiddleEar/current", BM_StiffMiddleEar_Current,
                                      IntegrationOptions{}));
  IntegrationOptions unpaired;
  unpaired.paired_passes = false;
  single(
      benchmark::RegisterBenchmark("StiffMiddleEar/unpaired", BM_StiffMiddleEar_Current, unpaired));
  for (const int width : {4, 2}) {
    if (width >= WidestVectorWidth()) continue;
    IntegrationOptions narrow;
    narrow.vector_width = width;
    single(benchmark::RegisterBenchmark(("StiffMiddleEar/width" + std::to_string(width)).c_str(),
                                        BM_StiffMiddleEar_Current, narrow));
  }
  benchmark::RegisterBenchmark("StiffEvaluation/reference", BM_StiffEvaluation_Reference)
      ->Repetitions(3)
      ->ComputeStatistics("min", Min);
  benchmark::RegisterBenchmark("StiffEvaluation/current", BM_StiffEvaluation_Current)
      ->Repetitions(3)
      ->ComputeStatistics("min", Min);
  const int all = std::max(2, CoreCount());
  const auto wall = [&](benchmark::internal::Benchmark* b) {
    single(b);
    b->UseRealTime();
  };
  std::vector<int> counts = {1, 2};
  if (all > 2) counts.push_back(all);
  for (const int threads : counts) {
    const std::string t = std::to_string(threads);
    wall(benchmark::RegisterBenchmark(("StiffOneListener/threads:" + t).c_str(), BM_StiffListeners,
                                      threads, std::vector<Listener>{Listener::Warned}));
    wall(benchmark::RegisterBenchmark(("StiffBothListeners/threads:" + t).c_str(),
                                      BM_StiffListeners, threads,
                                      std::vector<Listener>{Listener::Warned, Listener::Unwarned}));
    wall(benchmark::RegisterBenchmark(("CliExamples/j:" + t).c_str(), BM_CliFiles, threads));
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

void PrintSummary(const SummaryReporter& r) {
  const double ref = r.Cpu("StiffMiddleEar/reference");
  const double cur = r.Cpu("StiffMiddleEar/current");
  const double ref_eval = r.Counter("StiffEvaluation/reference", "ns_per_eval");
  const double cur_eval = r.Counter("StiffEvaluation/current", "ns_per_eval");
  const double ref_run = r.Counter("StiffMiddleEar/reference", "ns_per_eval");
  const double cur_run = r.Counter("StiffMiddleEar/current", "ns_per_eval");
  std::printf("\nSummary (ratios within this run; %d vector width, %d cores):\n",
              WidestVectorWidth(), CoreCount());
  if (ref > 0.0 && cur > 0.0) {
    std::printf("  middle ear, one listener, one core: %.2fx faster than the reference loop\n",
                ref / cur);
    for (const char* part :
         {"StiffMiddleEar/unpaired", "StiffMiddleEar/width4", "StiffMiddleEar/width2"}) {
      if (r.Cpu(part) > 0.0) std::printf("    %-26s %.2fx\n", part, ref / r.Cpu(part));
    }
    std::printf("  ns per evaluation in the run: reference %.1f, current %.1f\n", ref_run, cur_run);
  }
  if (ref_eval > 0.0 && cur_eval > 0.0) {
    std::printf("  ns per evaluation in isolation: reference %.1f, current %.1f\n", ref_eval,
                cur_eval);
    std::printf(
        "  floor ratio (run / (evaluations x isolated cost)): reference %.2f, current %.2f\n",
        ref_run / ref_eval, cur_run / cur_eval);
  }
  for (const char* what : {"StiffOneListener", "StiffBothListeners"}) {
    const double one = r.Real(std::string(what) + "/threads:1");
    if (one <= 0.0) continue;
    std::printf("  %s: %.2f s on 1 thread", what, one * 1e-9);
    for (const char* threads : {"2", "3", "4", "8", "16"}) {
      const double t = r.Real(std::string(what) + "/threads:" + threads);
      if (t > 0.0) std::printf(", %.2f s on %s (%.2fx)", t * 1e-9, threads, one / t);
    }
    std::printf("\n");
  }
  const double files_one = r.Counter("CliExamples/j:1", "files_per_s");
  if (files_one > 0.0) {
    std::printf("  korva-cli hazard, bundled examples: %.2f files/s with -j 1", files_one);
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
