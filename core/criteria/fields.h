// The criteria as fields of a result row, under the keys JSON output, CSV
// columns and Python's dictionaries share: nested objects for JSON, and the
// same flattened into one level for a CSV row or a data-frame column.
#pragma once

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "core/criteria/criteria.h"

namespace korva {

// A key and its value: nothing (JSON null, an empty CSV cell), a number, a
// yes/no, a word, or an object of further fields.
struct CriteriaField;
using CriteriaValue =
    std::variant<std::monostate, double, bool, std::string, std::vector<CriteriaField>>;
struct CriteriaField {
  std::string key;
  CriteriaValue value;

  friend bool operator==(const CriteriaField&, const CriteriaField&) = default;
};

// What a shot's row gains, in order: "criteria" {eu_peak_tier,
// osha_peak_exceeded, dod_unprotected_exceeded, niosh_dose_percent, mil1474e
// {a_duration_corrected_ms, correction_db, liaeq8hr_db,
// liaeq8hr_uncorrected_db, allowed, dose_percent}} and, when protectors were
// run, "protected" {PROTECTOR: {warned_aru, unwarned_aru, warned_allowed,
// unwarned_allowed, eardrum_peak_db}}. An allowed count is null when
// unlimited.
std::vector<CriteriaField> ShotCriteriaFields(const ShotCriteria& shot);

// What the summary row gains: "criteria" {eu_lex8h_db, eu_lex8h_tier,
// niosh_dose_percent, mil1474e {liaeq8hr_db, allowed}, limiting (the
// verdict's sentence)} and, when protectors were run, "protected" with the
// keys of a shot's: the A.R.U. summed over the series, the times the series
// is allowed and the highest eardrum peak.
std::vector<CriteriaField> SeriesCriteriaFields(const SeriesCriteria& series);

// The leaves of `fields` in order, each keyed by the keys on its path joined
// with "_": criteria_mil1474e_allowed, protected_EARMUFF_warned_aru. The
// inner keys are fixed, so a protector's name (which may hold "_") is read
// back from the known ends.
std::vector<CriteriaField> FlattenedFields(std::span<const CriteriaField> fields);

}  // namespace korva
