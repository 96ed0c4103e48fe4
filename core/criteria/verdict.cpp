#include "core/criteria/verdict.h"

#include <cmath>
#include <utility>

#include "core/common/numbers.h"

namespace korva {

namespace {

// Allowed counts a hair below a whole number through rounding (500 / 12.5
// computed as 39.999...) still allow that number.
constexpr double kWholeShotSlack = 1e-9;

double WholeShots(double allowed) {
  return std::floor(allowed * (1.0 + kWholeShotSlack));
}

std::optional<double> TimesShots(const std::optional<double>& series_allowed, int shots) {
  if (!series_allowed) return std::nullopt;
  return *series_allowed * shots;
}

VerdictRow Row(std::string criterion, std::string quantity, std::string unit,
               std::optional<double> value, double limit, int shots) {
  VerdictRow row;
  row.criterion = std::move(criterion);
  row.quantity = std::move(quantity);
  row.unit = std::move(unit);
  row.value = value;
  row.limit = limit;
  row.shots = shots;
  return row;
}

VerdictRow PeakCap(VerdictRow row, bool exceeded) {
  row.peak_cap = true;
  if (exceeded) row.allowed_shots = 0.0;
  return row;
}

// Nothing to judge allows any number.
VerdictRow Counted(VerdictRow row, const std::optional<double>& series_allowed) {
  if (row.value) row.allowed_shots = TimesShots(series_allowed, row.shots);
  return row;
}

void AddModelRows(std::vector<VerdictRow>& rows, const ModelSeries& warned,
                  const ModelSeries& unwarned, const std::string& protector) {
  const std::pair<const char*, const ModelSeries*> listeners[] = {
      {"ear model, warned", &warned}, {"ear model, unwarned", &unwarned}};
  for (const auto& [name, series] : listeners) {
    if (series->runs == 0) continue;
    VerdictRow row = Counted(
        Row(name, "", "A.R.U.", series->aru, CriterionValue("model_daily_aru"), series->runs),
        series->allowed);
    row.protector = protector;
    rows.push_back(std::move(row));
  }
}

std::string ShotsADay(double allowed) {
  const double whole = WholeShots(allowed);
  if (whole < 1.0) return "less than one shot a day";
  if (whole == 1.0) return "1 shot a day";
  return FormatFixed(whole, 0) + " shots a day";
}

// "LCpeak 142.3 dB(C)", "12.3 A.R.U."
std::string ValueText(const VerdictRow& row) {
  const std::string number = FormatFixed(*row.value, 1) + " " + row.unit;
  return row.quantity.empty() ? number : row.quantity + " " + number;
}

std::string LimitingClause(const VerdictRow& row) {
  if (row.peak_cap) {
    // The EU peak row, the cap with a tier, is reached at its value; the
    // other caps are broken only above theirs.
    const char* relation = row.tier.empty() ? " > " : " \u2265 ";
    return row.criterion + " (" + ValueText(row) + relation + FormatShortest(row.limit) +
           "): no unprotected exposure.";
  }
  return row.criterion + " (" + ValueText(row) + " over " + FormatInteger(row.shots) +
         (row.shots == 1 ? " shot" : " shots") + ", limit " + FormatShortest(row.limit) + " " +
         row.unit + "): " + ShotsADay(*row.allowed_shots) + ".";
}

// The row of rows[first, end) allowing the fewest whole shots, the first of
// equals: criteria that agree (the equal-energy rules on one energy) are
// named in the table's order, not by a rounding error.
std::optional<std::size_t> Fewest(const std::vector<VerdictRow>& rows, std::size_t first,
                                  std::size_t end) {
  std::optional<std::size_t> fewest;
  for (std::size_t k = first; k < end; ++k) {
    const std::optional<double>& allowed = rows[k].allowed_shots;
    if (allowed && (!fewest || WholeShots(*allowed) < WholeShots(*rows[*fewest].allowed_shots))) {
      fewest = k;
    }
  }
  return fewest;
}

}  // namespace

Verdict JudgeSeries(const SeriesCriteria& s) {
  Verdict v;
  VerdictRow eu_peak = PeakCap(Row("EU exposure limit value", "LCpeak", "dB(C)", s.lcpeak_db_max,
                                   CriterionValue("eu_peak_limit_db"), s.shots),
                               s.eu_peak_tier == EuTier::Limit);
  eu_peak.tier = EuTierName(s.eu_peak_tier.value_or(EuTier::Below));
  v.rows.push_back(std::move(eu_peak));
  v.rows.push_back(PeakCap(
      Row("OSHA peak", "peak", "dB", s.peak_db_max, CriterionValue("osha_peak_db"), s.shots),
      s.osha_peak_exceeded));
  v.rows.push_back(PeakCap(Row("DoD unprotected peak", "peak", "dB", s.peak_db_max,
                               CriterionValue("dod_unprotected_peak_db"), s.shots),
                           s.dod_unprotected_exceeded));
  VerdictRow eu_daily =
      Counted(Row("EU upper exposure action value", "LEX,8h", "dB(A)", s.eu_lex8h_db,
                  CriterionValue("eu_lex8h_upper_action_db"), s.shots),
              s.eu_allowed);
  if (s.eu_lex8h_tier) eu_daily.tier = EuTierName(*s.eu_lex8h_tier);
  v.rows.push_back(std::move(eu_daily));
  v.rows.push_back(Counted(Row("NIOSH REL", "dose", "%", s.niosh_dose_percent, 100.0, s.shots),
                           s.niosh_allowed));
  v.rows.push_back(Counted(Row("MIL-STD-1474E", "LIAeq8hr", "dB(A)", s.mil1474e_liaeq8hr_db,
                               CriterionValue("mil1474e_limit_db"), s.shots),
                           s.mil1474e_allowed));
  AddModelRows(v.rows, s.warned, s.unwarned, "");
  const std::size_t free_field_rows = v.rows.size();

  v.limiting = Fewest(v.rows, 0, free_field_rows);
  v.sentence = "Limiting: " + (v.limiting ? LimitingClause(v.rows[*v.limiting])
                                          : "none: no criterion limits the number of shots.");
  for (const ProtectedSeries& p : s.protectors) {
    const std::size_t first = v.rows.size();
    AddModelRows(v.rows, p.warned, p.unwarned, p.protector);
    if (v.rows.size() == first) continue;
    const std::optional<std::size_t> fewest = Fewest(v.rows, first, v.rows.size());
    v.sentence += " With " + p.protector + ": " +
                  (fewest ? ShotsADay(*v.rows[*fewest].allowed_shots) + " (" +
                                v.rows[*fewest].criterion + ")."
                          : std::string("no limit (ear model)."));
  }
  if (!s.protectors.empty()) {
    v.protector_note =
        "Under a protector only the ear model is run again, on the waveform predicted at the "
        "eardrum; the peak and energy criteria are defined on the free-field measurement and "
        "are not recomputed.";
  }
  return v;
}

std::string AllowedShotsText(const VerdictRow& row) {
  if (!row.allowed_shots) return "unlimited";
  if (row.peak_cap) return "exceeded at the first shot";
  const double whole = WholeShots(*row.allowed_shots);
  return whole < 1.0 ? "less than one" : FormatFixed(whole, 0);
}

}  // namespace korva
