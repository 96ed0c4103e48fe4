#include "ui/command_runner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "core/common/error.h"

namespace korva::ui {
namespace {

// Runs `end` when it goes out of scope, whatever happens in between.
template <class End>
struct AtExit {
  End end;
  ~AtExit() { end(); }
};

}  // namespace

// The computation's progress and stop request, shared with the runner.
class CommandRunner::WorkerProgress final : public ProgressSink {
 public:
  explicit WorkerProgress(CommandRunner& runner) : runner_(runner) {}
  void Report(long long done, long long total) override {
    if (total > 0) runner_.permille_.store(std::clamp(done * 1000 / total, 0LL, 1000LL));
  }
  bool StopRequested() const override { return runner_.stop_.load(); }

 private:
  CommandRunner& runner_;
};

// Questions from the worker thread, asked on the interface thread: the worker
// waits for the answer (an exception of the asking is passed back to it).
class CommandRunner::Relay final : public Prompter {
 public:
  explicit Relay(CommandRunner& runner) : runner_(runner) {}

  std::string AskText(const std::string& title, const std::string& question,
                      const std::string& proposed) override {
    return Ask<std::string>([&p = runner_.prompter_, title, question, proposed] {
      return p.AskText(title, question, proposed);
    });
  }
  Answer AskYesNoCancel(const std::string& title, const std::string& question) override {
    return Ask<Answer>(
        [&p = runner_.prompter_, title, question] { return p.AskYesNoCancel(title, question); });
  }
  bool AskOkCancel(const std::string& title, const std::string& question) override {
    return Ask<bool>(
        [&p = runner_.prompter_, title, question] { return p.AskOkCancel(title, question); });
  }
  void Inform(const std::string& title, const std::string& text) override {
    Ask<bool>([&p = runner_.prompter_, title, text] {
      p.Inform(title, text);
      return true;
    });
  }
  void ShowError(const std::string& title, const std::string& text) override {
    Ask<bool>([&p = runner_.prompter_, title, text] {
      p.ShowError(title, text);
      return true;
    });
  }

 private:
  template <class R>
  R Ask(std::function<R()> ask) {
    struct Call {
      std::mutex mutex;
      std::condition_variable answered;
      bool done = false;
      std::optional<R> value;
      std::exception_ptr error;
    };
    auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(
        &runner_,
        [call, ask = std::move(ask)] {
          std::optional<R> value;
          std::exception_ptr error;
          try {
            value = ask();
          } catch (...) {
            error = std::current_exception();
          }
          {
            const std::lock_guard<std::mutex> lock(call->mutex);
            call->value = std::move(value);
            call->error = error;
            call->done = true;
          }
          call->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(call->mutex);
    while (!call->done) {
      // A window going away drops the question: the computation stops.
      if (runner_.closing_.load()) throw Cancelled();
      call->answered.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (call->error) std::rethrow_exception(call->error);
    return std::move(*call->value);
  }

  CommandRunner& runner_;
};

CommandRunner::CommandRunner(Prompter& prompter, QObject* parent)
    : QObject(parent),
      prompter_(prompter),
      progress_(std::make_unique<WorkerProgress>(*this)),
      relay_(std::make_unique<Relay>(*this)) {
  poll_.setInterval(50);
  connect(&poll_, &QTimer::timeout, this, [this] {
    const int permille = static_cast<int>(permille_.load());
    if (permille == shown_permille_) return;
    shown_permille_ = permille;
    emit ProgressChanged(permille);
  });
}

CommandRunner::~CommandRunner() {
  closing_ = true;
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void CommandRunner::Report(const QString& name, std::exception_ptr error) {
  const std::string title = name.toStdString();
  try {
    try {
      std::rethrow_exception(error);
    } catch (const Cancelled&) {
      // Asked for: nothing to report.
    } catch (const std::bad_alloc&) {
      prompter_.ShowError(title, "Not enough memory for this command");
    } catch (const std::exception& e) {
      prompter_.ShowError(title, e.what());
    } catch (...) {
      prompter_.ShowError(title, "An unexpected error ended the command");
    }
  } catch (...) {
    // The box itself failed; the window must go on regardless.
  }
}

bool CommandRunner::Guarded(const QString& name, const std::function<void()>& body,
                            const std::function<void()>& on_failure) {
  try {
    body();
    return true;
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (on_failure) Guarded(name, on_failure, {});
    Report(name, error);
    return false;
  }
}

bool CommandRunner::Run(const QString& name, const std::function<void()>& body) {
  if (busy_) return false;
  busy_ = true;
  name_ = name;
  const AtExit idle{[this] {
    busy_ = false;
    name_.clear();
  }};
  return Guarded(name, body, {});
}

bool CommandRunner::Start(const QString& name, Work work, std::function<void()> abandon) {
  if (busy_) return false;
  busy_ = true;
  name_ = name;
  abandon_ = std::move(abandon);
  stop_ = false;
  permille_ = 0;
  shown_permille_ = -1;
  emit Started(name);
  try {
    worker_ = std::thread([this, work = std::move(work)] {
      Commit commit;
      std::exception_ptr error;
      try {
        Worker worker{*progress_, *relay_};
        commit = work(worker);
      } catch (...) {
        error = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        commit_ = std::move(commit);
        error_ = error;
      }
      QMetaObject::invokeMethod(
          this, [this] { Finish(); }, Qt::QueuedConnection);
    });
  } catch (...) {
    // No thread: the command ends here as failed.
    const std::lock_guard<std::mutex> lock(mutex_);
    error_ = std::current_exception();
    QMetaObject::invokeMethod(
        this, [this] { Finish(); }, Qt::QueuedConnection);
  }
  poll_.start();
  return true;
}

void CommandRunner::Cancel() {
  if (busy_ && Working()) stop_ = true;
}

void CommandRunner::Finish() {
  if (worker_.joinable()) worker_.join();
  poll_.stop();
  Commit commit;
  std::exception_ptr error;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    commit = std::move(commit_);
    error = error_;
    commit_ = {};
    error_ = nullptr;
  }
  const std::function<void()> abandon = std::move(abandon_);
  abandon_ = {};
  const QString name = name_;
  bool succeeded = false;
  {
    // The busy state ends whatever the commit does.
    const AtExit idle{[this] {
      busy_ = false;
      name_.clear();
    }};
    emit Ended(name);
    if (error) {
      if (abandon) Guarded(name, abandon, {});
      Report(name, error);
    } else if (commit) {
      succeeded = Guarded(name, commit, abandon);
    } else {
      succeeded = true;
    }
  }
  emit Finished(name, succeeded);
}

}  // namespace korva::ui
