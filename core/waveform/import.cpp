#include "core/waveform/import.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/prompts.h"

namespace korva {

const char* const kBinaryIntegerQuestion =
    "This file may contain 16 bit binary integers. \r\n"
    "Click YES if it is a standard binary file.\r\n"
    "Click NO  if it is a byte-reversed binary file.\r\n"
    "Click Cancel otherwise to examine the file with a HEXADECIMAL editor.";

std::string SpreadsheetQuestion(long long columns) {
  return FormatInteger(columns) +
         " columns of numbers were detected.  This could be interpreted as a spread-sheet "
         "with the waveform as one of the columns.  It could also be a single row of numbers "
         "which may be word-wrapped into multiple lines.\r\n"
         "Click YES if this is a spread-sheet.\r\n"
         "Click NO  if this is a word-wrapped waveform.\r\n"
         "Click Cancel otherwise to examine the file with a word-processor.";
}

std::string LargeFileMessage(std::uint64_t file_size, std::uint64_t limit) {
  return "File size of " + FormatInteger(static_cast<long long>(file_size)) +
         " bytes exceeds input buffer limit of " + FormatInteger(static_cast<long long>(limit)) +
         ". Assume 4 ASCII data channels are multiplexed at each time point and are separated by "
         "delimiters such as comma, tab, space, CR or LF characters.  The default channel number "
         "is 0. The data will be read directly from the disk and only the selected channel will "
         "be saved. Hit OK to edit these values.\r\n";
}

namespace {

constexpr const char* kQuestionTitle = "Confirm";
constexpr const char* kImportTitle = "Import waveform";

using Byte = unsigned char;

Byte At(std::string_view bytes, std::size_t i) {
  return static_cast<Byte>(bytes[i]);
}

std::uint16_t Le16(std::string_view b, std::size_t i) {
  return static_cast<std::uint16_t>(At(b, i) | (At(b, i + 1) << 8));
}

std::uint32_t Le32(std::string_view b, std::size_t i) {
  return static_cast<std::uint32_t>(Le16(b, i)) |
         (static_cast<std::uint32_t>(Le16(b, i + 2)) << 16);
}

std::uint64_t Le64(std::string_view b, std::size_t i) {
  return static_cast<std::uint64_t>(Le32(b, i)) |
         (static_cast<std::uint64_t>(Le32(b, i + 4)) << 32);
}

bool IsPlainTextByte(Byte b) {
  return b == 0 || (b >= 8 && b <= 13) || b == 26 || (b >= 32 && b <= 127);
}

bool IsNumericTextByte(Byte b) {
  return (b >= 8 && b <= 13) || b == 26 || b == ' ' || b == '+' || b == ',' || b == '-' ||
         b == '.' || b == '/' || (b >= '0' && b <= '9') || b == 'E' || b == 'e';
}

bool IsLineEnd(Byte b) {
  return b == '\r' || b == '\n';
}

// Separators between numbers in text: TAB, LF, CR, blank and comma.
bool IsSeparator(Byte b) {
  return b == '\t' || b == '\n' || b == '\r' || b == ' ' || b == ',';
}

// Samples are single precision: a value that does not fit (or is not a
// number at all) would poison every later computation, so it stops the read.
float ToSample(double value, std::size_t index) {
  const float sample = static_cast<float>(value);
  if (!std::isfinite(sample)) {
    throw FormatError("value number " + FormatInteger(static_cast<long long>(index) + 1) +
                      " is not a finite single-precision number");
  }
  return sample;
}

// What a path decoded, waiting to be committed to the session.
struct Decoded {
  std::vector<float> samples;
  double rate = kDefaultImportRate;
  std::optional<std::string> description;
};

std::string RateText(float rate) {
  return FormatFixed(rate, 0);
}

// Writes the decoded waveform into the session and runs the final step. All
// checks come first, so that a refusal changes nothing.
void Commit(Session& session, Decoded& decoded, const std::string& too_few) {
  const std::size_t count = decoded.samples.size();
  if (count < 2) throw FormatError(too_few);
  if (count > static_cast<std::size_t>(session.SampleCapacity())) {
    throw RangeError(FormatInteger(static_cast<long long>(count)) +
                     " samples exceed the sample capacity of " +
                     FormatInteger(session.SampleCapacity()));
  }
  const float rate = static_cast<float>(decoded.rate);
  if (!std::isfinite(rate) || rate <= 0.0f || !std::isfinite(1.0f / rate)) {
    throw FormatError("unusable sample rate " + FormatShortest(decoded.rate));
  }

  const auto last = static_cast<std::int32_t>(count - 1);
  session.Pressure.Assign(decoded.samples);
  session.WaveformLoaded = true;
  session.LastSample = last;
  session.SampleRate = rate;
  session.Grid.Cell(1, 2) = RateText(rate);
  if (decoded.description) session.Grid.Cell(2, 2) = *decoded.description;

  const Extremes extremes = FindExtremes(session.Pressure, last, -1.0e10f, 1.0e10f);
  session.PeakPressure = extremes.maximum;
  session.MinPressure = extremes.minimum;
  session.SampleInterval = 1.0f / session.SampleRate;
  session.WaveformTitle = session.Grid.Cell(2, 1);
  session.Grid.Cell(1, 4) = FormatInteger(static_cast<long long>(last) + 1);
  session.SelFirst = 0;
  session.SelLast = last;
  session.StartTime = 0.0f;
  session.EndTime = static_cast<float>(last) * session.SampleInterval;
  // The full-range copies must describe this waveform, not the previous one.
  session.SavedStartTime = session.StartTime;
  session.SavedEndTime = session.EndTime;
}

// A WAV whose samples cannot be decoded: its description is shown and the
// samples, rate and count of the session stay as they were, with the grid
// telling the truth about them.
ImportOutcome DescribeOnly(Session& session, Prompter& prompter, const WavHeader& header,
                           const std::string& reason) {
  session.Grid.Cell(2, 2) = header.description;
  if (session.LastSample >= 0 && session.SampleRate > 0.0f) {
    session.Grid.Cell(1, 2) = RateText(session.SampleRate);
    session.Grid.Cell(1, 4) = FormatInteger(static_cast<long long>(session.LastSample) + 1);
  }
  prompter.Inform(kImportTitle, "No samples imported: " + reason + " (" + header.description + ")");
  return ImportOutcome::kDescribedOnly;
}

ImportOutcome ImportWav(Session& session, std::string_view bytes, Prompter& prompter) {
  const WavHeader header = ReadWavHeader(bytes);
  if (header.samples_per_second == 0) throw FormatError("the WAV header gives a sample rate of 0");
  const std::uint16_t format = header.Format();
  if (format != 1 && format != 3) {
    return DescribeOnly(session, prompter, header, "the samples are neither PCM nor IEEE float");
  }
  if (header.channels != 1 && header.channels != 2) {
    return DescribeOnly(session, prompter, header, "only mono and stereo files can be imported");
  }
  const unsigned width = header.block_align / header.channels;
  const bool known = header.block_align % header.channels == 0 &&
                     (format == 1 ? (width >= 1 && width <= 4) : (width == 4 || width == 8));
  if (!known) {
    return DescribeOnly(
        session, prompter, header,
        "frames of " + FormatInteger(header.block_align) + " bytes are not a known sample layout");
  }

  const std::size_t frames = header.data_bytes / header.block_align;
  const std::size_t channels = header.channels;
  Decoded decoded;
  decoded.rate = header.samples_per_second;
  decoded.description = header.description;
  decoded.samples.resize(frames * channels);
  const std::string_view data = bytes.substr(header.data_offset, frames * header.block_align);
  for (std::size_t i = 0; i < frames; ++i) {
    for (std::size_t c = 0; c < channels; ++c) {
      const std::size_t at = i * header.block_align + c * width;
      double value = 0.0;
      if (format == 1) {
        switch (width) {
          case 1:
            value = static_cast<int>(At(data, at)) - 128;
            break;
          case 2:
            value = static_cast<std::int16_t>(Le16(data, at));
            break;
          case 3: {
            std::int32_t v = static_cast<std::int32_t>(At(data, at) | (At(data, at + 1) << 8) |
                                                       (At(data, at + 2) << 16));
            if (v & 0x800000) v -= 0x1000000;
            value = v;
            break;
          }
          default:
            value = static_cast<std::int32_t>(Le32(data, at));
            break;
        }
      } else if (width == 4) {
        value = std::bit_cast<float>(Le32(data, at));
      } else {
        value = std::bit_cast<double>(Le64(data, at));
      }
      // The left channel first, then the right one.
      const std::size_t index = c * frames + i;
      decoded.samples[index] = ToSample(value, index);
    }
  }
  Commit(session, decoded, "the WAV file holds fewer than 2 samples");
  return ImportOutcome::kImported;
}

// The rate of the binary paths: the first three characters of the extension
// give the interval in tenths of a microsecond, 5 microseconds otherwise.
double BinaryRate(std::string_view file_ext) {
  if (!file_ext.empty() && file_ext.front() == '.') file_ext.remove_prefix(1);
  const auto v = ParseWholeNumber(file_ext.substr(0, 3));
  const double interval_us = (v && *v > 0.0) ? *v / 10.0 : 5.0;
  return 1.0e6 / interval_us;
}

ImportOutcome ImportRawSingles(Session& session, std::string_view bytes) {
  Decoded decoded;
  decoded.rate = BinaryRate(session.FileExt);
  decoded.samples.resize(bytes.size() / 4);
  for (std::size_t i = 0; i < decoded.samples.size(); ++i) {
    decoded.samples[i] = ToSample(std::bit_cast<float>(Le32(bytes, 4 * i)), i);
  }
  Commit(session, decoded, "the file holds fewer than 2 single-precision numbers");
  return ImportOutcome::kImported;
}

ImportOutcome ImportBinaryIntegers(Session& session, std::string_view bytes, Prompter& prompter) {
  const Answer answer = prompter.AskYesNoCancel(kQuestionTitle, kBinaryIntegerQuestion);
  if (answer == Answer::kCancel) return ImportOutcome::kCancelled;
  const bool big_endian = answer == Answer::kNo;
  Decoded decoded;
  decoded.rate = BinaryRate(session.FileExt);
  decoded.samples.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < decoded.samples.size(); ++i) {
    std::uint16_t raw = Le16(bytes, 2 * i);
    if (big_endian) raw = static_cast<std::uint16_t>((raw >> 8) | (raw << 8));
    decoded.samples[i] = static_cast<std::int16_t>(raw);
  }
  Commit(session, decoded, "the file holds fewer than 2 16-bit numbers");
  return ImportOutcome::kImported;
}

ImportOutcome ImportText(Session& session, std::string_view bytes, const FormatFlags& flags,
                         double rate, Prompter& prompter) {
  const std::size_t n = bytes.size();
  std::size_t p = 0;
  if (!flags.numeric_text) {
    p = flags.data_start;
    while (p < n && (IsLineEnd(At(bytes, p)) || At(bytes, p) == 26)) ++p;
  }
  // Separators before the first number are not values, and a line end among
  // them does not end the first row.
  while (p < n && IsSeparator(At(bytes, p))) ++p;

  std::vector<float> values;
  long long columns = 0;
  bool line_end_passed = false;
  while (p < n) {
    const std::size_t start = p;
    while (p < n && !IsSeparator(At(bytes, p))) ++p;
    values.push_back(ToSample(ParseLeadingNumber(bytes.substr(start, p - start)), values.size()));
    if (!line_end_passed) ++columns;
    while (p < n && IsSeparator(At(bytes, p))) {
      if (IsLineEnd(At(bytes, p))) line_end_passed = true;
      ++p;
    }
  }
  const std::string too_few = flags.numeric_text
                                  ? "No numbers found"
                                  : "No numbers found after the last line containing text";
  if (values.size() < 2) throw FormatError(too_few);

  Decoded decoded;
  decoded.rate = rate;
  if (line_end_passed) {
    const Answer answer = prompter.AskYesNoCancel(kQuestionTitle, SpreadsheetQuestion(columns));
    if (answer == Answer::kYes) {
      const auto top = static_cast<std::int32_t>(std::min<long long>(columns, INT32_MAX));
      const std::int32_t column = IntegerPrompt(prompter, "Spreadsheet column number", 1, top, top);
      for (std::size_t k = static_cast<std::size_t>(column - 1); k < values.size();
           k += static_cast<std::size_t>(columns)) {
        decoded.samples.push_back(values[k]);
      }
    }
  }
  if (decoded.samples.empty()) decoded.samples = std::move(values);
  Commit(session, decoded, too_few);
  return ImportOutcome::kImported;
}

// Files too large for one buffer: multiplexed text channels read block by
// block, keeping only the chosen channel.
ImportOutcome ImportLargeText(Session& session, const std::filesystem::path& path,
                              std::uint64_t size, double rate, Prompter& prompter,
                              ProgressSink& progress, const ImportOptions& options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ThrowSystemError(path.string(), "open the file");
  const auto block_size =
      static_cast<std::size_t>(std::max<std::uint64_t>(options.buffer_limit, 1));
  std::string block(block_size, '\0');
  auto read_block = [&]() {
    in.read(block.data(), static_cast<std::streamsize>(block_size));
    if (in.bad()) ThrowSystemError(path.string(), "read the file");
    return static_cast<std::size_t>(in.gcount());
  };

  std::size_t got = read_block();
  // Only text can be read this way; a long WAV or binary recording tokenised
  // as text would give plausible-looking nonsense.
  const std::string_view first(block.data(), got);
  if (StartsAsWav(first) ||
      !std::all_of(first.begin(), first.end(), [](char c) { return IsPlainTextByte(Byte(c)); })) {
    throw FormatError("File size of " + FormatInteger(static_cast<long long>(size)) +
                      " bytes exceeds input buffer limit of " +
                      FormatInteger(static_cast<long long>(options.buffer_limit)) +
                      ": only text files of numbers can be imported at that size");
  }
  prompter.Inform(kImportTitle, LargeFileMessage(size, options.buffer_limit));
  const std::int32_t channels = IntegerPrompt(prompter, "Number of channels", 1, 100, 4);
  const std::int32_t channel = IntegerPrompt(prompter, "Channel to import", 0, channels - 1, 0);

  Decoded decoded;
  decoded.rate = rate;
  const auto capacity = static_cast<std::size_t>(session.SampleCapacity());
  std::string token;  // may run across a block boundary
  long long token_index = 0;
  auto finish_token = [&]() {
    if (token.empty()) return;
    if (token_index % channels == channel) {
      if (decoded.samples.size() == capacity) {
        throw RangeError("channel " + FormatInteger(channel) + " holds more than " +
                         FormatInteger(static_cast<long long>(capacity)) + " samples");
      }
      decoded.samples.push_back(ToSample(ParseLeadingNumber(token), decoded.samples.size()));
    }
    ++token_index;
    token.clear();
  };
  std::uint64_t done = 0;
  for (;;) {
    for (std::size_t i = 0; i < got; ++i) {
      const char c = block[i];
      if (IsSeparator(Byte(c))) {
        finish_token();
      } else {
        token.push_back(c);
      }
    }
    done += got;
    progress.Checkpoint(static_cast<long long>(done), static_cast<long long>(size));
    if (got < block_size) break;
    got = read_block();
  }
  finish_token();
  Commit(session, decoded, "No numbers found in channel " + FormatInteger(channel));
  return ImportOutcome::kImported;
}

}  // namespace

bool StartsAsWav(std::string_view bytes) {
  const std::string_view magic = bytes.substr(0, 4);
  return magic == "RIFF" || magic == "RF64" || magic == "BW64";
}

FormatFlags ComputeFormatFlags(std::string_view bytes) {
  FormatFlags flags;
  flags.plain_text = true;
  flags.numeric_text = true;
  flags.four_byte_pattern = true;
  std::size_t last_non_numeric = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const Byte b = At(bytes, i);
    if (!IsPlainTextByte(b)) flags.plain_text = false;
    if (!IsNumericTextByte(b)) {
      flags.numeric_text = false;
      last_non_numeric = i;
    }
    if (i % 4 == 3 && (b & 127) > 73) flags.four_byte_pattern = false;
  }
  if (!flags.numeric_text) {
    // With no line end after the last line of text there are no numbers
    // after it: the data start is the end of the file.
    flags.data_start = bytes.size();
    for (std::size_t i = last_non_numeric + 1; i < bytes.size(); ++i) {
      const Byte b = At(bytes, i);
      if (IsLineEnd(b) || b == 26) {
        flags.data_start = i;
        break;
      }
    }
  }
  return flags;
}

WavHeader ReadWavHeader(std::string_view bytes) {
  if (bytes.size() < 12) throw FormatError("WAV header too short");
  if (bytes.substr(8, 4) != "WAVE") throw FormatError("a RIFF file that is not a WAVE file");
  const bool sixty_four = bytes.substr(0, 4) != "RIFF";

  WavHeader header;
  bool have_fmt = false;
  bool have_data = false;
  std::optional<std::uint64_t> long_data_size;
  std::size_t pos = 12;
  // Chunks are walked by their sizes: a search for the four letters would
  // also find them inside text, such as a title "metadata" in a LIST chunk.
  while (pos + 8 <= bytes.size() && !(have_fmt && have_data)) {
    const std::string_view id = bytes.substr(pos, 4);
    const std::uint32_t size = Le32(bytes, pos + 4);
    const std::size_t body = pos + 8;
    const std::size_t available = bytes.size() - body;
    if (id == "ds64" && sixty_four && size >= 16 && available >= 16) {
      long_data_size = Le64(bytes, body + 8);
    } else if (id == "fmt " && !have_fmt) {
      if (size < 16 || available < 16) throw FormatError("WAV fmt chunk too short");
      header.fmt_size = size;
      header.tag = Le16(bytes, body);
      header.channels = Le16(bytes, body + 2);
      header.samples_per_second = Le32(bytes, body + 4);
      header.block_align = Le16(bytes, body + 12);
      header.bits_per_sample = Le16(bytes, body + 14);
      if (header.tag == 0xFFFE) {
        if (size < 26 || available < 26) {
          throw FormatError("WAV fmt chunk too short for its SubFormat");
        }
        header.sub_format = Le16(bytes, body + 24);
      }
      have_fmt = true;
    } else if (id == "data" && !have_data) {
      std::uint64_t declared = size;
      if (sixty_four && size == 0xFFFFFFFFu && long_data_size) declared = *long_data_size;
      // Streaming writers leave 0 or 0xFFFFFFFF; truncated files claim more
      // than they hold: either way the data runs to the end of what is there.
      header.data_offset = body;
      header.data_bytes =
          (declared == 0 || declared == 0xFFFFFFFFu)
              ? available
              : static_cast<std::size_t>(std::min<std::uint64_t>(declared, available));
      have_data = true;
    }
    const std::uint64_t next = static_cast<std::uint64_t>(body) + size + (size & 1u);
    if (next > bytes.size()) break;
    pos = static_cast<std::size_t>(next);
  }
  if (!have_fmt) throw FormatError("WAV file without a fmt chunk");
  if (!have_data) throw FormatError("WAV file without a data chunk");

  std::string& d = header.description;
  switch (header.fmt_size) {
    case 16:
      d = "PCM Data";
      break;
    case 18:
      d = "Non-PCM Data";
      break;
    case 40:
      d = "Extensible Format";
      break;
    default:
      break;
  }
  auto format_text = [](std::uint16_t code) -> std::string {
    switch (code) {
      case 1:
        return ", PCM";
      case 3:
        return ", IEEE float";
      case 6:
        return ", 8-bit ITU-G.711 A-law";
      case 7:
        return ", 8-bit ITU-G.711 Mu-law";
      case 0xFFFE:
        return ", determined by SubFormat";
      default:
        return "";
    }
  };
  d += format_text(header.tag);
  d += ", " + FormatInteger(header.bits_per_sample) + " bits per sample";
  if (header.channels == 1) d += ", Mono";
  if (header.channels == 2) d += ", Stereo";
  if (header.tag == 0xFFFE && (header.sub_format == 1 || header.sub_format == 3)) {
    d += format_text(header.sub_format);
  }
  return header;
}

void CommitImportedSamples(Session& session, std::vector<float> samples, double rate,
                           std::optional<std::string> description) {
  Decoded decoded{std::move(samples), rate, std::move(description)};
  Commit(session, decoded, "fewer than 2 samples to import");
}

std::optional<double> IntervalFromExtension(std::string_view file_ext) {
  if (!file_ext.empty() && file_ext.front() == '.') file_ext.remove_prefix(1);
  const auto v = ParseWholeNumber(file_ext);
  if (!v || *v <= 0.0) return std::nullopt;
  const double interval = *v / 10.0 * 0.000001;
  if (!std::isfinite(interval) || interval <= 0.0) return std::nullopt;
  return interval;
}

ImportOutcome OpenNewFileType4(Session& session, Prompter& prompter, ProgressSink& progress,
                               const ImportOptions& options) {
  const std::filesystem::path path =
      session.WaveformDir.empty()
          ? std::filesystem::path(session.DataFileName)
          : std::filesystem::path(session.WaveformDir) / session.DataFileName;
  const auto interval = IntervalFromExtension(session.FileExt);
  const double rate = interval ? 1.0 / *interval : kDefaultImportRate;

  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) throw IoError(WithFile(path.string(), "cannot open: " + error.message()));
  if (size > options.buffer_limit) {
    return ImportLargeText(session, path, size, rate, prompter, progress, options);
  }

  const std::string bytes = ReadWholeFile(path, options.buffer_limit);
  if (StartsAsWav(bytes)) return ImportWav(session, bytes, prompter);
  const FormatFlags flags = ComputeFormatFlags(bytes);
  if (!flags.plain_text && flags.four_byte_pattern) return ImportRawSingles(session, bytes);
  if (!flags.plain_text) return ImportBinaryIntegers(session, bytes, prompter);
  return ImportText(session, bytes, flags, rate, prompter);
}

ImportOutcome ImportWaveform(Session& session, const std::filesystem::path& chosen,
                             Prompter& prompter, ProgressSink& progress,
                             const ImportOptions& options) {
  HeaderGrid grid = session.Grid;
  std::string dir = session.WaveformDir;
  std::string name = session.DataFileName;
  std::string ext = session.FileExt;
  auto restore = [&]() {
    session.Grid = std::move(grid);
    session.WaveformDir = std::move(dir);
    session.DataFileName = std::move(name);
    session.FileExt = std::move(ext);
  };

  session.Grid.SetImportTemplate();
  session.WaveformDir = chosen.parent_path().string();
  session.DataFileName = chosen.filename().string();
  session.FileExt = ToUpperAscii(chosen.extension().string()).substr(0, 4);
  ImportOutcome outcome;
  try {
    outcome = OpenNewFileType4(session, prompter, progress, options);
  } catch (...) {
    restore();
    throw;
  }
  if (outcome == ImportOutcome::kCancelled) {
    restore();
  } else if (outcome == ImportOutcome::kImported) {
    session.ImportedWaveform = true;
    session.ClearPlotFirst = true;
  }
  return outcome;
}

}  // namespace korva
