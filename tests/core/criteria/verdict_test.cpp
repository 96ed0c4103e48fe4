#include "core/criteria/verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/criteria/fields.h"
#include "tests/core/criteria/shots.h"

namespace korva {
namespace {

ShotCriteria Shot(double peak_db, double lcpeak_db, double lae_db, double a_duration_ms,
                  ModelHazard model) {
  return CriteriaOfShot(testing::Levels(peak_db, lcpeak_db, lae_db, a_duration_ms), model);
}

std::vector<std::string> Keys(const std::vector<CriteriaField>& fields) {
  std::vector<std::string> keys;
  for (const CriteriaField& f : fields) keys.push_back(f.key);
  return keys;
}

const CriteriaValue& ValueOf(const std::vector<CriteriaField>& flat, const std::string& key) {
  for (const CriteriaField& f : flat) {
    if (f.key == key) return f.value;
  }
  ADD_FAILURE() << "no field " << key;
  static const CriteriaValue none;
  return none;
}

TEST(Verdict, PeakLimitedWithAProtector) {
  ShotCriteria shot = Shot(143.0, 142.3, 105.0, 0.5, {5.0, 10.0});
  // 500 / 12.987 = 38.5 exposures: 38 whole shots.
  shot.protectors = {{"FOAM-EARPLUG", {6.0, 500.0 / 38.5}, 121.4}};
  const std::vector<ShotCriteria> shots = {shot};
  const Verdict v = JudgeSeries(CriteriaOfSeries(shots));

  EXPECT_EQ(v.sentence,
            "Limiting: EU exposure limit value (LCpeak 142.3 dB(C) \u2265 140): no unprotected "
            "exposure. With FOAM-EARPLUG: 38 shots a day (ear model, unwarned).");
  ASSERT_EQ(v.rows.size(), 10u);  // six criteria, the model twice, twice under the protector
  EXPECT_EQ(v.limiting, 0u);
  EXPECT_EQ(v.rows[0].tier, "limit");
  EXPECT_EQ(AllowedShotsText(v.rows[0]), "exceeded at the first shot");
  EXPECT_EQ(AllowedShotsText(v.rows[1]), "exceeded at the first shot");  // OSHA, 143 dB
  EXPECT_EQ(v.rows[9].protector, "FOAM-EARPLUG");
  EXPECT_FALSE(v.protector_note.empty());

  // The row's fields under their keys, nested and flattened.
  const std::vector<CriteriaField> fields = ShotCriteriaFields(shot);
  EXPECT_EQ(Keys(fields), (std::vector<std::string>{"criteria", "protected"}));
  const std::vector<CriteriaField> flat = FlattenedFields(fields);
  EXPECT_EQ(Keys(flat), (std::vector<std::string>{
                            "criteria_eu_peak_tier",
                            "criteria_osha_peak_exceeded",
                            "criteria_dod_unprotected_exceeded",
                            "criteria_niosh_dose_percent",
                            "criteria_mil1474e_a_duration_corrected_ms",
                            "criteria_mil1474e_correction_db",
                            "criteria_mil1474e_liaeq8hr_db",
                            "criteria_mil1474e_liaeq8hr_uncorrected_db",
                            "criteria_mil1474e_allowed",
                            "criteria_mil1474e_dose_percent",
                            "protected_FOAM-EARPLUG_warned_aru",
                            "protected_FOAM-EARPLUG_unwarned_aru",
                            "protected_FOAM-EARPLUG_warned_allowed",
                            "protected_FOAM-EARPLUG_unwarned_allowed",
                            "protected_FOAM-EARPLUG_eardrum_peak_db",
                        }));
  EXPECT_EQ(ValueOf(flat, "criteria_eu_peak_tier"), CriteriaValue(std::string("limit")));
  EXPECT_EQ(ValueOf(flat, "criteria_osha_peak_exceeded"), CriteriaValue(true));
  EXPECT_DOUBLE_EQ(std::get<double>(ValueOf(flat, "protected_FOAM-EARPLUG_unwarned_allowed")),
                   38.5);
}

TEST(Verdict, EnergyLimitedSeries) {
  // Three shots of LAE 110 dB: LEX,8h = 65.406 + 4.771 dB, reaching 85 after
  // 10^((85 - 65.406)/10) = 91.07 shots. NIOSH agrees and is named second;
  // 1474E's correction for 1 ms allows more, and so does the model.
  const std::vector<ShotCriteria> shots(3, Shot(130.0, 128.0, 110.0, 1.0, {1.0, 2.0}));
  const SeriesCriteria s = CriteriaOfSeries(shots);
  const Verdict v = JudgeSeries(s);
  EXPECT_EQ(v.sentence,
            "Limiting: EU upper exposure action value (LEX,8h 70.2 dB(A) over 3 shots, limit 85 "
            "dB(A)): 91 shots a day.");
  ASSERT_EQ(v.rows.size(), 8u);
  EXPECT_EQ(v.rows[3].tier, "below");
  EXPECT_EQ(AllowedShotsText(v.rows[0]), "unlimited");        // below every peak cap
  EXPECT_EQ(AllowedShotsText(v.rows[4]), "91");               // NIOSH
  EXPECT_GT(v.rows[5].allowed_shots.value(), 91.07 * 10.0);   // 1474E, 10.5 dB corrected
  EXPECT_NEAR(v.rows[7].allowed_shots.value(), 250.0, 1e-9);  // 500 / 6 A.R.U., times 3
  EXPECT_TRUE(v.protector_note.empty());

  const std::vector<CriteriaField> flat = FlattenedFields(SeriesCriteriaFields(s));
  EXPECT_EQ(Keys(flat), (std::vector<std::string>{
                            "criteria_eu_lex8h_db", "criteria_eu_lex8h_tier",
                            "criteria_niosh_dose_percent", "criteria_mil1474e_liaeq8hr_db",
                            "criteria_mil1474e_allowed", "criteria_limiting"}));
  EXPECT_EQ(ValueOf(flat, "criteria_limiting"), CriteriaValue(v.sentence));
  EXPECT_NEAR(std::get<double>(ValueOf(flat, "criteria_niosh_dose_percent")), 3.0 * 100.0 / 91.0736,
              1e-5);
}

TEST(Verdict, ModelLimitedWithAndWithoutProtectorLimits) {
  // Two shots of 25 A.R.U. (unwarned): 500 / 50 = 10 series, 20 shots.
  ShotCriteria shot = Shot(125.0, 124.0, 90.0, 0.3, {10.0, 25.0});
  shot.protectors = {{"EARMUFF", {0.0, 0.0}, 95.0}, {"FOAM-EARPLUG", {1.0, 2.5}, 105.0}};
  const std::vector<ShotCriteria> shots(2, shot);
  const SeriesCriteria s = CriteriaOfSeries(shots);
  const Verdict v = JudgeSeries(s);
  EXPECT_EQ(v.sentence,
            "Limiting: ear model, unwarned (50.0 A.R.U. over 2 shots, limit 500 A.R.U.): 20 shots "
            "a day. With EARMUFF: no limit (ear model). With FOAM-EARPLUG: 200 shots a day (ear "
            "model, unwarned).");

  // The series' protector fields: A.R.U. summed, the times the series is
  // allowed (none for a hazard of 0: unlimited), the highest eardrum peak.
  const std::vector<CriteriaField> flat = FlattenedFields(SeriesCriteriaFields(s));
  EXPECT_EQ(ValueOf(flat, "protected_EARMUFF_warned_allowed"), CriteriaValue());
  EXPECT_EQ(ValueOf(flat, "protected_FOAM-EARPLUG_unwarned_aru"), CriteriaValue(5.0));
  EXPECT_EQ(ValueOf(flat, "protected_FOAM-EARPLUG_unwarned_allowed"), CriteriaValue(100.0));
  EXPECT_EQ(ValueOf(flat, "protected_FOAM-EARPLUG_eardrum_peak_db"), CriteriaValue(105.0));
}

TEST(Verdict, NothingToJudge) {
  // A silent interval has no level: no criterion limits it, and its fields
  // are all there, empty, so that a CSV table keeps its columns.
  const ShotCriteria silent = CriteriaOfShot(ImpulseDescriptors{});
  const Verdict v = JudgeSeries(CriteriaOfSeries(std::vector<ShotCriteria>{silent}));
  EXPECT_EQ(v.sentence, "Limiting: none: no criterion limits the number of shots.");
  EXPECT_FALSE(v.limiting);
  const std::vector<CriteriaField> flat = FlattenedFields(ShotCriteriaFields(silent));
  EXPECT_EQ(flat.size(), 10u);
  for (const CriteriaField& f : flat) EXPECT_EQ(f.value, CriteriaValue()) << f.key;

  VerdictRow under_one;
  under_one.allowed_shots = 0.4;
  EXPECT_EQ(AllowedShotsText(under_one), "less than one");
}

}  // namespace
}  // namespace korva
