// The one analysis of a shot, for every front end: the impulse descriptors
// and interval metrics of an interval, the hazard runs of both listeners
// (side by side on a pool, their cochlear places spread over it), the
// ear-model file they used, and what failed, item by item. korva-cli, the
// Python package and the window call it and only show what it returns; the
// one list of its fields (fields.h) names and orders what they show.
//
// Hearing protectors and regulatory criteria join here: a protected result
// and a criteria result per shot, chosen by AnalysisOptions, shown as the
// nested objects "protected" and "criteria" of the field list.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/metrics/edits.h"
#include "core/metrics/impulse_descriptors.h"
#include "core/metrics/interval_metrics.h"
#include "core/metrics/leq300.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/waveform/session.h"
#include "core/waveform/waveform.h"

namespace korva {

// The interval the descriptors and metrics describe: milliseconds from the
// first sample, or sample indices; the whole waveform where nothing is given.
struct IntervalRequest {
  std::optional<double> from_ms, to_ms;
  std::optional<long long> first, last;
};

// The sample indices of a request on a waveform of last_sample + 1 samples
// at interval dt; times are taken to the nearest sample. Error naming the
// waveform's extent when the interval lies outside it.
Selection ResolveInterval(const IntervalRequest& request, std::int32_t last_sample, float dt);

struct AnalysisOptions {
  // The listeners whose hazard is run (none: descriptors and metrics only).
  std::vector<Listener> listeners = {Listener::Warned, Listener::Unwarned};
  // The ear-model parameter file; empty for ChooseModelFile()'s.
  std::filesystem::path model_file;
  // Over `interval`: the interval metrics, and the descriptors and spectrum.
  bool measure = true;
  bool describe = true;
  IntervalRequest interval;
  // BASENAME.HAZ beside the waveform's file (when it came from one whose
  // folder is the user's): of the unwarned run when both listeners run, as
  // after the window's warned and then unwarned command.
  bool write_place_table = false;
  bool keep_movie = false;     // the replay buffer of each run
  bool keep_stapes = false;    // the stapes displacement of each run
  bool keep_waveform = false;  // the waveform analysed, for pictures of it
  // Threads for the listeners and their cochlear places (none: all on the
  // calling thread). AnalyzeFiles spreads the files over it too.
  ThreadPool* pool = nullptr;
};

// A part of an analysis that failed: why, and the failure itself for
// callers that raise it again.
struct PartError {
  std::string message;
  std::exception_ptr exception;
  bool failed() const { return !message.empty(); }
};

// Everything the analysis of one shot found, and what of it failed.
struct ShotReport {
  std::string file;                          // the input's name, as given
  std::shared_ptr<const Waveform> waveform;  // when the options kept it

  // The waveform analysed.
  std::string title;
  std::int32_t samples = 0;
  float rate = 0.0f;  // samples per second
  float dt = 0.0f;    // seconds
  std::int32_t mic_location = 1;

  // Over `interval` (sample indices, both included): the metrics, when
  // `measured`, and the descriptors and spectrum, when `described`.
  Selection interval;
  bool measured = false;
  IntervalResults metrics;
  bool described = false;
  ImpulseDescriptors descriptors;
  // Why there is no spectrum when there is none (a silent interval has no
  // levels to draw).
  std::optional<Leq300msSpectrum> spectrum;
  std::string spectrum_error;

  // The runs of the warned [0] and unwarned [1] listener, the ear-model file
  // they used, and the distance from the stapes of each cochlear place (cm).
  std::array<std::optional<HazardRunResult>, 2> hazard;
  ModelFileId model;
  std::vector<double> place_distance_cm;

  // What failed, all in one message ("" when nothing did), and part by
  // part: the waveform itself (nothing else is there then: not `opened`),
  // its interval's metrics and description, each listener's run. The others
  // went on.
  std::string error;
  bool opened = true;
  PartError describe_error;
  std::array<PartError, 2> hazard_error;

  bool failed() const { return !error.empty(); }
  const std::optional<HazardRunResult>& Run(Listener listener) const {
    return hazard[ListenerSlot(listener)];
  }
};

// A shot whose waveform could not be had: its name and why.
ShotReport FailedShot(std::string file, std::string error);

// The descriptors, metrics and spectrum of samples interval.first..last of
// the waveform (the metrics weight the whole waveform and sum over the
// interval, as the Statistics read-out does). Error when the interval is not
// within the waveform or the waveform cannot be measured.
ShotReport DescribeShot(const std::string& file, const WaveformView& waveform, Selection interval);
ShotReport DescribeShot(const std::string& file, const Session& session, Selection interval);

// Keeps a hazard run with the shot, and the distances of its places.
void AddHazardRun(ShotReport& shot, HazardRunResult run);

// Analyses one waveform (or a stretch of one). Failures are kept in the
// result, item by item; only a stop request (Cancelled) ends the call.
// Progress runs over the whole analysis; with a pool the sink is called from
// its threads, one at a time.
ShotReport Analyze(const std::string& name, const WaveformView& waveform,
                   const AnalysisOptions& options, ProgressSink& progress);

// Opens a KRV file as the window's Open does and analyses it; a file that
// cannot be read is a FailedShot.
ShotReport AnalyzeFile(const std::string& file, const AnalysisOptions& options,
                       ProgressSink& progress);

// The files side by side on options.pool, their results in the given order.
// A stop request ends the call (Cancelled) once the running work has stopped.
std::vector<ShotReport> AnalyzeFiles(std::span<const std::string> files,
                                     const AnalysisOptions& options, ProgressSink& progress);

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

// Shots with any failure are counted as failed and left out of the sums.
ShotSummary SummariseShots(std::span<const ShotReport> shots);

// What a report shows beside the shots.
struct ReportInfo {
  std::string program;  // name and version
  std::string date;     // YYYY-MM-DD
  std::string model_file;
  std::string model_sha256;  // empty when not known
};

}  // namespace korva
