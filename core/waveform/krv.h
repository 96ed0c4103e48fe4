// The KRV waveform file: header rows of three TAB-separated cells, then one
// sample per line. Readers for analysis (OpenNewFileType5) and for an overlay
// (OpenNewFileType6), the Open rule for names, and the two writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/progress.h"
#include "core/common/random.h"
#include "core/waveform/session.h"

namespace korva {

// Files above this size are refused (the reader addresses bytes up to 2^26).
inline constexpr std::size_t kMaxKrvBytes = std::size_t{1} << 26;
// Save As refuses waveforms longer than this.
inline constexpr std::int32_t kMaxSaveAsSamples = 1 << 20;

// Single-precision value in the compact scientific form of the data lines:
// 123.45 -> "1.2345E2", -0.000012345 -> "-1.2345E-5", 0 -> "0.0000E0".
std::string FloatToCompactStr(float value);

// The next header field from byte `position` (in/out) of `buffer`.
std::string ReadHeaderField(std::string_view buffer, std::size_t& position);

// The Open rule for names: whatever file was chosen, the file read is
// BASENAME.KRV in the chosen file's folder (BASENAME = the upper-cased name up
// to its first "."), found whatever the case of its name on disk. Sets
// WaveformDir, DataFileName, BaseName and FileExt; changes nothing else.
void ChooseWaveformFile(Session& session, const std::filesystem::path& chosen);

// The path the readers open: WaveformDir / DataFileName, resolved case-insensitively.
std::filesystem::path WaveformPath(const Session& session);

// Reads the KRV file for analysis into the session: grid, samples, dither
// (generator reseeded with 1, so a second read is bit-identical), power-of-two
// length, LoadedPressure, UnweightedEnergy. On any error (IoError,
// FormatError, RangeError naming the file) the session is left exactly as it
// was.
void OpenNewFileType5(Session& session, ProgressSink& progress);

// OpenNewFileType5 on the text of a KRV file already in memory, `name`
// standing for the file in messages: what opening a file of that text gives.
void OpenKrvText(Session& session, std::string_view text, const std::string& name,
                 ProgressSink& progress);

// Reads a second waveform for the overlay comparison: uniform dither from the
// program's own stream `generator` (not reseeded), zero padding, no change to
// LoadedPressure, FftLength or UnweightedEnergy.
void OpenNewFileType6(Session& session, Lcg& generator, ProgressSink& progress);

// ChooseWaveformFile + OpenNewFileType5 + the full-range display times, as
// the Open command does; what the CLI calls for each input file.
void OpenWaveform(Session& session, const std::filesystem::path& chosen, ProgressSink& progress);

// The sample count after the power-of-two rule shared by the readers and
// the writers: 2^k with k = trunc(log2 n), raised by one when the fraction of
// log2 n (single precision) exceeds 0.025. So 4,100 -> 4,096 and 4,200 -> 8,192.
// `count` must be at least 1.
std::int32_t PowerOfTwoLength(std::int32_t count);

// Save: writes the header rows up to the last one in use (row 4 giving the
// count written) and the samples to `target`, atomically. While the working
// waveform is still what Open made of the file (Pressure equals
// LoadedPressure) the samples are those the file held (FileSamples, no
// dither); otherwise they are Pressure padded with zeros to a power of two,
// LastSample updated. Clears WaveformLoaded. Refuses (before touching
// anything) a waveform whose rounded length exceeds the capacity, or a
// non-finite sample.
void SaveKrv(Session& session, const std::filesystem::path& target);

// Save as the window's "Save KRV waveform" does it: back to the file that was
// read or last saved as (WaveformPath).
void SaveKrv(Session& session);

// The text Save As writes for the session, without writing it (`name`
// stands for the file in messages); it refuses what Save As refuses.
std::string SaveAsText(const Session& session, const std::string& name);

// Save As: `chosen` up to its first "." + ".KRV", written as SaveKrv writes
// (HeaderLastRow becomes 29). Refuses (RangeError) more than 2^20 samples.
// Returns the path written. Clears WaveformLoaded.
std::filesystem::path SaveKrvAs(Session& session, const std::filesystem::path& chosen);

}  // namespace korva
