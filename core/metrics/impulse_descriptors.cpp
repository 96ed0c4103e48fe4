#include "core/metrics/impulse_descriptors.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/common/error.h"
#include "core/common/levels.h"
#include "core/metrics/interval_metrics.h"

namespace korva {

namespace {

std::optional<double> DecibelsOfRatio(double amplitude_ratio) {
  if (!(amplitude_ratio > 0.0)) return std::nullopt;
  return 20.0 * std::log10(amplitude_ratio);
}

// Sound exposure level of sum(x^2) dt, re (20 uPa)^2 x 1 s.
std::optional<double> ExposureLevel(double sum_of_squares, double dt) {
  const double exposure = sum_of_squares * dt;
  if (!(exposure > 0.0)) return std::nullopt;
  return 10.0 * std::log10(exposure / (kReferencePressurePa * kReferencePressurePa));
}

double SumOfSquares(std::span<const float> x) {
  double sum = 0.0;
  for (const float v : x) sum += double{v} * v;
  return sum;
}

// Time (in samples) where the line through samples `outside` (s p <= 0) and
// `inside` (s p > 0) crosses zero.
double Crossing(std::span<const float> p, double sign, std::int32_t outside, std::int32_t inside) {
  const double a = sign * p[static_cast<std::size_t>(outside)];
  const double b = sign * p[static_cast<std::size_t>(inside)];
  return outside + (inside - outside) * (a / (a - b));
}

void DescribeDurations(std::span<const float> p, double dt_ms, ImpulseDescriptors& d) {
  const auto n = static_cast<std::int32_t>(p.size());
  const std::int32_t ip = d.peak_index;
  const double sign = d.peak_pa < 0.0 ? -1.0 : 1.0;
  const double peak = std::fabs(d.peak_pa);
  auto along = [&](std::int32_t i) { return sign * p[static_cast<std::size_t>(i)]; };

  std::int32_t before = ip - 1;
  while (before >= 0 && along(before) > 0.0) --before;
  std::int32_t after = ip + 1;
  while (after < n && along(after) > 0.0) ++after;
  const double start = before < 0 ? 0.0 : Crossing(p, sign, before, before + 1);
  const double end = after >= n ? n - 1.0 : Crossing(p, sign, after, after - 1);
  d.a_start_ms = start * dt_ms;
  d.a_end_ms = end * dt_ms;
  d.a_duration_ms = (end - start) * dt_ms;

  const double tenth = peak / 10.0;
  std::int32_t first = -1;
  std::int32_t last = -1;
  std::int64_t count = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (std::fabs(double{p[static_cast<std::size_t>(i)]}) >= tenth) {
      if (first < 0) first = i;
      last = i;
      ++count;
    }
  }
  d.b_start_ms = first * dt_ms;
  d.b_end_ms = last * dt_ms;
  d.b_duration_ms = (last - first) * dt_ms;
  d.c_duration_ms = static_cast<double>(count) * dt_ms;

  std::int32_t i10 = ip;
  while (i10 >= 0 && along(i10) > 0.1 * peak) --i10;
  if (i10 >= 0) {
    std::int32_t i90 = i10 + 1;
    while (along(i90) < 0.9 * peak) ++i90;  // stops at the peak at the latest
    d.rise_time_ms = (i90 - i10) * dt_ms;
  }
}

void DescribeMoments(std::span<const float> p, ImpulseDescriptors& d) {
  const double n = static_cast<double>(p.size());
  double sum = 0.0;
  for (const float v : p) sum += v;
  const double mean = sum / n;
  double m2 = 0.0;
  double m4 = 0.0;
  for (const float v : p) {
    const double e2 = (v - mean) * (v - mean);
    m2 += e2;
    m4 += e2 * e2;
  }
  if (m2 > 0.0) d.kurtosis = n * m4 / (m2 * m2);
  const double rms = std::sqrt(SumOfSquares(p) / n);
  if (rms > 0.0) d.crest_factor_db = DecibelsOfRatio(std::fabs(d.peak_pa) / rms);
}

}  // namespace

ImpulseDescriptors DescribeImpulse(std::span<const float> samples, float dt) {
  if (samples.size() < 2) throw Error("The impulse descriptors need at least 2 samples");
  for (const float v : samples) {
    if (!std::isfinite(v)) throw Error("The waveform holds a sample that is not a number");
  }
  // Checks the length and dt before anything is measured.
  const PaddedSpectrum spectrum(samples, dt);

  ImpulseDescriptors d;
  const double dt_ms = double{dt} * 1000.0;
  std::size_t ip = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (std::fabs(samples[i]) > std::fabs(samples[ip])) ip = i;
  }
  d.peak_index = static_cast<std::int32_t>(ip);
  d.peak_pa = samples[ip];
  d.peak_time_ms = d.peak_index * dt_ms;
  d.peak_db = DecibelsOfRatio(std::fabs(d.peak_pa) / kReferencePressurePa);
  if (d.peak_pa != 0.0) DescribeDurations(samples, dt_ms, d);
  DescribeMoments(samples, d);

  const std::vector<float> pc = spectrum.Weighted(FrequencyWeighting::C);
  float c_peak = 0.0f;
  for (std::size_t i = 0; i < samples.size(); ++i) c_peak = std::max(c_peak, std::fabs(pc[i]));
  d.lcpeak_db = DecibelsOfRatio(c_peak / kReferencePressurePa);
  d.lae_db = ExposureLevel(SumOfSquares(spectrum.Weighted(FrequencyWeighting::A)), dt);
  d.lze_db = ExposureLevel(SumOfSquares(samples), dt);
  if (d.lae_db) d.liaeq100ms_db = *d.lae_db + 10.0;
  return d;
}

std::vector<NamedValue> NamedDescriptors(const ImpulseDescriptors& d) {
  return {{"peak_db", d.peak_db},
          {"peak_pa", d.peak_pa},
          {"peak_time_ms", d.peak_time_ms},
          {"a_duration_ms", d.a_duration_ms},
          {"b_duration_ms", d.b_duration_ms},
          {"c_duration_ms", d.c_duration_ms},
          {"rise_time_ms", d.rise_time_ms},
          {"lcpeak_db", d.lcpeak_db},
          {"lae_db", d.lae_db},
          {"lze_db", d.lze_db},
          {"liaeq100ms_db", d.liaeq100ms_db},
          {"kurtosis", d.kurtosis},
          {"crest_factor_db", d.crest_factor_db}};
}

}  // namespace korva
