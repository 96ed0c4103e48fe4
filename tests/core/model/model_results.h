// The ear model's recorded results (tests/data/model_results.txt) and a run
// that reproduces one of them: shared by the test that keeps them and by the
// speed benchmark, which prints the same check beside its timings.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/model/hazard.h"
#include "core/waveform/krv.h"

namespace korva::testing {

struct RecordedResult {
  std::string waveform;    // relative to the source tree
  std::string parameters;  // relative to the source tree
  Listener listener = Listener::Warned;
  float hazard = 0.0f;
  long long derivative_evaluations = 0;
  long long passes = 0;
  std::int32_t max_substeps = 0;
};

inline std::vector<RecordedResult> ReadRecordedResults(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw IoError("cannot read " + file.string());
  std::vector<RecordedResult> results;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    RecordedResult r;
    std::string listener;
    fields >> r.waveform >> r.parameters >> listener >> r.hazard >> r.derivative_evaluations >>
        r.passes >> r.max_substeps;
    if (!fields) throw FormatError("bad line in " + file.string() + ": " + line);
    r.listener = listener == "warned" ? Listener::Warned : Listener::Unwarned;
    results.push_back(r);
  }
  return results;
}

// Runs the recorded case as the CLI does (no movie, no place table).
inline HazardRunResult RunRecordedCase(const RecordedResult& r,
                                       const std::filesystem::path& source_root) {
  Session session(1 << 21);
  NoProgress none;
  OpenWaveform(session, source_root / r.waveform, none);
  HazardRunOptions options;
  options.listener = r.listener;
  options.model_file = source_root / r.parameters;
  options.keep_movie = false;
  options.write_place_table = false;
  return RunHazardAnalysis(session, options, none);
}

// How far a recorded hazard may move: the transforms may change the last
// bits of a result (the order of their arithmetic is theirs to choose), never
// more.
inline constexpr double kRecordedHazardTolerance = 1e-6;

inline double RelativeDifference(double value, double recorded) {
  return recorded == 0.0 ? std::fabs(value) : std::fabs(value / recorded - 1.0);
}

}  // namespace korva::testing
