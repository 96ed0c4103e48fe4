// What the commands that analyse files share: the ear-model file and the
// threads they use, the analysis of the files with a progress line, and the
// field list written as JSON, CSV and text.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/model/ear_model.h"

namespace korva::cli {

// The ear-model file of --model, else the default one, loaded once to check
// it, with its checksum. Nothing (after a message on stderr) when it cannot
// be used.
std::optional<ModelFileId> CheckedModelFile(const Args& args, Streams& io);

// The threads that share the files, their listeners and the cochlear places,
// from -j / --jobs (default: the cores this process may use). UsageError
// outside 1..256.
long long JobsOption(const Args& args);

// One progress line on stderr when it is a terminal, rewritten in place at
// most a few times a second: BEFORE, the percentage done, AFTER. It stops the
// work on Ctrl-C. Reports come one at a time.
class ProgressLine final : public ProgressSink {
 public:
  explicit ProgressLine(Streams& io) : io_(io) {}
  ~ProgressLine() override { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Label(std::string before, std::string after = "");
  void Report(long long done, long long total) override;
  bool StopRequested() const override { return Interrupted(); }
  // Shows `text` at once; Clear before printing anything else.
  void Show(const std::string& text);
  void Clear();

 private:
  Streams& io_;
  std::string before_, after_;
  std::chrono::steady_clock::time_point last_{};
  bool shown_ = false;
};

// The analysis of every file on a pool of `jobs` threads, in the order
// given, with a progress line "LABEL: 40% of 3 files". Cancelled when Ctrl-C
// stopped it.
std::vector<ShotReport> AnalyzeFilesShowingProgress(const std::vector<std::string>& files,
                                                    const AnalysisOptions& options, long long jobs,
                                                    const std::string& label, Streams& io);

// What failed in a shot, on stderr against its file, with the notes worth
// knowing about its runs (samples accepted at the substep limit).
void ReportShotProblems(const ShotReport& shot, Streams& io);

// A value as JSON and as a CSV cell.
std::string JsonValue(const FieldValue& value);
std::string CsvCell(const FieldValue& value);

// One JSON object of the shot's `fields`, in order: the fields of a nested
// object as that object (left out when the shot has none), the error only
// when there is one. A shot whose waveform could not be had shows its file
// and error alone.
std::string JsonObject(const ShotReport& shot, std::span<const Field* const> fields);

// The text line of a listener's run ("28.14 A.R.U.  allowed exposures 17.8
// worst place 13"), from the text fields of its object.
std::string ListenerLine(const ShotReport& shot, Listener listener);

// "  LABEL               VALUE UNIT" for each text field given.
void PrintTextFields(const ShotReport& shot, std::span<const Field* const> fields,
                     std::ostream& out);

}  // namespace korva::cli
