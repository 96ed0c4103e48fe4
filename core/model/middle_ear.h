// The middle-ear time-domain model: pressure waveform in, stapes motion (or
// eardrum pressure) out, sample by sample.
//
// Each sample interval is integrated with classical Runge-Kutta and an
// adaptive number of substeps N. N carries over between samples: at the start
// of each sample it is divided by SubstepReduction (P67), the interval is
// integrated, then N is doubled and the interval integrated again from the
// same start until the velocities of coordinates 2..7 of the last two passes
// agree to 0.1 per cent. So every sample takes at least two passes, a quiet
// stretch lets N fall and a transient raises it.
//
// N never exceeds kMaxSubsteps: at a velocity crossing zero the ratio test can
// fail down to rounding noise, and without a bound the doubling would never
// end. At the bound the finer pass is accepted (its result is already far
// finer than the test asks for elsewhere) and the sample is counted in
// MiddleEarStats::capped_samples. A state that stops being finite (a parameter
// set whose network is unstable) ends the run with an Error instead of
// writing inf/NaN.
#pragma once

#include <cstdint>
#include <span>

#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/model/ear_equations.h"
#include "core/model/ear_model.h"
#include "core/model/reflex.h"

namespace korva {

inline constexpr std::int32_t kInitialSubsteps = 256;
inline constexpr std::int32_t kMaxSubsteps = 65536;
// Refinement stops when max |V_prev / V - 1| over coordinates 2..7 is at most this.
inline constexpr double kSubstepTolerance = 0.001;

// How the integration uses the processor. The defaults are the fastest; the
// other choices give the same numbers and exist to show that they do and to
// measure what each part of the tuning buys.
struct IntegrationOptions {
  // A floor under N: 1 follows the adaptive rule alone; a large floor gives
  // a reference run for checking the rule's accuracy.
  std::int32_t minimum_substeps = 1;
  // Doubles per vector: 8 (AVX-512), 4 (AVX2) or 2 (any x86-64); 0, or a
  // width the processor lacks, takes the widest it has.
  int vector_width = 0;
  // Integrate the n- and 2n-substep passes of each sample interleaved.
  bool paired_passes = true;
  // Where the substep rule is expensive and a worker of this pool is idle,
  // that worker takes the n-substep pass while the caller takes the 2n one.
  ThreadPool* pool = nullptr;
};

// The widest vector width, in doubles, that this processor runs: 8, 4 or 2.
int WidestVectorWidth();

struct MiddleEarStats {
  long long derivative_evaluations = 0;  // 4 per substep of every pass
  long long passes = 0;                  // integrations of a sample interval
  std::int32_t max_substeps = 0;         // largest N used
  std::int32_t capped_samples = 0;       // samples accepted at kMaxSubsteps
};

// Runs one of the three location variants: `pressure` (Pa, samples 0..last)
// scaled by 10 sqrt(10) drives the network; `stapes` receives the stapes
// displacement in micrometres (same length; sample 0 is always 0, because the
// model starts at rest with the pressure before the first interval taken as
// 0). The reflex factors follow `timing`; progress is reported every few
// samples and after every stretch of heavy integration (never inside it), as
// samples done of the total; a stop request ends the run there (Cancelled).
MiddleEarStats RunMiddleEarModel(EarVariant variant, const EarModelConstants& model,
                                 const ReflexTiming& timing, float dt,
                                 std::span<const float> pressure, std::span<float> stapes,
                                 ProgressSink& progress, const IntegrationOptions& options = {});

// The variants by measurement location: free field (microphone location 1
// or 4), ear-canal entrance (2), eardrum (3).
MiddleEarStats TimeDomainModel1(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress);
MiddleEarStats TimeDomainModel2(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress);
MiddleEarStats TimeDomainModel3(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress);

// Eardrum pressure predicted from a free-field pressure, for the protector
// prediction: `samples` holds the free-field pressure (Pa) on entry and the
// pressure at the eardrum (Pa) on return. Uses the free-field network with a
// gain of 10 (physical units whatever P35 is) and its own reflex timing: onset
// 14 ms, time constant 11 ms, with the file's F1 and F2. Reports progress
// and stops like the location variants.
MiddleEarStats TimeDomainModel9(const EarModelConstants& model, float dt, std::span<float> samples,
                                ProgressSink& progress);

// Reflex offset and time constant used by TimeDomainModel9.
inline constexpr float kPredictionReflexOffset = 0.009f;
inline constexpr float kPredictionReflexTimeConstant = 0.011f;

}  // namespace korva
