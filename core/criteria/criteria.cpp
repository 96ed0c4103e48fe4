#include "core/criteria/criteria.h"

#include <algorithm>
#include <cmath>

#include "core/model/hazard.h"

namespace korva {

namespace {

constexpr double kEuPeak[] = {CriterionValue("eu_peak_lower_action_db"),
                              CriterionValue("eu_peak_upper_action_db"),
                              CriterionValue("eu_peak_limit_db")};
constexpr double kEuDaily[] = {CriterionValue("eu_lex8h_lower_action_db"),
                               CriterionValue("eu_lex8h_upper_action_db"),
                               CriterionValue("eu_lex8h_limit_db")};
constexpr double kWorkingDay = CriterionValue("working_day_s");
constexpr double kOshaPeak = CriterionValue("osha_peak_db");
constexpr double kDodPeak = CriterionValue("dod_unprotected_peak_db");
constexpr double kNioshRel = CriterionValue("niosh_rel_db");
constexpr double kMilShortest = CriterionValue("mil1474e_a_duration_min_ms");
constexpr double kMilLongest = CriterionValue("mil1474e_a_duration_max_ms");
constexpr double kMilSlope = CriterionValue("mil1474e_correction_db_per_decade");
constexpr double kMilPeriods = CriterionValue("mil1474e_periods_per_day");
constexpr double kMilLimit = CriterionValue("mil1474e_limit_db");
constexpr double kMilDoseExchange = CriterionValue("mil1474e_dose_exchange_db");

// The highest tier whose value the level reaches.
EuTier TierOf(double level, const double (&values)[3]) {
  if (level >= values[2]) return EuTier::Limit;
  if (level >= values[1]) return EuTier::UpperAction;
  if (level >= values[0]) return EuTier::LowerAction;
  return EuTier::Below;
}

std::optional<double> Finite(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// The highest of two levels, either of which may be missing.
std::optional<double> Higher(std::optional<double> a, std::optional<double> b) {
  if (!a) return b;
  if (!b) return a;
  return std::max(*a, *b);
}

void AddRun(ModelSeries& series, const std::optional<double>& aru) {
  if (!aru) return;
  ++series.runs;
  series.aru += *aru;
}

void FinishRuns(ModelSeries& series) {
  if (series.runs > 0) series.allowed = AllowedExposures(series.aru);
}

}  // namespace

const char* EuTierName(EuTier tier) {
  switch (tier) {
    case EuTier::Below:
      return "below";
    case EuTier::LowerAction:
      return "lower_action";
    case EuTier::UpperAction:
      return "upper_action";
    case EuTier::Limit:
      return "limit";
  }
  return "below";
}

EuTier EuPeakTier(double lcpeak_db) {
  return TierOf(lcpeak_db, kEuPeak);
}

EuTier EuDailyTier(double lex8h_db) {
  return TierOf(lex8h_db, kEuDaily);
}

bool OshaPeakExceeded(double peak_db) {
  return peak_db > kOshaPeak;
}

bool DodUnprotectedExceeded(double peak_db) {
  return peak_db > kDodPeak;
}

double EightHourLevel(double lae_db) {
  return lae_db - 10.0 * std::log10(kWorkingDay);
}

double NioshDosePercent(double l8_db) {
  return 100.0 * std::pow(10.0, (l8_db - kNioshRel) / 10.0);
}

std::optional<double> AllowedByEnergy(double l8_db, double limit_db) {
  return Finite(std::pow(10.0, (limit_db - l8_db) / 10.0));
}

std::optional<double> EnergySumDb(std::span<const double> levels_db) {
  if (levels_db.empty()) return std::nullopt;
  // Relative to the highest level, so that no term overflows or vanishes.
  const double top = *std::max_element(levels_db.begin(), levels_db.end());
  double sum = 0.0;
  for (const double level : levels_db) sum += std::pow(10.0, (level - top) / 10.0);
  return top + 10.0 * std::log10(sum);
}

Mil1474eShot Mil1474eOfShot(double liaeq100ms_db, double a_duration_ms) {
  Mil1474eShot m;
  m.a_duration_corrected_ms = std::clamp(a_duration_ms, kMilShortest, kMilLongest);
  m.correction_db = kMilSlope * std::log10(m.a_duration_corrected_ms / kMilShortest);
  m.liaeq8hr_uncorrected_db = liaeq100ms_db - 10.0 * std::log10(kMilPeriods);
  m.liaeq8hr_db = m.liaeq8hr_uncorrected_db - m.correction_db;
  m.allowed = AllowedByEnergy(m.liaeq8hr_db, kMilLimit);
  m.dose_percent = 100.0 / std::pow(2.0, (kMilLimit - m.liaeq8hr_db) / kMilDoseExchange);
  return m;
}

ShotCriteria CriteriaOfShot(const ImpulseDescriptors& d, ModelHazard model) {
  ShotCriteria c;
  c.peak_db = d.peak_db;
  c.lcpeak_db = d.lcpeak_db;
  if (d.lcpeak_db) c.eu_peak_tier = EuPeakTier(*d.lcpeak_db);
  if (d.peak_db) {
    c.osha_peak_exceeded = OshaPeakExceeded(*d.peak_db);
    c.dod_unprotected_exceeded = DodUnprotectedExceeded(*d.peak_db);
  }
  if (d.lae_db) {
    c.l8_db = EightHourLevel(*d.lae_db);
    c.niosh_dose_percent = NioshDosePercent(*c.l8_db);
  }
  if (d.liaeq100ms_db && d.a_duration_ms) {
    c.mil1474e = Mil1474eOfShot(*d.liaeq100ms_db, *d.a_duration_ms);
  }
  c.model = model;
  return c;
}

SeriesCriteria CriteriaOfSeries(std::span<const ShotCriteria> shots) {
  SeriesCriteria s;
  std::vector<double> l8, mil;
  double niosh_dose = 0.0;
  for (const ShotCriteria& shot : shots) {
    ++s.shots;
    s.peak_db_max = Higher(s.peak_db_max, shot.peak_db);
    s.lcpeak_db_max = Higher(s.lcpeak_db_max, shot.lcpeak_db);
    if (shot.eu_peak_tier && (!s.eu_peak_tier || *shot.eu_peak_tier > *s.eu_peak_tier)) {
      s.eu_peak_tier = shot.eu_peak_tier;
    }
    s.osha_peak_exceeded = s.osha_peak_exceeded || shot.osha_peak_exceeded.value_or(false);
    s.dod_unprotected_exceeded =
        s.dod_unprotected_exceeded || shot.dod_unprotected_exceeded.value_or(false);
    if (shot.l8_db) l8.push_back(*shot.l8_db);
    if (shot.niosh_dose_percent) niosh_dose += *shot.niosh_dose_percent;
    if (shot.mil1474e) mil.push_back(shot.mil1474e->liaeq8hr_db);
    AddRun(s.warned, shot.model.warned_aru);
    AddRun(s.unwarned, shot.model.unwarned_aru);
    for (const ProtectedShot& p : shot.protectors) {
      auto it = std::find_if(s.protectors.begin(), s.protectors.end(),
                             [&](const ProtectedSeries& q) { return q.protector == p.protector; });
      if (it == s.protectors.end()) {
        it = s.protectors.insert(s.protectors.end(), ProtectedSeries{});
        it->protector = p.protector;
      }
      AddRun(it->warned, p.hazard.warned_aru);
      AddRun(it->unwarned, p.hazard.unwarned_aru);
      it->eardrum_peak_db = Higher(it->eardrum_peak_db, p.eardrum_peak_db);
    }
  }
  s.eu_lex8h_db = EnergySumDb(l8);
  if (!l8.empty()) {
    s.eu_lex8h_tier = EuDailyTier(*s.eu_lex8h_db);
    s.eu_allowed = AllowedByEnergy(*s.eu_lex8h_db, kEuDaily[1]);
    s.niosh_dose_percent = niosh_dose;
    if (niosh_dose > 0.0) s.niosh_allowed = Finite(100.0 / niosh_dose);
  }
  s.mil1474e_liaeq8hr_db = EnergySumDb(mil);
  if (s.mil1474e_liaeq8hr_db)
    s.mil1474e_allowed = AllowedByEnergy(*s.mil1474e_liaeq8hr_db, kMilLimit);
  FinishRuns(s.warned);
  FinishRuns(s.unwarned);
  for (ProtectedSeries& p : s.protectors) {
    FinishRuns(p.warned);
    FinishRuns(p.unwarned);
  }
  return s;
}

}  // namespace korva
