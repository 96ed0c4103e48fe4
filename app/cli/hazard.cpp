// korva-cli hazard: the warned and unwarned hazard of each file, as the
// window's two Analyze commands compute them. Files run in parallel, and the
// two listeners of one file run on two threads, each on its own copy of the
// opened session.
#include "core/model/hazard.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

enum class Format { Table, Json, Csv };

// The shortest text that reads back as the same single.
std::string SingleText(float value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string DoubleText(double value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

// A CSV field, quoted when it needs to be.
std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

const char* LocationName(std::int32_t location) {
  switch (location) {
    case 2:
      return "ear-canal entrance";
    case 3:
      return "eardrum";
    default:
      return "free field";
  }
}

// One input file and its runs.
struct FileJob {
  std::string name;
  std::once_flag opened;
  std::unique_ptr<Session> session;  // as opened; each run works on a copy
  std::string open_error;
  std::array<std::optional<HazardRunResult>, 2> results;
  std::array<std::string, 2> errors;
};

int Index(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

// Progress of all runs together on one stderr line, at most a few times a second.
class SharedProgress {
 public:
  SharedProgress(std::ostream& err, bool enabled, std::size_t runs)
      : err_(err), enabled_(enabled), runs_(runs) {}

  void Update(std::size_t run, long long permille) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (run >= done_.size()) done_.resize(run + 1, 0);
    done_[run] = permille;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    long long total = 0;
    for (const long long d : done_) total += d;
    const long long percent = runs_ == 0 ? 100 : total / (10 * static_cast<long long>(runs_));
    err_ << "\rhazard: " << FormatInteger(percent) << "% of " << FormatInteger(runs_)
         << (runs_ == 1 ? " run " : " runs") << std::flush;
    shown_ = true;
  }

  void Finish() {
    if (!enabled_ || !shown_) return;
    err_ << "\r" << std::string(40, ' ') << "\r" << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  std::size_t runs_;
  std::mutex mutex_;
  std::vector<long long> done_;
  std::chrono::steady_clock::time_point last_{};
  bool shown_ = false;
};

class RunProgress final : public ProgressSink {
 public:
  RunProgress(SharedProgress& shared, std::size_t run) : shared_(shared), run_(run) {}
  void Report(long long done, long long total) override {
    shared_.Update(run_, total > 0 ? done * 1000 / total : 1000);
  }
  bool StopRequested() const override { return Interrupted(); }

 private:
  SharedProgress& shared_;
  std::size_t run_;
};

void PrintTable(const FileJob& job, const std::vector<Listener>& listeners, std::ostream& out) {
  const HazardRunResult* any = nullptr;
  for (const auto& r : job.results) {
    if (r) any = &*r;
  }
  if (any == nullptr) return;
  out << job.name << ": " << FormatInteger(job.session->LastSample + 1)
      << " samples, microphone location " << FormatInteger(any->MicLocation) << " ("
      << LocationName(any->MicLocation) << ")\n";
  for (const Listener listener : listeners) {
    const auto& r = job.results[static_cast<std::size_t>(Index(listener))];
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
    const auto& r = job.results[static_cast<std::size_t>(Index(listener))];
    if (!r) continue;
    const CochlearResult& c = r->cochlea;
    const std::optional<double> allowed = AllowedExposures(c.TotalHazardARU);
    out << ", \"" << ListenerName(listener) << "\": {\"aru\": " << SingleText(c.TotalHazardARU)
        << ", \"aru_text\": " << JsonString(r->HazardText)
        << ", \"allowed\": " << (allowed ? DoubleText(*allowed) : std::string("null"))
        << ", \"allowed_text\": " << JsonString(r->AllowedText) << ", \"section_hazard\": [";
    for (int place = 1; place <= c.Places; ++place) {
      if (place > 1) out << ", ";
      out << SingleText(c.SectionHazard[static_cast<std::size_t>(place)]);
    }
    out << "], \"worst_section\": " << FormatInteger(c.WorstSection)
        << ", \"fft_length\": " << FormatInteger(c.FftLength) << "}";
  }
  out << "}\n";
}

void PrintCsv(const FileJob& job, const std::vector<Listener>& listeners, std::ostream& out) {
  for (const Listener listener : listeners) {
    const auto& r = job.results[static_cast<std::size_t>(Index(listener))];
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

  long long jobs = std::max(1u, std::thread::hardware_concurrency());
  if (auto j = args.Integer(args.Has("-j") ? "-j" : "--jobs")) {
    if (*j < 1 || *j > 256) throw UsageError("option -j needs a number from 1 to 256");
    jobs = *j;
  }

  // The parameter file is found and checked once, before any work.
  std::filesystem::path model_file;
  ModelFileId model_id;
  try {
    model_file =
        args.Value("--model") ? std::filesystem::path(*args.Value("--model")) : DefaultModelFile();
    (void)LoadEarModel(model_file);
    model_id = IdentifyModelFile(model_file);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what();
    if (!args.Value("--model")) io.err << " (name one with --model FILE)";
    io.err << "\n";
    return 1;
  }

  std::vector<std::unique_ptr<FileJob>> files;
  for (const std::string& name : args.Positional()) {
    files.push_back(std::make_unique<FileJob>());
    files.back()->name = name;
  }
  struct Task {
    FileJob* file;
    Listener listener;
  };
  std::vector<Task> tasks;
  for (auto& file : files) {
    for (const Listener listener : listeners) tasks.push_back({file.get(), listener});
  }

  SharedProgress shared(io.err, io.err_is_terminal, tasks.size());
  std::atomic<std::size_t> next{0};
  const bool both = listeners.size() == 2;
  const auto worker = [&] {
    for (std::size_t t = next++; t < tasks.size(); t = next++) {
      FileJob& file = *tasks[t].file;
      const Listener listener = tasks[t].listener;
      std::call_once(file.opened, [&] {
        try {
          auto session = std::make_unique<Session>();
          QuietProgress quiet;
          OpenWaveform(*session, file.name, quiet);
          file.session = std::move(session);
        } catch (const Cancelled&) {
          // Ctrl-C: the command ends after the join.
        } catch (const std::bad_alloc&) {
          file.open_error = "not enough memory";
        } catch (const std::exception& e) {
          file.open_error = e.what();
        } catch (...) {
          file.open_error = "unexpected error";
        }
      });
      if (!file.session) continue;
      const std::size_t slot = static_cast<std::size_t>(Index(listener));
      try {
        Session session = *file.session;
        HazardRunOptions options;
        options.listener = listener;
        options.model_file = model_file;
        options.keep_movie = false;
        // Both runs would write the same table: it holds the unwarned run,
        // as after the window's warned and then unwarned command.
        options.write_place_table = !both || listener == Listener::Unwarned;
        RunProgress progress(shared, t);
        file.results[slot] = RunHazardAnalysis(session, options, progress);
      } catch (const Cancelled&) {
        // Ctrl-C: the command ends after the join.
      } catch (const std::bad_alloc&) {
        file.errors[slot] = "not enough memory";
      } catch (const std::exception& e) {
        file.errors[slot] = e.what();
      } catch (...) {
        file.errors[slot] = "unexpected error";
      }
    }
  };
  const auto threads = static_cast<std::size_t>(std::min<long long>(
      jobs * static_cast<long long>(listeners.size()), static_cast<long long>(tasks.size())));
  std::vector<std::thread> pool;
  for (std::size_t i = 1; i < threads; ++i) pool.emplace_back(worker);
  worker();
  for (auto& thread : pool) thread.join();
  shared.Finish();
  // Nothing of an interrupted command is printed: a partial table could be
  // taken for the whole.
  if (Interrupted()) throw Cancelled();

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
      const std::size_t slot = static_cast<std::size_t>(Index(listener));
      const std::string& error = file->errors[slot];
      if (!error.empty()) {
        ReportFileError(file->name, error, io);
        status = 1;
      }
      // Samples where the substep refinement stopped at its bound rather
      // than by agreement: worth knowing, not a failure.
      if (const auto& r = file->results[slot]; r && r->middle_ear.capped_samples > 0) {
        ReportFileError(file->name,
                        std::string("note: the ") + ListenerName(listener) + " run accepted " +
                            FormatInteger(r->middle_ear.capped_samples) +
                            " samples at the limit of " + FormatInteger(kMaxSubsteps) + " substeps",
                        io);
      }
    }
    switch (format) {
      case Format::Table:
        PrintTable(*file, listeners, io.out);
        break;
      case Format::Json:
        PrintJson(*file, listeners, model_id, io.out);
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
     "  -j, --jobs N    files analysed at once (default: the number of cores); the\n"
     "                  two listeners of a file run on two threads\n\n"
     "Progress goes to standard error when it is a terminal. Exit status: 0 when\n"
     "every file was analysed, 1 when a file or the parameter file failed, 2 for\n"
     "bad usage, 130 when Ctrl-C stopped it (no results are printed then, and no\n"
     "place table is left half-written).\n",
     &RunHazard});

}  // namespace
}  // namespace korva::cli
