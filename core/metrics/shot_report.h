// One row per shot and the summary of a series of shots: the impulse
// descriptors and interval metrics of the analysed interval, the spectrum,
// and the hazard runs of both listeners beside them. The command line and
// the window fill these and hand them to whatever prints or draws them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/metrics/edits.h"
#include "core/metrics/impulse_descriptors.h"
#include "core/metrics/interval_metrics.h"
#include "core/metrics/leq300.h"
#include "core/model/hazard.h"
#include "core/waveform/session.h"

namespace korva {

struct ShotReport {
  std::string file;
  std::string title;
  std::int32_t samples = 0;  // of the waveform as opened (power-of-two length)
  float rate = 0.0f;         // samples per second
  float dt = 0.0f;           // seconds
  std::int32_t mic_location = 1;
  Selection interval;  // sample indices analysed, both included

  // Empty unless the shot failed; then nothing below is meaningful.
  std::string error;

  ImpulseDescriptors descriptors;
  IntervalResults metrics;
  // The Leq300ms spectrum of the interval, or why there is none (a silent
  // interval has no levels to draw).
  std::optional<Leq300msSpectrum> spectrum;
  std::string spectrum_error;

  // The runs of the warned [0] and unwarned [1] listener, and the distance
  // from the stapes of each cochlear place (cm), in place order.
  std::array<std::optional<HazardRunResult>, 2> hazard;
  std::vector<double> place_distance_cm;

  bool failed() const { return !error.empty(); }
  const std::optional<HazardRunResult>& Run(Listener listener) const {
    return hazard[listener == Listener::Warned ? 0 : 1];
  }
};

// A failed shot: its file and the message.
ShotReport FailedShot(std::string file, std::string error);

// The descriptors, metrics and spectrum of samples interval.first..last of
// the session's waveform (the interval metrics weight the whole waveform and
// sum over the interval, as the Statistics read-out does). Throws Error when
// the interval is not within the waveform or the waveform cannot be measured.
ShotReport DescribeShot(const std::string& file, const Session& session, Selection interval);

// Keeps a hazard run with the shot, and the distances of its places.
void AddHazardRun(ShotReport& shot, HazardRunResult run);

// The series of shots, failed ones counted apart.
struct ShotSummary {
  int files = 0;
  int failed = 0;

  // Energy mean 10 log10(mean 10^(L/10)) and maximum over the shots that
  // have the level.
  struct Levels {
    std::optional<double> energy_mean;
    std::optional<double> maximum;
  };
  Levels peak_db;
  Levels lae_db;
  Levels LAeq8hr;

  // Per listener (warned [0], unwarned [1]): the hazard runs counted, the
  // least allowed exposures of one shot and its file (empty when every
  // hazard is 0: unlimited).
  std::array<int, 2> runs{};
  std::array<std::optional<double>, 2> least_allowed;
  std::array<std::string, 2> least_allowed_file;
  // The same by A-weighted energy (AllowedRounds of the interval metrics).
  std::optional<double> least_allowed_rounds;
  std::string least_allowed_rounds_file;

  // All the shots fired in one day. By the energy rule: their energies
  // summed into one LAeq8hr and the times the whole series is allowed by it.
  // By the model: the A.R.U. summed and 500 / that sum (empty: unlimited).
  std::optional<double> day_LAeq8hr;
  std::optional<double> day_allowed_by_energy;
  std::array<double, 2> day_aru{};
  std::array<std::optional<double>, 2> day_allowed_by_model;
};

ShotSummary SummariseShots(std::span<const ShotReport> shots);

// What a report shows beside the shots.
struct ReportInfo {
  std::string program;  // name and version
  std::string date;     // YYYY-MM-DD
  std::string model_file;
  std::string model_sha256;  // empty when not known
};

}  // namespace korva
