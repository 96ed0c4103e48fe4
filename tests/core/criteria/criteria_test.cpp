#include "core/criteria/criteria.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/core/criteria/shots.h"

namespace korva {
namespace {

// 10 log10(28,800): an exposure level spread over the 8-hour day.
constexpr double kDayDb = 44.593924877592;

using testing::Levels;

TEST(Criteria, FriedlanderWaveOfTwoHundredPascals) {
  // p(t) = P (1 - t/T) exp(-t/T) from its onset: its positive phase lasts
  // exactly T, and P = 200 Pa is 20 log10(200 / 20e-6) = 140 dB exactly.
  const double dt = 5.0e-6;
  const double time_constant_ms = 1.0;
  const int onset = 200;
  std::vector<float> p(4096, 0.0f);
  for (int i = onset; i < 4096; ++i) {
    const double x = (i - onset) * dt * 1000.0 / time_constant_ms;
    p[static_cast<std::size_t>(i)] = static_cast<float>(200.0 * (1.0 - x) * std::exp(-x));
  }
  const ImpulseDescriptors d = DescribeImpulse(p, static_cast<float>(dt));
  ASSERT_TRUE(d.peak_db && d.a_duration_ms);
  EXPECT_NEAR(*d.peak_db, 140.000, 0.0005);
  EXPECT_NEAR(*d.a_duration_ms, time_constant_ms, dt * 1000.0);

  const ShotCriteria c = CriteriaOfShot(d);
  // The peak caps are broken only above 140 dB: this wave stands on them.
  EXPECT_EQ(c.osha_peak_exceeded, false);
  EXPECT_EQ(c.dod_unprotected_exceeded, false);
  ASSERT_TRUE(c.mil1474e);
  EXPECT_NEAR(c.mil1474e->correction_db, 15.0 * std::log10(*d.a_duration_ms / 0.2), 1e-12);
  EXPECT_NEAR(c.mil1474e->correction_db, 10.48, 0.05);

  // One step louder breaks both.
  for (float& v : p) v *= 1.001f;
  const ShotCriteria louder = CriteriaOfShot(DescribeImpulse(p, static_cast<float>(dt)));
  EXPECT_EQ(louder.osha_peak_exceeded, true);
  EXPECT_EQ(louder.dod_unprotected_exceeded, true);
}

TEST(Criteria, OneShotOfLae100dB) {
  // L8 = 100 - 44.594 = 55.406 dB; the equal-energy rules allow
  // 10^((85 - 55.406)/10) = 910.7 such shots a day, and so does 1474E
  // without its correction (A-duration at most 0.2 ms).
  const ShotCriteria c = CriteriaOfShot(Levels(130.0, 128.0, 100.0, 0.15));
  ASSERT_TRUE(c.l8_db && c.niosh_dose_percent && c.mil1474e);
  EXPECT_NEAR(*c.l8_db, 55.406, 0.0005);
  EXPECT_NEAR(100.0 / *c.niosh_dose_percent, 910.7, 0.05);
  EXPECT_EQ(c.mil1474e->correction_db, 0.0);
  EXPECT_NEAR(c.mil1474e->liaeq8hr_db, 55.406, 0.0005);
  EXPECT_EQ(c.mil1474e->liaeq8hr_uncorrected_db, c.mil1474e->liaeq8hr_db);
  EXPECT_NEAR(c.mil1474e->allowed.value(), 910.7, 0.05);
  // The dose follows the standard's base-2 exchange, not 100 / allowed.
  EXPECT_NEAR(c.mil1474e->dose_percent, 100.0 / std::pow(2.0, (85.0 - 55.406) / 3.0), 1e-4);

  const SeriesCriteria s = CriteriaOfSeries(std::vector<ShotCriteria>{c});
  EXPECT_NEAR(s.eu_allowed.value(), 910.7, 0.05);
  EXPECT_NEAR(s.niosh_allowed.value(), 910.7, 0.05);
  EXPECT_NEAR(s.mil1474e_allowed.value(), 910.7, 0.05);
  EXPECT_EQ(s.eu_lex8h_tier, EuTier::Below);
}

TEST(Criteria, ADurationCorrection) {
  // 15 log10(A_c / 0.2 ms) with A_c clamped to [0.2, 2.5] ms.
  const struct {
    double a_ms, clamped_ms, correction_db;
  } cases[] = {
      {0.1, 0.2, 0.0}, {0.2, 0.2, 0.0}, {1.0, 1.0, 10.48}, {2.5, 2.5, 16.45}, {4.0, 2.5, 16.45}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.a_ms);
    const Mil1474eShot m = Mil1474eOfShot(120.0, k.a_ms);
    EXPECT_EQ(m.a_duration_corrected_ms, k.clamped_ms);
    EXPECT_NEAR(m.correction_db, k.correction_db, 0.005);
    EXPECT_NEAR(m.liaeq8hr_uncorrected_db, 120.0 - 10.0 * std::log10(288000.0), 1e-9);
    EXPECT_NEAR(m.liaeq8hr_db, m.liaeq8hr_uncorrected_db - m.correction_db, 1e-9);
  }
}

TEST(Criteria, EuTiersAreReachedAtTheirValues) {
  const struct {
    double level;
    EuTier peak, daily;
  } cases[] = {
      {79.99, EuTier::Below, EuTier::Below},        {80.00, EuTier::Below, EuTier::LowerAction},
      {84.99, EuTier::Below, EuTier::LowerAction},  {85.00, EuTier::Below, EuTier::UpperAction},
      {86.99, EuTier::Below, EuTier::UpperAction},  {87.00, EuTier::Below, EuTier::Limit},
      {134.99, EuTier::Below, EuTier::Limit},       {135.00, EuTier::LowerAction, EuTier::Limit},
      {136.99, EuTier::LowerAction, EuTier::Limit}, {137.00, EuTier::UpperAction, EuTier::Limit},
      {139.99, EuTier::UpperAction, EuTier::Limit}, {140.00, EuTier::Limit, EuTier::Limit},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.level);
    EXPECT_EQ(EuPeakTier(k.level), k.peak);
    EXPECT_EQ(EuDailyTier(k.level), k.daily);
  }
  EXPECT_STREQ(EuTierName(EuTier::LowerAction), "lower_action");
  EXPECT_STREQ(EuTierName(EuTier::UpperAction), "upper_action");
}

TEST(Criteria, SeriesSumsTheShotsEnergiesAndHazards) {
  // Two shots of LAE 100 dB and one of 103 dB: four times the energy of
  // one, so LEX,8h = 55.406 + 6.021 dB and the dose four times a shot's.
  // The third shot's A-duration of 1 ms takes 10.485 dB off its 1474E level.
  std::vector<ShotCriteria> shots = {
      CriteriaOfShot(Levels(130.0, 128.0, 100.0, 0.1), {2.0, 5.0}),
      CriteriaOfShot(Levels(141.0, 135.5, 100.0, 0.1), {1.0, std::nullopt}),
      CriteriaOfShot(Levels(135.0, 133.0, 100.0 + 10.0 * std::log10(2.0), 1.0), {1.0, 3.0}),
      CriteriaOfShot(ImpulseDescriptors{}),  // silent: a shot that adds nothing
  };
  shots[0].protectors = {{"EARMUFF", {0.5, 1.0}, 120.0}, {"FOAM-EARPLUG", {0.1, 0.2}, 110.0}};
  shots[2].protectors = {{"FOAM-EARPLUG", {0.3, 0.6}, 112.0}};
  const SeriesCriteria s = CriteriaOfSeries(shots);

  EXPECT_EQ(s.shots, 4);
  EXPECT_EQ(s.peak_db_max, 141.0);
  EXPECT_EQ(s.lcpeak_db_max, 135.5);
  EXPECT_EQ(s.eu_peak_tier, EuTier::LowerAction);
  EXPECT_TRUE(s.osha_peak_exceeded);
  EXPECT_TRUE(s.dod_unprotected_exceeded);

  const double l8 = 100.0 - kDayDb;
  EXPECT_NEAR(s.eu_lex8h_db.value(), l8 + 10.0 * std::log10(4.0), 1e-9);
  EXPECT_NEAR(s.niosh_dose_percent.value(), 4.0 * 100.0 * std::pow(10.0, (l8 - 85.0) / 10.0), 1e-9);
  EXPECT_NEAR(s.niosh_allowed.value(), 910.736 / 4.0, 0.001);
  EXPECT_NEAR(s.eu_allowed.value(), 910.736 / 4.0, 0.001);
  const double third = std::pow(10.0, (l8 + 10.0 * std::log10(2.0) - 10.4846) / 10.0);
  EXPECT_NEAR(s.mil1474e_liaeq8hr_db.value(),
              10.0 * std::log10(2.0 * std::pow(10.0, l8 / 10.0) + third), 1e-3);

  // The model: warned runs on three shots, unwarned on two.
  EXPECT_EQ(s.warned.runs, 3);
  EXPECT_DOUBLE_EQ(s.warned.aru, 4.0);
  EXPECT_DOUBLE_EQ(s.warned.allowed.value(), 125.0);
  EXPECT_EQ(s.unwarned.runs, 2);
  EXPECT_DOUBLE_EQ(s.unwarned.allowed.value(), 62.5);

  // Protectors by name, in the order first met, over the shots that have them.
  ASSERT_EQ(s.protectors.size(), 2u);
  EXPECT_EQ(s.protectors[0].protector, "EARMUFF");
  EXPECT_EQ(s.protectors[1].protector, "FOAM-EARPLUG");
  EXPECT_EQ(s.protectors[1].warned.runs, 2);
  EXPECT_NEAR(s.protectors[1].warned.aru, 0.4, 1e-12);
  EXPECT_NEAR(s.protectors[1].unwarned.allowed.value(), 500.0 / 0.8, 1e-9);
  EXPECT_EQ(s.protectors[1].eardrum_peak_db, 112.0);

  // Nothing to sum: no levels, and no limit.
  const SeriesCriteria silent = CriteriaOfSeries(std::vector<ShotCriteria>{shots[3]});
  EXPECT_FALSE(silent.eu_lex8h_db || silent.niosh_dose_percent || silent.mil1474e_liaeq8hr_db);
  EXPECT_FALSE(silent.eu_allowed || silent.niosh_allowed || silent.mil1474e_allowed);
  EXPECT_EQ(silent.warned.runs, 0);
}

}  // namespace
}  // namespace korva
