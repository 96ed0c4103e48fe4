#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/common/error.h"
#include "tests/core/metrics/waveforms.h"

namespace korva {
namespace {

ShotReport Shot(const char* file, double peak_db, double laeq8hr, float warned_aru,
                float unwarned_aru) {
  ShotReport shot;
  shot.file = file;
  shot.descriptors.peak_db = peak_db;
  shot.descriptors.lae_db = laeq8hr + 44.6;
  shot.metrics.LAeq8hr = laeq8hr;
  shot.metrics.AllowedRounds = AllowedRoundsFor(laeq8hr);
  for (const auto& [slot, aru] : {std::pair{0, warned_aru}, std::pair{1, unwarned_aru}}) {
    HazardRunResult run;
    run.listener = slot == 0 ? Listener::Warned : Listener::Unwarned;
    run.cochlea.TotalHazardARU = aru;
    shot.hazard[static_cast<std::size_t>(slot)] = run;
  }
  return shot;
}

TEST(ShotSummary, EnergyMeansMaximaLeastAllowedAndOneDay) {
  const std::vector<ShotReport> shots = {Shot("A", 150.0, 70.0, 2.0f, 0.0f),
                                         FailedShot("BAD", "not a waveform"),
                                         Shot("B", 160.0, 80.0, 8.0f, 0.0f)};
  const ShotSummary s = SummariseShots(shots);
  EXPECT_EQ(s.files, 3);
  EXPECT_EQ(s.failed, 1);
  // Energy mean of 150 and 160 dB: 10 log10((10^15 + 10^16) / 2).
  EXPECT_NEAR(*s.peak_db.energy_mean, 157.4036, 1e-4);
  EXPECT_EQ(*s.peak_db.maximum, 160.0);
  EXPECT_NEAR(*s.LAeq8hr.energy_mean, 77.4036, 1e-4);
  // Both fired in one day: their energies add (80.414 dB), and by the model
  // their hazards (10 A.R.U., 50 times).
  EXPECT_NEAR(*s.day_LAeq8hr, 80.4139, 1e-4);
  EXPECT_NEAR(*s.day_allowed_by_energy, std::pow(2.0, (85.0 - *s.day_LAeq8hr) / 3.0), 1e-9);
  EXPECT_DOUBLE_EQ(s.day_aru[0], 10.0);
  EXPECT_DOUBLE_EQ(*s.day_allowed_by_model[0], 50.0);
  EXPECT_DOUBLE_EQ(*s.least_allowed[0], 62.5);
  EXPECT_EQ(s.least_allowed_file[0], "B");
  EXPECT_EQ(s.least_allowed_rounds_file, "B");
  // No hazard at all is unlimited, not zero allowed.
  EXPECT_EQ(s.runs[1], 2);
  EXPECT_FALSE(s.least_allowed[1] || s.day_allowed_by_model[1]);

  const ShotSummary none = SummariseShots(std::vector<ShotReport>{FailedShot("X", "")});
  EXPECT_EQ(none.failed, 1);
  EXPECT_FALSE(none.peak_db.energy_mean || none.day_LAeq8hr || none.day_allowed_by_energy);
}

TEST(ShotReport, DescribesTheIntervalOfTheWaveformAndRefusesOneOutsideIt) {
  // A 1 kHz tone in the second half only: the first half's interval is silent.
  std::vector<float> x = testing::Sine(1.0, 1000.0, 4096, 1.0e-5);
  for (std::size_t k = 0; k < 2048; ++k) x[k] = 0.0f;
  const Session session = testing::SessionWith(x, 1.0e-5f);
  const ShotReport quiet = DescribeShot("F", session, {0, 2047});
  EXPECT_FALSE(quiet.descriptors.peak_db);
  EXPECT_FALSE(quiet.spectrum);
  EXPECT_FALSE(quiet.spectrum_error.empty());
  const ShotReport loud = DescribeShot("F", session, {2048, 4095});
  EXPECT_NEAR(*loud.descriptors.peak_db, 20.0 * std::log10(std::sqrt(2.0) / 20.0e-6), 0.01);
  EXPECT_TRUE(loud.spectrum);
  EXPECT_EQ(loud.samples, 4096);
  EXPECT_THROW(DescribeShot("F", session, {4000, 4096}), Error);
  EXPECT_THROW(DescribeShot("F", session, {10, 10}), Error);
}

}  // namespace
}  // namespace korva
