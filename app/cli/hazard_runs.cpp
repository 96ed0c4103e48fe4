#include "app/cli/hazard_runs.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "app/cli/json.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/model/ear_model.h"
#include "core/waveform/krv.h"

namespace korva::cli {
namespace {

// Progress of all runs together on one stderr line, at most a few times a second.
class SharedProgress {
 public:
  SharedProgress(std::ostream& err, bool enabled, std::size_t runs, const char* label)
      : err_(err), enabled_(enabled), runs_(runs), label_(label) {}

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
    err_ << "\r" << label_ << ": " << FormatInteger(percent) << "% of " << FormatInteger(runs_)
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
  const char* label_;
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

}  // namespace

std::size_t ListenerSlot(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

std::optional<ModelFileId> CheckedModelFile(const Args& args, Streams& io) {
  try {
    const std::filesystem::path model_file =
        args.Value("--model") ? std::filesystem::path(*args.Value("--model")) : DefaultModelFile();
    (void)LoadEarModel(model_file);
    return IdentifyModelFile(model_file);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what();
    if (!args.Value("--model")) io.err << " (name one with --model FILE)";
    io.err << "\n";
    return std::nullopt;
  }
}

long long JobsOption(const Args& args) {
  long long jobs = CoreCount();
  if (auto j = args.Integer(args.Has("-j") ? "-j" : "--jobs")) {
    if (*j < 1 || *j > 256) throw UsageError("option -j needs a number from 1 to 256");
    jobs = *j;
  }
  return jobs;
}

std::vector<std::unique_ptr<FileJob>> RunHazardJobs(const std::vector<std::string>& names,
                                                    const HazardRunPlan& plan, Streams& io) {
  std::vector<std::unique_ptr<FileJob>> files;
  for (const std::string& name : names) {
    files.push_back(std::make_unique<FileJob>());
    files.back()->name = name;
  }
  struct Task {
    FileJob* file;
    Listener listener;
  };
  std::vector<Task> tasks;
  for (auto& file : files) {
    for (const Listener listener : plan.listeners) tasks.push_back({file.get(), listener});
  }

  SharedProgress shared(io.err, io.err_is_terminal, tasks.size(), plan.progress_label);
  const bool both = plan.listeners.size() == 2;
  ThreadPool pool(static_cast<int>(plan.jobs));
  TaskGroup runs(&pool);
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    runs.Run([&, t] {
      if (Interrupted()) return;
      FileJob& file = *tasks[t].file;
      const Listener listener = tasks[t].listener;
      std::call_once(file.opened, [&] {
        try {
          auto session = std::make_unique<Session>();
          QuietProgress quiet;
          OpenWaveform(*session, file.name, quiet);
          file.session = std::move(session);
        } catch (const Cancelled&) {
          // Ctrl-C: the command ends once the runs have.
        } catch (const std::bad_alloc&) {
          file.open_error = "not enough memory";
        } catch (const std::exception& e) {
          file.open_error = e.what();
        } catch (...) {
          file.open_error = "unexpected error";
        }
      });
      if (!file.session) return;
      const std::size_t slot = ListenerSlot(listener);
      try {
        Session session = *file.session;
        HazardRunOptions options;
        options.listener = listener;
        options.model_file = plan.model_file;
        options.keep_movie = false;
        // Both runs would write the same table: it holds the unwarned run,
        // as after the window's warned and then unwarned command.
        options.write_place_table =
            plan.write_place_table && (!both || listener == Listener::Unwarned);
        options.pool = &pool;
        RunProgress progress(shared, t);
        file.results[slot] = RunHazardAnalysis(session, options, progress);
      } catch (const Cancelled&) {
        // Ctrl-C: the command ends once the runs have.
      } catch (const std::bad_alloc&) {
        file.errors[slot] = "not enough memory";
      } catch (const std::exception& e) {
        file.errors[slot] = e.what();
      } catch (...) {
        file.errors[slot] = "unexpected error";
      }
    });
  }
  runs.Wait();
  shared.Finish();
  // Nothing of an interrupted command is printed: a partial table could be
  // taken for the whole.
  if (Interrupted()) throw Cancelled();
  return files;
}

void ReportRunNotes(const FileJob& job, Listener listener, Streams& io) {
  // Samples where the substep refinement stopped at its bound rather than
  // by agreement: worth knowing, not a failure.
  const auto& r = job.results[ListenerSlot(listener)];
  if (r && r->middle_ear.capped_samples > 0) {
    ReportFileError(job.name,
                    std::string("note: the ") + ListenerName(listener) + " run accepted " +
                        FormatInteger(r->middle_ear.capped_samples) + " samples at the limit of " +
                        FormatInteger(kMaxSubsteps) + " substeps",
                    io);
  }
}

std::string RunJson(const HazardRunResult& run) {
  const CochlearResult& c = run.cochlea;
  const std::optional<double> allowed = AllowedExposures(c.TotalHazardARU);
  std::string out = "{\"aru\": " + SingleText(c.TotalHazardARU) +
                    ", \"aru_text\": " + JsonString(run.HazardText) +
                    ", \"allowed\": " + (allowed ? FormatShortest(*allowed) : "null") +
                    ", \"allowed_text\": " + JsonString(run.AllowedText) +
                    ", \"section_hazard\": [";
  for (int place = 1; place <= c.Places; ++place) {
    if (place > 1) out += ", ";
    out += SingleText(c.SectionHazard[static_cast<std::size_t>(place)]);
  }
  return out + "], \"worst_section\": " + FormatInteger(c.WorstSection) +
         ", \"fft_length\": " + FormatInteger(c.FftLength) + "}";
}

}  // namespace korva::cli
