#include "core/metrics/impulse_descriptors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "core/common/error.h"

namespace korva {
namespace {

constexpr double kPi = std::numbers::pi;

double Db(double pascals) {
  return 20.0 * std::log10(pascals / 20.0e-6);
}

// p(t) = P (1 - t/T) exp(-t/T) from the onset on, zero before: the
// Friedlander wave, whose positive phase lasts exactly T and whose energy
// is P^2 T / 4 (the integral of (1 - x)^2 exp(-2x) is 1/4).
std::vector<float> Friedlander(double peak, double a_duration, double onset, double dt, int n) {
  std::vector<float> p(static_cast<std::size_t>(n), 0.0f);
  for (int i = 0; i < n; ++i) {
    const double t = i * dt - onset;
    if (t < -1e-12) continue;
    const double x = std::max(t, 0.0) / a_duration;
    p[static_cast<std::size_t>(i)] = static_cast<float>(peak * (1.0 - x) * std::exp(-x));
  }
  return p;
}

// A tone of amplitude `amplitude` under a Hann envelope of `length` s that
// starts at `start` s. Its energy is amplitude^2 / 2 x 3 length / 8, and its
// spectrum is confined to about 2 / length around the tone.
std::vector<float> HannBurst(double amplitude, double frequency, double start, double length,
                             double dt, int n) {
  std::vector<float> p(static_cast<std::size_t>(n), 0.0f);
  for (int i = 0; i < n; ++i) {
    const double t = i * dt - start;
    if (t < 0.0 || t > length) continue;
    const double envelope = 0.5 - 0.5 * std::cos(2.0 * kPi * t / length);
    p[static_cast<std::size_t>(i)] =
        static_cast<float>(amplitude * envelope * std::sin(2.0 * kPi * frequency * t));
  }
  return p;
}

double BurstExposureLevel(double amplitude, double length) {
  return 10.0 * std::log10(amplitude * amplitude / 2.0 * 3.0 * length / 8.0 / (20.0e-6 * 20.0e-6));
}

TEST(ImpulseDescriptors, FriedlanderWaveOfEitherSign) {
  // 2 kPa (160 dB), A-duration 2 ms starting at 5.003 ms, 100 kHz.
  // Times are taken at the single-precision interval a session holds.
  const double dt = 1.0e-5f;
  const double peak = 2000.0;
  const double a_duration = 0.002;
  const double onset = 0.005003;
  const std::vector<float> up = Friedlander(peak, a_duration, onset, dt, 8192);
  std::vector<float> down(up);
  for (float& v : down) v = -v;

  const std::vector<float>* waves[] = {&up, &down};
  for (const std::vector<float>* wave : waves) {
    const double sign = wave == &up ? 1.0 : -1.0;
    SCOPED_TRACE(sign);
    const ImpulseDescriptors d = DescribeImpulse(*wave, static_cast<float>(dt));
    // The first sample after the onset carries the largest value.
    const int onset_sample = static_cast<int>(std::ceil(onset / dt));
    const double x = (onset_sample * dt - onset) / a_duration;
    const double sampled_peak = peak * (1.0 - x) * std::exp(-x);
    EXPECT_EQ(d.peak_index, onset_sample);
    EXPECT_NEAR(d.peak_pa, sign * sampled_peak, 1e-3);
    EXPECT_NEAR(d.peak_time_ms, onset_sample * dt * 1000.0, 1e-9);
    ASSERT_TRUE(d.peak_db && d.a_duration_ms && d.rise_time_ms);
    EXPECT_NEAR(*d.peak_db, Db(sampled_peak), 1e-5);
    // The positive phase (of -p for the negative wave) to within one sample;
    // it ends where the wave crosses zero, at onset + T.
    EXPECT_NEAR(*d.a_duration_ms, a_duration * 1000.0, dt * 1000.0);
    EXPECT_NEAR(*d.a_end_ms, (onset + a_duration) * 1000.0, 0.01 * dt * 1000.0);
    // From the silence before the onset straight to the peak: one sample.
    EXPECT_NEAR(*d.rise_time_ms, dt * 1000.0, 1e-9);
    ASSERT_TRUE(d.lze_db);
    EXPECT_NEAR(*d.lze_db, 10.0 * std::log10(peak * peak * a_duration / 4.0 / (20.0e-6 * 20.0e-6)),
                0.05);
    // The B-duration reaches into the negative phase, whose trough (-P/e^2 at
    // 2 T) exceeds a tenth of the peak; C counts fewer samples than B spans.
    EXPECT_GT(*d.b_duration_ms, 2.0 * a_duration * 1000.0);
    EXPECT_LT(*d.c_duration_ms, *d.b_duration_ms);
  }
  // Sign handled: the negative wave is described like the positive one.
  const ImpulseDescriptors a = DescribeImpulse(up, static_cast<float>(dt));
  const ImpulseDescriptors b = DescribeImpulse(down, static_cast<float>(dt));
  EXPECT_DOUBLE_EQ(*a.a_duration_ms, *b.a_duration_ms);
  EXPECT_DOUBLE_EQ(*a.b_duration_ms, *b.b_duration_ms);
  EXPECT_DOUBLE_EQ(*a.lae_db, *b.lae_db);
  EXPECT_DOUBLE_EQ(*a.lcpeak_db, *b.lcpeak_db);
}

TEST(ImpulseDescriptors, RectangularPulseGivesExactDurationsAndMoments) {
  // w samples of amplitude A in n: with q = w / n the kurtosis is
  // (1 - 3q + 3q^2) / (q (1 - q)) and the crest factor 1 / sqrt(q).
  const int n = 4096;
  const int w = 100;
  const int first = 1000;
  const double dt = 2.0e-5f;
  std::vector<float> p(n, 0.0f);
  for (int i = first; i < first + w; ++i) p[static_cast<std::size_t>(i)] = 50.0f;
  const ImpulseDescriptors d = DescribeImpulse(p, static_cast<float>(dt));
  const double q = double{w} / n;
  const double ms = dt * 1000.0;
  EXPECT_EQ(d.peak_index, first);
  EXPECT_NEAR(*d.b_duration_ms, (w - 1) * ms, 1e-9);
  EXPECT_NEAR(*d.c_duration_ms, w * ms, 1e-9);
  // Crossings at the zero samples on either side.
  EXPECT_NEAR(*d.a_duration_ms, (w + 1) * ms, 1e-9);
  EXPECT_NEAR(*d.rise_time_ms, ms, 1e-9);
  EXPECT_NEAR(*d.kurtosis, (1.0 - 3.0 * q + 3.0 * q * q) / (q * (1.0 - q)), 1e-9);
  EXPECT_NEAR(*d.crest_factor_db, -10.0 * std::log10(q), 1e-9);
  EXPECT_NEAR(*d.lze_db, 10.0 * std::log10(50.0 * 50.0 * w * dt / (20.0e-6 * 20.0e-6)), 1e-6);
  EXPECT_NEAR(*d.liaeq100ms_db - *d.lae_db, 10.0, 1e-12);

  // A pulse that starts on the first sample has no crossing before it: the
  // A-duration starts at the interval's start, and the rise is not seen.
  std::vector<float> at_start(n, 0.0f);
  for (int i = 0; i < w; ++i) at_start[static_cast<std::size_t>(i)] = -50.0f;
  const ImpulseDescriptors s = DescribeImpulse(at_start, static_cast<float>(dt));
  EXPECT_EQ(s.peak_pa, -50.0);
  EXPECT_NEAR(*s.a_duration_ms, w * ms, 1e-9);
  EXPECT_FALSE(s.rise_time_ms);
}

TEST(ImpulseDescriptors, WeightingsMatchTheStandardAtOneKilohertzAndAtTheBandEdges) {
  // A 1 kHz burst: both weightings are 0 dB there, so LAE equals the burst's
  // exposure and LCpeak its peak.
  const double dt = 2.0e-5;
  const int n = 1 << 17;
  const auto burst = HannBurst(10.0, 1000.0, 0.1, 0.5, dt, n);
  const ImpulseDescriptors k = DescribeImpulse(burst, static_cast<float>(dt));
  EXPECT_NEAR(*k.lae_db, BurstExposureLevel(10.0, 0.5), 0.01);
  // (Both peaks are sampled maxima of a tone of 50 samples a cycle: each may
  // fall short of the crest by up to 0.017 dB.)
  EXPECT_NEAR(*k.lcpeak_db, Db(10.0), 0.02);

  // Long bursts at the exact third-octave centres of 31.5 Hz and 8 kHz: the
  // IEC 61672-1 table gives A -39.4 and -1.1 dB, C -3.0 dB at both.
  const struct {
    double frequency, a_db, c_db;
  } tones[] = {{std::pow(10.0, 1.5), -39.4, -3.0}, {std::pow(10.0, 3.9), -1.1, -3.0}};
  for (const auto& tone : tones) {
    SCOPED_TRACE(tone.frequency);
    const auto x = HannBurst(10.0, tone.frequency, 0.2, 2.0, dt, n);
    const ImpulseDescriptors d = DescribeImpulse(x, static_cast<float>(dt));
    EXPECT_NEAR(*d.lae_db - BurstExposureLevel(10.0, 2.0), tone.a_db, 0.1);
    EXPECT_NEAR(*d.lcpeak_db - Db(10.0), tone.c_db, 0.1);
  }
}

TEST(ImpulseDescriptors, SilenceHasNoLevelsAndBadInputIsRefused) {
  const ImpulseDescriptors d = DescribeImpulse(std::vector<float>(1024, 0.0f), 1.0e-5f);
  EXPECT_FALSE(d.peak_db || d.a_duration_ms || d.b_duration_ms || d.lae_db || d.lcpeak_db ||
               d.kurtosis || d.crest_factor_db);
  std::vector<float> bad(1024, 1.0f);
  bad[10] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(DescribeImpulse(bad, 1.0e-5f), Error);
  EXPECT_THROW(DescribeImpulse(std::vector<float>(1024, 1.0f), 0.0f), Error);
  EXPECT_THROW(DescribeImpulse(std::vector<float>(1, 1.0f), 1.0e-5f), Error);
}

}  // namespace
}  // namespace korva
