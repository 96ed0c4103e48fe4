#include "core/criteria/fields.h"

#include <optional>
#include <utility>

#include "core/criteria/verdict.h"
#include "core/model/hazard.h"

namespace korva {

namespace {

CriteriaValue Value(const std::optional<double>& value) {
  if (!value) return {};
  return *value;
}

CriteriaValue Value(const std::optional<bool>& value) {
  if (!value) return {};
  return *value;
}

CriteriaValue Value(const std::optional<EuTier>& tier) {
  if (!tier) return {};
  return std::string(EuTierName(*tier));
}

std::optional<double> AllowedOf(const std::optional<double>& aru) {
  return aru ? AllowedExposures(*aru) : std::nullopt;
}

std::vector<CriteriaField> ProtectorFields(const std::optional<double>& warned_aru,
                                           const std::optional<double>& unwarned_aru,
                                           const std::optional<double>& warned_allowed,
                                           const std::optional<double>& unwarned_allowed,
                                           const std::optional<double>& eardrum_peak_db) {
  return {{"warned_aru", Value(warned_aru)},
          {"unwarned_aru", Value(unwarned_aru)},
          {"warned_allowed", Value(warned_allowed)},
          {"unwarned_allowed", Value(unwarned_allowed)},
          {"eardrum_peak_db", Value(eardrum_peak_db)}};
}

std::optional<double> SeriesAru(const ModelSeries& m) {
  return m.runs > 0 ? std::optional<double>(m.aru) : std::nullopt;
}

void Flatten(std::span<const CriteriaField> fields, const std::string& prefix,
             std::vector<CriteriaField>& out) {
  for (const CriteriaField& f : fields) {
    const std::string key = prefix.empty() ? f.key : prefix + "_" + f.key;
    if (const auto* object = std::get_if<std::vector<CriteriaField>>(&f.value)) {
      Flatten(*object, key, out);
    } else {
      out.push_back({key, f.value});
    }
  }
}

}  // namespace

std::vector<CriteriaField> ShotCriteriaFields(const ShotCriteria& c) {
  const Mil1474eShot* m = c.mil1474e ? &*c.mil1474e : nullptr;
  const auto mil = [m](double Mil1474eShot::*member) {
    return m ? CriteriaValue(m->*member) : CriteriaValue();
  };
  std::vector<CriteriaField> mil1474e = {
      {"a_duration_corrected_ms", mil(&Mil1474eShot::a_duration_corrected_ms)},
      {"correction_db", mil(&Mil1474eShot::correction_db)},
      {"liaeq8hr_db", mil(&Mil1474eShot::liaeq8hr_db)},
      {"liaeq8hr_uncorrected_db", mil(&Mil1474eShot::liaeq8hr_uncorrected_db)},
      {"allowed", m ? Value(m->allowed) : CriteriaValue()},
      {"dose_percent", mil(&Mil1474eShot::dose_percent)}};
  std::vector<CriteriaField> criteria = {
      {"eu_peak_tier", Value(c.eu_peak_tier)},
      {"osha_peak_exceeded", Value(c.osha_peak_exceeded)},
      {"dod_unprotected_exceeded", Value(c.dod_unprotected_exceeded)},
      {"niosh_dose_percent", Value(c.niosh_dose_percent)},
      {"mil1474e", std::move(mil1474e)}};
  std::vector<CriteriaField> fields = {{"criteria", std::move(criteria)}};
  if (!c.protectors.empty()) {
    std::vector<CriteriaField> protectors;
    for (const ProtectedShot& p : c.protectors) {
      const ModelHazard& h = p.hazard;
      protectors.push_back(
          {p.protector, ProtectorFields(h.warned_aru, h.unwarned_aru, AllowedOf(h.warned_aru),
                                        AllowedOf(h.unwarned_aru), p.eardrum_peak_db)});
    }
    fields.push_back({"protected", std::move(protectors)});
  }
  return fields;
}

std::vector<CriteriaField> SeriesCriteriaFields(const SeriesCriteria& s) {
  std::vector<CriteriaField> criteria = {
      {"eu_lex8h_db", Value(s.eu_lex8h_db)},
      {"eu_lex8h_tier", Value(s.eu_lex8h_tier)},
      {"niosh_dose_percent", Value(s.niosh_dose_percent)},
      {"mil1474e", std::vector<CriteriaField>{{"liaeq8hr_db", Value(s.mil1474e_liaeq8hr_db)},
                                              {"allowed", Value(s.mil1474e_allowed)}}},
      {"limiting", JudgeSeries(s).sentence}};
  std::vector<CriteriaField> fields = {{"criteria", std::move(criteria)}};
  if (!s.protectors.empty()) {
    std::vector<CriteriaField> protectors;
    for (const ProtectedSeries& p : s.protectors) {
      protectors.push_back(
          {p.protector, ProtectorFields(SeriesAru(p.warned), SeriesAru(p.unwarned),
                                        p.warned.allowed, p.unwarned.allowed, p.eardrum_peak_db)});
    }
    fields.push_back({"protected", std::move(protectors)});
  }
  return fields;
}

std::vector<CriteriaField> FlattenedFields(std::span<const CriteriaField> fields) {
  std::vector<CriteriaField> out;
  Flatten(fields, "", out);
  return out;
}

}  // namespace korva
