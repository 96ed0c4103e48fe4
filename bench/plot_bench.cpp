// The pressure plot's geometry for waveforms of a typical shot, a long
// recording drawn as a polyline, and a very long one drawn as min/max strokes;
// and the axes of a plot. Every edit redraws the plot, so this is paid often.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/plot/axes.h"
#include "core/plot/pressure_plot.h"

namespace {

constexpr int kClientWidth = 1024;
constexpr int kClientHeight = 768;
constexpr float kInterval = 5e-6f;  // s, 200 kHz

std::vector<float> Waveform(int count) {
  std::vector<float> samples(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = i * double{kInterval};
    samples[static_cast<std::size_t>(i)] =
        static_cast<float>(5000.0 * std::exp(-t / 0.002) * std::sin(2000.0 * t));
  }
  return samples;
}

void BM_PressureTrace(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<float> samples = Waveform(count);
  const korva::plot::PressurePlotSetup setup = korva::plot::SetUpPressurePlot(
      kClientWidth, kClientHeight, 0.0f, (count - 1) * kInterval, -5000.0f, 5000.0f, kInterval);
  for (auto _ : state) {
    const korva::plot::TraceGeometry trace =
        korva::plot::PressureTrace(setup.frame, setup.layout.PlotWidth, samples, kInterval, 0.0f);
    benchmark::DoNotOptimize(trace.polyline.data());
    benchmark::DoNotOptimize(trace.groups.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PressureTrace)->Arg(4096)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_PlanLinearAxes(benchmark::State& state) {
  const korva::plot::PressurePlotSetup setup = korva::plot::SetUpPressurePlot(
      kClientWidth, kClientHeight, 0.0f, 0.3277f, -3000.0f, 12000.0f, kInterval);
  for (auto _ : state) {
    const korva::plot::LinearAxes axes =
        korva::plot::PlanLinearAxes(setup.frame, setup.layout, setup.axes);
    benchmark::DoNotOptimize(axes.bottom.data());
  }
}
BENCHMARK(BM_PlanLinearAxes)->Unit(benchmark::kMicrosecond);

}  // namespace
