// The overlay comparison: the loaded waveform (the free-field or reference
// recording) against a second KRV file of the same event (the recording at
// the ear, for example under a protector), band by band, with one line of
// level differences appended to the shared noise-reduction table "TOB.txt".
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "core/common/progress.h"
#include "core/common/random.h"
#include "core/metrics/leq300.h"
#include "core/waveform/session.h"

namespace korva {

// The noise-reduction table "TOB.txt" under the data folder.
inline constexpr const char* kNoiseReductionTablePath = "Dat/Hearing Protectors/TOB.txt";
// Bands written to the table: 50 Hz to 10 kHz.
inline constexpr int kTableFirstBand = 17;
inline constexpr int kTableLastBand = 40;
inline constexpr int kTableBands = kTableLastBand - kTableFirstBand + 1;

// The open-ear transfer function at the ear-canal entrance for sound at
// normal incidence, dB, for bands 21 (125 Hz) to 40 (10 kHz).
inline constexpr std::array<float, 20> kOpenEarCanalCorrection = {
    1.8f, 2.0f,  2.1f,  2.8f,  3.7f,  4.9f,  6.3f,  7.4f,  8.2f,  8.2f,
    9.1f, 10.6f, 14.0f, 18.9f, 16.8f, 14.0f, 14.7f, 16.5f, 10.5f, 4.5f};

// What is subtracted from the difference of band n: the correction from band
// 23 (200 Hz) up, nothing below.
float EarCanalCorrection(int band);

// D[n] = 10 log10(E2[n] / E1[n]) for the bands both spectra computed, from
// one above the higher first band; nothing for the others and for bands where
// either energy is zero.
std::array<std::optional<double>, kTableBands> BandDifferences(const BandEnergies& first,
                                                               const BandEnergies& second);

// The table's header line (band centres in kHz) and one data line (D[n] -
// C[n] with one decimal, an empty field for a band without a difference,
// then the label and the codes 3, 1, 0), each ending in CR LF.
std::string NoiseReductionHeader();
std::string NoiseReductionLine(const std::array<std::optional<double>, kTableBands>& differences,
                               const std::string& label);

// Appends `line` to the table at `path`, writing the header first when the
// file does not exist. The folder must exist (it is not created). The file
// is replaced in one step: a failure leaves it as it was. Returns whether the
// header was written.
bool AppendNoiseReductionLine(const std::filesystem::path& path, const std::string& line);

struct OverlayResult {
  std::string OverlayLabel;  // first BaseName + "_to_" + second name up to its first "."
  BinEnergies first_bins, second_bins;
  BandEnergies first_bands, second_bands;
  std::array<std::optional<double>, kTableBands> differences{};
  std::string line;  // as appended
  std::filesystem::path table;
  bool header_written = false;
};

// The comparison. The second file is read into the session's Pressure (as the
// overlay reader does, with the program's dither stream `generator`) and cut
// to the first waveform's kept time window; the first waveform stays in
// LoadedPressure and is analysed with its own sampling interval over the same
// time span. On any error (unreadable file, windows that do not overlap, an
// unwritable table) the session is left as it was; the table is written last.
// Afterwards WaveformLoaded is false: the mixed session must be reopened
// before a hazard run or a save.
OverlayResult OverlayKRVWaveform(Session& session, Lcg& generator,
                                 const std::filesystem::path& second_file,
                                 const std::filesystem::path& table, ProgressSink& progress);

}  // namespace korva
