// Finding the shots of a 10-minute channel at 200 kHz, handed over in the
// blocks a recording reader gives: the time the detector adds to reading the
// recording. One synthetic minute (a burst of 10 rounds, a single shot and a
// blast, in noise over an offset and a drift) is pushed ten times, so the
// detector sees 120 shots without the channel being held whole.
#include <benchmark/benchmark.h>

#include <span>
#include <vector>

#include "core/recording/shots.h"
#include "tests/support/range_recording.h"

namespace {

constexpr std::size_t kBlock = 65536;
constexpr int kMinutes = 10;

const std::vector<float>& Minute() {
  static const std::vector<float> samples =
      korva::testing::Render(korva::testing::RangeDay(60.0, 1, 1, 11));
  return samples;
}

void BM_ShotDetector10Minutes(benchmark::State& state) {
  const std::vector<float>& minute = Minute();
  int shots = 0;
  for (auto _ : state) {
    korva::ShotDetector detector(
        200000.0, {}, [&](korva::Shot&& shot) { benchmark::DoNotOptimize(shot.peak_pa); });
    for (int m = 0; m < kMinutes; ++m) {
      for (std::size_t i = 0; i < minute.size(); i += kBlock) {
        detector.Push(std::span(minute).subspan(i, std::min(kBlock, minute.size() - i)));
      }
    }
    shots = detector.Finish().shots;
  }
  state.SetItemsProcessed(state.iterations() * kMinutes * static_cast<std::int64_t>(minute.size()));
  state.counters["shots"] = shots;
}
BENCHMARK(BM_ShotDetector10Minutes)->Unit(benchmark::kMillisecond);

}  // namespace
