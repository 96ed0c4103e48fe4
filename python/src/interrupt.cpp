#include "python/src/interrupt.h"

namespace korva::python {
namespace {

// Taking the GIL costs little but is not free; signals need no faster answer.
constexpr std::chrono::milliseconds kSignalPollInterval{20};

}  // namespace

Interruption::Interruption(const StopToken* token)
    : token_(token), caller_(std::this_thread::get_id()) {
  // Python handles signals in its main thread only; elsewhere
  // PyErr_CheckSignals does nothing.
  const py::module_ threading = py::module_::import("threading");
  handles_signals_ = threading.attr("current_thread")().is(threading.attr("main_thread")());
}

bool Interruption::StopRequested() {
  if (stopped_ || (token_ != nullptr && token_->Requested())) return true;
  if (!handles_signals_ || std::this_thread::get_id() != caller_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_poll_) return false;
  next_poll_ = now + kSignalPollInterval;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() == 0) return false;
  pending_.emplace();  // takes the exception the signal handler raised
  stopped_ = true;
  return true;
}

void Interruption::Raise() {
  if (pending_) throw *pending_;
  PyErr_SetNone(PyExc_KeyboardInterrupt);
  throw py::error_already_set();
}

}  // namespace korva::python
