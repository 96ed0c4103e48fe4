// Progress of long work, and the way to stop it. Implementations decide how
// often to show progress; callers report at fixed points, never inside the
// innermost loops. Those same points are where a stop request is honoured,
// so they come often enough for a stop to take effect within a fraction of a
// second.
#pragma once

#include "core/common/error.h"

namespace korva {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // `done` of `total` units of the current task are finished.
  virtual void Report(long long done, long long total) = 0;
  // Whether the work should stop (Cancel, Esc, Ctrl-C). Asked from the
  // working thread at every checkpoint: it must be cheap and thread-safe.
  virtual bool StopRequested() const { return false; }

  // What long routines call at their report points: reports, then throws
  // Cancelled when a stop has been requested. Routines write their files
  // only after their last checkpoint, so a stop never leaves half an output.
  void Checkpoint(long long done, long long total) {
    Report(done, total);
    if (StopRequested()) throw Cancelled();
  }
};

class NoProgress final : public ProgressSink {
 public:
  void Report(long long, long long) override {}
};

// One stage of a longer task: its progress mapped onto [from, to] of `total`
// units of `outer`, whose stop requests it passes on.
class StageProgress final : public ProgressSink {
 public:
  StageProgress(ProgressSink& outer, long long from, long long to, long long total)
      : outer_(outer), from_(from), to_(to), total_(total) {}
  void Report(long long done, long long total) override {
    const long long part = total > 0 ? done * (to_ - from_) / total : to_ - from_;
    outer_.Report(from_ + part, total_);
  }
  bool StopRequested() const override { return outer_.StopRequested(); }

 private:
  ProgressSink& outer_;
  long long from_;
  long long to_;
  long long total_;
};

}  // namespace korva
