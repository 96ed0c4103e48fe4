// Stopping a computation from Python. The core asks its progress sink at
// every checkpoint whether to stop (and then throws Cancelled); the binding's
// sink answers yes when Python wants the run to stop: Ctrl-C in the main
// thread (a pending signal, which Python turns into KeyboardInterrupt) or a
// StopToken set from another thread (analyze_files stopping its pool).
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "core/common/error.h"
#include "core/common/progress.h"

namespace korva::python {

namespace py = pybind11;

// A flag one Python thread sets to stop computations running in others.
class StopToken {
 public:
  void Request() { requested_ = true; }
  bool Requested() const { return requested_; }

 private:
  std::atomic<bool> requested_{false};
};

// The stop state of one call into the binding, shared by its threads.
class Interruption {
 public:
  // Made with the GIL held, on the thread that called into the binding.
  explicit Interruption(const StopToken* token = nullptr);

  // From any thread of the call, without the GIL: whether the call is to
  // stop. The calling thread, when it is Python's main thread, also looks
  // for signals (with the GIL taken for a moment, at most every few
  // hundredths of a second).
  bool StopRequested();

  // Stops every thread of the call at its next check.
  void Stop() { stopped_ = true; }

  // With the GIL held once the core's Cancelled has unwound: raises the
  // Python exception that stopped the call (KeyboardInterrupt when a token
  // or a failure of another thread of the call did).
  [[noreturn]] void Raise();

 private:
  const StopToken* token_;
  std::atomic<bool> stopped_{false};
  bool handles_signals_;
  std::thread::id caller_;
  std::chrono::steady_clock::time_point next_poll_{};
  std::optional<py::error_already_set> pending_;
};

// Progress that goes nowhere but stops the run when Python asks.
class InterruptibleProgress final : public ProgressSink {
 public:
  explicit InterruptibleProgress(Interruption& interruption) : interruption_(interruption) {}
  void Report(long long, long long) override {}
  bool StopRequested() const override { return interruption_.StopRequested(); }

 private:
  Interruption& interruption_;
};

// Runs `work` with the GIL released, so that other Python threads run
// meanwhile; a stop becomes the Python exception behind it.
template <class Work>
auto Released(Interruption& interruption, Work&& work) {
  try {
    py::gil_scoped_release release;
    return work();
  } catch (const Cancelled&) {
    interruption.Raise();
  }
}

}  // namespace korva::python
