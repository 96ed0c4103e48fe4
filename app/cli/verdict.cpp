#include "app/cli/verdict.h"

#include <algorithm>
#include <array>

#include "app/cli/json.h"
#include "app/cli/shots.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/criteria/fields.h"
#include "core/criteria/verdict.h"

namespace korva::cli {
namespace {

// NAME,NAME,... as the names it holds.
std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    if (comma > start) names.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

// Characters, not bytes: the values hold "≥" and the like.
std::size_t Utf8Length(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Padded(std::string text, std::size_t width) {
  const std::size_t length = Utf8Length(text);
  if (length < width) text.append(width - length, ' ');
  return text + " ";
}

// The series' criteria, with a note on the shots judged by the model alone.
std::vector<CriteriaField> SeriesFields(const ShotSummary& s) {
  std::vector<CriteriaField> fields = SeriesCriteriaFields(*s.criteria);
  auto& criteria = std::get<std::vector<CriteriaField>>(fields.front().value);
  CriteriaValue note;
  if (s.not_free_field > 0) {
    note = FormatInteger(s.not_free_field) + (s.not_free_field == 1 ? " shot was" : " shots were") +
           " not measured in the free field: judged by the ear model alone";
  }
  criteria.push_back({"note", note});
  return fields;
}

}  // namespace

std::optional<ProtectorSet> ChosenProtectors(const Args& args, Streams& io) {
  std::vector<std::string> names = args.Values("--protector");
  bool all = false;
  for (const std::string& list : args.Values("--protectors")) {
    for (const std::string& name : SplitNames(list)) {
      if (name == "all") {
        all = true;
      } else {
        names.push_back(name);
      }
    }
  }
  if (all && !names.empty()) {
    throw UsageError("--protectors all takes every protector of the table: name no other");
  }
  const std::optional<std::string> table = args.Value("--table");
  if (names.empty() && !all) {
    if (table) throw UsageError("--table names the table of --protector and --protectors");
    return ProtectorSet{};
  }
  try {
    return ChooseProtectors(table ? std::optional<std::filesystem::path>(*table) : std::nullopt,
                            names, all);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what();
    if (!table) io.err << " (name the table with --table FILE)";
    io.err << "\n";
    return std::nullopt;
  }
}

void PrintTextCriteria(const ShotReport& shot, std::ostream& out) {
  if (!shot.criteria) return;
  const ShotCriteria& c = *shot.criteria;
  if (!shot.criteria_note.empty()) {
    // The note says the protectors were left out too.
    out << "  " << Padded("criteria", 19) << "left out: " << shot.criteria_note << "\n";
    return;
  }
  for (const CriteriaLine& line : ShotCriteriaLines(c)) {
    out << "  " << Padded(line.label, 19) << line.value << " " << line.unit << "\n";
  }
  for (const ProtectedShot& p : c.protectors) {
    std::string line;
    for (const auto& [name, aru] :
         {std::pair{"warned", p.hazard.warned_aru}, std::pair{"unwarned", p.hazard.unwarned_aru}}) {
      if (!aru) continue;
      line += std::string(line.empty() ? "" : "; ") + name + " " +
              HazardText(static_cast<float>(*aru)) + " A.R.U., allowed " +
              AllowedExposuresText(static_cast<float>(*aru));
    }
    if (p.eardrum_peak_db) {
      line += (line.empty() ? "" : "; ") + std::string("eardrum peak ") +
              FormatFixed(*p.eardrum_peak_db, 2) + " " + kUnitDbRe20uPa;
    }
    out << "  " << Padded("under " + p.protector, 19) << (line.empty() ? "n/a" : line) << "\n";
  }
}

void PrintTextVerdictSentence(const ShotSummary& s, std::ostream& out) {
  if (s.verdict) out << "  " << s.verdict->sentence << "\n";
}

void PrintTextVerdictTable(const ShotSummary& s, std::ostream& out) {
  if (!s.verdict || !s.criteria) return;
  out << "  criteria of all shots in one day:\n";
  std::vector<std::array<std::string, 6>> lines{
      {"criterion", "protector", "value", "limit", "shots", "allowed shots a day"}};
  for (const VerdictRow& row : s.verdict->rows) {
    lines.push_back({row.criterion, row.protector.empty() ? "none" : row.protector,
                     VerdictValueText(row), VerdictLimitText(row), FormatInteger(row.shots),
                     AllowedShotsText(row)});
  }
  // Columns as wide as their longest cell (protector names vary a lot).
  std::array<std::size_t, 6> widths{};
  for (const auto& line : lines) {
    for (std::size_t k = 0; k < widths.size(); ++k) {
      widths[k] = std::max(widths[k], Utf8Length(line[k]));
    }
  }
  for (const auto& line : lines) {
    out << "    ";
    for (std::size_t k = 0; k + 1 < widths.size(); ++k) out << Padded(line[k], widths[k]);
    out << line.back() << "\n";
  }
  if (s.not_free_field > 0) {
    out << "  " << FormatInteger(s.not_free_field)
        << (s.not_free_field == 1 ? " shot was" : " shots were")
        << " not measured in the free field: judged by the ear model alone.\n";
  }
  if (!s.verdict->protector_note.empty()) out << "  " << s.verdict->protector_note << "\n";
}

std::string JsonVerdictMembers(const ShotSummary& s) {
  if (!s.criteria || !s.verdict) return "";
  std::string out;
  for (const CriteriaField& f : SeriesFields(s)) {
    out += ", " + JsonString(f.key) + ": " + JsonValue(FieldValue::Of(f.value));
  }
  out += ", \"verdict\": [";
  for (std::size_t k = 0; k < s.verdict->rows.size(); ++k) {
    out +=
        (k == 0 ? "" : ", ") + JsonValue(FieldValue::Object(VerdictRowFields(s.verdict->rows[k])));
  }
  out += "], \"protector_note\": " + (s.verdict->protector_note.empty()
                                          ? std::string("null")
                                          : JsonString(s.verdict->protector_note));
  return out;
}

std::vector<std::pair<std::string, FieldValue>> SeriesCriteriaCells(const ShotSummary& s) {
  std::vector<std::pair<std::string, FieldValue>> cells;
  if (!s.criteria) return cells;
  for (const CriteriaField& f : FlattenedFields(SeriesFields(s))) {
    cells.emplace_back(f.key, FieldValue::Of(f.value));
  }
  return cells;
}

std::vector<std::string> SeriesOnlyColumns(std::span<const Column> shot_columns) {
  ShotSummary shape;
  shape.criteria.emplace();
  std::vector<std::string> columns;
  for (const auto& [name, value] : SeriesCriteriaCells(shape)) {
    const bool shared = std::any_of(shot_columns.begin(), shot_columns.end(),
                                    [&](const Column& c) { return c.name == name; });
    if (!shared) columns.push_back(name);
  }
  return columns;
}

}  // namespace korva::cli
