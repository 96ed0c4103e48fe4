// The cost of a hazard run on a 65,536-sample free-field Friedlander impulse
// of 160 dB peak at 200 kHz: the middle ear (the heaviest work of the
// program), the cochlea and a whole warned run. ear_speed_bench measures the
// integration itself in depth.
//
// The ear-model file is the test parameter set of tests/data unless
// KORVA_BENCH_MODEL names another.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/common/progress.h"
#include "core/model/hazard.h"

namespace korva {
namespace {

constexpr std::int32_t kSamples = 65536;
constexpr float kDt = 5.0e-6f;

std::filesystem::path ModelPath() {
  if (const char* env = std::getenv("KORVA_BENCH_MODEL")) return env;
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" /
         "test_ear_model.txt";
}

const EarModelConstants& Model() {
  static const EarModelConstants model = LoadEarModel(ModelPath());
  return model;
}

// A Friedlander wave of 2,000 Pa peak (160 dB) and 1 ms positive phase,
// arriving after 2 ms, with a faint noise floor as a recording has.
std::vector<float> Friedlander() {
  std::vector<float> p(kSamples);
  std::uint32_t seed = 12345;
  for (std::int32_t i = 0; i < kSamples; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double noise = 0.002 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
    const double t = i * double{kDt} - 0.002;
    const double wave = t < 0.0 ? 0.0 : 2000.0 * (1.0 - t / 0.001) * std::exp(-t / 0.001);
    p[static_cast<std::size_t>(i)] = static_cast<float>(wave + noise);
  }
  return p;
}

Session FriedlanderSession() {
  Session session(1 << 21);
  const std::vector<float> p = Friedlander();
  for (std::int32_t i = 0; i < kSamples; ++i) {
    session.LoadedPressure[i] = p[static_cast<std::size_t>(i)];
    session.Pressure[i] = p[static_cast<std::size_t>(i)];
  }
  session.LastSample = kSamples - 1;
  session.SampleInterval = kDt;
  session.WaveformLoaded = true;
  session.Grid.Cell(1, 3) = std::string(1, '1');
  session.PeakPressure = 2000.0f;
  return session;
}

ReflexTiming WarnedTiming() {
  return ComputeReflexTiming(kWarnedReflexOffset, kDt, Model().params.ReflexTimeConstant());
}

void BM_TimeDomainModel1(benchmark::State& state) {
  const std::vector<float> p = Friedlander();
  std::vector<float> out(p.size());
  NoProgress none;
  MiddleEarStats stats;
  for (auto _ : state) {
    stats = TimeDomainModel1(Model(), WarnedTiming(), kDt, p, out, none);
    benchmark::DoNotOptimize(out.data());
  }
  const double evaluations = static_cast<double>(stats.derivative_evaluations);
  state.counters["evals_per_sample"] = evaluations / kSamples;
  state.counters["max_substeps"] = stats.max_substeps;
  state.counters["ns_per_eval_in_run"] =
      benchmark::Counter(evaluations * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_TimeDomainModel1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CochlearModel(benchmark::State& state) {
  Session session = FriedlanderSession();
  const std::vector<float> p = Friedlander();
  std::vector<float> stapes(p.size());
  NoProgress none;
  TimeDomainModel1(Model(), WarnedTiming(), kDt, p, stapes, none);
  for (auto _ : state) {
    state.PauseTiming();
    for (std::int32_t i = 0; i < kSamples; ++i) {
      session.StapesDisplacement[i] = stapes[static_cast<std::size_t>(i)];
    }
    MovieBuffer movie(FftLengthFor(kSamples) + 4);
    state.ResumeTiming();
    const CochlearResult result = CochlearModel(Model(), session, &movie);
    benchmark::DoNotOptimize(result.TotalHazardARU);
  }
}
BENCHMARK(BM_CochlearModel)->Unit(benchmark::kMillisecond);

void BM_WholeWarnedRun(benchmark::State& state) {
  Session session = FriedlanderSession();
  HazardRunOptions options;
  options.listener = Listener::Warned;
  options.model_file = ModelPath();
  options.write_place_table = false;
  NoProgress none;
  for (auto _ : state) {
    const HazardRunResult result = RunHazardAnalysis(session, options, none);
    benchmark::DoNotOptimize(result.cochlea.TotalHazardARU);
  }
}
BENCHMARK(BM_WholeWarnedRun)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace korva
