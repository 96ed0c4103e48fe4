// The criteria, the results under hearing protectors and the verdict in
// korva-cli report's text, JSON and CSV, and the protectors it is asked for.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"

namespace korva::cli {

// The protectors of --protector NAME (repeatable) and --protectors all (or
// NAME,NAME,...) in the table of --table (default: the data folder's),
// checked before anything is computed: nothing, after saying why, when one
// is not in the table. No protectors when none is asked for.
std::optional<ProtectorSet> ChosenProtectors(const Args& args, Streams& io);

// Text: the criteria of a shot and its hazard under each protector.
void PrintTextCriteria(const ShotReport& shot, std::ostream& out);

// Text: the verdict's sentence (the top of the summary).
void PrintTextVerdictSentence(const ShotSummary& summary, std::ostream& out);

// Text: the criteria of the series, the verdict's table and the note on
// protectors.
void PrintTextVerdictTable(const ShotSummary& summary, std::ostream& out);

// JSON: the summary's members ", \"criteria\": {...}" with `limiting`,
// ", \"protected\": {...}" (with protectors), ", \"verdict\": [rows]" and
// ", \"protector_note\": ..."; empty when no shot was judged.
std::string JsonVerdictMembers(const ShotSummary& summary);

// CSV: the series' criteria as (column, value), under the columns the shots
// share (criteria_niosh_dose_percent, protected_NAME_warned_aru, ...) and
// the series' own (criteria_eu_lex8h_db, criteria_limiting, ...).
std::vector<std::pair<std::string, FieldValue>> SeriesCriteriaCells(const ShotSummary& summary);

// The series' own columns, those no shot has: they follow the shots'.
std::vector<std::string> SeriesOnlyColumns(std::span<const Column> shot_columns);

}  // namespace korva::cli
