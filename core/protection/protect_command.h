// The hearing-protector command: the chosen record of the protector table is
// read (or modelled from the seed file of its kind when it has not been
// fitted), its insertion loss compared with the measured target, its circuit
// values written back into its line 4, and the free-field waveform turned
// into the pressure under the protector and then at the eardrum, which is
// written as a new KRV file.
//
// The command leaves the analysis session as it found it: the prediction is
// written to a file of its own, so the loaded free-field waveform keeps its
// length, title and microphone location (a later hazard run must not take it
// for an eardrum recording).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/progress.h"
#include "core/common/random.h"
#include "core/model/ear_model.h"
#include "core/protection/hpd_table.h"
#include "core/protection/insertion_loss.h"
#include "core/protection/protector_model.h"
#include "core/waveform/session.h"

namespace korva {

// What one protector command leaves for the next: the circuit values, the
// power law and the kept code, and the program's dither stream (seeded 0 at
// start and never reseeded, apart from the KRV reader's stream, so that a
// given sequence of commands always gives the same output).
struct ProtectorCommandState {
  ProtectorCircuit circuit;
  int PowerLaw = 0;
  std::string ProtectorCode;
  int ProtectorKind = 0;
  Lcg dither{0};
};

// The prediction is for sound arriving at normal incidence, at the eardrum.
inline constexpr int kIncidenceAngle = 90;
inline constexpr int kPredictionLocation = 3;
inline constexpr const char* kLocationComment = "1: Free-field, 2: Ear-canal entrance, 3: Eardrum";
// The protected file holds at most this many samples; a longer prediction
// loses its tail, as the readers would drop it anyway.
inline constexpr std::int32_t kMaxProtectedSamples = 1 << 20;

// The free-field gain for sound arriving at `angle` degrees: 1 + cos(angle - 90).
float IncidenceGainFor(int angle);

struct ProtectOptions {
  std::filesystem::path table;        // the protector table
  std::filesystem::path seed_folder;  // where the two seed files are
  std::filesystem::path output_folder;
  std::string chosen_file_name;  // the waveform file as chosen (its base names the output)
  int record_index = -1;
  // The record's name as the menu showed it; when given and the record no
  // longer carries it (the table was edited since it was read), nothing is done.
  std::optional<std::string> expected_name;
  // Write the circuit values back into the table and the protected waveform
  // as a KRV file, as the window does. Without it the command only computes
  // (for callers that keep the result themselves).
  bool write_files = true;
};

struct ProtectResult {
  ProtectorData data;
  ProtectorCodeInfo code;
  bool seeded = false;               // modelled from the seed file
  ProtectorCircuit circuit;          // as written back to the table
  InsertionLossPlot plot;            // curves, markers, RMS error
  std::string title;                 // NAME + "_90"
  std::filesystem::path output;      // the protected KRV file; empty unless written
  std::int32_t samples_written = 0;  // its sample count (also when not written)
  // Largest absolute pressure (Pa) of the free-field waveform, under the
  // protector, and at the eardrum.
  float peak_free_field = 0.0f;
  float peak_under_protector = 0.0f;
  float peak_eardrum = 0.0f;
  std::vector<float> eardrum;  // the predicted waveform, samples 0..LastSample
  ProtectorRunStats protector_stats;
};

// Runs the command on the loaded waveform (session.Pressure[0..LastSample]).
// Every check (waveform length, table record, circuit values, seed file)
// and the whole prediction happen before any file is written: an Error or a
// stop (Cancelled; progress runs from 0 to 1000) leaves the table and the
// folder as they were. `state` changes only when the command completes,
// apart from the dither stream, which the prediction consumes.
ProtectResult GetHPDData(const Session& session, ProtectorCommandState& state,
                         const EarModelParameters& ear_model, const ProtectOptions& options,
                         ProgressSink& progress);

// The protected waveform as it is written: the free-field waveform's header
// with location 3 and the eardrum prediction padded (or cut) to a power of
// two, with its own extremes.
Session ProtectedWaveform(const Session& free_field, std::span<const float> eardrum);

// Peak level, dB re 20 uPa, of a largest absolute pressure; nothing for silence.
std::optional<double> PeakLevel(float pascals);

// Peak insertion loss in dB, free field to under the protector; nothing when
// either peak is zero.
std::optional<double> PeakInsertionLoss(const ProtectResult& result);

// base + "_" + title + ".KRV", base = `chosen` without folder, cut before its first ".".
std::string ProtectedFileName(const std::string& chosen, const std::string& title);

}  // namespace korva
