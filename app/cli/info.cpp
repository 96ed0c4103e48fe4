// korva-cli info: opens each file as the window's Open does and prints what
// the session then holds: the header rows, the counts read and analysed,
// rate, microphone location, extremes, peak level and unweighted energy.
#include <array>
#include <charconv>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/waveform/header_cells.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

// Nine significant digits: enough for another program to recover every
// single exactly.
std::string NineDigits(float value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                    static_cast<double>(value), std::chars_format::general, 9);
  return std::string(buffer.data(), result.ptr);
}

std::string MicLocationText(std::int32_t location) {
  switch (location) {
    case 1:
      return "free field";
    case 2:
      return "ear-canal entrance";
    case 3:
      return "eardrum";
    case 4:
      return "analysed as free field";
    default:
      return "not a known location";
  }
}

// The peak level as the grid states it, 94 dB for 1 Pa; nothing for a zero
// peak.
std::optional<double> PeakLevel(float peak) {
  if (peak == 0.0f) return std::nullopt;
  return Level94Db(peak);
}

// The header rows the file supplied and Open kept: 0 to 4 (row 4 holding the
// count read) and any of 22 to 29 in a longer header. Rows 5 to 21 are the
// result rows that Open resets.
std::vector<int> KeptHeaderRows(const Session& s) {
  std::vector<int> rows = {0, 1, 2, 3, 4};
  for (int row = 22; row <= s.HeaderLastRow && row < HeaderGrid::kRows; ++row) {
    if (!s.Grid.RowEmpty(row)) rows.push_back(row);
  }
  return rows;
}

void PrintText(const std::string& file, const Session& s, std::ostream& out) {
  out << file;
  const std::string read = WaveformPath(s).string();
  if (read != file) out << " (read " << read << ")";
  out << "\n";
  for (const int row : KeptHeaderRows(s)) {
    out << "  " << s.Grid.Cell(0, row) << " | " << s.Grid.Cell(1, row) << " | "
        << s.Grid.Cell(2, row) << "\n";
  }
  const auto level = PeakLevel(s.PeakPressure);
  out << "  samples read:        " << s.Grid.Cell(1, 4) << "\n"
      << "  samples analysed:    " << FormatInteger(s.SampleCount()) << "\n"
      << "  sample rate:         " << ShortestSingle(s.SampleRate) << " samples/s\n"
      << "  microphone location: " << FormatInteger(s.MicLocation) << " ("
      << MicLocationText(s.MicLocation) << ")\n"
      << "  peak pressure:       " << ShortestSingle(s.PeakPressure) << " Pa\n"
      << "  minimum pressure:    " << ShortestSingle(s.MinPressure) << " Pa\n"
      << "  peak level:          "
      << (level ? FormatFixed(*level, 2) + " " + kUnitDb94 : "none (zero peak)") << "\n"
      << "  unweighted energy:   " << ShortestSingle(s.UnweightedEnergy) << " J/m^2\n";
}

void PrintJson(const std::string& file, const Session& s, bool with_samples, std::ostream& out) {
  const auto level = PeakLevel(s.PeakPressure);
  out << "{\"file\": " << JsonString(file) << ", \"read\": " << JsonString(WaveformPath(s).string())
      << ", \"samples_read\": " << FormatInteger(CellWholeNumber(s.Grid.Cell(1, 4)).value_or(0))
      << ", \"samples\": " << FormatInteger(s.SampleCount())
      << ", \"sample_rate\": " << ShortestSingle(s.SampleRate)
      << ", \"mic_location\": " << FormatInteger(s.MicLocation)
      << ", \"title\": " << JsonString(s.WaveformTitle)
      << ", \"peak_pa\": " << ShortestSingle(s.PeakPressure)
      << ", \"min_pa\": " << ShortestSingle(s.MinPressure)
      << ", \"peak_level_db\": " << (level ? FormatFixed(*level, 2) : "null")
      << ", \"unweighted_energy\": " << ShortestSingle(s.UnweightedEnergy) << ", \"header\": [";
  const std::vector<int> rows = KeptHeaderRows(s);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out << (i == 0 ? "" : ", ") << "[" << JsonString(s.Grid.Cell(0, rows[i])) << ", "
        << JsonString(s.Grid.Cell(1, rows[i])) << ", " << JsonString(s.Grid.Cell(2, rows[i]))
        << "]";
  }
  out << "]";
  if (with_samples) {
    out << ", \"sample_values\": [";
    const auto samples = s.Pressure.Range(0, s.LastSample);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      out << (i == 0 ? "" : ", ") << NineDigits(samples[i]);
    }
    out << "]";
  }
  out << "}\n";
}

void PrintSamples(const Session& s, std::ostream& out) {
  std::string text;
  for (const float p : s.Pressure.Range(0, s.LastSample)) {
    text += NineDigits(p);
    text += '\n';
  }
  out << text;
}

int RunInfo(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {}, {"--json", "--samples"});
  if (args.Positional().empty()) throw UsageError("give at least one KRV file");
  const bool json = args.Has("--json");
  const bool samples = args.Has("--samples");
  return ForEachWaveform(args.Positional(), io, [&](const std::string& file, Session& session) {
    if (json) {
      PrintJson(file, session, samples, io.out);
    } else if (samples) {
      PrintSamples(session, io.out);
    } else {
      PrintText(file, session, io.out);
    }
  });
}

KORVA_CLI_COMMAND(
    {"info", "show the header, counts, extremes and energy of KRV waveform files",
     "Usage: korva-cli info FILE... [--json] [--samples]\n"
     "Opens each FILE as the window's Open does (for a file that is not .KRV, the\n"
     "KRV file of the same base name in its folder, found whatever its case) and\n"
     "prints the header rows, the number of samples read and analysed (after the\n"
     "power-of-two rule), the sample rate, the microphone location, the peak and\n"
     "minimum pressure in Pa, the peak level (20 log10 |peak| + 94 dB, as the grid\n"
     "states levels: \"dB (94 dB = 1 Pa)\", 0.02 dB above dB re 20 uPa) and the\n"
     "unweighted energy in J/m^2.\n\n"
     "  --json     one JSON object per file and line, with the keys file, read,\n"
     "             samples_read, samples, sample_rate, mic_location, title, peak_pa,\n"
     "             min_pa, peak_level_db (null for a zero peak), unweighted_energy\n"
     "             and header (the rows shown above)\n"
     "  --samples  print instead the samples as analysed (dithered, power-of-two\n"
     "             length), one per line with 9 significant digits; several files\n"
     "             follow one another. With --json: a sample_values array.\n"
     "A file that cannot be read is reported on stderr; the others are still shown,\n"
     "and the exit status is 1.\n",
     &RunInfo});

}  // namespace
}  // namespace korva::cli
