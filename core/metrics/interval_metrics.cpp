#include "core/metrics/interval_metrics.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/common/error.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/model/fft.h"

namespace korva {

namespace {

using Extended = long double;

constexpr double kRhoC = 415.0;          // characteristic impedance of air, Pa s/m
constexpr double kEightHours = 28800.0;  // s
constexpr double kCriterionDb = 85.0;    // dB(A) over 8 hours
constexpr double kExchangeDb = 3.0;      // each 3 dB less doubles the exposures

std::optional<double> LevelOf(double mean_square) {
  if (!(mean_square > 0.0)) return std::nullopt;
  return EnergyLevel94Db(mean_square);
}

void RequireFinite(double value) {
  if (!std::isfinite(value)) throw Error("Floating point error in Statistics");
}

std::string Fixed(const std::optional<double>& value, int decimals, const char* otherwise) {
  return value ? FormatFixed(*value, decimals) : std::string(otherwise);
}

double Milliseconds(std::int64_t samples, float dt) {
  return static_cast<double>(Extended(samples) * dt * 1000);
}

}  // namespace

std::optional<double> AllowedRoundsFor(double laeq8hr) {
  const double rounds = std::pow(2.0, (kCriterionDb - laeq8hr) / kExchangeDb);
  if (!std::isfinite(rounds)) return std::nullopt;
  return rounds;
}

std::int64_t IntervalTransformLength(std::int32_t last_sample) {
  if (last_sample < 1) throw Error("The interval metrics need at least 2 samples");
  std::int64_t above = 1;
  while (above <= last_sample) above *= 2;
  return 2 * above;
}

namespace {

std::int32_t CheckedPairs(std::span<const float> samples, float dt) {
  if (samples.size() < 2) throw Error("The interval metrics need at least 2 samples");
  if (samples.size() > std::size_t{kMaxStatisticsLastSample} + 1) {
    throw Error("The frequency weighting takes a waveform of at most 1,048,576 samples");
  }
  if (!std::isfinite(dt) || dt <= 0.0f) throw Error("The sample interval must be positive");
  const auto last_sample = static_cast<std::int32_t>(samples.size() - 1);
  return static_cast<std::int32_t>(IntervalTransformLength(last_sample) / 2);
}

}  // namespace

PaddedSpectrum::PaddedSpectrum(std::span<const float> samples, float dt)
    : re_(CheckedPairs(samples, dt) + 1), im_(re_.capacity()), dt_(dt), pairs_(re_.capacity() - 1) {
  PackRealSeries(samples, re_, im_);
  RealFFT(pairs_, re_, im_, dt_);
}

std::vector<float> PaddedSpectrum::Weighted(FrequencyWeighting weighting) const {
  SpectrumBuffer re = re_;
  SpectrumBuffer im = im_;
  float* const r1 = re.data1() - 1;
  float* const i1 = im.data1() - 1;
  InitWeightingConstants();
  const double df = 1.0 / (static_cast<double>(length()) * dt_);
  for (std::int32_t k = 0; k <= pairs_; ++k) {
    const Weighting w = WeightingResponse(static_cast<float>(k * df));
    const ComplexF a = weighting == FrequencyWeighting::A ? w.a : w.c;
    const Extended xr = r1[k + 1];
    const Extended xi = i1[k + 1];
    r1[k + 1] = static_cast<float>(xr * a.re - xi * a.im);
    i1[k + 1] = static_cast<float>(xr * a.im + xi * a.re);
  }
  i1[pairs_ + 1] = 0.0f;
  InverseRealFFT(pairs_, re, im, dt_);
  std::vector<float> out(static_cast<std::size_t>(length()));
  for (std::size_t t = 0; t < out.size(); ++t) out[t] = t % 2 == 0 ? r1[t / 2 + 1] : i1[t / 2 + 1];
  return out;
}

IntervalResults IntervalMetrics(std::span<const float> samples, float dt, std::int32_t first,
                                std::int32_t last) {
  if (samples.size() > std::size_t{kMaxStatisticsLastSample} + 1) {
    throw Error("Statistics needs a waveform of at most 1,048,576 samples.");
  }
  const PaddedSpectrum spectrum(samples, dt);
  if (first < 0 || last < first || static_cast<std::size_t>(last) >= samples.size()) {
    throw RangeError();
  }
  // The whole waveform is weighted; only the interval's sums are taken.
  const std::vector<float> pa = spectrum.Weighted(FrequencyWeighting::A);

  double ea = 0.0;
  double e = 0.0;
  for (std::int32_t t = first; t <= last; ++t) {
    const double weighted = pa[static_cast<std::size_t>(t)];
    ea += weighted * weighted;
    const double plain = samples[static_cast<std::size_t>(t)];
    e += plain * plain;
  }
  RequireFinite(ea);
  RequireFinite(e);

  // The levels divide by the index difference; one sample counts as one.
  const double divisor = std::max(1, last - first);
  IntervalResults r;
  r.LAeq8hr = LevelOf(ea * dt / kEightHours);
  if (r.LAeq8hr) r.AllowedRounds = AllowedRoundsFor(*r.LAeq8hr);
  r.LAeqInterval = LevelOf(ea / divisor);
  r.AWeightedExposure = ea * dt / kRhoC;
  r.LeqInterval = LevelOf(e / divisor);
  return r;
}

Selection IntervalWithin(std::int32_t last_sample, float dt, double first, double last) {
  if (!(first >= 0.0) || first > last || last > last_sample) {
    throw Error("the interval lies outside the waveform, whose samples run from 0 to " +
                FormatInteger(last_sample) + " (0 to " +
                FormatFixed(last_sample * double{dt} * 1000.0, 3) + " ms)");
  }
  return {static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)};
}

IntervalResults IntervalMetrics(const Session& session) {
  if (session.LastSample < 1) throw Error("The interval metrics need at least 2 samples");
  return IntervalMetrics(session.Pressure.Range(0, session.LastSample), session.SampleInterval,
                         session.SelFirst, session.SelLast);
}

Selection ReadoutSelection(std::int32_t last_sample, int x_a, int x_b, const PlotRect& plot) {
  const int a = std::max(std::max(x_a, x_b), plot.left);
  const int b = std::max(std::min(x_a, x_b), plot.left);
  return {SampleAtX(last_sample, b, plot), SampleAtX(last_sample, a, plot)};
}

std::int32_t ReadoutLengthSamples(std::int32_t last_sample, int x_a, int x_b,
                                  const PlotRect& plot) {
  const int right = plot.left + plot.width;
  const int a = std::clamp(std::max(x_a, x_b), plot.left, right);
  const int b = std::clamp(std::min(x_a, x_b), plot.left, right);
  const double count = std::nearbyint(std::fabs(static_cast<double>(a) - b + 1) /
                                      std::max(plot.width, 1) * last_sample);
  return static_cast<std::int32_t>(count);
}

void ShowPeakReadout(Session& session, int x_a, int x_b, const PlotRect& plot) {
  const Selection range = ReadoutSelection(session.LastSample, x_a, x_b, plot);
  const auto samples = std::as_const(session.Pressure).Range(range.first, range.last);
  std::int32_t peak_index = range.first;
  float peak = -1.0f;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const float value = std::fabs(samples[k]);
    if (value > peak) {
      peak = value;
      peak_index = range.first + static_cast<std::int32_t>(k);
    }
  }
  const double level = Level94Db(double{peak} + 0.000001);
  const double ms = double{session.SampleInterval} * peak_index * 1000.0;
  session.Grid.Cell(1, 7) = FormatFixed(level, 3);
  session.Grid.Cell(2, 7) = "dB at " + FormatFixed(ms, 1) + " milliseconds";
}

void ShowStatisticsReadout(HeaderGrid& grid, const IntervalResults& results, std::int32_t sel_first,
                           std::int32_t length_samples, float dt) {
  const std::string d = FormatFixed(Milliseconds(length_samples, dt), 2);
  const std::string s = FormatFixed(Milliseconds(sel_first, dt), 2);
  grid.Cell(1, 8) = Fixed(results.LAeqInterval, 3, "n/a");
  grid.Cell(1, 9) = Fixed(results.LAeq8hr, 3, "n/a");
  grid.Cell(1, 10) = Fixed(results.AllowedRounds, 3, "unlimited");
  grid.Cell(1, 11) = FormatFixed(results.AWeightedExposure, 3);
  grid.Cell(2, 8) =
      "dB equivalent A-wt level over time interval of " + d + " msec starting at " + s +
      " msec.  Leq = equivalent Unweighted level = " + Fixed(results.LeqInterval, 3, "n/a") +
      " dB.";
  grid.Cell(2, 9) = "dB equivalent A-wt level over 8 hours.";
  grid.Cell(2, 10) = "allowed number of rounds based on A-weighted energy.";
  grid.Cell(2, 11) = "joules/m^2.";
}

void ShowSpectrumIntervalReadout(HeaderGrid& grid, const IntervalResults& results,
                                 std::int32_t sel_first, std::int32_t length_samples, float dt) {
  grid.Cell(1, 6) = Fixed(results.LAeq8hr, 1, "n/a");
  grid.Cell(2, 6) = "dB";
  grid.Cell(1, 7) = Fixed(results.LAeqInterval, 1, "n/a");
  grid.Cell(2, 7) = "dB over time interval of " + FormatFixed(Milliseconds(length_samples, dt), 1) +
                    " msec starting at " + FormatFixed(Milliseconds(sel_first, dt), 1) + " msec";
  grid.Cell(1, 8) = FormatFixed(results.AWeightedExposure, 3);
  grid.Cell(2, 8) = "joules/m^2";
}

}  // namespace korva
