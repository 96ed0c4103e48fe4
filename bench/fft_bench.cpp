// Forward and inverse real transform of a whole waveform, at the sizes the
// analyses use: a short clip, a typical 2^16-sample shot and the largest
// transform the program allows; beside them the transform the program used
// before (extended precision, single-precision stores).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/model/fft.h"
#include "tests/core/model/reference_transform.h"

namespace {

void BM_RealFFTRoundTrip(benchmark::State& state) {
  const auto samples = static_cast<std::int32_t>(state.range(0));
  const std::int32_t n = samples / 2;
  korva::SpectrumBuffer re(n + 1), im(n + 1);
  for (std::int32_t i = 1; i <= n; ++i) {
    re[i] = static_cast<float>(std::sin(0.001 * i));
    im[i] = static_cast<float>(std::cos(0.0007 * i));
  }
  const float dt = 1.0f / 48000.0f;
  for (auto _ : state) {
    korva::RealFFT(n, re, im, dt);
    korva::InverseRealFFT(n, re, im, dt);
    benchmark::DoNotOptimize(re.data1());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * samples);
}
BENCHMARK(BM_RealFFTRoundTrip)
    ->Arg(1 << 12)
    ->Arg(1 << 16)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_PreviousRoundTrip(benchmark::State& state) {
  const auto samples = static_cast<std::int32_t>(state.range(0));
  const std::int32_t n = samples / 2;
  std::vector<float> re(static_cast<std::size_t>(n) + 1), im(re.size());
  for (std::size_t i = 0; i < re.size(); ++i) {
    re[i] = static_cast<float>(std::sin(0.001 * static_cast<double>(i + 1)));
    im[i] = static_cast<float>(std::cos(0.0007 * static_cast<double>(i + 1)));
  }
  const float dt = 1.0f / 48000.0f;
  for (auto _ : state) {
    korva::reference::RealFFT(n, re.data(), im.data(), dt);
    korva::reference::InverseRealFFT(n, re.data(), im.data(), dt);
    benchmark::DoNotOptimize(re.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * samples);
}
BENCHMARK(BM_PreviousRoundTrip)
    ->Arg(1 << 12)
    ->Arg(1 << 16)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
