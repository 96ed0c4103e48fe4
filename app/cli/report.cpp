// korva-cli report: one row per shot with the impulse descriptors, the
// energy metrics and the hazard of both listeners, a summary of the series,
// and (with Qt) a self-contained HTML page or a PDF to hand on.
#include "app/cli/report.h"

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/interval.h"
#include "app/cli/json.h"
#include "app/cli/shots.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/waveform/waveform.h"

namespace korva::cli {

ReportPagesFactory& ReportPagesMaker() {
  static ReportPagesFactory factory = nullptr;
  return factory;
}

namespace {

constexpr Listener kListeners[] = {Listener::Warned, Listener::Unwarned};

using NamedNumber = std::pair<const char*, std::optional<double>>;

// --- CSV: one row per shot, then the summary rows, all under one header.

void PrintCsvHeader(std::ostream& out) {
  for (const Field* field : TableFields()) out << field->Column() << ",";
  out << "summary\n";
}

void PrintCsvRow(const ShotReport& s, std::ostream& out) {
  for (const Field* field : TableFields()) out << CsvCell(field->value(s)) << ",";
  out << "\n";
}

// A summary row: the named columns filled, the others empty.
void PrintCsvSummaryRow(const char* label, const std::vector<NamedNumber>& values,
                        std::ostream& out) {
  for (const Field* field : TableFields()) {
    for (const NamedNumber& v : values) {
      if (field->Column() == v.first) out << CsvCell(FieldValue::Number(v.second));
    }
    out << ",";
  }
  out << label << "\n";
}

// (A CSV file keeps one table; the model file is named on the text and JSON
// outputs and on the pages.)
void PrintCsvSummary(const ShotSummary& s, const ModelFileId&, std::ostream& out) {
  PrintCsvSummaryRow("energy mean",
                     {{"peak_db", s.peak_db.energy_mean},
                      {"lae_db", s.lae_db.energy_mean},
                      {"LAeq8hr", s.LAeq8hr.energy_mean}},
                     out);
  PrintCsvSummaryRow("maximum",
                     {{"peak_db", s.peak_db.maximum},
                      {"lae_db", s.lae_db.maximum},
                      {"LAeq8hr", s.LAeq8hr.maximum}},
                     out);
  PrintCsvSummaryRow(
      "least allowed",
      {{"warned_allowed", s.least_allowed[0]}, {"unwarned_allowed", s.least_allowed[1]}}, out);
  PrintCsvSummaryRow("all in one day",
                     {{"LAeq8hr", s.day_LAeq8hr},
                      {"AllowedRounds", s.day_allowed_by_energy},
                      {"warned_aru", s.day_aru[0]},
                      {"warned_allowed", s.day_allowed_by_model[0]},
                      {"unwarned_aru", s.day_aru[1]},
                      {"unwarned_allowed", s.day_allowed_by_model[1]}},
                     out);
}

// --- JSON: one object per shot and line, the summary last.

// Every field but the ear-model file's, which the summary names once.
std::vector<const Field*> JsonFields() {
  std::vector<const Field*> fields;
  for (const Field& field : ShotFields()) {
    if (field.group != FieldGroup::kModel) fields.push_back(&field);
  }
  return fields;
}

void PrintJsonRow(const ShotReport& s, std::ostream& out) {
  static const std::vector<const Field*> fields = JsonFields();
  out << JsonObject(s, fields) << "\n";
}

void PrintJsonSummary(const ShotSummary& s, const ModelFileId& model, std::ostream& out) {
  out << "{\"summary\": true, \"files\": " << FormatInteger(s.files)
      << ", \"failed\": " << FormatInteger(s.failed)
      << ", \"model_file\": " << JsonString(model.file)
      << ", \"model_sha256\": " << JsonString(model.sha256);
  const std::pair<const char*, const ShotSummary::Levels*> levels[] = {
      {"peak_db", &s.peak_db}, {"lae_db", &s.lae_db}, {"LAeq8hr", &s.LAeq8hr}};
  for (const auto& [key, value] : levels) {
    out << ", \"" << key << "_energy_mean\": " << JsonNumber(value->energy_mean) << ", \"" << key
        << "_max\": " << JsonNumber(value->maximum);
  }
  out << ", \"least_allowed_rounds\": " << JsonNumber(s.least_allowed_rounds)
      << ", \"least_allowed_rounds_file\": " << JsonString(s.least_allowed_rounds_file)
      << ", \"day_LAeq8hr\": " << JsonNumber(s.day_LAeq8hr)
      << ", \"day_allowed_by_energy\": " << JsonNumber(s.day_allowed_by_energy);
  for (const Listener listener : kListeners) {
    const std::size_t k = ListenerSlot(listener);
    const std::string name = ListenerName(listener);
    out << ", \"" << name << "_least_allowed\": " << JsonNumber(s.least_allowed[k]) << ", \""
        << name << "_least_allowed_file\": " << JsonString(s.least_allowed_file[k]) << ", \""
        << name << "_day_aru\": " << FormatShortest(s.day_aru[k]) << ", \"" << name
        << "_day_allowed\": " << JsonNumber(s.day_allowed_by_model[k]);
  }
  out << "}\n";
}

// --- Text: a block per shot, the summary last.

std::string Fixed(const std::optional<double>& value, int decimals, const char* unit = "") {
  return value ? FormatFixed(*value, decimals) + unit : std::string("n/a");
}

std::string Allowed(const std::optional<double>& allowed) {
  return allowed ? FormatFixed(*allowed, 1) : std::string("unlimited");
}

void PrintTextRow(const ShotReport& s, std::ostream& out) {
  if (!s.opened) {
    out << s.file << ": failed: " << s.error << "\n";
    return;
  }
  out << s.file << ": " << FormatInteger(s.samples) << " samples at " << ShortestSingle(s.rate)
      << " Hz, microphone location " << FormatInteger(s.mic_location) << " ("
      << MicLocationName(s.mic_location) << ")\n";
  if (s.failed()) out << "  failed: " << s.error << "\n";
  if (s.measured || s.described) {
    for (const FieldGroup group :
         {FieldGroup::kInterval, FieldGroup::kDescriptor, FieldGroup::kMetric}) {
      PrintTextFields(s, FieldsOf(group), out);
    }
  }
  for (const Listener listener : kListeners) {
    if (!s.Run(listener)) continue;
    std::string name = ListenerName(listener);
    name.resize(20, ' ');
    out << "  " << name << ListenerLine(s, listener) << "\n";
  }
}

void PrintTextSummary(const ShotSummary& s, const ModelFileId& model, std::ostream& out) {
  out << "summary: " << FormatInteger(s.files) << (s.files == 1 ? " file, " : " files, ")
      << FormatInteger(s.failed) << " failed\n"
      << "  ear-model file " << model.file << " (SHA-256 " << model.sha256 << ")\n";
  const std::string re = std::string(" ") + kUnitDbRe20uPa;
  const std::string db94 = std::string(" ") + kUnitDb94;
  const std::tuple<const char*, const ShotSummary::Levels*, const std::string*> levels[] = {
      {"peak", &s.peak_db, &re}, {"LAE", &s.lae_db, &re}, {"LAeq8hr", &s.LAeq8hr, &db94}};
  for (const auto& [label, value, unit] : levels) {
    std::string padded = label;
    padded.resize(10, ' ');
    out << "  " << padded << "energy mean " << Fixed(value->energy_mean, 2, unit->c_str())
        << ", maximum " << Fixed(value->maximum, 2, unit->c_str()) << "\n";
  }
  for (const Listener listener : kListeners) {
    const std::size_t k = ListenerSlot(listener);
    if (s.runs[k] == 0) continue;
    out << "  least allowed exposures, " << ListenerName(listener) << ": "
        << Allowed(s.least_allowed[k]);
    if (!s.least_allowed_file[k].empty()) out << " (" << s.least_allowed_file[k] << ")";
    out << "\n";
  }
  if (s.least_allowed_rounds) {
    out << "  least allowed rounds by energy: " << FormatFixed(*s.least_allowed_rounds, 1) << " ("
        << s.least_allowed_rounds_file << ")\n";
  }
  out << "  all shots in one day: LAeq8hr " << Fixed(s.day_LAeq8hr, 2, db94.c_str())
      << ", allowed by energy " << (s.day_LAeq8hr ? Allowed(s.day_allowed_by_energy) : "n/a")
      << " times\n";
  for (const Listener listener : kListeners) {
    const std::size_t k = ListenerSlot(listener);
    if (s.runs[k] == 0) continue;
    out << "    " << ListenerName(listener) << ": " << HazardText(static_cast<float>(s.day_aru[k]))
        << " A.R.U., allowed by the model " << Allowed(s.day_allowed_by_model[k]) << " times\n";
  }
}

// --- The command.

struct Printer {
  void (*header)(std::ostream&);
  void (*row)(const ShotReport&, std::ostream&);
  void (*summary)(const ShotSummary&, const ModelFileId&, std::ostream&);
};
constexpr Printer kText{nullptr, PrintTextRow, PrintTextSummary};
constexpr Printer kJson{nullptr, PrintJsonRow, PrintJsonSummary};
constexpr Printer kCsv{PrintCsvHeader, PrintCsvRow, PrintCsvSummary};

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// A page is written at the end of a long run: a folder that cannot take it
// is better known before the run starts.
void CheckOutputFolder(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    throw Error(path + ": the folder " + parent.string() + " does not exist");
  }
}

int RunReport(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--from", "--to", "--html", "--pdf", "--model", "-j", "--jobs"},
                  {"--json", "--csv"});
  if (args.Positional().empty()) throw UsageError("no input file");
  if (args.Has("--json") && args.Has("--csv")) throw UsageError("choose one of --json and --csv");
  const Printer& print = args.Has("--json") ? kJson : args.Has("--csv") ? kCsv : kText;
  const IntervalRequest request = ReadInterval(args);
  const std::string html = args.Value("--html").value_or("");
  const std::string pdf = args.Value("--pdf").value_or("");
  std::unique_ptr<ReportPages> pages;
  if (!html.empty() || !pdf.empty()) {
    if (ReportPagesMaker() == nullptr) {
      throw UsageError("this korva-cli was built without Qt: --html and --pdf are not available");
    }
    if (!html.empty() && html == pdf) throw UsageError("--html and --pdf name the same file");
    pages = ReportPagesMaker()();
  }

  AnalysisOptions options;
  options.interval = request;
  // A report describes; it leaves no place tables beside the waveforms.
  options.write_place_table = false;
  options.keep_waveform = pages != nullptr;
  const long long jobs = JobsOption(args);
  const std::optional<ModelFileId> model = CheckedModelFile(args, io);
  if (!model) return 1;
  options.model_file = model->file;
  try {
    for (const std::string& page : {html, pdf}) {
      if (!page.empty()) CheckOutputFolder(page);
    }
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what() << "\n";
    return 1;
  }
  std::vector<ShotReport> shots =
      AnalyzeFilesShowingProgress(args.Positional(), options, jobs, "report", io);
  ProgressLine progress(io);
  if (pages) {
    for (ShotReport& shot : shots) {
      if (Interrupted()) throw Cancelled();
      const std::optional<Session> session =
          shot.waveform ? std::optional<Session>(SessionOf(*shot.waveform)) : std::nullopt;
      pages->AddShot(shot, shot.failed() || !session ? nullptr : &*session);
      shot.waveform.reset();  // drawn; no longer needed
    }
  }
  const ShotSummary summary = SummariseShots(shots);
  if (pages) {
    const ReportInfo info{"KORVA " KORVA_VERSION, Today(), model->file, model->sha256};
    progress.Label("report: writing the pages, ");
    pages->Write(summary, info, html, pdf, progress);
  }
  progress.Clear();

  // Printed only once everything is done: an interrupted command prints
  // nothing that could be taken for the whole.
  if (print.header != nullptr) print.header(io.out);
  for (const ShotReport& shot : shots) {
    ReportShotProblems(shot, io);
    print.row(shot, io.out);
  }
  print.summary(summary, *model, io.out);
  for (const std::string& page : {html, pdf}) {
    if (!page.empty()) io.err << "korva-cli: wrote " << page << "\n";
  }
  return summary.failed > 0 ? 1 : 0;
}

KORVA_CLI_COMMAND(
    {"report", "per-shot table of impulse descriptors, energy metrics and hazard; HTML, PDF",
     "Usage: korva-cli report FILE... [--from MS --to MS] [--csv | --json]\n"
     "                        [--html OUT.html] [--pdf OUT.pdf] [-j N] [--model FILE]\n"
     "Opens each KRV file as the window's Open does (dither and power-of-two length\n"
     "included) and describes the analysed interval (the whole waveform unless\n"
     "--from and --to give it, in milliseconds, each taken to the nearest sample):\n"
     "  peak_db, peak_pa, peak_time_ms   largest |p|, its signed value and time\n"
     "  a_duration_ms     positive phase around the peak (of -p for a negative peak),\n"
     "                    between linearly interpolated zero crossings\n"
     "  b_duration_ms     first to last sample within 20 dB of the peak\n"
     "  c_duration_ms     total time of the samples within 20 dB of the peak\n"
     "  rise_time_ms      from 10 % to 90 % of the peak\n"
     "  lcpeak_db         peak of the C-weighted waveform\n"
     "  lae_db, lze_db    A-weighted and unweighted sound exposure levels (re 1 s)\n"
     "  liaeq100ms_db     lae_db + 10\n"
     "  kurtosis          n sum(p - mean)^4 / (sum(p - mean)^2)^2 (3 for noise)\n"
     "  crest_factor_db   peak over RMS\n"
     "Levels are dB re 20 uPa; the weightings are the analytic IEC 61672-1 ones,\n"
     "applied in the frequency domain. Beside them: the interval metrics of\n"
     "'korva-cli metrics' (LAeqInterval, LAeq8hr, AllowedRounds, AWeightedExposure,\n"
     "LeqInterval; 94 dB for 1 Pa) and the hazard of both listeners as\n"
     "'korva-cli hazard' computes it (no place tables are written).\n\n"
     "After the files, a summary: the energy mean and maximum of peak_db, lae_db\n"
     "and LAeq8hr, the least allowed exposures of each listener, and what is\n"
     "allowed when all the shots are fired in one day: by the energy rule (their\n"
     "LAeq8hr summed) and by the model (500 / the sum of their A.R.U.).\n\n"
     "Options:\n"
     "  --from MS, --to MS  the analysed interval in milliseconds\n"
     "  --json          one JSON object per file and line with the keys above plus\n"
     "                  file, samples, rate, mic_location, from_ms, to_ms and the\n"
     "                  objects \"warned\" and \"unwarned\" of 'hazard --json'; a\n"
     "                  failed file gives {\"file\", \"error\"}; the summary is a last\n"
     "                  object with \"summary\": true, model_file and model_sha256.\n"
     "                  null: no value, or unlimited.\n"
     "  --csv           one row per file under a header row, the listener objects\n"
     "                  flattened (warned_aru, warned_allowed, ...; no place\n"
     "                  hazards), then summary rows named in the last column\n"
     "  --html OUT.html a self-contained page (pictures embedded) to hand on\n"
     "  --pdf OUT.pdf   the same as an A4 PDF with page numbers\n"
     "  -j, --jobs N    threads to use (default: the cores it may use); they share\n"
     "                  the files, both listeners of each and the cochlear places\n"
     "  --model FILE    the ear-model parameter file (default: the one Man.Fig names)\n\n"
     "A file that cannot be read is reported on stderr and as a row with its error\n"
     "alone; a part that fails (a listener's run, an interval off the waveform) is\n"
     "named in the row's error and the rest of the row stays. The other files go\n"
     "on. Progress goes to stderr when it is a terminal.\n"
     "Exit status: 0 when every file was reported, 1 when one failed, 2 bad usage,\n"
     "130 when Ctrl-C stopped it (nothing is printed then and no page written).\n",
     &RunReport});

}  // namespace
}  // namespace korva::cli
