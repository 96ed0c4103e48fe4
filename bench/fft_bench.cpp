// Forward and inverse real transform of a whole waveform, at the sizes the
// analyses use: a short clip, a typical 2^16-sample shot and the largest
// transform the program allows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "core/model/fft.h"

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

}  // namespace
