#include "core/model/cochlea.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>
#include <numbers>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/model/cochlear_transfer.h"

namespace korva {

std::int32_t FftLengthFor(std::int32_t sample_count) {
  if (sample_count <= 0) return 0;
  const double exponent = std::nearbyint(std::log2(static_cast<double>(sample_count)));
  return static_cast<std::int32_t>(std::nearbyint(std::exp2(exponent)));
}

MovieBuffer::MovieBuffer(std::int32_t rows)
    : rows_(rows), values_(static_cast<std::size_t>(std::max(rows, 0)) * kColumns, 0.0f) {}

float& MovieBuffer::At(std::int32_t row, int column) {
  if (row < 0 || row >= rows_ || column < 1 || column > kColumns) throw RangeError();
  return values_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column - 1)];
}

float MovieBuffer::At(std::int32_t row, int column) const {
  return const_cast<MovieBuffer*>(this)->At(row, column);
}

PlaceScan ScanPlace(std::span<const float> displacement, double scale, float threshold,
                    float exponent) {
  PlaceScan scan;
  HalfCycleHazard hazard(scale, threshold, exponent);
  for (const float d : displacement) {
    scan.maximum = std::max(scan.maximum, d);
    scan.minimum = std::min(scan.minimum, d);
    hazard.Add(d);
  }
  scan.hazard = hazard.Hazard();
  return scan;
}

std::vector<double> PlaceHazardScales(const EarModelParameters& params, int places) {
  const auto& P = params.P;
  const double lambda = -std::log(double{P[61]}) / P[56];
  const double step = places > 1 ? (double{P[58]} - P[57]) / (places - 1) : 0.0;
  const double growth = std::exp(-lambda * step);
  std::vector<double> scales;
  double scale = P[60] * std::exp(-lambda * P[57]);
  for (int c = 1; c <= places; ++c) {
    scales.push_back(scale);
    scale *= growth;
  }
  return scales;
}

std::vector<HalfCycleHazard> PlaceHazards(const EarModelParameters& params, int places) {
  std::vector<HalfCycleHazard> hazards;
  for (const double scale : PlaceHazardScales(params, places)) {
    hazards.emplace_back(scale, params.P[62], params.P[55]);
  }
  return hazards;
}

double PlaceDistance(const EarModelParameters& params, int place) {
  const auto& P = params.P;
  if (params.Places <= 1) return P[57];
  const double step = (double{P[58]} - P[57]) / (params.Places - 1);
  return P[57] + (place - 1) * step;
}

double CharacteristicFrequency(const EarModelParameters& params, double x) {
  return params.P[45] * std::exp(-x / params.P[52]);
}

double MinimumSampleRate(const EarModelParameters& params) {
  const double basal = std::min(PlaceDistance(params, 1), PlaceDistance(params, params.Places));
  return 2.0 * CharacteristicFrequency(params, basal);
}

CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie) {
  NoProgress quiet;
  return CochlearModel(model, session, movie, quiet);
}

CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie,
                             ProgressSink& progress, ThreadPool* pool) {
  const auto& params = model.params;
  const auto& P = params.P;
  CochlearResult result;
  const std::int32_t last = session.LastSample;
  const float dt = session.SampleInterval;
  result.Places = params.Places;
  result.FftLength = FftLengthFor(last + 1);
  if (result.FftLength > kMaxFftLength)
    throw RangeError("the waveform is too long for the cochlea");
  result.HalfFftLength = result.FftLength / 2;
  if (result.HalfFftLength < 1) throw Error("The cochlear model needs at least 2 samples");
  const std::int32_t length = result.FftLength;
  const std::int32_t half = result.HalfFftLength;
  session.FftLength = length;
  if (movie != nullptr && movie->rows() < length + 4) throw RangeError("movie buffer too short");

  const std::int32_t used = std::min(last, length - 1);
  const std::span<const float> pressure = std::as_const(session.Pressure).Range(0, last);
  const std::span<float> backup = session.StapesDisplacement.Range(0, std::max(last, length - 1));

  // Progress in steps: the stapes waveform, its spectrum, then two per
  // place (its spectrum, its waveform): on long records each step takes a
  // good fraction of a second.
  const long long steps = 2 + 2LL * params.Places;

  // Stapes extremes (and the movie's first two columns) over the analysed
  // length; samples past the record count as the zeros the transform pads.
  float stapes_max = -1.0e6f, stapes_min = 1.0e6f;
  for (std::int32_t i = 0; i < length; ++i) {
    const float stapes = i <= last ? backup[i] : 0.0f;
    stapes_max = std::max(stapes_max, stapes);
    stapes_min = std::min(stapes_min, stapes);
    if (movie != nullptr) {
      float* row = movie->Row(i + 4);
      row[0] = i <= last ? pressure[i] : 0.0f;
      row[1] = stapes;
    }
  }
  result.StapesMax = stapes_max;
  result.StapesMin = stapes_min;
  if (movie != nullptr) {
    movie->At(2, 1) = session.PeakPressure;
    movie->At(3, 1) = session.MinPressure;
    movie->At(2, 2) = stapes_max;
    movie->At(3, 2) = stapes_min;
  }
  progress.Checkpoint(1, steps);

  // The stapes spectrum, scaled by 1 / length (exactly: a power of two)
  // so that each place's inverse transform is its displacement. The
  // series' array is the first place's working array afterwards.
  const RealTransform& transform = RealTransform::Of(length);
  HalfSpectrum stapes_spectrum(static_cast<std::size_t>(half) + 1);
  RealSeries series(static_cast<std::size_t>(length));
  std::fill(std::copy_n(backup.begin(), used + 1, series.data()), series.data() + length, 0.0);
  transform.Forward(series, stapes_spectrum);
  for (std::complex<double>& bin : stapes_spectrum.span()) bin *= 1.0 / length;
  progress.Checkpoint(2, steps);

  const std::vector<double> scales = PlaceHazardScales(params, params.Places);
  const std::shared_ptr<const CochlearTransfers> transfers =
      CochlearTransfersFor(params, length, dt);
  transfers->Compute(pool);

  // The places are independent: each has its own movie column, and the
  // last one leaves its displacement in StapesDisplacement. Their working
  // arrays are handed from place to place rather than taken from the system
  // anew for each (fresh pages cost more than the arithmetic on them).
  struct Scratch {
    Scratch(std::int32_t length, RealSeries wave)
        : spectrum(static_cast<std::size_t>(length / 2) + 1),
          wave(std::move(wave)),
          displacement(new float[static_cast<std::size_t>(length)]) {}
    HalfSpectrum spectrum;
    RealSeries wave;
    std::unique_ptr<float[]> displacement;
  };
  std::vector<std::unique_ptr<Scratch>> spare;
  spare.push_back(std::make_unique<Scratch>(length, std::move(series)));
  std::vector<PlaceScan> scans(static_cast<std::size_t>(params.Places) + 1);
  std::mutex mutex;  // guards `spare` and the progress sink
  long long steps_done = 2;
  const auto step = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    // Places still running when another stopped the run report nothing more.
    if (progress.StopRequested()) throw Cancelled();
    progress.Checkpoint(++steps_done, steps);
  };
  ParallelFor(pool, params.Places, [&](int index) {
    const int c = index + 1;
    std::unique_ptr<Scratch> scratch;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!spare.empty()) {
        scratch = std::move(spare.back());
        spare.pop_back();
      }
    }
    if (!scratch) {
      scratch = std::make_unique<Scratch>(length, RealSeries(static_cast<std::size_t>(length)));
    }
    // Complex numbers are pairs of their parts (the standard's array rule).
    const auto* a = reinterpret_cast<const double*>(stapes_spectrum.data());
    const auto* b = reinterpret_cast<const float*>(transfers->Place(c).data());
    auto* out = reinterpret_cast<double*>(scratch->spectrum.data());
    for (std::size_t k = 0; k <= 2 * static_cast<std::size_t>(half); k += 2) {
      const double ar = a[k], ai = a[k + 1], br = b[k], bi = b[k + 1];
      out[k] = ar * br - ai * bi;
      out[k + 1] = ar * bi + ai * br;
    }
    step();
    transform.Inverse(scratch->spectrum, scratch->wave);
    const RealSeries& wave = scratch->wave;
    const std::span<float> displacement =
        c == params.Places ? backup.subspan(0, length)
                           : std::span<float>(scratch->displacement.get(), length);
    for (std::int32_t i = 0; i < length; ++i) {
      displacement[i] = static_cast<float>(wave[static_cast<std::size_t>(i)]);
    }
    const PlaceScan scan = ScanPlace(displacement, scales[c - 1], P[62], P[55]);
    if (movie != nullptr) {
      for (std::int32_t i = 0; i < length; ++i) movie->Row(i + 4)[c + 1] = displacement[i];
      movie->At(1, c + 2) = scan.hazard;
      movie->At(2, c + 2) = scan.maximum;
      movie->At(3, c + 2) = scan.minimum;
    }
    scans[static_cast<std::size_t>(c)] = scan;
    {
      std::lock_guard<std::mutex> lock(mutex);
      spare.push_back(std::move(scratch));
    }
    step();
  });
  for (int c = 1; c <= params.Places; ++c) {
    const float hazard = scans[static_cast<std::size_t>(c)].hazard;
    result.SectionHazard[c] = hazard;
    if (result.TotalHazardARU < hazard) {
      result.TotalHazardARU = hazard;
      result.WorstSection = c;
    }
  }
  if (!std::isfinite(result.TotalHazardARU)) {
    throw Error("Floating point error in the cochlear model: the hazard is not finite");
  }
  return result;
}

std::string PlaceTableText(const EarModelParameters& params, const CochlearResult& result) {
  std::string text = "BIndex Freq(kHz) Hazard(AHU) Distance(cm)\r\n";
  for (int c = 1; c <= result.Places; ++c) {
    const double x = PlaceDistance(params, c);
    std::string index = FormatInteger(c);
    if (index.size() < 4) index.insert(0, 4 - index.size(), ' ');
    text += index;
    text += "    ";
    text += FormatFixed(0.001 * CharacteristicFrequency(params, x), 5, 2);
    text += "  ";
    text += FormatFixed(result.SectionHazard[c], 11, 5);
    text += "      ";
    text += FormatFixed(x, 5, 3);
    text += "\r\n";
  }
  return text;
}

}  // namespace korva
