// Runs the window's commands one at a time, so that the window stays alive
// while one of them computes.
//
// A short command runs at once on the interface thread (Run). A command that
// can take longer than about 100 ms computes on a worker thread (Start) on
// copies of its inputs, and hands back what to do with the result, which
// runs on the interface thread only when the computation succeeded: a
// cancelled or failed command leaves the document as it was. While a command
// runs no other one starts (Run and Start refuse, nothing is queued); the
// window disables the commands that would conflict and keeps painting.
//
// Any exception a command throws (korva::Error, bad_alloc, a filesystem
// error, anything) becomes an error box titled with the command's name; a
// stop asked for with Cancel (Cancelled) shows none. The busy state is reset
// whatever happens.
//
// Adding a long command takes a few lines: copy its inputs, compute on the
// worker, say what to show.
//
//   const Session input = document.session;
//   runner.Start("Export report...", [this, input](CommandRunner::Worker& work) {
//     Report report = MakeReport(input, work.progress);  // stops on Cancel
//     return [this, report] { ShowWritten({report.path}); };
//   });
//
// The computation reports progress and notices Cancel through work.progress
// (the core's checkpoints), and asks the user through work.prompter, whose
// questions are shown on the interface thread while the worker waits.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/common/progress.h"
#include "core/common/prompter.h"

namespace korva::ui {

class CommandRunner : public QObject {
  Q_OBJECT

 public:
  // What the worker side of a command may use.
  struct Worker {
    ProgressSink& progress;
    Prompter& prompter;
  };
  // Runs on the interface thread once the computation has succeeded.
  using Commit = std::function<void()>;
  using Work = std::function<Commit(Worker&)>;

  // Error boxes and the worker's questions go to `prompter` (interface thread).
  explicit CommandRunner(Prompter& prompter, QObject* parent = nullptr);
  // Stops a running computation and waits for its thread.
  ~CommandRunner() override;

  // A command is running (on either thread).
  bool Busy() const { return busy_; }
  // A computation runs on the worker thread.
  bool Working() const { return worker_.joinable(); }
  const QString& RunningName() const { return name_; }

  // Runs `body` now, unless a command is running (false).
  bool Run(const QString& name, const std::function<void()>& body);

  // Starts `work` on the worker thread, unless a command is running (false).
  // `abandon` runs on the interface thread when the command fails or is
  // cancelled, before any error box: it puts back what the command showed
  // while it ran.
  bool Start(const QString& name, Work work, std::function<void()> abandon = {});

  // Asks the computation to stop at its next checkpoint.
  void Cancel();
  bool CancelRequested() const { return stop_.load(); }

 signals:
  // A computation started on the worker thread.
  void Started(const QString& name);
  // Fraction done of the running computation, in thousandths (polled, so at
  // most a few times a second).
  void ProgressChanged(int permille);
  // The computation has ended, before its result is committed or its
  // failure reported.
  void Ended(const QString& name);
  // The command is over, with whether it succeeded (a cancel is no success).
  void Finished(const QString& name, bool succeeded);

 private:
  class WorkerProgress;
  class Relay;

  void Finish();
  // Runs `body` and turns any exception into an error box; true when it ran through.
  bool Guarded(const QString& name, const std::function<void()>& body,
               const std::function<void()>& on_failure);
  void Report(const QString& name, std::exception_ptr error);

  Prompter& prompter_;
  bool busy_ = false;
  QString name_;
  std::thread worker_;
  std::function<void()> abandon_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closing_{false};
  std::atomic<long long> permille_{0};
  int shown_permille_ = -1;
  QTimer poll_;
  std::unique_ptr<WorkerProgress> progress_;
  std::unique_ptr<Relay> relay_;
  std::mutex mutex_;  // guards the result below
  Commit commit_;
  std::exception_ptr error_;
};

}  // namespace korva::ui
