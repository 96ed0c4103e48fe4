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
#include "app/cli/drawing.h"
#include "app/cli/interval.h"
#include "app/cli/json.h"
#include "app/cli/recording_options.h"
#include "app/cli/shots.h"
#include "app/cli/verdict.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/analysis/series.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/waveform/waveform.h"

namespace korva::cli {

ReportPagesFactory& ReportPagesMaker() {
  static ReportPagesFactory factory = nullptr;
  return factory;
}

namespace {

constexpr Listener kListeners[] = {Listener::Warned, Listener::Unwarned};

using NamedNumber = std::pair<const char*, std::optional<double>>;
using NamedValue = std::pair<std::string, FieldValue>;

// The columns the CSV shows: the shots' (with the criteria and the
// protectors asked for), then the series' own.
struct Table {
  std::vector<Column> columns;
  std::vector<std::string> series_columns;
};

Table TableFor(const AnalysisOptions& options) {
  Table table;
  table.columns = TableColumns(options.protectors.names);
  table.series_columns = SeriesOnlyColumns(table.columns);
  return table;
}

// --- CSV: one row per shot, then the summary rows, all under one header.

void PrintCsvHeader(const Table& table, std::ostream& out) {
  for (const Column& column : table.columns) out << CsvField(column.name) << ",";
  for (const std::string& column : table.series_columns) out << column << ",";
  out << "summary\n";
}

void PrintCsvRow(const Table& table, const ShotReport& s, std::ostream& out) {
  for (const FieldValue& cell : TableCells(s, table.columns)) out << CsvCell(cell) << ",";
  out << std::string(table.series_columns.size(), ',') << "\n";
}

// A summary row: the named columns filled, the others empty.
void PrintCsvSummaryRow(const Table& table, const char* label,
                        const std::vector<NamedValue>& values, std::ostream& out) {
  const auto cell = [&](const std::string& column) {
    for (const NamedValue& v : values) {
      if (column == v.first) out << CsvCell(v.second);
    }
    out << ",";
  };
  for (const Column& column : table.columns) cell(column.name);
  for (const std::string& column : table.series_columns) cell(column);
  out << label << "\n";
}

std::vector<NamedValue> Numbers(const std::vector<NamedNumber>& values) {
  std::vector<NamedValue> out;
  for (const auto& [name, value] : values) out.emplace_back(name, FieldValue::Number(value));
  return out;
}

// (A CSV file keeps one table; the model file is named on the text and JSON
// outputs and on the pages.)
void PrintCsvSummary(const Table& table, const ShotSummary& s, const ModelFileId&,
                     std::ostream& out) {
  PrintCsvSummaryRow(table, "energy mean",
                     Numbers({{"peak_db", s.peak_db.energy_mean},
                              {"lae_db", s.lae_db.energy_mean},
                              {"LAeq8hr", s.LAeq8hr.energy_mean}}),
                     out);
  PrintCsvSummaryRow(table, "maximum",
                     Numbers({{"peak_db", s.peak_db.maximum},
                              {"lae_db", s.lae_db.maximum},
                              {"LAeq8hr", s.LAeq8hr.maximum}}),
                     out);
  PrintCsvSummaryRow(
      table, "least allowed",
      Numbers({{"warned_allowed", s.least_allowed[0]}, {"unwarned_allowed", s.least_allowed[1]}}),
      out);
  std::vector<NamedValue> day = Numbers({{"LAeq8hr", s.day_LAeq8hr},
                                         {"AllowedRounds", s.day_allowed_by_energy},
                                         {"warned_aru", s.day_aru[0]},
                                         {"warned_allowed", s.day_allowed_by_model[0]},
                                         {"unwarned_aru", s.day_aru[1]},
                                         {"unwarned_allowed", s.day_allowed_by_model[1]}});
  for (NamedValue& criterion : SeriesCriteriaCells(s)) day.push_back(std::move(criterion));
  PrintCsvSummaryRow(table, "all in one day", day, out);
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

void PrintJsonRow(const Table&, const ShotReport& s, std::ostream& out) {
  static const std::vector<const Field*> fields = JsonFields();
  out << JsonObject(s, fields) << "\n";
}

void PrintJsonSummary(const Table&, const ShotSummary& s, const ModelFileId& model,
                      std::ostream& out) {
  out << "{\"summary\": true, \"files\": " << FormatInteger(s.files)
      << ", \"shots\": " << FormatInteger(s.shots) << ", \"failed\": " << FormatInteger(s.failed)
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
  out << JsonVerdictMembers(s) << "}\n";
}

// --- Text: a block per shot, the summary last.

std::string Fixed(const std::optional<double>& value, int decimals, const char* unit = "") {
  return value ? FormatFixed(*value, decimals) + unit : std::string("n/a");
}

std::string Allowed(const std::optional<double>& allowed) {
  return allowed ? FormatFixed(*allowed, 1) : std::string("unlimited");
}

void PrintTextRow(const Table&, const ShotReport& s, std::ostream& out) {
  if (!s.opened) {
    out << ShotName(s) << ": failed: " << s.error << "\n";
    return;
  }
  out << ShotName(s) << ": " << FormatInteger(s.samples) << " samples at " << ShortestSingle(s.rate)
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
  PrintTextCriteria(s, out);
}

void PrintTextSummary(const Table&, const ShotSummary& s, const ModelFileId& model,
                      std::ostream& out) {
  out << "summary: " << RowsText(s) << ", " << FormatInteger(s.failed) << " failed\n";
  PrintTextVerdictSentence(s, out);
  out << "  ear-model file " << model.file << " (SHA-256 " << model.sha256 << ")\n";
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
  PrintTextVerdictTable(s, out);
}

// --- The command.

struct Printer {
  void (*header)(const Table&, std::ostream&);
  void (*row)(const Table&, const ShotReport&, std::ostream&);
  void (*summary)(const Table&, const ShotSummary&, const ModelFileId&, std::ostream&);
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

// The inputs analysed on a pool of `jobs` threads, with a progress line
// "report: 40% of 3 inputs".
InputsReport AnalyzeInputsShowingProgress(const std::vector<std::string>& files,
                                          const InputOptions& inputs,
                                          const AnalysisOptions& options, long long jobs,
                                          Streams& io) {
  ThreadPool pool(static_cast<int>(jobs));
  AnalysisOptions on_pool = options;
  on_pool.pool = &pool;
  ProgressLine progress(io);
  progress.Label("report: ", " of " + FormatInteger(static_cast<long long>(files.size())) +
                                 (files.size() == 1 ? " input" : " inputs"));
  return AnalyzeInputs(files, inputs, on_pool, progress);
}

// The recordings' options: the part (--from, --to in seconds) and the
// shot options with --shots; without it --from and --to are the analysed
// interval in milliseconds, and a recording is analysed whole.
InputOptions ReadInputOptions(const Args& args, bool split) {
  InputOptions inputs;
  inputs.split = split;
  inputs.search = ParseShotSearch(args);
  if (!split) {
    for (const char* option : {"--threshold", "--min-peak", "--pre", "--post", "--min-gap"}) {
      if (args.Has(option)) throw UsageError(std::string(option) + " goes with --shots");
    }
    inputs.search.recording.from_s.reset();
    inputs.search.recording.to_s.reset();
  }
  // The loudest shots get pictures: a series of a few hundred stays readable.
  inputs.keep_loudest = split ? std::optional<std::size_t>(kDefaultPicturedShots) : std::nullopt;
  if (const auto pictures = args.Value("--pictures")) {
    if (*pictures == "all") {
      inputs.keep_loudest.reset();
    } else {
      const auto count = args.Integer("--pictures");
      if (!count || *count < 0) {
        throw UsageError("--pictures takes all or a number of shots, not '" + *pictures + "'");
      }
      inputs.keep_loudest = static_cast<std::size_t>(*count);
    }
  }
  return inputs;
}

int RunReport(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv,
                  WithShotOptions({"--from", "--to", "--html", "--pdf", "--model", "-j", "--jobs",
                                   "--pictures", "--protector", "--protectors", "--table"}),
                  {"--json", "--csv", "--shots"});
  if (args.Positional().empty()) throw UsageError("no input file");
  if (args.Has("--json") && args.Has("--csv")) throw UsageError("choose one of --json and --csv");
  const Printer& print = args.Has("--json") ? kJson : args.Has("--csv") ? kCsv : kText;
  const bool split = args.Has("--shots");
  const InputOptions inputs = ReadInputOptions(args, split);
  const IntervalRequest request = split ? IntervalRequest{} : ReadInterval(args);
  const std::string html = args.Value("--html").value_or("");
  const std::string pdf = args.Value("--pdf").value_or("");
  std::unique_ptr<ReportPages> pages;
  if (!html.empty() || !pdf.empty()) {
    const std::string& no_drawing = LoadDrawing();
    if (ReportPagesMaker() == nullptr) {
      throw UsageError(no_drawing + ": --html and --pdf are not available");
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
  const std::optional<ProtectorSet> protectors = ChosenProtectors(args, io);
  if (!protectors) return 1;
  options.protectors = *protectors;
  const Table table = TableFor(options);
  try {
    for (const std::string& page : {html, pdf}) {
      if (!page.empty()) CheckOutputFolder(page);
    }
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what() << "\n";
    return 1;
  }
  InputsReport report = AnalyzeInputsShowingProgress(args.Positional(), inputs, options, jobs, io);
  std::vector<ShotReport>& shots = report.rows;
  ProgressLine progress(io);
  if (pages) {
    for (const RecordingShots& recording : report.recordings) {
      if (Interrupted()) throw Cancelled();
      pages->AddRecording(recording.source.info.path.string(), recording);
    }
    for (ShotReport& shot : shots) {
      if (Interrupted()) throw Cancelled();
      const std::optional<Session> session =
          shot.waveform ? std::optional<Session>(SessionOf(*shot.waveform)) : std::nullopt;
      // A shot whose waveform was not kept is one of a long series' quieter ones.
      pages->AddShot(shot, shot.failed() || !session ? nullptr : &*session,
                     shot.failed() || session.has_value());
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
  if (print.header != nullptr) print.header(table, io.out);
  for (const ShotReport& shot : shots) {
    ReportShotProblems(shot, io);
    print.row(table, shot, io.out);
  }
  print.summary(table, summary, *model, io.out);
  for (const std::string& page : {html, pdf}) {
    if (!page.empty()) io.err << "korva-cli: wrote " << page << "\n";
  }
  return summary.failed > 0 ? 1 : 0;
}

KORVA_CLI_COMMAND(
    {"report", "per-shot table of impulse descriptors, energy metrics and hazard; HTML, PDF",
     "Usage: korva-cli report FILE... [--from MS --to MS] [--csv | --json]\n"
     "                        [--html OUT.html] [--pdf OUT.pdf] [-j N] [--model FILE]\n"
     "                        [--protector NAME]... [--protectors all] [--table FILE]\n"
     "       korva-cli report REC... --shots [recording and shot options]\n"
     "                        [--pictures all|N] [--csv | --json] [--html OUT.html] ...\n"
     "Opens each KRV file as the window's Open does (dither and power-of-two length\n"
     "included) and describes the analysed interval (the whole waveform unless\n"
     "--from and --to give it, in milliseconds, each taken to the nearest sample):\n"
     "  peak_db, peak_pa, peak_time_ms   largest |p|, its signed value and its time\n"
     "                    from the start of the interval (from_ms on the waveform)\n"
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
     "Criteria (docs/criteria.md): each shot is judged by the EU directive's peak\n"
     "tiers (LCpeak against 135/137/140 dB(C)), OSHA's and the DoD's 140 dB peak,\n"
     "NIOSH's dose and MIL-STD-1474E's energy method; the series, fired in one\n"
     "day, by the EU daily exposure LEX,8h, NIOSH, MIL-STD-1474E and the ear\n"
     "model. The summary opens with the verdict: the criterion allowing the\n"
     "fewest shots a day, then the model's count under each protector; a table\n"
     "of every criterion follows. The peak and energy criteria assume a\n"
     "free-field measurement: for microphone locations 2 and 3 they are left out\n"
     "(and no protector is predicted); the ear model still judges those shots.\n\n"
     "A field recording (a sound or MATLAB file) is read as 'korva-cli import' reads\n"
     "it (--channel, the calibration, --mic) and analysed whole as the waveform its\n"
     "KRV file would hold. With --shots, every shot of every recording is a row\n"
     "(file, shot, time_s), found as 'korva-cli shots' finds it and analysed as the\n"
     "KRV file 'shots --out' writes for it; --from and --to are then seconds into\n"
     "the recordings, and each shot's whole window is analysed. A KRV file among\n"
     "them is one shot. The summary takes every row as one day's exposure.\n\n"
     "Options:\n"
     "  --from MS, --to MS  the analysed interval in milliseconds (with --shots:\n"
     "                  the part of the recordings searched, in seconds)\n"
     "  --shots         find the shots of each recording and analyse each\n"
     "  --pictures all|N  pictures for the N loudest shots (by peak; default 20 with\n"
     "                  --shots, all without); the others stand in the tables\n"
     "  --json          one JSON object per row and line with the keys above plus\n"
     "                  file, shot and time_s (null but for a recording's shot),\n"
     "                  samples, rate, mic_location, from_ms, to_ms and the\n"
     "                  objects \"warned\" and \"unwarned\" of 'hazard --json'; a\n"
     "                  failed file gives {\"file\", \"error\"}; the summary is a last\n"
     "                  object with \"summary\": true, files (the inputs), shots,\n"
     "                  failed (rows), model_file and model_sha256.\n"
     "                  Each shot has the object \"criteria\" (eu_peak_tier,\n"
     "                  osha_peak_exceeded, dod_unprotected_exceeded,\n"
     "                  niosh_dose_percent, mil1474e {...}, note) and, with\n"
     "                  protectors, \"protected\" {NAME: {warned_aru, unwarned_aru,\n"
     "                  warned_allowed, unwarned_allowed, eardrum_peak_db}}; the\n"
     "                  summary has \"criteria\" (eu_lex8h_db, eu_lex8h_tier,\n"
     "                  niosh_dose_percent, mil1474e {liaeq8hr_db, allowed},\n"
     "                  limiting, note), \"protected\", \"verdict\" (its rows) and\n"
     "                  \"protector_note\". null: no value, or unlimited.\n"
     "  --csv           one row per file or shot under a header row, the objects\n"
     "                  flattened (warned_aru, criteria_mil1474e_allowed,\n"
     "                  protected_NAME_warned_aru, ...; no place hazards), then\n"
     "                  summary rows named in the last column; the series'\n"
     "                  criteria in the row \"all in one day\"\n"
     "  --html OUT.html a self-contained page (pictures embedded) to hand on; with\n"
     "                  --shots, each recording's overview first: the whole channel\n"
     "                  with every shot marked and numbered, a mark linking to its shot\n"
     "  --pdf OUT.pdf   the same as an A4 PDF with page numbers\n"
     "  -j, --jobs N    threads to use (default: the cores it may use); they share\n"
     "                  the files, both listeners of each and the cochlear places\n"
     "  --model FILE    the ear-model parameter file (default: the one Man.Fig names)\n"
     "  --protector NAME  also run the ear model on the waveform predicted at the\n"
     "                  eardrum under this protector of the table (as 'korva-cli\n"
     "                  protect' predicts it, but the table is not rewritten and\n"
     "                  no file is written); repeatable\n"
     "  --protectors all  the same for every default-mode protector of the table\n"
     "                  (or NAME,NAME,...)\n"
     "  --table FILE    the protector table (default: as korva-cli protect)\n"
     "  recording options (--channel, --scale, --sensitivity, --calibrator, ...) and\n"
     "  shot options (--threshold, --min-peak, --pre, --post, --min-gap, --mic): as\n"
     "                  'korva-cli shots --help' gives them\n\n"
     "A file that cannot be read is reported on stderr and as a row with its error\n"
     "alone; a part that fails (a listener's run, a protector, an interval off the\n"
     "waveform) is named in the row's error and the rest of the row stays. The\n"
     "other files go on. Progress goes to stderr when it is a terminal.\n"
     "Exit status: 0 when every file was reported, 1 when one failed, 2 bad usage,\n"
     "130 when Ctrl-C stopped it (nothing is printed then and no page written).\n",
     &RunReport});

}  // namespace
}  // namespace korva::cli
