// korva-cli hazard: the warned and unwarned hazard of each file, as the
// window's two Analyze commands compute them. The runs (file and listener,
// each on its own copy of the opened session) and their cochlear places
// share one pool of -j threads.
#include "core/model/hazard.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/hazard_runs.h"
#include "app/cli/json.h"
#include "core/common/numbers.h"

namespace korva::cli {
namespace {

enum class Format { Table, Json, Csv };

void PrintTable(const FileJob& job, const std::vector<Listener>& listeners, std::ostream& out) {
  const HazardRunResult* any = nullptr;
  for (const auto& r : job.results) {
    if (r) any = &*r;
  }
  if (any == nullptr) return;
  out << job.name << ": " << FormatInteger(job.session->LastSample + 1)
      << " samples, microphone location " << FormatInteger(any->MicLocation) << " ("
      << MicLocationName(any->MicLocation) << ")\n";
  for (const Listener listener : listeners) {
    const auto& r = job.results[ListenerSlot(listener)];
    if (!r) continue;
    const CochlearResult& c = r->cochlea;
    const std::string name = ListenerName(listener);
    out << "  " << name << std::string(10 - name.size(), ' ') << r->HazardText
        << " A.R.U.  allowed exposures " << r->AllowedText << "  worst place "
        << FormatInteger(c.WorstSection) << "\n";
  }
  for (const auto& r : job.results) {
    if (r && !r->place_table_path.empty()) {
      out << "  place table: " << r->place_table_path.string() << "\n";
    }
  }
}

void PrintJson(const FileJob& job, const std::vector<Listener>& listeners, const ModelFileId& model,
               std::ostream& out) {
  const HazardRunResult* any = nullptr;
  for (const auto& r : job.results) {
    if (r) any = &*r;
  }
  if (any == nullptr) return;
  out << "{\"file\": " << JsonString(job.name)
      << ", \"samples\": " << FormatInteger(job.session->LastSample + 1)
      << ", \"mic_location\": " << FormatInteger(any->MicLocation)
      << ", \"model_file\": " << JsonString(model.file)
      << ", \"model_sha256\": " << JsonString(model.sha256);
  for (const Listener listener : listeners) {
    const auto& r = job.results[ListenerSlot(listener)];
    if (r) out << ", \"" << ListenerName(listener) << "\": " << RunJson(*r);
  }
  out << "}\n";
}

void PrintCsv(const FileJob& job, const std::vector<Listener>& listeners, std::ostream& out) {
  for (const Listener listener : listeners) {
    const auto& r = job.results[ListenerSlot(listener)];
    if (!r) continue;
    const CochlearResult& c = r->cochlea;
    out << CsvField(job.name) << "," << ListenerName(listener) << ","
        << FormatInteger(job.session->LastSample + 1) << "," << FormatInteger(r->MicLocation) << ","
        << SingleText(c.TotalHazardARU) << "," << CsvField(r->HazardText) << ","
        << CsvField(r->AllowedText) << "," << FormatInteger(c.WorstSection) << ","
        << FormatInteger(c.FftLength) << "\n";
  }
}

int RunHazard(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--model", "-j", "--jobs"}, {"--warned", "--unwarned", "--json", "--csv"});
  if (args.Positional().empty()) throw UsageError("no input file");
  if (args.Has("--json") && args.Has("--csv")) throw UsageError("choose one of --json and --csv");
  const Format format = args.Has("--json")  ? Format::Json
                        : args.Has("--csv") ? Format::Csv
                                            : Format::Table;
  std::vector<Listener> listeners;
  const bool neither = !args.Has("--warned") && !args.Has("--unwarned");
  if (neither || args.Has("--warned")) listeners.push_back(Listener::Warned);
  if (neither || args.Has("--unwarned")) listeners.push_back(Listener::Unwarned);

  HazardRunPlan plan;
  plan.listeners = listeners;
  plan.jobs = JobsOption(args);
  // The parameter file is found and checked once, before any work.
  const std::optional<ModelFileId> model_id = CheckedModelFile(args, io);
  if (!model_id) return 1;
  plan.model_file = model_id->file;
  const std::vector<std::unique_ptr<FileJob>> files = RunHazardJobs(args.Positional(), plan, io);

  int status = 0;
  if (format == Format::Csv) {
    io.out << "file,listener,samples,mic_location,aru,aru_text,allowed,worst_section,fft_length\n";
  }
  for (const auto& file : files) {
    if (!file->open_error.empty()) {
      ReportFileError(file->name, file->open_error, io);
      status = 1;
      continue;
    }
    for (const Listener listener : listeners) {
      const std::string& error = file->errors[ListenerSlot(listener)];
      if (!error.empty()) {
        ReportFileError(file->name, error, io);
        status = 1;
      }
      ReportRunNotes(*file, listener, io);
    }
    switch (format) {
      case Format::Table:
        PrintTable(*file, listeners, io.out);
        break;
      case Format::Json:
        PrintJson(*file, listeners, *model_id, io.out);
        break;
      case Format::Csv:
        PrintCsv(*file, listeners, io.out);
        break;
    }
  }
  return status;
}

KORVA_CLI_COMMAND(
    {"hazard", "hearing hazard (A.R.U.) and allowed exposures, warned and unwarned",
     "Usage: korva-cli hazard [options] FILE...\n"
     "Opens each KRV file as the window's Open does and runs the ear model on it:\n"
     "the middle ear chosen by the microphone location (header row 3: 1 or 4 free\n"
     "field, 2 ear-canal entrance, 3 eardrum), then the cochlea. Prints the hazard\n"
     "in auditory risk units (A.R.U.) and the allowed number of exposures\n"
     "(500 / hazard; \"unlimited\" for a hazard of 0) for a warned and an unwarned\n"
     "listener, and writes the cochlear place table BASENAME.HAZ next to the\n"
     "waveform when its folder is writable. When both listeners run, the table\n"
     "holds the unwarned run (as after the window's warned and then unwarned\n"
     "command).\n\n"
     "Options:\n"
     "  --warned        the warned listener only (reflex active before the sound)\n"
     "  --unwarned      the unwarned listener only (both when neither is given)\n"
     "  --model FILE    the ear-model parameter file (default: the file named by\n"
     "                  Man.Fig in the current folder, $KORVA_DATA_DIR or the\n"
     "                  program's data folder)\n"
     "  --json          one JSON object per file and line: file, samples,\n"
     "                  mic_location, model_file, model_sha256 (the ear-model file\n"
     "                  and its SHA-256) and, per listener run, an object \"warned\" /\n"
     "                  \"unwarned\" with aru, aru_text, allowed (null for a hazard\n"
     "                  of 0), allowed_text, section_hazard, worst_section, fft_length\n"
     "  --csv           one row per file and listener, with a header row\n"
     "  -j, --jobs N    threads to use (default: the number of cores); they share\n"
     "                  the files, both listeners of each and the cochlear places\n\n"
     "Progress goes to standard error when it is a terminal. Exit status: 0 when\n"
     "every file was analysed, 1 when a file or the parameter file failed, 2 for\n"
     "bad usage, 130 when Ctrl-C stopped it (no results are printed then, and no\n"
     "place table is left half-written).\n",
     &RunHazard});

}  // namespace
}  // namespace korva::cli
