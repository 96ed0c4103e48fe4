#include "core/protection/protect_command.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/model/middle_ear.h"
#include "core/waveform/krv.h"

namespace korva {

namespace {

float PeakOf(std::span<const float> samples) {
  float peak = 0.0f;
  for (float x : samples) peak = std::max(peak, std::fabs(x));
  return peak;
}

// A record that has not been fitted starts from the seed file of its kind.
ProtectorCircuit SeededCircuit(const std::filesystem::path& seed_file) {
  ProtectorCircuit c = LoadSeedValues(seed_file);
  // The wall-side pair is the softer one; a seed file may list them the other way round.
  if (c.SuspensionStiffness > c.PistonStiffness) {
    std::swap(c.SuspensionStiffness, c.PistonStiffness);
    std::swap(c.SuspensionResistance, c.PistonResistance);
  }
  c.SuspensionStiffness = 100.0f * c.PistonStiffness;
  c.SuspensionResistance = 100.0f * c.PistonResistance;
  c.LeakResistanceTransition = 0.0f;
  c.LeakMassTransition = 0.0f;
  c.SecondaryTransition = 0.0f;
  c.SecondaryMassTransition = 0.0f;
  c.SecondaryResistanceTransition = 0.0f;
  return c;
}

}  // namespace

float IncidenceGainFor(int angle) {
  return static_cast<float>(1.0 + std::cos((angle - 90) * std::numbers::pi / 180.0));
}

Session ProtectedWaveform(const Session& free_field, std::span<const float> eardrum) {
  const std::int32_t count =
      std::min(PowerOfTwoLength(free_field.SampleCount()), kMaxProtectedSamples);
  Session out = free_field;
  const auto kept = std::min(static_cast<std::size_t>(count), eardrum.size());
  out.Pressure.Assign(eardrum.first(kept));
  out.Pressure.Fill(static_cast<std::int64_t>(kept), count - 1, 0.0f);
  out.LastSample = count - 1;
  out.MicLocation = kPredictionLocation;
  UpdateExtremes(out);
  out.Grid.Cell(1, 3) = FormatInteger(kPredictionLocation);
  out.Grid.Cell(2, 3) = kLocationComment;
  out.Grid.Cell(1, 4) = FormatInteger(count);
  return out;
}

std::optional<double> PeakLevel(float pascals) {
  if (!(pascals > 0.0f)) return std::nullopt;
  return LevelDb(pascals);
}

std::optional<double> PeakInsertionLoss(const ProtectResult& result) {
  const double loss = 20.0 * std::log10(result.peak_free_field / result.peak_under_protector);
  if (!std::isfinite(loss)) return std::nullopt;
  return loss;
}

std::string ProtectedFileName(const std::string& chosen, const std::string& title) {
  const std::string name = std::filesystem::path(chosen).filename().string();
  return name.substr(0, name.find('.')) + "_" + title + ".KRV";
}

ProtectResult GetHPDData(const Session& session, ProtectorCommandState& state,
                         const EarModelParameters& ear_model, const ProtectOptions& options,
                         ProgressSink& progress) {
  if (session.LastSample < 1) {
    throw Error("The protector prediction needs a waveform of at least two samples");
  }
  const std::string table_name = options.table.string();
  const std::string content = ReadWholeFile(options.table);
  const ProtectorTable table = ParseProtectorTable(content);
  if (options.record_index < 0 || options.record_index >= static_cast<int>(table.records.size()) ||
      (options.expected_name &&
       table.records[static_cast<std::size_t>(options.record_index)].name !=
           ProtectorMenuName(*options.expected_name))) {
    throw Error("The protector table has changed; restart KORVA");
  }

  ProtectResult result;
  result.data = ReadProtectorData(content, options.record_index);
  const ProtectorRecord& record = result.data.record;
  result.code = ClassifyProtectorCode(record.code, state.ProtectorCode);
  int power_law = result.code.power_law;
  if (result.data.circuit) {
    result.circuit = *result.data.circuit;
  } else {
    const char* seed = result.code.kind == 0 ? kPlugSeedName : kMuffSeedName;
    result.circuit = SeededCircuit(ResolveCaseInsensitive(options.seed_folder / seed));
    result.seeded = true;
    power_law = 0;
  }
  // The prediction always couples the piston through a suspension 100 times
  // stiffer and more resistive than the wall side, whatever the record holds.
  ProtectorCircuit predicted = result.circuit;
  predicted.SuspensionStiffness = 100.0f * predicted.PistonStiffness;
  predicted.SuspensionResistance = 100.0f * predicted.PistonResistance;
  CheckProtectorCircuit(result.circuit);
  CheckProtectorCircuit(predicted);
  result.plot = ProtectorPlot(result.circuit, result.data.frequencies_hz, result.data.target);

  // The ear model for sound at normal incidence; the parameter file itself is
  // read afresh by every hazard run, so nothing of this outlives the command.
  EarModelParameters incident = ear_model;
  incident.P[3] = IncidenceGainFor(kIncidenceAngle);
  const EarModelConstants model = DeriveEarModelConstants(incident);

  // Predict on a copy: the loaded free-field waveform stays as it is.
  Session work = session;
  const std::int32_t last = work.LastSample;
  StageProgress circuit_progress(progress, 0, 500, 1000);
  result.protector_stats = TimeDomainModel4(
      work, predicted, power_law, ear_model.SubstepReduction(), state.dither, circuit_progress);
  std::span<float> predicted_samples = work.UnderProtector.Range(0, last);
  result.peak_free_field = PeakOf(std::as_const(work.Pressure).Range(0, last));
  result.peak_under_protector = PeakOf(predicted_samples);
  StageProgress eardrum_progress(progress, 500, 1000, 1000);
  TimeDomainModel9(model, work.SampleInterval, predicted_samples, eardrum_progress);
  result.peak_eardrum = PeakOf(predicted_samples);
  result.eardrum.assign(predicted_samples.begin(), predicted_samples.end());
  for (float x : result.eardrum) {
    if (!std::isfinite(x)) throw Error("Floating point error in the eardrum prediction");
  }
  // The last point where the command may stop: from here on it writes.
  progress.Checkpoint(1000, 1000);

  // Write the circuit values back. The table is replaced in one atomic step,
  // so a failure leaves it exactly as it was.
  if (options.write_files) {
    try {
      WriteFileAtomically(options.table,
                          ReplaceCircuitLine(content, options.record_index, result.circuit));
    } catch (const IoError& e) {
      result.table_error = e.what();
    }
  }
  state.circuit = result.circuit;
  state.PowerLaw = power_law;
  state.ProtectorCode = result.code.model_code;
  state.ProtectorKind = result.code.kind;

  result.title = record.name + "_" + FormatInteger(kIncidenceAngle);
  if (options.write_files) {
    Session out = ProtectedWaveform(session, result.eardrum);
    result.output = SaveKrvAs(
        out, options.output_folder / ProtectedFileName(options.chosen_file_name, result.title));
  }
  result.samples_written = std::min(PowerOfTwoLength(session.SampleCount()), kMaxProtectedSamples);
  return result;
}

}  // namespace korva
