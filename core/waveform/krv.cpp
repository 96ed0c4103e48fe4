#include "core/waveform/krv.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/header_cells.h"

namespace fs = std::filesystem;

namespace korva {
namespace {

constexpr int kLastGridRow = HeaderGrid::kRows - 1;
// Deviates of the dither have a standard deviation of the peak over 2^17:
// far below anything a recording resolves, enough to break exact ties and
// silences that would otherwise give logarithms of zero downstream.
constexpr double kDitherDivisor = 131072.0;
// Values from here on round to infinity when stored as singles (the largest
// single plus half its last unit).
constexpr double kSingleOverflow = 3.4028235677973366e38;
// How many samples are parsed between two progress reports.
constexpr std::size_t kSamplesPerReport = 1 << 16;

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

bool IsFieldSeparator(char c) {
  return c == '\t' || IsLineEnd(c);
}

bool IsSampleSeparator(char c) {
  return c == ' ' || IsLineEnd(c);
}

// The lines at the start of the file that hold at least one TAB. Stops one
// past the grid's 30 rows: more than that is refused by the caller.
int CountHeaderLines(std::string_view buffer) {
  std::size_t p = 0;
  int lines = 0;
  while (p < buffer.size() && lines <= HeaderGrid::kRows) {
    bool has_tab = false;
    while (p < buffer.size() && !IsLineEnd(buffer[p])) {
      if (buffer[p] == '\t') has_tab = true;
      ++p;
    }
    if (!has_tab) break;
    ++lines;
    while (p < buffer.size() && IsLineEnd(buffer[p])) ++p;
  }
  return lines;
}

// The writer ends every cell with one blank so that an empty cell still
// makes a visible field; dropping exactly that blank gives back the cell as
// it was, so Open/Save cycles do not grow the cells. Hand-made files without
// the blank lose nothing but a trailing blank of their own.
std::string DropWriterBlank(std::string field) {
  if (!field.empty() && field.back() == ' ') field.pop_back();
  return field;
}

// Everything a read takes from the file, before any of it reaches the session.
struct ParsedKrv {
  HeaderGrid grid;
  int header_last_row = 0;
  std::vector<float> samples;  // the n values read, later dithered and rounded in length
  std::int32_t count_read = 0;
  // The count header row 4 gave, when it gave a whole number.
  std::optional<long long> header_count;
  float maximum = 0.0f;
  float minimum = 0.0f;
  float sample_rate = 0.0f;
  std::int32_t mic_location = 1;
};

enum class Reader { kAnalysis, kOverlay };

// Steps shared by both readers: the header (with the legacy remap), the
// samples, their extremes and the rate. Validates every limit before the
// caller changes anything.
ParsedKrv ParseKrv(const Session& session, std::string_view bytes, const std::string& name,
                   Reader reader, ProgressSink& progress) {
  if (bytes.size() > kMaxKrvBytes) {
    throw RangeError(
        WithFile(name, "the file is larger than " + std::to_string(kMaxKrvBytes) + " bytes"));
  }
  ParsedKrv parsed;
  parsed.grid = session.Grid;

  const int header_lines = CountHeaderLines(bytes);
  if (header_lines == 0) {
    throw FormatError(WithFile(name, "not a KRV waveform file: no header lines"));
  }
  if (header_lines > HeaderGrid::kRows) {
    throw FormatError(WithFile(name, "more than 30 header lines"));
  }
  parsed.header_last_row = header_lines - 1;

  std::size_t position = 0;
  const long long total = static_cast<long long>(bytes.size());
  for (int row = 0; row <= parsed.header_last_row; ++row) {
    for (int column = 0; column < HeaderGrid::kColumns; ++column) {
      parsed.grid.Cell(column, row) = DropWriterBlank(ReadHeaderField(bytes, position));
      progress.Checkpoint(static_cast<long long>(position), total);
    }
  }

  // Older files put the title in row 2, the rate in row 3 and the location
  // in row 13 of a 30-line header. A 30-line header written by this program
  // has the rate (a number of at least 1) in row 2, where the older layout
  // has the title row with its empty value cell.
  const bool legacy = parsed.header_last_row == kLastGridRow &&
                      !(CellNumber(parsed.grid.Cell(1, 2)).value_or(0.0) >= 1.0);
  if (legacy) {
    HeaderGrid& g = parsed.grid;
    const std::array<int, 3> from = {2, 3, 13};
    std::array<std::array<std::string, 3>, 3> moved;
    for (int i = 0; i < 3; ++i) {
      for (int column = 0; column < 3; ++column) moved[i][column] = g.Cell(column, from[i]);
    }
    for (int i = 0; i < 3; ++i) g.SetRow(i + 1, moved[i][0], moved[i][1], moved[i][2]);
    g.Cell(0, 4) = "Number of samples";
    for (int row = 5; row <= kLastGridRow; ++row) g.ClearRow(row);
    parsed.header_last_row = 4;
  }

  if (!legacy) parsed.header_count = CellWholeNumber(parsed.grid.Cell(1, 4));

  if (reader == Reader::kAnalysis) {
    parsed.grid.ResetResultRows();
    for (int row = 12; row <= 21; ++row) parsed.grid.ClearRow(row);
  } else {
    for (int row = parsed.header_last_row + 1; row <= kLastGridRow; ++row) {
      parsed.grid.ClearRow(row);
    }
    static const std::array<std::pair<const char*, const char*>, 12> kOverlayRows = {{
        {"Number of samples", ""},
        {"Nu", "allowed number of unwarned exposures"},
        {"Nw", "allowed number of warned exposures"},
        {"Peak pressure level", "dB"},
        {"Establish start level", "dB"},
        {"LAeq8hr", "dB"},
        {"Na", "allowed number of exposures based on A-weight energy at eardrum of manikin"},
        {"A-weighted energy", "joules per square meter"},
        {"N1", "allowed number of single hearing protected exposures MIL-STD-1474D"},
        {"N2", "allowed number of double hearing protected exposures"},
        {"Ta", "A-duration milliseconds"},
        {"Tb", "B-duration milliseconds"},
    }};
    for (int i = 0; i < static_cast<int>(kOverlayRows.size()); ++i) {
      parsed.grid.Cell(0, 4 + i) = kOverlayRows[i].first;
      // Row 4's comment is the one the file gave; the others are fixed texts.
      if (i > 0) parsed.grid.Cell(2, 4 + i) = kOverlayRows[i].second;
    }
  }

  // Samples: tokens separated by runs of blanks and line ends.
  const std::size_t capacity = static_cast<std::size_t>(session.SampleCapacity());
  while (position < bytes.size() && bytes[position] == ' ') ++position;
  parsed.samples.reserve(std::min(capacity, bytes.size() / 4 + 1));
  while (position < bytes.size()) {
    const std::size_t start = position;
    while (position < bytes.size() && !IsSampleSeparator(bytes[position])) ++position;
    const std::string_view token = bytes.substr(start, position - start);
    if (parsed.samples.size() >= capacity) {
      throw RangeError(WithFile(
          name, "more samples than the " + FormatInteger(capacity) + " the session can hold"));
    }
    const double number = ParseLeadingNumber(token);
    if (std::fabs(number) >= kSingleOverflow) {
      throw FormatError(WithFile(name, "sample " + FormatInteger(parsed.samples.size() + 1) +
                                           " (\"" + std::string(token.substr(0, 40)) +
                                           "\") is beyond the single-precision range"));
    }
    parsed.samples.push_back(static_cast<float>(number));
    while (position < bytes.size() && IsSampleSeparator(bytes[position])) ++position;
    if (parsed.samples.size() % kSamplesPerReport == 0) {
      progress.Checkpoint(static_cast<long long>(position), total);
    }
  }
  progress.Checkpoint(total, total);

  if (parsed.samples.empty()) throw FormatError(WithFile(name, "no samples after the header"));
  if (parsed.samples.size() < 2) {
    throw FormatError(WithFile(name, "only one sample; a waveform needs at least two"));
  }
  parsed.count_read = static_cast<std::int32_t>(parsed.samples.size());
  const std::int32_t rounded = PowerOfTwoLength(parsed.count_read);
  if (static_cast<std::size_t>(rounded) > capacity) {
    throw RangeError(WithFile(name, "the waveform rounded to " + FormatInteger(rounded) +
                                        " samples exceeds the " + FormatInteger(capacity) +
                                        " the session can hold"));
  }

  // A rate that is not a number of at least 1 would give an infinite or
  // negative sampling interval and break every time axis.
  const double rate = CellNumber(parsed.grid.Cell(1, 2)).value_or(0.0);
  if (!(rate >= 1.0) || rate > std::numeric_limits<float>::max()) {
    throw FormatError(WithFile(name, "the sampling rate in header row 2 (\"" +
                                         parsed.grid.Cell(1, 2) +
                                         "\") is not a number of at least 1"));
  }
  parsed.sample_rate = static_cast<float>(rate);
  // A location that is no whole number opens (the header may be mended in
  // the grid) but is shown as 0, which no analysis accepts.
  const std::optional<long long> location = MicLocationCell(parsed.grid);
  parsed.mic_location =
      location && std::llabs(*location) <= std::numeric_limits<std::int32_t>::max()
          ? static_cast<std::int32_t>(*location)
          : 0;
  parsed.grid.Cell(1, 4) = FormatInteger(parsed.count_read);

  // Extremes by the session's rule, starting from the first sample.
  parsed.maximum = parsed.minimum = parsed.samples.front();
  for (const float p : parsed.samples) {
    if (p > parsed.maximum) parsed.maximum = p;
    if (p < parsed.minimum) parsed.minimum = p;
  }
  return parsed;
}

// The file a reader opens, whole.
std::string ReadKrvFile(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw IoError(WithFile(path.string(), "a folder, not a file"));
  return ReadWholeFile(path, kMaxKrvBytes);
}

// A file whose header counts more samples than follow it was cut short
// (a copy that stopped, a disk that filled): it still opens, with a warning.
std::string TruncationWarning(const std::string& name, const ParsedKrv& parsed) {
  if (!parsed.header_count || *parsed.header_count <= parsed.count_read) return {};
  return WithFile(name, "the header gives " + FormatInteger(*parsed.header_count) +
                            " samples but only " + FormatInteger(parsed.count_read) +
                            " were read: the file may be truncated");
}

// Steps common to both readers once the samples are final.
void CommitCommon(Session& session, ParsedKrv& parsed, const std::string& name) {
  session.ReadWarning = TruncationWarning(name, parsed);
  if (!session.ReadWarning.empty()) Warn(session.ReadWarning);
  const auto count = static_cast<std::int32_t>(parsed.samples.size());
  session.Pressure.Assign(parsed.samples);

  session.Grid = std::move(parsed.grid);
  session.HeaderLastRow = parsed.header_last_row;
  session.LastSample = count - 1;
  session.MicLocation = parsed.mic_location;
  session.WaveformTitle = session.Grid.Cell(2, 1);
  session.SampleRate = parsed.sample_rate;
  session.SampleInterval = static_cast<float>(1.0 / static_cast<double>(parsed.sample_rate));
  session.SelFirst = 0;
  session.SelLast = session.LastSample;
  session.StartTime = 0.0f;
  session.EndTime = static_cast<float>(static_cast<double>(session.LastSample) *
                                       static_cast<double>(session.SampleInterval));
  session.WaveformLoaded = true;
}

// Pads with `fill()` or drops samples so that the count becomes the rounded length.
template <class Fill>
void RoundLength(std::vector<float>& samples, Fill fill) {
  const auto rounded =
      static_cast<std::size_t>(PowerOfTwoLength(static_cast<std::int32_t>(samples.size())));
  if (rounded < samples.size()) samples.resize(rounded);
  while (samples.size() < rounded) samples.push_back(fill());
}

// Cell text as written: TAB, CR and LF would split the row, so they become blanks.
void AppendCell(std::string& out, const std::string& cell) {
  for (const char c : cell) out.push_back(IsFieldSeparator(c) ? ' ' : c);
  out.push_back(' ');
}

void AppendRow(std::string& out, const HeaderGrid& grid, int row) {
  AppendCell(out, grid.Cell(0, row));
  out.push_back('\t');
  AppendCell(out, grid.Cell(1, row));
  out.push_back('\t');
  AppendCell(out, grid.Cell(2, row));
  out += "\r\n";
}

// The last row a save writes: the last one in use, empty rows between kept
// in place (rows typed below the results, 22 to 29, would otherwise move up
// into the rows the next Open empties). Save and Save As write the same.
int LastRowInUse(const HeaderGrid& grid) {
  int last_row = 0;
  for (int row = 0; row <= kLastGridRow; ++row) {
    if (!grid.RowEmpty(row)) last_row = row;
  }
  return last_row;
}

// Whether the working waveform is still exactly what Open made of the file:
// then a save writes the samples the file held, not the dither.
bool UntouchedSinceOpen(const Session& session) {
  const SampleArray& file = session.FileSamples;
  if (file.empty() || session.LastSample < 0 ||
      session.LoadedPressure.size() != session.SampleCount()) {
    return false;
  }
  const auto working = session.Pressure.Range(0, session.LastSample);
  const auto loaded = session.LoadedPressure.Range(0, session.LastSample);
  return std::equal(working.begin(), working.end(), loaded.begin(), loaded.end(),
                    [](float a, float b) {
                      return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
                    });
}

// The whole file text of rows 0..last_row (row 4 counting the samples
// written) and `samples`, padded with zeros to `count`. Refuses before
// anything is written.
std::string BuildKrvText(const Session& session, std::span<const float> samples, std::int32_t count,
                         const std::string& name) {
  HeaderGrid grid = session.Grid;
  grid.Cell(1, 4) = FormatInteger(count);
  const int last_row = LastRowInUse(grid);
  std::string out;
  out.reserve(static_cast<std::size_t>(last_row + 1) * 96 + static_cast<std::size_t>(count) * 12);
  for (int row = 0; row <= last_row; ++row) AppendRow(out, grid, row);
  const std::int32_t kept = std::min(static_cast<std::int32_t>(samples.size()), count);
  samples = samples.first(static_cast<std::size_t>(kept));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (!std::isfinite(samples[i])) {
      throw FormatError(WithFile(name, "sample " + FormatInteger(static_cast<long long>(i)) +
                                           " is not a finite number; nothing was written"));
    }
    out += FloatToCompactStr(samples[i]);
    out += "\r\n";
  }
  for (std::int32_t i = kept; i < count; ++i) out += "0.0000E0\r\n";
  return out;
}

// Checks shared by both writers, done before the file is touched.
std::int32_t CheckedRoundedLength(const Session& session, const std::string& name) {
  if (session.LastSample < 0) throw FormatError(WithFile(name, "there is no waveform to save"));
  const std::int32_t rounded = PowerOfTwoLength(session.SampleCount());
  if (rounded > session.SampleCapacity()) {
    throw RangeError(WithFile(name, "the waveform rounded to " + FormatInteger(rounded) +
                                        " samples exceeds the capacity of " +
                                        FormatInteger(session.SampleCapacity())));
  }
  return rounded;
}

// What a save writes for the session as it stands: the samples the file
// held while the waveform is untouched since Open, else the working ones
// padded to the rounded length.
std::string SavedText(const Session& session, const std::string& name) {
  if (UntouchedSinceOpen(session)) {
    const auto samples =
        std::as_const(session.FileSamples).Range(0, session.FileSamples.size() - 1);
    return BuildKrvText(session, samples, session.FileSamples.size(), name);
  }
  const auto samples = std::as_const(session.Pressure).Range(0, session.LastSample);
  return BuildKrvText(session, samples, CheckedRoundedLength(session, name), name);
}

void WriteAndCommit(Session& session, const fs::path& target) {
  const std::string name = target.string();
  const bool untouched = UntouchedSinceOpen(session);
  const std::int32_t rounded =
      untouched ? session.FileSamples.size() : CheckedRoundedLength(session, name);
  WriteFileAtomically(target, SavedText(session, name));
  if (!untouched) {
    const std::int32_t count = session.SampleCount();
    if (rounded > count) session.Pressure.Fill(count, rounded - 1, 0.0f);
    session.LastSample = rounded - 1;
  }
  session.Grid.Cell(1, 4) = FormatInteger(rounded);
  session.WaveformLoaded = false;
}

void CheckSaveAsLength(const Session& session) {
  if (session.LastSample > kMaxSaveAsSamples - 1) {
    throw RangeError("Waveforms longer than 1,048,576 samples cannot be saved with Save As.");
  }
}

// Upper-case extension from the last "." of a file name, at most 4 characters.
std::string ShortExtension(const std::string& upper_name) {
  const std::size_t dot = upper_name.rfind('.');
  if (dot == std::string::npos) return {};
  return upper_name.substr(dot, 4);
}

}  // namespace

std::string FloatToCompactStr(float value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0.0f) return "0.0000E0";

  // Five digits of the value as it reads (the shortest decimal that gives
  // back the same single), halves rounded away from zero: 9.99995 is written
  // 1.0000E1, not 9.9999E0 as its binary expansion 9.9999494... would give.
  // Subnormal values carry too few bits for their shortest text to show five
  // digits (1.4E-45 reads as "1e-45"): they are rounded from their exact value.
  std::array<char, 48> buffer{};
  const bool subnormal = std::fabs(value) < std::numeric_limits<float>::min();
  const auto result = subnormal ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                                std::chars_format::scientific, 4)
                                : std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                                std::chars_format::scientific);
  const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  const bool negative = text.front() == '-';
  const std::size_t e = text.find('e');
  std::string digits;
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') digits.push_back(text[i]);
  }
  long long exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);

  if (digits.size() > 5) {
    const bool up = digits[5] >= '5';
    digits.resize(5);
    if (up) {
      int i = 4;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        digits.resize(5);
        ++exponent;
      } else {
        ++digits[i];
      }
    }
  }
  digits.resize(5, '0');

  std::string out = negative ? "-" : "";
  out += digits[0];
  out += '.';
  out.append(digits, 1, 4);
  out += 'E';
  out += FormatInteger(exponent);
  return out;
}

std::string ReadHeaderField(std::string_view buffer, std::size_t& position) {
  position = std::min(position, buffer.size());
  std::string field;
  if (position < buffer.size() && buffer[position] == '\t') field = " ";
  const std::size_t start = position;
  while (position < buffer.size() && !IsFieldSeparator(buffer[position])) ++position;
  field.append(buffer.substr(start, position - start));
  while (position < buffer.size() && IsFieldSeparator(buffer[position])) ++position;
  return field;
}

std::int32_t PowerOfTwoLength(std::int32_t count) {
  if (count < 1) throw RangeError("power-of-two length of " + FormatInteger(count) + " samples");
  const float l = std::log2(static_cast<float>(count));
  int k = static_cast<int>(l);
  if (static_cast<double>(l) - k > 0.025) ++k;
  if (k > 30) throw RangeError("power-of-two length of " + FormatInteger(count) + " samples");
  return std::int32_t{1} << k;
}

void ChooseWaveformFile(Session& session, const fs::path& chosen) {
  std::error_code ec;
  fs::path folder = chosen.parent_path();
  folder = folder.empty() ? fs::current_path(ec) : fs::absolute(folder, ec);
  if (ec) folder = chosen.parent_path();

  const std::string upper = ToUpperAscii(chosen.filename().string());
  const std::size_t last_dot = upper.rfind('.');
  const std::string full_extension = last_dot == std::string::npos ? "" : upper.substr(last_dot);

  session.WaveformDir = folder.string();
  session.FileExt = ShortExtension(upper);
  session.BaseName = upper.substr(0, upper.find('.'));
  // A chosen KRV file is read as it is: cutting "SHOT.2.KRV" at its first
  // "." would read SHOT.KRV, another recording. Other files (a WAV picked
  // through "All Files") lead to the KRV file of the same base name.
  session.DataFileName = full_extension == ".KRV" ? upper : session.BaseName + ".KRV";
}

fs::path WaveformPath(const Session& session) {
  return ResolveCaseInsensitive(fs::path(session.WaveformDir) / session.DataFileName);
}

void OpenNewFileType5(Session& session, ProgressSink& progress) {
  const fs::path path = WaveformPath(session);
  OpenKrvText(session, ReadKrvFile(path), path.string(), progress);
}

void OpenKrvText(Session& session, std::string_view text, const std::string& name,
                 ProgressSink& progress) {
  ParsedKrv parsed = ParseKrv(session, text, name, Reader::kAnalysis, progress);
  std::vector<float> as_read = parsed.samples;

  // Reseeded on every read so that opening the same file twice gives the
  // same samples, bit for bit.
  Lcg generator(1);
  const double deviation = static_cast<double>(parsed.maximum) / kDitherDivisor;
  for (float& p : parsed.samples) {
    p = static_cast<float>(static_cast<double>(p) + generator.Gaussian(deviation));
  }
  RoundLength(parsed.samples, [&] { return static_cast<float>(generator.Gaussian(deviation)); });

  if (!session.KeepPlotRange) {
    session.PeakPressure = parsed.maximum;
    session.MinPressure = parsed.minimum;
  }
  CommitCommon(session, parsed, name);
  session.FileSamples.Assign(as_read);
  session.FftLength = session.LastSample + 1;  // 2^(trunc(log2 LastSample) + 1) for a power of two
  const auto pressure = std::as_const(session.Pressure).Range(0, session.LastSample);
  session.LoadedPressure.Assign(pressure);

  // Summed in single precision, as the stored energies always were.
  float sum = 0.0f;
  for (const float p : pressure) {
    sum = static_cast<float>(static_cast<double>(sum) +
                             static_cast<double>(p) * static_cast<double>(p));
  }
  session.UnweightedEnergy = static_cast<float>(
      static_cast<double>(sum) * static_cast<double>(session.SampleInterval) / 415.0);
}

void OpenNewFileType6(Session& session, Lcg& generator, ProgressSink& progress) {
  const fs::path path = WaveformPath(session);
  ParsedKrv parsed =
      ParseKrv(session, ReadKrvFile(path), path.string(), Reader::kOverlay, progress);

  const double scale = static_cast<double>(parsed.maximum) / kDitherDivisor;
  for (float& p : parsed.samples) {
    p = static_cast<float>(static_cast<double>(p) + (generator.Uniform() - 0.5) * scale);
  }
  RoundLength(parsed.samples, [] { return 0.0f; });

  session.PeakPressure = parsed.maximum;
  session.MinPressure = parsed.minimum;
  CommitCommon(session, parsed, path.string());
  session.FileSamples.Release();
}

void OpenWaveform(Session& session, const fs::path& chosen, ProgressSink& progress) {
  // A failed read leaves the names as they were, not pointing at a file
  // whose contents never arrived.
  const std::string dir = session.WaveformDir;
  const std::string data_name = session.DataFileName;
  const std::string base = session.BaseName;
  const std::string ext = session.FileExt;
  const bool keep_range = session.KeepPlotRange;
  ChooseWaveformFile(session, chosen);
  session.KeepPlotRange = false;
  try {
    // A name that is not there, nor its KRV file, is reported as given
    // ("day.flac: no such file"), not as the KRV file the rule looked for.
    std::error_code ec;
    if (!fs::exists(chosen, ec) && !fs::exists(WaveformPath(session), ec)) {
      throw IoError(WithFile(chosen.string(), "no such file"));
    }
    OpenNewFileType5(session, progress);
  } catch (...) {
    session.WaveformDir = dir;
    session.DataFileName = data_name;
    session.BaseName = base;
    session.FileExt = ext;
    session.KeepPlotRange = keep_range;
    throw;
  }
  session.ImportedWaveform = false;
  session.ClearPlotFirst = true;
  session.SavedStartTime = session.StartTime;
  session.SavedEndTime = session.EndTime;
}

std::string SaveAsText(const Session& session, const std::string& name) {
  CheckSaveAsLength(session);
  return SavedText(session, name);
}

void SaveKrv(Session& session, const fs::path& target) {
  WriteAndCommit(session, target);
}

void SaveKrv(Session& session) {
  SaveKrv(session, WaveformPath(session));
}

fs::path SaveKrvAs(Session& session, const fs::path& chosen) {
  const std::string name = chosen.filename().string();
  CheckSaveAsLength(session);
  const fs::path target = chosen.parent_path() / (name.substr(0, name.find('.')) + ".KRV");
  WriteAndCommit(session, target);
  session.FileExt = ShortExtension(ToUpperAscii(name));
  session.HeaderLastRow = kLastGridRow;
  return target;
}

}  // namespace korva
