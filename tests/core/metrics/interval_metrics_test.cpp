#include "core/metrics/interval_metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/common/error.h"
#include "tests/core/metrics/waveforms.h"

namespace korva {
namespace {

using testing::Sine;

constexpr float kDt = 1.0e-5f;  // 100 kHz
constexpr std::int32_t kCount = 65536;

// Away from the abrupt ends of the record, where the weighting's transient lives.
constexpr std::int32_t kFirst = 10000;
constexpr std::int32_t kLast = 60000;

TEST(IntervalMetrics, TonesReadTheirLevelsAndTheAWeightingOfTheStandard) {
  // 1 Pa RMS: 94 dB unweighted; A-weighted by the tabulated gain at the
  // third-octave centres (IEC 61672-1, to its 0.1 dB rounding).
  const struct {
    double frequency;
    double a_gain_db;
  } tones[] = {{31.623, -39.4}, {100.0, -19.1}, {1000.0, 0.0}, {3981.1, 1.0}, {10000.0, -2.5}};
  for (const auto& tone : tones) {
    SCOPED_TRACE(tone.frequency);
    const auto x = Sine(1.0, tone.frequency, kCount, kDt);
    // A whole number of periods, so the mean square is the tone's.
    const double period = 1.0 / (tone.frequency * kDt);
    const auto length =
        static_cast<std::int32_t>(std::nearbyint(std::floor((kLast - kFirst) / period) * period));
    const IntervalResults r = IntervalMetrics(x, kDt, kFirst, kFirst + length);
    ASSERT_TRUE(r.LeqInterval && r.LAeqInterval);
    EXPECT_NEAR(*r.LeqInterval, 94.0, 0.02);
    EXPECT_NEAR(*r.LAeqInterval - *r.LeqInterval, tone.a_gain_db, 0.06);
  }
}

TEST(IntervalMetrics, EightHourLevelRoundsAndExposureFollowTheCriterion) {
  // 1 ms of a 1 kHz tone of 1 Pa RMS: 0.001 Pa^2 s over 415 rayl.
  const auto x = Sine(1.0, 1000.0, kCount, kDt);
  const IntervalResults short_burst = IntervalMetrics(x, kDt, 30000, 30100);
  EXPECT_NEAR(short_burst.AWeightedExposure, 0.001 / 415.0, 0.02 * 0.001 / 415.0);

  // 85 dB(A) over 8 hours is one allowed exposure: p^2 T = 28800 s x 10^-0.9 Pa^2.
  const double seconds = (kLast - kFirst + 1) * double{kDt};
  const double rms = std::sqrt(28800.0 * std::pow(10.0, -0.9) / seconds);
  const auto loud = Sine(rms, 1000.0, kCount, kDt);
  const IntervalResults at_criterion = IntervalMetrics(loud, kDt, kFirst, kLast);
  ASSERT_TRUE(at_criterion.LAeq8hr && at_criterion.AllowedRounds);
  EXPECT_NEAR(*at_criterion.LAeq8hr, 85.0, 0.02);
  EXPECT_NEAR(*at_criterion.AllowedRounds, 1.0, 0.005);

  // Each 3 dB less doubles the allowed exposures.
  std::vector<float> quieter(loud);
  for (float& v : quieter) v = static_cast<float>(v * std::pow(10.0, -3.0 / 20.0));
  const IntervalResults lower = IntervalMetrics(quieter, kDt, kFirst, kLast);
  EXPECT_NEAR(*lower.LAeq8hr, *at_criterion.LAeq8hr - 3.0, 1e-4);
  EXPECT_NEAR(*lower.AllowedRounds / *at_criterion.AllowedRounds, 2.0, 1e-4);
}

TEST(IntervalMetrics, DegenerateIntervalsAndLongWaveforms) {
  // Both lines on one sample: the divisor counts as one.
  const auto x = Sine(1.0, 1000.0, 4096, kDt);
  const IntervalResults one = IntervalMetrics(x, kDt, 1000, 1000);
  EXPECT_NEAR(*one.LeqInterval, 10 * std::log10(double{x[1000]} * x[1000]) + 94.0, 1e-9);
  // Silence has no level and unlimited exposures, not -inf / inf.
  const IntervalResults silent = IntervalMetrics(std::vector<float>(4096, 0.0f), kDt, 0, 4095);
  EXPECT_FALSE(silent.LAeqInterval || silent.LAeq8hr || silent.AllowedRounds || silent.LeqInterval);
  HeaderGrid grid;
  ShowStatisticsReadout(grid, silent, 0, 4095, kDt);
  EXPECT_EQ(grid.Cell(1, 8), "n/a");
  EXPECT_EQ(grid.Cell(1, 10), "unlimited");
  EXPECT_EQ(grid.Cell(1, 11), "0.000");

  EXPECT_THROW(IntervalMetrics(x, kDt, 50, 4096), RangeError);
  EXPECT_THROW(IntervalMetrics(x, 0.0f, 0, 10), Error);
  // 800,000 samples need a transform of 2^21: the storage is sized to fit.
  const auto long_tone = Sine(1.0, 1000.0, 800000, kDt);
  EXPECT_NEAR(*IntervalMetrics(long_tone, kDt, 100000, 700000).LAeqInterval, 94.0, 0.02);
}

TEST(StatisticsReadout, WritesTheGridTextsAndClampsTheLines) {
  IntervalResults r;
  r.LAeqInterval = 93.99951;
  r.LAeq8hr = 40.5;
  r.AllowedRounds = 31622.7766;
  r.AWeightedExposure = 0.0024096;
  r.LeqInterval = 94.0004;
  HeaderGrid grid;
  ShowStatisticsReadout(grid, r, 1000, 500, kDt);
  EXPECT_EQ(grid.Cell(1, 8), "94.000");
  EXPECT_EQ(grid.Cell(1, 10), "31622.777");
  EXPECT_EQ(grid.Cell(1, 11), "0.002");
  EXPECT_EQ(grid.Cell(2, 8),
            "dB equivalent A-wt level over time interval of 5.00 msec starting at 10.00 msec.  "
            "Leq = equivalent Unweighted level = 94.000 dB.");
  EXPECT_EQ(grid.Cell(2, 10), "allowed number of rounds based on A-weighted energy.");
  ShowSpectrumIntervalReadout(grid, r, 1000, 500, kDt);
  EXPECT_EQ(grid.Cell(1, 6), "40.5");
  EXPECT_EQ(grid.Cell(2, 7), "dB over time interval of 5.0 msec starting at 10.0 msec");

  // Lines off either side of a 1000-pixel plot of 4095 samples stay on the
  // waveform, in either order.
  const PlotRect plot{50, 0, 1000, 400};
  EXPECT_EQ(ReadoutSelection(4095, 1300, -20, plot).first, 0);
  EXPECT_EQ(ReadoutSelection(4095, 1300, -20, plot).last, 4095);
  EXPECT_EQ(ReadoutSelection(4095, 550, 300, plot).first, 1024);  // round(250 x 4.095)
  // The interval named is the one measured: 1024..2048 is 1024 sample steps
  // (one pixel more by the lines' own arithmetic would name 1028), and one
  // sample still counts one step, as the levels' divisor does.
  const Selection named = ReadoutSelection(4095, 550, 300, plot);
  EXPECT_EQ(named.last, 2048);
  EXPECT_EQ(MeasuredLength(named), 1024);
  EXPECT_EQ(MeasuredLength({7, 7}), 1);
}

}  // namespace
}  // namespace korva
