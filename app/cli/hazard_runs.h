// The hazard runs of several files as `hazard` makes them, shared with the
// commands that report the hazard beside other results: files in parallel,
// the two listeners of a file on two threads, each run on its own copy of
// the opened session.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/waveform/session.h"

namespace korva::cli {

// One input file and its runs.
struct FileJob {
  std::string name;
  std::once_flag opened;
  std::unique_ptr<Session> session;  // as opened; each run works on a copy
  std::string open_error;
  std::array<std::optional<HazardRunResult>, 2> results;  // warned, unwarned
  std::array<std::string, 2> errors;
};

std::size_t ListenerSlot(Listener listener);

// The ear-model file of --model, else the default one, loaded once to check
// it, with its checksum. Nothing (after a message on stderr) when it cannot
// be used.
std::optional<ModelFileId> CheckedModelFile(const Args& args, Streams& io);

// The threads that share the files, their listeners and the cochlear places,
// from -j / --jobs (default: the number of cores). UsageError outside 1..256.
long long JobsOption(const Args& args);

struct HazardRunPlan {
  std::vector<Listener> listeners;
  std::filesystem::path model_file;
  long long jobs = 1;
  bool write_place_table = true;
  const char* progress_label = "hazard";  // on the terminal's progress line
};

// Opens every file and runs the listeners on it; failures stay in the jobs.
// Cancelled when Ctrl-C stopped the runs.
std::vector<std::unique_ptr<FileJob>> RunHazardJobs(const std::vector<std::string>& files,
                                                    const HazardRunPlan& plan, Streams& io);

// The notes worth knowing about a successful run (samples accepted at the
// substep limit), on stderr against the file.
void ReportRunNotes(const FileJob& job, Listener listener, Streams& io);

// The JSON object of one run: aru, aru_text, allowed (null for a hazard of
// 0), allowed_text, section_hazard, worst_section, fft_length.
std::string RunJson(const HazardRunResult& run);

}  // namespace korva::cli
