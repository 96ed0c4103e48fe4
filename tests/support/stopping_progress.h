// A ProgressSink that asks the work to stop once the reported progress
// reaches a given fraction, as a user pressing Cancel meanwhile would, and
// counts the reports that still arrive after the request.
#pragma once

#include "core/common/progress.h"

namespace korva::testing {

class StopAtProgress final : public ProgressSink {
 public:
  // `permille`: the fraction of the task, in thousandths, that triggers the request.
  explicit StopAtProgress(long long permille) : permille_(permille) {}

  void Report(long long done, long long total) override {
    if (stopping_) ++late_reports_;
    if (total > 0 && done * 1000 >= permille_ * total) stopping_ = true;
  }
  bool StopRequested() const override { return stopping_; }
  // Reports made after the request: a routine that honours it makes none.
  int late_reports() const { return late_reports_; }

 private:
  long long permille_;
  bool stopping_ = false;
  int late_reports_ = 0;
};

}  // namespace korva::testing
