// korva-cli hazard: the warned and unwarned hazard of each file, as the
// window's two Analyze commands compute them. The files, their listeners
// and the cochlear places share one pool of -j threads.
#include "core/model/hazard.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "app/cli/shots.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/common/numbers.h"

namespace korva::cli {
namespace {

enum class Format { Table, Json, Csv };

bool AnyRun(const ShotReport& shot) {
  return shot.hazard[0] || shot.hazard[1];
}

void PrintTable(const ShotReport& shot, const std::vector<Listener>& listeners, std::ostream& out) {
  out << shot.file << ": " << FormatInteger(shot.samples) << " samples, microphone location "
      << FormatInteger(shot.mic_location) << " (" << MicLocationName(shot.mic_location) << ")\n";
  for (const Listener listener : listeners) {
    if (!shot.Run(listener)) continue;
    std::string name = ListenerName(listener);
    name.resize(10, ' ');
    out << "  " << name << ListenerLine(shot, listener) << "\n";
  }
  for (const auto& run : shot.hazard) {
    if (run && !run->place_table_path.empty()) {
      out << "  place table: " << run->place_table_path.string() << "\n";
    }
  }
}

// The JSON keys of this command: the file, its waveform, the ear-model file
// and the listeners' objects.
std::vector<const Field*> JsonFields() {
  std::vector<const Field*> fields;
  for (const Field& field : ShotFields()) {
    const bool wanted = field.key == "file" || field.key == "samples" ||
                        field.key == "mic_location" || field.group == FieldGroup::kModel ||
                        field.group == FieldGroup::kListener;
    if (wanted) fields.push_back(&field);
  }
  return fields;
}

// One row per file and listener. Its "allowed" column holds the allowed
// number as text ("unlimited" for a hazard of 0), as it always has.
constexpr const char* kCsvHeader =
    "file,listener,samples,mic_location,aru,aru_text,allowed,worst_section,fft_length\n";
constexpr const char* kCsvRunKeys[] = {"aru", "aru_text", "allowed_text", "worst_section",
                                       "fft_length"};

void PrintCsv(const ShotReport& shot, const std::vector<Listener>& listeners, std::ostream& out) {
  for (const Listener listener : listeners) {
    if (!shot.Run(listener)) continue;
    out << CsvField(shot.file) << "," << ListenerName(listener) << ","
        << FormatInteger(shot.samples) << "," << FormatInteger(shot.mic_location);
    for (const char* key : kCsvRunKeys) {
      out << "," << CsvCell(FieldNamed(ListenerName(listener), key).value(shot));
    }
    out << "\n";
  }
}

int RunHazard(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--model", "-j", "--jobs"}, {"--warned", "--unwarned", "--json", "--csv"});
  if (args.Positional().empty()) throw UsageError("no input file");
  if (args.Has("--json") && args.Has("--csv")) throw UsageError("choose one of --json and --csv");
  const Format format = args.Has("--json")  ? Format::Json
                        : args.Has("--csv") ? Format::Csv
                                            : Format::Table;
  AnalysisOptions options;
  options.listeners.clear();
  const bool neither = !args.Has("--warned") && !args.Has("--unwarned");
  if (neither || args.Has("--warned")) options.listeners.push_back(Listener::Warned);
  if (neither || args.Has("--unwarned")) options.listeners.push_back(Listener::Unwarned);
  options.describe = false;
  options.write_place_table = true;
  const long long jobs = JobsOption(args);
  // The parameter file is found and checked once, before any work.
  const std::optional<ModelFileId> model = CheckedModelFile(args, io);
  if (!model) return 1;
  options.model_file = model->file;
  const std::vector<ShotReport> shots =
      AnalyzeFilesShowingProgress(args.Positional(), options, jobs, "hazard", io);

  int status = 0;
  if (format == Format::Csv) io.out << kCsvHeader;
  const std::vector<const Field*> json_fields = JsonFields();
  for (const ShotReport& shot : shots) {
    ReportShotProblems(shot, io);
    if (shot.failed()) status = 1;
    if (!AnyRun(shot)) continue;
    switch (format) {
      case Format::Table:
        PrintTable(shot, options.listeners, io.out);
        break;
      case Format::Json:
        io.out << JsonObject(shot, json_fields) << "\n";
        break;
      case Format::Csv:
        PrintCsv(shot, options.listeners, io.out);
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
     "  -j, --jobs N    threads to use (default: the cores it may use); they share\n"
     "                  the files, both listeners of each and the cochlear places\n\n"
     "Progress goes to standard error when it is a terminal. Exit status: 0 when\n"
     "every file was analysed, 1 when a file or the parameter file failed, 2 for\n"
     "bad usage, 130 when Ctrl-C stopped it (no results are printed then, and no\n"
     "place table is left half-written).\n",
     &RunHazard});

}  // namespace
}  // namespace korva::cli
