#include "core/protection/hpd_table.h"

#include <charconv>
#include <cmath>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"

namespace korva {

namespace {

// Tables and seed files are small; anything beyond this is not one.
constexpr std::uint64_t kMaxTableBytes = std::uint64_t{64} << 20;

struct Line {
  std::size_t begin;  // first character
  std::size_t end;    // one past the last character before the line end
  std::size_t next;   // first character of the next line
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t nl = content.find('\n', pos);
    const std::size_t stop = nl == std::string_view::npos ? content.size() : nl;
    std::size_t end = stop;
    if (end > pos && content[end - 1] == '\r') --end;
    lines.push_back({pos, end, nl == std::string_view::npos ? content.size() : nl + 1});
    pos = lines.back().next;
  }
  return lines;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (true) {
    const std::size_t tab = line.find('\t', pos);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(pos));
      return fields;
    }
    fields.push_back(line.substr(pos, tab - pos));
    pos = tab + 1;
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<double> FieldNumber(std::string_view field) {
  return ParseWholeNumber(Trim(field));
}

std::string TwoDigits(int value) {
  std::string text = FormatInteger(value);
  return text.size() < 2 ? "0" + text : text;
}

// The record's first line: NAME, frequencies, a non-numeric field, then MODE
// (from the first 'D' or 'P' on), CLASS and CODE.
void ParseHeadLine(std::string_view line, ProtectorRecord& record) {
  const std::size_t first_tab = line.find('\t');
  const std::string_view name = line.substr(0, first_tab);
  record.name = ProtectorMenuName(name);
  if (first_tab == std::string_view::npos) {
    record.problem = "no frequencies";
    return;
  }
  std::size_t pos = first_tab + 1;
  bool ended = false;
  while (pos <= line.size()) {
    const std::size_t tab = line.find('\t', pos);
    const std::size_t stop = tab == std::string_view::npos ? line.size() : tab;
    const std::string_view field = line.substr(pos, stop - pos);
    pos = stop + 1;
    if (const auto f = FieldNumber(field)) {
      record.frequencies_khz.push_back(*f);
    } else {
      ended = true;  // the separator field is consumed
      break;
    }
    if (tab == std::string_view::npos) break;
  }
  record.frequency_count = static_cast<int>(record.frequencies_khz.size());
  if (ended) {
    // MODE starts at the first 'D' or 'P' after the separator field.
    std::size_t mode_start = std::string_view::npos;
    for (std::size_t i = pos - 1; i < line.size(); ++i) {
      const char c = line[i];
      if (c == 'D' || c == 'd' || c == 'P' || c == 'p') {
        mode_start = i;
        break;
      }
    }
    if (mode_start != std::string_view::npos) {
      std::vector<std::string_view> rest = SplitTabs(line.substr(mode_start));
      record.mode = ToUpperAscii(Trim(rest[0]).substr(0, 4));
      if (rest.size() > 1 && !Trim(rest[1]).empty()) {
        record.protector_class = ToUpperAscii(Trim(rest[1]))[0];
      }
      std::string code = rest.size() > 2 ? ToUpperAscii(Trim(rest[2])) : std::string();
      code.resize(2, ' ');
      record.code = code;
    }
  }
  if (record.frequency_count == 0) {
    record.problem = "no frequencies";
  } else if (record.frequency_count > kMaxProtectorFrequencies) {
    record.problem = "more than 50 frequencies";
  } else if (record.mode.empty()) {
    record.problem = "no MODE field";
  } else {
    for (double f : record.frequencies_khz) {
      if (!(f > 0.0)) {
        record.problem = "a frequency that is not positive";
        break;
      }
    }
  }
  if (record.code.empty()) record.code = "  ";
  std::string mode = record.mode;
  mode.resize(4, ' ');
  record.record_string = TwoDigits(std::max(0, std::min(99, record.frequency_count - 1))) + mode +
                         std::string(1, record.protector_class) + record.code + record.name;
}

std::vector<double> ReadValues(std::string_view line, int count, const std::string& what,
                               const std::string& name) {
  const std::vector<std::string_view> fields = SplitTabs(line);
  std::vector<double> values;
  for (int i = 1; i <= count; ++i) {
    const auto v = i < static_cast<int>(fields.size()) ? FieldNumber(fields[i]) : std::nullopt;
    if (!v) {
      throw FormatError("Protector " + name + ": the " + what + " line has fewer than " +
                        FormatInteger(count) + " numbers");
    }
    values.push_back(*v);
  }
  return values;
}

std::string FormatFloatField(float value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string text(buffer, result.ptr);
  if (text.size() < 12) text.insert(0, 12 - text.size(), ' ');
  return text;
}

}  // namespace

std::string ProtectorMenuName(std::string_view name) {
  std::string out = ToUpperAscii(Trim(name));
  for (char& c : out) {
    switch (c) {
      case '"':
      case '*':
      case '-':
      case '.':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '\\':
      case '|':
        c = '_';
        break;
      default:
        break;
    }
  }
  return out;
}

std::vector<int> ProtectorTable::DefaultModeItems() const {
  std::vector<int> items;
  for (const ProtectorRecord& r : records) {
    if (r.default_mode()) items.push_back(r.index);
  }
  return items;
}

std::optional<int> ProtectorTable::FindDefaultMode(std::string_view name) const {
  const std::string wanted = ProtectorMenuName(name);
  for (const ProtectorRecord& r : records) {
    if (r.default_mode() && r.name == wanted) return r.index;
  }
  return std::nullopt;
}

ProtectorTable ParseProtectorTable(std::string_view content) {
  ProtectorTable table;
  const std::vector<Line> lines = SplitLines(content);
  for (std::size_t first = 4; first < lines.size(); first += 4) {
    if (static_cast<int>(table.records.size()) >= kMaxProtectorRecords) {
      table.truncated = true;
      break;
    }
    ProtectorRecord record;
    record.index = static_cast<int>(table.records.size());
    const Line& head = lines[first];
    ParseHeadLine(content.substr(head.begin, head.end - head.begin), record);
    if (first + 3 >= lines.size() && record.problem.empty()) {
      record.problem = "fewer than four lines";
    }
    table.records.push_back(std::move(record));
  }
  // Blank lines at the very end are not a record.
  while (!table.records.empty() && table.records.back().name.empty() &&
         table.records.back().frequency_count == 0 && table.records.back().mode.empty()) {
    table.records.pop_back();
  }
  return table;
}

ProtectorTable ReadProtectorTable(const std::filesystem::path& path) {
  return ParseProtectorTable(ReadWholeFile(path, kMaxTableBytes));
}

ProtectorCodeInfo ClassifyProtectorCode(std::string_view code, std::string_view previous_code) {
  ProtectorCodeInfo info;
  const std::string c(Trim(code));
  const char first = c.empty() ? ' ' : c[0];
  if (first == 'P' || c == "NC" || c == "NO" || c == "OP") {
    info.kind = 0;
    info.word = ProtectorKindWord::kPlug;
    info.model_code = first == 'P' ? "P" : c;
  } else if (first == 'D') {
    info.kind = 1;
    info.word = ProtectorKindWord::kPlugPlusMuff;
    info.model_code = std::string(previous_code);
  } else if (first == 'M') {
    info.kind = 1;
    info.word = ProtectorKindWord::kMuff;
    info.model_code = "M";
  } else {
    info.kind = 1;
    info.word = ProtectorKindWord::kMuff;
    info.model_code = first == 'N' ? c : std::string(previous_code);
  }
  info.power_law = info.model_code == "NO" ? 2 : 0;
  return info;
}

const char* KindText(ProtectorKindWord word) {
  switch (word) {
    case ProtectorKindWord::kPlug:
      return "Plug";
    case ProtectorKindWord::kMuff:
      return "Muff";
    case ProtectorKindWord::kPlugPlusMuff:
      return "Plug plus Muff";
  }
  return "Plug";
}

ProtectorCircuit LoadSeedValues(const std::filesystem::path& path) {
  const std::string content = ReadWholeFile(path, kMaxTableBytes);
  const std::vector<Line> lines = SplitLines(content);
  double v[14];
  for (int i = 0; i < 14; ++i) {
    const std::string_view line =
        i < static_cast<int>(lines.size())
            ? std::string_view(content).substr(lines[i].begin, lines[i].end - lines[i].begin)
            : std::string_view();
    // The number leads the line; a comment may follow it.
    const std::string_view lead = Trim(line).substr(0, Trim(line).find_first_of(" \t"));
    const auto value = ParseWholeNumber(lead);
    if (!value) {
      throw FormatError(WithFile(path.string(),
                                 "line " + FormatInteger(i + 1) + " does not start with a number"));
    }
    v[i] = *value;
  }
  for (int line : {1, 3, 8, 11}) {
    if (v[line - 1] == 0.0) {
      throw FormatError(
          WithFile(path.string(), "the compliance on line " + FormatInteger(line) + " is 0"));
    }
  }
  ProtectorCircuit c;
  c.PistonStiffness = static_cast<float>(1.0 / v[0]);
  c.PistonResistance = static_cast<float>(v[1]);
  c.SuspensionStiffness = static_cast<float>(1.0 / v[2]);
  c.SuspensionResistance = static_cast<float>(v[3]);
  c.LeakMass = static_cast<float>(v[4]);
  c.LeakResistance = static_cast<float>(v[5]);
  c.PistonMass = static_cast<float>(v[6]);
  c.CavityStiffness = static_cast<float>(1.0 / v[7]);
  c.SecondaryResistance = static_cast<float>(v[8]);
  c.SecondaryMass = static_cast<float>(v[9]);
  c.SecondaryStiffness = static_cast<float>(1.0 / v[10]);
  // Lines 12 to 14 are read but a seeded protector starts linear.
  c.SecondaryResistanceTransition = 0.0f;
  c.SecondaryMassTransition = 0.0f;
  c.SecondaryTransition = 0.0f;
  return c;
}

ProtectorData ReadProtectorData(std::string_view content, int record_index) {
  const ProtectorTable table = ParseProtectorTable(content);
  if (record_index < 0 || record_index >= static_cast<int>(table.records.size())) {
    throw Error("The protector table has no record " + FormatInteger(record_index));
  }
  ProtectorData data;
  data.record = table.records[static_cast<std::size_t>(record_index)];
  const std::string& name = data.record.name;
  if (!data.record.usable()) {
    throw FormatError("Protector " + name + " cannot be used: " + data.record.problem);
  }
  const std::vector<Line> lines = SplitLines(content);
  const std::size_t first = 4 + 4 * static_cast<std::size_t>(record_index);
  const auto line = [&](std::size_t k) {
    return content.substr(lines[first + k].begin, lines[first + k].end - lines[first + k].begin);
  };
  const int n = data.record.frequency_count;
  for (double f : data.record.frequencies_khz) data.frequencies_hz.push_back(f * 1000.0);
  data.attenuation = ReadValues(line(1), n, "attenuation", name);
  data.spread = ReadValues(line(2), n, "spread", name);
  for (int i = 0; i < n; ++i) data.target.push_back(data.attenuation[i] + 1.0 * data.spread[i]);

  const std::vector<std::string_view> fields = SplitTabs(line(3));
  const auto m1 = fields.size() > 1 ? FieldNumber(fields[1]) : std::nullopt;
  if (fields.size() > 1 && !Trim(fields[1]).empty() && !m1) {
    throw FormatError("Protector " + name + ": the circuit line does not start with a number");
  }
  if (m1 && *m1 != 0.0) {
    double v[15];
    v[0] = *m1;
    for (int i = 1; i < 15; ++i) {
      const auto value = static_cast<std::size_t>(i + 1) < fields.size()
                             ? FieldNumber(fields[i + 1])
                             : std::nullopt;
      if (!value) {
        throw FormatError("Protector " + name + ": the circuit line has fewer than 15 numbers");
      }
      v[i] = *value;
    }
    ProtectorCircuit c;
    c.PistonMass = static_cast<float>(v[0]);
    c.CavityStiffness = static_cast<float>(v[1]);
    c.SuspensionStiffness = static_cast<float>(v[2]);
    c.SuspensionResistance = static_cast<float>(v[3]);
    c.PistonStiffness = static_cast<float>(v[4]);
    c.PistonResistance = static_cast<float>(v[5]);
    c.LeakMass = static_cast<float>(v[6]);
    c.LeakResistance = static_cast<float>(v[7]);
    c.SecondaryStiffness = static_cast<float>(v[8]);
    c.SecondaryMass = static_cast<float>(v[9]);
    c.SecondaryResistance = static_cast<float>(v[10]);
    c.CushionTransition = static_cast<float>(v[11]);
    c.SecondaryTransition = static_cast<float>(v[12]);
    c.LeakMassTransition = static_cast<float>(v[13]);
    c.LeakResistanceTransition = static_cast<float>(v[14]);
    // One stored coefficient governs the whole secondary piston.
    c.SecondaryMassTransition = c.SecondaryTransition;
    c.SecondaryResistanceTransition = c.SecondaryTransition;
    data.circuit = c;
  }
  return data;
}

std::string FormatCircuitLine(const ProtectorCircuit& c) {
  const float values[15] = {c.PistonMass,
                            c.CavityStiffness,
                            c.SuspensionStiffness,
                            c.SuspensionResistance,
                            c.PistonStiffness,
                            c.PistonResistance,
                            c.LeakMass,
                            c.LeakResistance,
                            c.SecondaryStiffness,
                            c.SecondaryMass,
                            c.SecondaryResistance,
                            c.CushionTransition,
                            c.SecondaryTransition,
                            c.LeakMassTransition,
                            c.LeakResistanceTransition};
  std::string line = "\t";
  for (float v : values) {
    line += FormatFloatField(v);
    line += '\t';
  }
  line += "Electro-acoustic Circuit Values";
  return line;
}

std::string ReplaceCircuitLine(std::string_view content, int record_index,
                               const ProtectorCircuit& circuit) {
  const std::vector<Line> lines = SplitLines(content);
  const std::size_t k = 4 + 4 * static_cast<std::size_t>(record_index) + 3;
  if (record_index < 0 || k >= lines.size()) {
    throw Error("The protector table has no circuit line for record " +
                FormatInteger(record_index));
  }
  std::string out(content.substr(0, lines[k].begin));
  out += FormatCircuitLine(circuit);
  out += "\r\n";
  out += content.substr(lines[k].next);
  return out;
}

ProtectorTableChoice ChooseProtectorTable(const std::optional<std::filesystem::path>& given) {
  if (given) {
    return {*given, given->has_parent_path() ? given->parent_path() : std::filesystem::path("."),
            std::nullopt};
  }
  if (const auto dir = FindDataDir(kProtectorTableName)) {
    return {DataFileForReading(*dir, kProtectorTableName), *dir, *dir};
  }
  throw IoError(std::string("\"") + kProtectorTableName +
                "\" not found in the current folder, in $KORVA_DATA_DIR or in the data folder");
}

}  // namespace korva
