// Progress of long work. Implementations decide how often to show it; callers
// report at fixed points, never inside the innermost loops.
#pragma once

namespace korva {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // `done` of `total` units of the current task are finished.
  virtual void Report(long long done, long long total) = 0;
};

class NoProgress final : public ProgressSink {
 public:
  void Report(long long, long long) override {}
};

}  // namespace korva
