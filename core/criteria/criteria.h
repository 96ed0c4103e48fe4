// The limits of the regulations and military standards that judge impulse
// noise, as plain functions of a shot's impulse descriptors and of the ear
// model's hazard: per shot, for a series of shots fired in one day, and the
// model's hazard under hearing protectors. Levels are dB re 20 uPa, the
// descriptors' reference; the interval metrics (AllowedRounds and the
// others, 94 dB for 1 Pa) are a separate rule and stay as they are.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/metrics/impulse_descriptors.h"

namespace korva {

// One constant of a criterion, with the document and section it comes from.
struct CriterionConstant {
  std::string_view key;
  double value;
  std::string_view unit;
  std::string_view source;
};

// Every constant the criteria use, in one place. docs/criteria.md lists the
// same keys with what each is for.
inline constexpr CriterionConstant kCriterionConstants[] = {
    {"eu_peak_lower_action_db", 135.0, "dB(C)",
     "Directive 2003/10/EC, peak sound pressure LCpeak: lower exposure action value"},
    {"eu_peak_upper_action_db", 137.0, "dB(C)",
     "Directive 2003/10/EC, peak sound pressure LCpeak: upper exposure action value"},
    {"eu_peak_limit_db", 140.0, "dB(C)",
     "Directive 2003/10/EC, peak sound pressure LCpeak: exposure limit value"},
    {"eu_lex8h_lower_action_db", 80.0, "dB(A)",
     "Directive 2003/10/EC, daily noise exposure LEX,8h: lower exposure action value"},
    {"eu_lex8h_upper_action_db", 85.0, "dB(A)",
     "Directive 2003/10/EC, daily noise exposure LEX,8h: upper exposure action value"},
    {"eu_lex8h_limit_db", 87.0, "dB(A)",
     "Directive 2003/10/EC, daily noise exposure LEX,8h: exposure limit value"},
    {"working_day_s", 28800.0, "s",
     "Directive 2003/10/EC LEX,8h and NIOSH (1998) REL: the 8-hour day the A-weighted energy "
     "is spread over"},
    {"osha_peak_db", 140.0, "dB",
     "OSHA 29 CFR 1910.95: impulsive noise should not exceed 140 dB peak sound pressure level"},
    {"dod_unprotected_peak_db", 140.0, "dB",
     "US DoD, MIL-STD-1474: no unprotected exposure above 140 dB peak (hearing protection "
     "required above it)"},
    {"niosh_rel_db", 85.0, "dB(A)", "NIOSH (1998) REL: 85 dB(A) for 8 h with a 3 dB exchange rate"},
    {"mil1474e_a_duration_min_ms", 0.2, "ms",
     "MIL-STD-1474E energy method, B.5.3-B.5.4: A-duration correction, lower clamp and "
     "reference duration"},
    {"mil1474e_a_duration_max_ms", 2.5, "ms",
     "MIL-STD-1474E energy method, B.5.3-B.5.4: A-duration correction, upper clamp"},
    {"mil1474e_correction_db_per_decade", 15.0, "dB",
     "MIL-STD-1474E energy method, B.5.3-B.5.4: A-duration correction 15 log10(A / 0.2 ms)"},
    {"mil1474e_periods_per_day", 288000.0, "",
     "MIL-STD-1474E energy method, B.5.3-B.5.4: 100 ms periods in 8 h (LIAeq100ms to "
     "LIAeq8hr)"},
    {"mil1474e_limit_db", 85.0, "dB(A)",
     "MIL-STD-1474E energy method, B.5.3-B.5.4: LIAeq8hr allowed in a day"},
    {"mil1474e_dose_exchange_db", 3.0, "dB",
     "MIL-STD-1474E, equation 4: dose 100 / 2^((85 - LIAeq8hr) / 3) %"},
    {"model_daily_aru", 500.0, "A.R.U.", "KORVA's ear model: allowed exposures are 500 / A.R.U."},
};

// The value of the constant named `key`, looked up while compiling: a key
// not in the table does not compile.
consteval double CriterionValue(std::string_view key) {
  for (const CriterionConstant& c : kCriterionConstants) {
    if (c.key == key) return c.value;
  }
  throw std::logic_error("no criterion constant named " + std::string(key));
}

// The tiers of the EU directive, for the peak and for the daily exposure. A
// tier is reached when the level is at or above its value.
enum class EuTier { Below, LowerAction, UpperAction, Limit };

// "below", "lower_action", "upper_action", "limit".
const char* EuTierName(EuTier tier);

EuTier EuPeakTier(double lcpeak_db);
EuTier EuDailyTier(double lex8h_db);

// Exceeded when the unweighted peak level is above 140 dB (140.0 is not).
bool OshaPeakExceeded(double peak_db);
bool DodUnprotectedExceeded(double peak_db);

// A sound exposure level spread over the 8-hour day: LAE - 10 log10(28,800).
double EightHourLevel(double lae_db);

// NIOSH's dose of one exposure of this 8-hour level: 100 10^((L8 - 85)/10) %.
double NioshDosePercent(double l8_db);

// The exposures of this 8-hour level allowed before the day reaches
// `limit_db` by equal energy: 10^((limit - L8)/10). Empty when too large to
// represent (no limit in practice).
std::optional<double> AllowedByEnergy(double l8_db, double limit_db);

// The energy sum of levels: 10 log10(sum 10^(L/10)); empty for no levels.
std::optional<double> EnergySumDb(std::span<const double> levels_db);

// MIL-STD-1474E's energy method for one shot.
struct Mil1474eShot {
  double a_duration_corrected_ms = 0.0;  // the A-duration clamped to [0.2, 2.5] ms
  double correction_db = 0.0;            // 15 log10(A_c / 0.2 ms)
  double liaeq8hr_db = 0.0;              // LIAeq100ms - 10 log10(288,000) - correction
  double liaeq8hr_uncorrected_db = 0.0;  // the same without the correction
  std::optional<double> allowed;         // 10^((85 - LIAeq8hr)/10); empty: unlimited
  double dose_percent = 0.0;             // 100 / 2^((85 - LIAeq8hr)/3)
};

Mil1474eShot Mil1474eOfShot(double liaeq100ms_db, double a_duration_ms);

// The ear model's hazard of one exposure (A.R.U.) for each listener; empty
// when that listener was not run.
struct ModelHazard {
  std::optional<double> warned_aru;
  std::optional<double> unwarned_aru;
};

// The model's hazard at the eardrum predicted under one hearing protector.
// The analysis driver fills it from the protector's predicted waveform.
struct ProtectedShot {
  std::string protector;  // its name in the protector table
  ModelHazard hazard;
  std::optional<double> eardrum_peak_db;  // of the predicted eardrum waveform, re 20 uPa
};

// Everything the criteria say about one shot. A value is empty when the shot
// has no level to judge (a silent interval).
struct ShotCriteria {
  // The levels the series compares and sums, dB re 20 uPa.
  std::optional<double> peak_db;
  std::optional<double> lcpeak_db;
  std::optional<double> l8_db;  // LAE spread over 8 h: EU LEX,8h and NIOSH

  std::optional<EuTier> eu_peak_tier;
  std::optional<bool> osha_peak_exceeded;
  std::optional<bool> dod_unprotected_exceeded;
  std::optional<double> niosh_dose_percent;
  std::optional<Mil1474eShot> mil1474e;

  ModelHazard model;                      // of the unprotected waveform
  std::vector<ProtectedShot> protectors;  // in the order they were asked for
};

ShotCriteria CriteriaOfShot(const ImpulseDescriptors& d, ModelHazard model = {});

// The model's hazard summed over the shots that have a run of one listener.
struct ModelSeries {
  int runs = 0;
  double aru = 0.0;
  std::optional<double> allowed;  // times the series is allowed: 500 / aru; empty: unlimited
};

struct ProtectedSeries {
  std::string protector;
  ModelSeries warned;
  ModelSeries unwarned;
  std::optional<double> eardrum_peak_db;  // the highest of the shots
};

// All the shots of a series fired in one day. The allowed counts are the
// times the whole series may be fired in a day (empty: unlimited).
struct SeriesCriteria {
  int shots = 0;

  // The peak caps hold when no shot of the series breaks them.
  std::optional<double> peak_db_max;
  std::optional<double> lcpeak_db_max;
  std::optional<EuTier> eu_peak_tier;  // the highest any shot reached
  bool osha_peak_exceeded = false;
  bool dod_unprotected_exceeded = false;

  // The energies of the shots summed: empty when no shot carries energy.
  std::optional<double> eu_lex8h_db;
  std::optional<EuTier> eu_lex8h_tier;
  std::optional<double> eu_allowed;  // until LEX,8h reaches the upper exposure action value
  std::optional<double> niosh_dose_percent;
  std::optional<double> niosh_allowed;  // 100 / dose
  std::optional<double> mil1474e_liaeq8hr_db;
  std::optional<double> mil1474e_allowed;

  ModelSeries warned;
  ModelSeries unwarned;
  std::vector<ProtectedSeries> protectors;  // in the order of their first appearance
};

SeriesCriteria CriteriaOfSeries(std::span<const ShotCriteria> shots);

}  // namespace korva
