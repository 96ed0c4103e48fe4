// One frame of the hazard movie: the displacement profile erased and redrawn
// in XOR, the running hazard advanced and its profile redrawn, two segments
// of the plot below. Its cost against the 15 ms starting delay says whether
// the delay or the drawing sets the frame rate.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <memory>

#include "ui/hazard_movie.h"

namespace {

constexpr int kPlaces = 23;
constexpr std::int32_t kFrames = 4096;

korva::render::MovieInput MovieOfTravellingWave() {
  korva::EarModelParameters params;
  params.Places = kPlaces;
  params.P[55] = 2.0f;  // exponent
  params.P[56] = 1.0f;  // reference distance, cm
  params.P[57] = 0.4f;  // first place, cm
  params.P[58] = 2.6f;  // last place, cm
  params.P[60] = 1.0f;  // displacement scale at the stapes
  params.P[61] = 0.5f;  // decay over the reference distance
  params.P[62] = 0.5f;  // threshold
  auto movie = std::make_shared<korva::MovieBuffer>(kFrames + 4);
  for (std::int32_t i = 0; i < kFrames; ++i) {
    for (int c = 1; c <= kPlaces; ++c) {
      movie->At(i + 4, c + 2) =
          static_cast<float>(10.0 * std::exp(-i / 1000.0) * std::sin(0.05 * i - 0.3 * c));
    }
  }
  for (int c = 1; c <= kPlaces; ++c) {
    movie->At(1, c + 2) = 20.0f;
    movie->At(2, c + 2) = 10.0f;
    movie->At(3, c + 2) = -10.0f;
  }
  korva::render::MovieInput input;
  input.movie = movie;
  input.params = params;
  input.places = kPlaces;
  input.worst_section = 12;
  input.last_frame = kFrames - 1;
  input.dt = 5e-6f;
  input.pressure.assign(kFrames, 0.0f);
  return input;
}

void BM_MovieFrame(benchmark::State& state) {
  QImage image(1024, 768, QImage::Format_RGB32);
  image.fill(Qt::white);
  korva::plot::Frame lower;
  lower.PlotXMax = kFrames * 5e-3f;
  lower.PlotYMin = -1.0f;
  lower.top = 384;
  lower.left = 71;
  lower.SetScales(880, 334);
  korva::plot::Frame lower_hazard = lower;
  lower_hazard.PlotYMin = 0.0f;
  lower_hazard.PlotYMax = 100.0f;
  lower_hazard.SetScales(880, 334);
  const korva::render::MovieInput input = MovieOfTravellingWave();
  korva::ui::HazardMovie movie(image);
  movie.Start(input, lower, lower_hazard);
  for (auto _ : state) {
    if (movie.MovieFrame() >= kFrames - 1) {
      state.PauseTiming();
      movie.Start(input, lower, lower_hazard);
      state.ResumeTiming();
    }
    movie.Tick();
  }
  movie.Stop();
}
BENCHMARK(BM_MovieFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // Text of the axes needs a platform; no display is needed to measure.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
