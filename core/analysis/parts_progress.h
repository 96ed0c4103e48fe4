// Progress of work done in parts side by side, for the analysis driver.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "core/common/progress.h"

namespace korva {

// The parts of a piece of work that run side by side (listeners, files, shots),
// each reporting its own progress, summed into one sink and passed on one
// report at a time; every part stops when the sink asks.
class PartsProgress {
 public:
  PartsProgress(ProgressSink& outer, std::size_t parts) : outer_(outer), done_(parts, 0) {}

  class Part final : public ProgressSink {
   public:
    Part(PartsProgress& owner, std::size_t index) : owner_(owner), index_(index) {}
    void Report(long long done, long long total) override {
      owner_.Update(index_, total > 0 ? done * kPart / total : kPart);
    }
    bool StopRequested() const override { return owner_.outer_.StopRequested(); }

   private:
    PartsProgress& owner_;
    std::size_t index_;
  };

  Part operator[](std::size_t index) { return Part(*this, index); }

 private:
  static constexpr long long kPart = 1000;

  void Update(std::size_t index, long long permille) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[index] = permille;
    long long sum = 0;
    for (const long long d : done_) sum += d;
    outer_.Report(sum, kPart * static_cast<long long>(done_.size()));
  }

  ProgressSink& outer_;
  std::mutex mutex_;
  std::vector<long long> done_;
};

}  // namespace korva
