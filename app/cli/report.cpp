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
#include <utility>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/hazard_runs.h"
#include "app/cli/interval.h"
#include "app/cli/json.h"
#include "core/common/numbers.h"

namespace korva::cli {

ReportPagesFactory& ReportPagesMaker() {
  static ReportPagesFactory factory = nullptr;
  return factory;
}

namespace {

constexpr Listener kListeners[] = {Listener::Warned, Listener::Unwarned};

using Field = NamedValue;

// The numbers of a shot under their JSON keys and CSV columns, in order.
std::vector<Field> ShotFields(const ShotReport& s) {
  const IntervalResults& m = s.metrics;
  const double ms = double{s.dt} * 1000.0;
  std::vector<Field> fields = {{"from_ms", s.interval.first * ms}, {"to_ms", s.interval.last * ms}};
  for (const Field& f : NamedDescriptors(s.descriptors)) fields.push_back(f);
  fields.insert(fields.end(), {{"LAeqInterval", m.LAeqInterval},
                               {"LAeq8hr", m.LAeq8hr},
                               {"AllowedRounds", m.AllowedRounds},
                               {"AWeightedExposure", m.AWeightedExposure},
                               {"LeqInterval", m.LeqInterval}});
  return fields;
}

constexpr const char* kRunColumns[] = {"aru",          "aru_text",      "allowed",
                                       "allowed_text", "worst_section", "fft_length"};

std::vector<std::string> RunCells(const std::optional<HazardRunResult>& run) {
  if (!run) return std::vector<std::string>(std::size(kRunColumns));
  const CochlearResult& c = run->cochlea;
  const std::optional<double> allowed = AllowedExposures(c.TotalHazardARU);
  return {SingleText(c.TotalHazardARU),
          CsvField(run->HazardText),
          allowed ? FormatShortest(*allowed) : "",
          CsvField(run->AllowedText),
          FormatInteger(c.WorstSection),
          FormatInteger(c.FftLength)};
}

std::string CsvNumber(const std::optional<double>& value) {
  return value ? FormatShortest(*value) : "";
}

// --- CSV: one row per shot, then the summary rows, all under one header.

// Every column but the last ("summary").
std::vector<std::string> CsvColumns() {
  std::vector<std::string> columns = {"file", "samples", "rate", "mic_location"};
  for (const Field& f : ShotFields(ShotReport{})) columns.emplace_back(f.first);
  for (const Listener listener : kListeners) {
    for (const char* column : kRunColumns) {
      columns.push_back(std::string(ListenerName(listener)) + "_" + column);
    }
  }
  columns.emplace_back("error");
  return columns;
}

void PrintCsvHeader(std::ostream& out) {
  for (const std::string& column : CsvColumns()) out << column << ",";
  out << "summary\n";
}

void PrintCsvRow(const ShotReport& s, std::ostream& out) {
  out << CsvField(s.file);
  if (s.failed()) {
    out << std::string(CsvColumns().size() - 1, ',') << CsvField(s.error) << ",\n";
    return;
  }
  out << "," << FormatInteger(s.samples) << "," << ShortestSingle(s.rate) << ","
      << FormatInteger(s.mic_location);
  for (const Field& f : ShotFields(s)) out << "," << CsvNumber(f.second);
  for (const auto& run : s.hazard) {
    for (const std::string& cell : RunCells(run)) out << "," << cell;
  }
  out << ",,\n";
}

// A summary row: the named columns filled, the others empty.
void PrintCsvSummaryRow(const char* label, const std::vector<Field>& values, std::ostream& out) {
  for (const std::string& column : CsvColumns()) {
    for (const Field& v : values) {
      if (column == v.first) out << CsvNumber(v.second);
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

void PrintJsonRow(const ShotReport& s, std::ostream& out) {
  out << "{\"file\": " << JsonString(s.file);
  if (s.failed()) {
    out << ", \"error\": " << JsonString(s.error) << "}\n";
    return;
  }
  out << ", \"samples\": " << FormatInteger(s.samples) << ", \"rate\": " << ShortestSingle(s.rate)
      << ", \"mic_location\": " << FormatInteger(s.mic_location);
  for (const Field& f : ShotFields(s)) out << ", \"" << f.first << "\": " << JsonNumber(f.second);
  for (const Listener listener : kListeners) {
    if (const auto& run = s.Run(listener)) {
      out << ", \"" << ListenerName(listener) << "\": " << RunJson(*run);
    }
  }
  out << "}\n";
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
  if (s.failed()) {
    out << s.file << ": failed: " << s.error << "\n";
    return;
  }
  const ImpulseDescriptors& d = s.descriptors;
  const IntervalResults& m = s.metrics;
  const double ms = double{s.dt} * 1000.0;
  auto row = [&out](const char* label, const std::string& value) {
    std::string padded = label;
    padded.resize(20, ' ');
    out << "  " << padded << value << "\n";
  };
  out << s.file << ": " << FormatInteger(s.samples) << " samples at " << ShortestSingle(s.rate)
      << " Hz, microphone location " << FormatInteger(s.mic_location) << " ("
      << MicLocationName(s.mic_location) << ")\n";
  row("interval", FormatFixed(s.interval.first * ms, 3) + " to " +
                      FormatFixed(s.interval.last * ms, 3) + " ms");
  row("peak", Fixed(d.peak_db, 2, " dB") + "  (" + SingleText(static_cast<float>(d.peak_pa)) +
                  " Pa at " + FormatFixed(d.peak_time_ms, 3) + " ms)");
  row("LCpeak", Fixed(d.lcpeak_db, 2, " dB"));
  row("A-duration", Fixed(d.a_duration_ms, 3, " ms"));
  row("B-duration", Fixed(d.b_duration_ms, 3, " ms"));
  row("C-duration", Fixed(d.c_duration_ms, 3, " ms"));
  row("rise time", Fixed(d.rise_time_ms, 3, " ms"));
  row("LAE", Fixed(d.lae_db, 2, " dB"));
  row("LZE", Fixed(d.lze_db, 2, " dB"));
  row("LIAeq100ms", Fixed(d.liaeq100ms_db, 2, " dB"));
  row("kurtosis", Fixed(d.kurtosis, 2));
  row("crest factor", Fixed(d.crest_factor_db, 2, " dB"));
  row("LAeqInterval", Fixed(m.LAeqInterval, 3, " dB"));
  row("LAeq8hr", Fixed(m.LAeq8hr, 3, " dB"));
  row("AllowedRounds", m.AllowedRounds ? FormatFixed(*m.AllowedRounds, 3) : "unlimited");
  row("AWeightedExposure", FormatShortest(m.AWeightedExposure) + " J/m^2");
  row("LeqInterval", Fixed(m.LeqInterval, 3, " dB"));
  for (const Listener listener : kListeners) {
    if (const auto& run = s.Run(listener)) {
      row(ListenerName(listener), run->HazardText + " A.R.U.  allowed exposures " +
                                      run->AllowedText + "  worst place " +
                                      FormatInteger(run->cochlea.WorstSection));
    }
  }
}

void PrintTextSummary(const ShotSummary& s, const ModelFileId& model, std::ostream& out) {
  out << "summary: " << FormatInteger(s.files) << (s.files == 1 ? " file, " : " files, ")
      << FormatInteger(s.failed) << " failed\n"
      << "  ear-model file " << model.file << " (SHA-256 " << model.sha256 << ")\n";
  const std::pair<const char*, const ShotSummary::Levels*> levels[] = {
      {"peak", &s.peak_db}, {"LAE", &s.lae_db}, {"LAeq8hr", &s.LAeq8hr}};
  for (const auto& [label, value] : levels) {
    std::string padded = label;
    padded.resize(10, ' ');
    out << "  " << padded << "energy mean " << Fixed(value->energy_mean, 2, " dB") << ", maximum "
        << Fixed(value->maximum, 2, " dB") << "\n";
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
  out << "  all shots in one day: LAeq8hr " << Fixed(s.day_LAeq8hr, 2, " dB")
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

// One progress line on stderr when it is a terminal, rewritten in place.
class ProgressLine final : public ProgressSink {
 public:
  explicit ProgressLine(Streams& io) : io_(io) {}
  ~ProgressLine() override { Clear(); }
  // Before anything else is printed.
  void Clear() {
    if (shown_) io_.err << "\r" << std::string(60, ' ') << "\r" << std::flush;
    shown_ = false;
  }
  void Show(const std::string& text) {
    if (!io_.err_is_terminal) return;
    io_.err << "\r" << text << std::string(text.size() < 60 ? 60 - text.size() : 0, ' ')
            << std::flush;
    shown_ = true;
  }
  bool StopRequested() const override { return Interrupted(); }
  // Progress of writing the pages.
  void Report(long long done, long long total) override {
    Show("report: writing the pages, " + FormatInteger(total > 0 ? 100 * done / total : 100) + "%");
  }

 private:
  Streams& io_;
  bool shown_ = false;
};

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

// The shot of one file: its failure, or its measures and both runs.
ShotReport ShotOf(FileJob& job, const IntervalRequest& request) {
  if (!job.open_error.empty()) return FailedShot(job.name, job.open_error);
  for (const std::string& error : job.errors) {
    if (!error.empty()) return FailedShot(job.name, error);
  }
  ShotReport shot;
  try {
    shot = DescribeShot(job.name, *job.session, ResolveInterval(request, *job.session));
  } catch (const std::bad_alloc&) {
    return FailedShot(job.name, "not enough memory");
  } catch (const std::exception& e) {
    return FailedShot(job.name, e.what());
  }
  for (auto& run : job.results) {
    if (run) AddHazardRun(shot, std::move(*run));
  }
  return shot;
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

  HazardRunPlan plan;
  plan.listeners = {Listener::Warned, Listener::Unwarned};
  plan.jobs = JobsOption(args);
  // A report describes; it leaves no place tables beside the waveforms.
  plan.write_place_table = false;
  plan.progress_label = "report";
  const std::optional<ModelFileId> model = CheckedModelFile(args, io);
  if (!model) return 1;
  plan.model_file = model->file;
  try {
    for (const std::string& page : {html, pdf}) {
      if (!page.empty()) CheckOutputFolder(page);
    }
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what() << "\n";
    return 1;
  }
  std::vector<std::unique_ptr<FileJob>> jobs = RunHazardJobs(args.Positional(), plan, io);
  std::vector<ShotReport> shots;
  ProgressLine progress(io);
  for (const auto& job : jobs) {
    progress.Show("report: describing " + FormatInteger(static_cast<long long>(shots.size()) + 1) +
                  " of " + FormatInteger(static_cast<long long>(jobs.size())));
    if (Interrupted()) throw Cancelled();
    ShotReport shot = ShotOf(*job, request);
    if (pages) pages->AddShot(shot, shot.failed() ? nullptr : job->session.get());
    job->session.reset();  // the waveform is no longer needed
    shots.push_back(std::move(shot));
  }
  const ShotSummary summary = SummariseShots(shots);
  if (pages) {
    const ReportInfo info{"KORVA " KORVA_VERSION, Today(), model->file, model->sha256};
    pages->Write(summary, info, html, pdf, progress);
  }
  progress.Clear();

  // Printed only once everything is done: an interrupted command prints
  // nothing that could be taken for the whole.
  if (print.header != nullptr) print.header(io.out);
  for (std::size_t k = 0; k < shots.size(); ++k) {
    const ShotReport& shot = shots[k];
    if (shot.failed()) {
      ReportFileError(shot.file, shot.error, io);
    } else {
      for (const Listener listener : kListeners) ReportRunNotes(*jobs[k], listener, io);
    }
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
     "  -j, --jobs N    threads to use (default: the number of cores); they share\n"
     "                  the files, both listeners of each and the cochlear places\n"
     "  --model FILE    the ear-model parameter file (default: the one Man.Fig names)\n\n"
     "A file that cannot be read or analysed is reported on stderr and as a row with\n"
     "an error; the others go on. Progress goes to stderr when it is a terminal.\n"
     "Exit status: 0 when every file was reported, 1 when one failed, 2 bad usage,\n"
     "130 when Ctrl-C stopped it (nothing is printed then and no page written).\n",
     &RunReport});

}  // namespace
}  // namespace korva::cli
