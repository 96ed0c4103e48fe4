// The verdict on a series of shots: one row per criterion (and per protector
// for the ear model) with its value, its limit and the shots it allows a day,
// and one sentence naming the criterion that allows the fewest.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/criteria/criteria.h"

namespace korva {

struct VerdictRow {
  std::string criterion;  // "EU exposure limit value", "ear model, unwarned", ...
  std::string protector;  // empty for the free-field measurement
  std::string quantity;   // what the value is: "LCpeak", "LEX,8h", "dose", ...; empty for A.R.U.
  std::optional<double> value;  // of the whole series; empty when there is nothing to judge
  std::string unit;             // of the value and the limit
  double limit = 0.0;
  std::string tier;  // the EU tier reached (EuTierName), for the EU rows
  int shots = 0;     // the shots the value covers
  // A peak cap holds for every shot alone: it allows no shot at all once
  // broken ("exceeded at the first shot"), and any number otherwise.
  bool peak_cap = false;
  // Shots of the series' kind allowed in a day: the times the series is
  // allowed times its shots. Empty: unlimited.
  std::optional<double> allowed_shots;
};

struct Verdict {
  // The free-field criteria first, then the ear model under each protector.
  std::vector<VerdictRow> rows;
  // The free-field row allowing the fewest shots (the first of equals);
  // empty when none limits.
  std::optional<std::size_t> limiting;
  // "Limiting: ...", followed by one "With PROTECTOR: ..." per protector.
  std::string sentence;
  // Why only the ear model appears under protectors; empty without them.
  std::string protector_note;
};

Verdict JudgeSeries(const SeriesCriteria& series);

// The allowed shots of a row as a table shows them: "exceeded at the first
// shot", "unlimited", "less than one", or the whole shots ("38").
std::string AllowedShotsText(const VerdictRow& row);

}  // namespace korva
