// The interval energy metrics and the Leq300ms spectrum on a typical 2^16-
// sample shot and on a long 2^19-sample record. The metrics transform twice
// the waveform's length and weight every bin; the spectrum transforms the
// waveform once and integrates the bands.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/metrics/interval_metrics.h"
#include "core/metrics/leq300.h"

namespace {

constexpr float kDt = 1.0f / 200000.0f;

std::vector<float> Shot(std::int64_t count) {
  std::vector<float> x(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) * kDt;
    x[i] = static_cast<float>(632.0 * std::exp(-t / 0.01) * std::sin(2 * 3.14159 * 800 * t));
  }
  return x;
}

void BM_IntervalMetrics(benchmark::State& state) {
  const auto x = Shot(state.range(0));
  const auto last = static_cast<std::int32_t>(x.size() - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::IntervalMetrics(x, kDt, last / 4, last / 2));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_IntervalMetrics)->Arg(1 << 16)->Arg(1 << 19)->Unit(benchmark::kMillisecond);

void BM_Leq300msSpectrum(benchmark::State& state) {
  const auto x = Shot(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::ComputeLeq300msSpectrum(x, kDt));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Leq300msSpectrum)->Arg(1 << 16)->Arg(1 << 19)->Unit(benchmark::kMillisecond);

}  // namespace
