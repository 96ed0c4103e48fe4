// Import of foreign recordings: WAV (RIFF) files, columns of numbers in text,
// raw single-precision numbers and 16-bit binary integers. The kind of file
// is recognised from its content; where the content is ambiguous the user is
// asked through the Prompter. Every path decodes into new state first and
// changes the session only when the whole file has been read, so a refused or
// failed import leaves the session exactly as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/waveform/session.h"

namespace korva {

// Files up to this size are read whole; larger ones are read block by block
// as multiplexed text channels.
inline constexpr std::uint64_t kImportBufferBytes = std::uint64_t{1} << 26;
// The rate of an import whose extension gives none.
inline constexpr double kDefaultImportRate = 200000.0;

struct ImportOptions {
  // Size above which the block-wise channel read is used, and its block size.
  // Tests lower it to exercise that path with small files.
  std::uint64_t buffer_limit = kImportBufferBytes;
};

enum class ImportOutcome {
  kImported,       // samples, rate and grid come from the file
  kDescribedOnly,  // a WAV whose samples cannot be decoded: only its description was shown
  kCancelled,      // the user cancelled a question; nothing changed
};

// Properties of the whole file that decide how it is read.
struct FormatFlags {
  bool plain_text = false;    // every byte is 0, 8..13, 26 or 32..127
  bool numeric_text = false;  // every byte can be part of numbers and their separators
  // Not numeric text: the end of the last line holding a non-numeric byte.
  std::size_t data_start = 0;
  bool four_byte_pattern = false;  // every fourth byte looks like the top byte of a single
};
FormatFlags ComputeFormatFlags(std::string_view bytes);

// Whether `bytes` start as a WAV file the importer reads itself (RIFF, RF64, BW64).
bool StartsAsWav(std::string_view bytes);

// What the "fmt " and "data" chunks of a WAV file say, with the data clamped
// to the bytes the file really holds.
struct WavHeader {
  std::uint32_t fmt_size = 0;
  std::uint16_t tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samples_per_second = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
  std::uint16_t sub_format = 0;  // extensible headers only
  std::string description;       // the text shown in cell (2, 2)
  std::size_t data_offset = 0;
  std::size_t data_bytes = 0;
  // The format that decides the decoding: the SubFormat code for the
  // extensible tag, the tag otherwise.
  std::uint16_t Format() const { return tag == 0xFFFE ? sub_format : tag; }
};
// Walks the RIFF chunks of `bytes` (which start with "RIFF", "RF64" or
// "BW64"); FormatError when the header is too short or a chunk is missing.
WavHeader ReadWavHeader(std::string_view bytes);

// The sample interval in seconds given by an extension such as ".050"
// (tenths of a microsecond), or nothing when it does not read as a positive
// finite number.
std::optional<double> IntervalFromExtension(std::string_view file_ext);

// The question texts, shared with the front ends that answer them.
std::string SpreadsheetQuestion(long long columns);
extern const char* const kBinaryIntegerQuestion;
std::string LargeFileMessage(std::uint64_t file_size, std::uint64_t limit);

// Puts samples decoded elsewhere into the session as every import path
// does: Pressure, LastSample, the rate with cell (1, 2), cell (2, 2) when a
// description is given, the count, extremes, title and display range.
// FormatError for fewer than 2 samples, RangeError beyond the capacity,
// both before anything changes.
void CommitImportedSamples(Session& session, std::vector<float> samples, double rate,
                           std::optional<std::string> description);

// Reads WaveformDir / DataFileName, with FileExt already set, into the
// session: Pressure, LastSample, SampleRate, SampleInterval, the extremes,
// the display values and cells (1, 2), (2, 2) and (1, 4). Throws IoError,
// FormatError or RangeError with the session untouched.
ImportOutcome OpenNewFileType4(Session& session, Prompter& prompter, ProgressSink& progress,
                               const ImportOptions& options = {});

// The core of the Import command for the file `chosen`: the import template
// of the grid, WaveformDir, DataFileName and FileExt, the flags, then
// OpenNewFileType4. On an error or a cancel the session is left as it was.
ImportOutcome ImportWaveform(Session& session, const std::filesystem::path& chosen,
                             Prompter& prompter, ProgressSink& progress,
                             const ImportOptions& options = {});

}  // namespace korva
