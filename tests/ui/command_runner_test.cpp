// The command runner on its own: where commands run, what happens to their
// exceptions, refusals while one runs, Cancel and questions from the worker.
#include "ui/command_runner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "core/common/error.h"
#include "tests/support/scripted_prompter.h"

namespace korva::testing {
namespace {

void WaitIdle(const ui::CommandRunner& runner) {
  QElapsedTimer waited;
  waited.start();
  while (runner.Busy() && waited.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_FALSE(runner.Busy());
}

std::vector<AskedQuestion> ErrorsOf(const ScriptedPrompter& prompter) {
  std::vector<AskedQuestion> errors;
  for (const AskedQuestion& asked : prompter.asked()) {
    if (asked.kind == "error") errors.push_back(asked);
  }
  return errors;
}

TEST(CommandRunner, EveryExceptionBecomesAnErrorBoxNamingTheCommandAndTheNextOneRuns) {
  const std::vector<std::pair<const char*, std::function<void()>>> throws = {
      {"korva::Error", [] { throw IoError("SHOT.KRV: cannot open the file"); }},
      {"bad_alloc", [] { throw std::bad_alloc(); }},
      {"filesystem_error",
       [] {
         throw std::filesystem::filesystem_error(
             "cannot get current path", std::make_error_code(std::errc::no_such_file_or_directory));
       }},
      {"runtime_error", [] { throw std::runtime_error("something else"); }},
      {"not an exception class", [] { throw 42; }},
  };
  for (const bool on_worker : {false, true}) {
    for (const auto& [kind, thrower] : throws) {
      SCOPED_TRACE(std::string(kind) + (on_worker ? " on the worker" : " on the interface thread"));
      ScriptedPrompter prompter;
      ui::CommandRunner runner(prompter);
      bool abandoned = false;
      if (on_worker) {
        ASSERT_TRUE(runner.Start(
            "Open KRV waveform",
            [thrower = thrower](ui::CommandRunner::Worker&) -> ui::CommandRunner::Commit {
              thrower();
              return {};
            },
            [&abandoned] { abandoned = true; }));
        WaitIdle(runner);
        EXPECT_TRUE(abandoned);
      } else {
        EXPECT_FALSE(runner.Run("Open KRV waveform", thrower));
      }
      const auto errors = ErrorsOf(prompter);
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0].title, "Open KRV waveform");
      EXPECT_FALSE(errors[0].question.empty());
      EXPECT_FALSE(runner.Busy());
      bool ran = false;
      EXPECT_TRUE(runner.Run("Help", [&ran] { ran = true; }));
      EXPECT_TRUE(ran);
    }
  }
}

TEST(CommandRunner, ComputesOnTheWorkerCommitsOnTheInterfaceThreadAndRefusesMeanwhile) {
  ScriptedPrompter prompter;
  ui::CommandRunner runner(prompter);
  std::atomic<bool> release{false};
  QThread* worker_thread = nullptr;
  QThread* commit_thread = nullptr;
  ASSERT_TRUE(runner.Start("Hazard", [&](ui::CommandRunner::Worker&) -> ui::CommandRunner::Commit {
    worker_thread = QThread::currentThread();
    while (!release) QThread::msleep(1);
    return [&] { commit_thread = QThread::currentThread(); };
  }));
  EXPECT_TRUE(runner.Busy());
  EXPECT_TRUE(runner.Working());
  // Nothing starts beside it, and nothing is kept for later.
  bool second = false;
  EXPECT_FALSE(runner.Run("Open", [&second] { second = true; }));
  EXPECT_FALSE(runner.Start("Save", [&second](ui::CommandRunner::Worker&) {
    second = true;
    return ui::CommandRunner::Commit{};
  }));
  QCoreApplication::processEvents();
  release = true;
  WaitIdle(runner);
  EXPECT_FALSE(second);
  EXPECT_NE(worker_thread, nullptr);
  EXPECT_NE(worker_thread, QThread::currentThread());
  EXPECT_EQ(commit_thread, QThread::currentThread());
  EXPECT_TRUE(ErrorsOf(prompter).empty());
}

TEST(CommandRunner, CancelStopsAtTheNextCheckpointWithoutCommitOrErrorBox) {
  ScriptedPrompter prompter;
  ui::CommandRunner runner(prompter);
  std::atomic<bool> started{false};
  bool committed = false;
  bool abandoned = false;
  bool succeeded = true;
  QObject::connect(&runner, &ui::CommandRunner::Finished,
                   [&succeeded](const QString&, bool ok) { succeeded = ok; });
  ASSERT_TRUE(runner.Start(
      "Hazard",
      [&](ui::CommandRunner::Worker& worker) -> ui::CommandRunner::Commit {
        started = true;
        for (long long i = 0;; ++i) {
          worker.progress.Checkpoint(i % 1000, 1000);
          QThread::msleep(1);
        }
        return [&committed] { committed = true; };
      },
      [&abandoned] { abandoned = true; }));
  while (!started) QThread::msleep(1);
  runner.Cancel();
  EXPECT_TRUE(runner.CancelRequested());
  WaitIdle(runner);
  EXPECT_FALSE(committed);
  EXPECT_TRUE(abandoned);
  EXPECT_FALSE(succeeded);
  EXPECT_TRUE(ErrorsOf(prompter).empty());
}

TEST(CommandRunner, TheWorkerAsksItsQuestionsOnTheInterfaceThread) {
  ScriptedPrompter prompter;
  prompter.Text("100000").Confirm(true);
  ui::CommandRunner runner(prompter);
  std::string answer;
  bool confirmed = false;
  ASSERT_TRUE(runner.Start("Resample", [&](ui::CommandRunner::Worker& worker) {
    confirmed = worker.prompter.AskOkCancel("Resample", "Change sample rate?");
    answer = worker.prompter.AskText("Resample", "Sample rate", "200000");
    // A question the script does not answer fails the command, not the program.
    worker.prompter.AskYesNoCancel("Resample", "unscripted");
    return ui::CommandRunner::Commit{};
  }));
  WaitIdle(runner);
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(answer, "100000");
  ASSERT_EQ(ErrorsOf(prompter).size(), 1u);
  EXPECT_NE(ErrorsOf(prompter)[0].question.find("unscripted"), std::string::npos);
}

}  // namespace
}  // namespace korva::testing
