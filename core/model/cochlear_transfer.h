// The cochlea's transfer functions: for every place, the closed-form
// (WKB-type) response of the basilar membrane there to stapes displacement,
// with the wave reflected at the far end, at every bin of a transform.
//
// They depend only on the model parameters, the transform length and the
// sample interval, so they are computed once for such a triple and shared:
// by both listeners of a run, by the runs of a series of shots, by every
// thread. They are computed when first needed, in the vector lanes of the
// processor, and kept in single precision, as they are used.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "core/common/large_array.h"
#include "core/common/pool.h"
#include "core/model/ear_model.h"

namespace korva {

class CochlearTransfers {
 public:
  // For a transform of `length` samples (a power of two, at least 2) at
  // interval `dt` (s): bins k = 0..length/2, frequency k / (length dt).
  // `vector_width`: 8 (AVX-512), 4 (AVX2) or 1 doubles per vector; 0, or a
  // width the processor lacks, takes the widest it has. All give the same
  // numbers to the precision they are kept in.
  CochlearTransfers(const EarModelParameters& params, std::int32_t length, float dt,
                    int vector_width = 0);
  CochlearTransfers(const CochlearTransfers&) = delete;
  CochlearTransfers& operator=(const CochlearTransfers&) = delete;

  std::int32_t half() const { return half_; }
  int places() const { return params_.Places; }

  // Computes every place's transfer function, once, whichever thread asks
  // first (the others wait for it), with the bins spread over `pool` when
  // given. An Error (a bin where the damping leaves the formulas dividing by
  // zero, or a value that is not finite) is thrown to every caller.
  void Compute(ThreadPool* pool = nullptr) const;

  // The transfer function of place c (1..places) at bins 0..half: bin 0 is
  // 0 and the Nyquist bin real. Computes them all first when needed.
  std::span<const std::complex<float>> Place(int c) const;

  // The memory the transfer functions take once all are computed.
  std::size_t Bytes() const;

 private:
  EarModelParameters params_;
  std::int32_t half_;
  double df_;
  int vector_width_;
  // Not std::call_once: a computation that throws must leave the next
  // caller free to try again, which pthread_once under ThreadSanitizer does
  // not (it waits forever).
  mutable std::mutex compute_mutex_;
  mutable std::atomic<bool> computed_{false};
  // Place c at [(c - 1) (half + 1)], bins 0..half.
  mutable LargeArray<std::complex<float>> values_;
};

// The transfer functions for (params, length, dt), computed by the first
// caller and shared with every later one while they stay in a small cache
// of the most recently used sets (a few sets, at most kTransferCacheBytes
// between them; the newest is kept whatever its size).
std::shared_ptr<const CochlearTransfers> CochlearTransfersFor(const EarModelParameters& params,
                                                              std::int32_t length, float dt);
inline constexpr std::size_t kTransferCacheEntries = 4;
inline constexpr std::size_t kTransferCacheBytes = std::size_t{192} << 20;

// Empties the cache (sets still in use stay with their holders): the next
// run computes its transfer functions again, as the first run of a process
// does.
void ForgetCochlearTransfers();

}  // namespace korva
