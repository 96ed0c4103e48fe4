#include "core/model/middle_ear.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <thread>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/model/runge_kutta.h"

namespace korva {
namespace {

// Pascals to dyn/cm^2 (10) with the location variants' extra sqrt(10).
const double kLocationGain = 10.0 * std::sqrt(10.0);
constexpr double kPredictionGain = 10.0;

// How often the sample loop reports progress: often enough for a window to
// repaint during a slow (loud) run, never inside the integration.
std::int32_t ProgressStride(std::int32_t last) {
  const auto step = static_cast<std::int32_t>(std::nearbyint(last / 23.0));
  return std::clamp<std::int32_t>(step, 1, 64);
}

// About 10 ms of integration on one core.
constexpr long long kSubstepsPerReport = 32768;

// The passes of one variant at one vector width, compiled for the
// instruction set that width needs (flatten puts the whole pass, equations
// included, into that one function).
struct PassKernels {
  void (*integrate)(const EarModelConstants&, const EarLaneCoefficients&, const EarState&,
                    EarState&, int, double, const IntervalDrive&);
  void (*pair)(const EarModelConstants&, const EarLaneCoefficients&, const EarState&, EarState&,
               EarState&, int, double, const IntervalDrive&);
};

template <EarVariant kVariant, int kWidth>
[[gnu::always_inline]] inline void IntegrateOnce(const EarModelConstants& c,
                                                 const EarLaneCoefficients& k,
                                                 const EarState& start, EarState& state, int n,
                                                 double dt, const IntervalDrive& d) {
  const typename EarPasses<kVariant, kWidth>::Interval equations(c, k, d);
  IntegrateInterval(equations, start, state, n, dt);
}

template <EarVariant kVariant, int kWidth>
[[gnu::always_inline]] inline void IntegrateTwice(const EarModelConstants& c,
                                                  const EarLaneCoefficients& k,
                                                  const EarState& start, EarState& coarse,
                                                  EarState& fine, int n, double dt,
                                                  const IntervalDrive& d) {
  const typename EarPasses<kVariant, kWidth>::Interval equations(c, k, d);
  IntegrateIntervalTwice(equations, start, coarse, fine, n, dt);
}

template <EarVariant kVariant, int kWidth>
[[gnu::flatten]] void Integrate(const EarModelConstants& c, const EarLaneCoefficients& k,
                                const EarState& start, EarState& state, int n, double dt,
                                const IntervalDrive& d) {
  IntegrateOnce<kVariant, kWidth>(c, k, start, state, n, dt, d);
}

template <EarVariant kVariant, int kWidth>
[[gnu::flatten]] void IntegratePair(const EarModelConstants& c, const EarLaneCoefficients& k,
                                    const EarState& start, EarState& coarse, EarState& fine, int n,
                                    double dt, const IntervalDrive& d) {
  IntegrateTwice<kVariant, kWidth>(c, k, start, coarse, fine, n, dt, d);
}

#if defined(__x86_64__)
template <EarVariant kVariant>
[[gnu::target("avx512f"), gnu::flatten]] void Integrate8(const EarModelConstants& c,
                                                         const EarLaneCoefficients& k,
                                                         const EarState& start, EarState& state,
                                                         int n, double dt, const IntervalDrive& d) {
  IntegrateOnce<kVariant, 8>(c, k, start, state, n, dt, d);
}

template <EarVariant kVariant>
[[gnu::target("avx512f"), gnu::flatten]] void IntegratePair8(
    const EarModelConstants& c, const EarLaneCoefficients& k, const EarState& start,
    EarState& coarse, EarState& fine, int n, double dt, const IntervalDrive& d) {
  IntegrateTwice<kVariant, 8>(c, k, start, coarse, fine, n, dt, d);
}

template <EarVariant kVariant>
[[gnu::target("avx2"), gnu::flatten]] void Integrate4(const EarModelConstants& c,
                                                      const EarLaneCoefficients& k,
                                                      const EarState& start, EarState& state, int n,
                                                      double dt, const IntervalDrive& d) {
  IntegrateOnce<kVariant, 4>(c, k, start, state, n, dt, d);
}

template <EarVariant kVariant>
[[gnu::target("avx2"), gnu::flatten]] void IntegratePair4(const EarModelConstants& c,
                                                          const EarLaneCoefficients& k,
                                                          const EarState& start, EarState& coarse,
                                                          EarState& fine, int n, double dt,
                                                          const IntervalDrive& d) {
  IntegrateTwice<kVariant, 4>(c, k, start, coarse, fine, n, dt, d);
}
#endif

template <EarVariant kVariant>
PassKernels KernelsFor(int width) {
#if defined(__x86_64__)
  if (width == 8) return {&Integrate8<kVariant>, &IntegratePair8<kVariant>};
  if (width == 4) return {&Integrate4<kVariant>, &IntegratePair4<kVariant>};
#endif
  (void)width;
  return {&Integrate<kVariant, 2>, &IntegratePair<kVariant, 2>};
}

PassKernels KernelsFor(EarVariant variant, int width) {
  switch (variant) {
    case EarVariant::FreeField:
      return KernelsFor<EarVariant::FreeField>(width);
    case EarVariant::CanalEntrance:
      return KernelsFor<EarVariant::CanalEntrance>(width);
    case EarVariant::Eardrum:
      break;
  }
  return KernelsFor<EarVariant::Eardrum>(width);
}

// Passes from this many substeps up are worth handing to another thread:
// the hand-over costs about a microsecond, the pass tens of them.
constexpr std::int32_t kHelpedSubsteps = 64;
// How often (in samples) a run without a helper looks for an idle worker.
constexpr std::int32_t kHelperSearchStride = 256;

// A thread of the pool that takes the coarse (n-substep) pass of each sample
// while the run's own thread takes the fine (2n) one: the sample then costs
// the fine pass alone. It serves from the moment a worker picks it up until
// the run ends; until then the run interleaves both passes itself.
class CoarsePassHelper {
 public:
  CoarsePassHelper(ThreadPool& pool, const PassKernels& kernels, const EarModelConstants& c,
                   const EarLaneCoefficients& k, double dt)
      : group_(&pool), kernels_(kernels), c_(c), k_(k), dt_(dt) {
    group_.Run([this] { Serve(); });
  }

  ~CoarsePassHelper() {
    phase_.store(kQuit, std::memory_order_release);
    phase_.notify_one();
    group_.Wait();
  }

  // A worker is serving.
  bool Ready() const { return phase_.load(std::memory_order_acquire) == kIdle; }

  // Hands over the coarse pass from `start`, which must stay unchanged
  // until Collect.
  void Post(const EarState& start, int n, const IntervalDrive& drive) {
    start_ = &start;
    n_ = n;
    drive_ = drive;
    phase_.store(kPosted, std::memory_order_release);
    phase_.notify_one();
  }

  void Collect(EarState& coarse) {
    while (phase_.load(std::memory_order_acquire) != kDone) std::this_thread::yield();
    coarse = result_;
    phase_.store(kIdle, std::memory_order_relaxed);
  }

 private:
  enum Phase { kAbsent, kIdle, kPosted, kDone, kQuit };

  void Serve() {
    int expected = kAbsent;
    if (!phase_.compare_exchange_strong(expected, kIdle)) return;  // the run has ended
    for (;;) {
      // Posts come every few tens of microseconds while the run is loud:
      // spin that long before sleeping.
      int phase = phase_.load(std::memory_order_acquire);
      for (int spin = 0; spin < 2000 && (phase == kIdle || phase == kDone); ++spin) {
        std::this_thread::yield();
        phase = phase_.load(std::memory_order_acquire);
      }
      if (phase == kIdle || phase == kDone) {
        phase_.wait(phase, std::memory_order_acquire);
        continue;
      }
      if (phase == kQuit) return;
      kernels_.integrate(c_, k_, *start_, result_, n_, dt_, drive_);
      phase_.store(kDone, std::memory_order_release);
    }
  }

  TaskGroup group_;
  const PassKernels kernels_;
  const EarModelConstants& c_;
  const EarLaneCoefficients& k_;
  const double dt_;
  std::atomic<int> phase_{kAbsent};
  const EarState* start_ = nullptr;
  int n_ = 0;
  IntervalDrive drive_{};
  EarState result_;
};

double RefinementError(const EarState& coarse, const EarState& fine) {
  double err = 0.0;
  for (int j = Lane(2); j <= Lane(7); ++j) {
    if (fine.V[j] != 0.0) err = std::max(err, std::fabs(coarse.V[j] / fine.V[j] - 1.0));
  }
  return err;
}

// The passes of one sample for the integrator's substep rule. Where the
// rule is expensive and a worker of the pool is idle, that worker takes the
// n-substep pass while the run's thread takes the 2n one.
struct EarSamplePasses {
  const PassKernels& kernels;
  const EarModelConstants& c;
  const EarLaneCoefficients& k;
  double dt;
  const IntegrationOptions& options;
  std::int32_t sample = 0;
  IntervalDrive drive{};
  std::optional<CoarsePassHelper> helper;

  void Twice(const EarState& start, EarState& coarse, EarState& fine, int n) {
    if (options.pool != nullptr && !helper && n >= kHelpedSubsteps &&
        sample % kHelperSearchStride == 1 && options.pool->HasIdleWorker()) {
      helper.emplace(*options.pool, kernels, c, k, dt);
    }
    if (helper && helper->Ready() && n >= kHelpedSubsteps) {
      helper->Post(start, n, drive);
      kernels.integrate(c, k, start, fine, 2 * n, dt, drive);
      helper->Collect(coarse);
    } else if (options.paired_passes) {
      kernels.pair(c, k, start, coarse, fine, n, dt, drive);
    } else {
      kernels.integrate(c, k, start, coarse, n, dt, drive);
      kernels.integrate(c, k, start, fine, 2 * n, dt, drive);
    }
  }

  void Once(const EarState& start, EarState& out, int n) {
    kernels.integrate(c, k, start, out, n, dt, drive);
  }

  static double Disagreement(const EarState& coarse, const EarState& fine) {
    return RefinementError(coarse, fine);
  }
};

bool StateFinite(const EarState& s) {
  double sum = 0.0;
  for (int j = 0; j < 24; ++j) sum += s.Q[j] * 0.0 + s.V[j] * 0.0;
  return sum == 0.0;  // any inf or NaN makes the sum NaN
}

// The per-run procedure shared by all variants. `in` and `out` may be the
// same array (the prediction works in place): sample i is read before it is
// written.
MiddleEarStats Integrate(EarVariant variant, bool prediction, const EarModelConstants& c,
                         const ReflexTiming& timing, float dt, const float* in, float* out,
                         std::int32_t count, ProgressSink* progress,
                         const IntegrationOptions& options) {
  MiddleEarStats stats;
  if (count <= 0) return stats;
  if (!(dt > 0.0f) || !std::isfinite(dt)) {
    throw Error("The sampling interval must be a positive number for the middle-ear model");
  }
  const int widest = WidestVectorWidth();
  const int width = options.vector_width > 0 ? std::min(options.vector_width, widest) : widest;
  const PassKernels kernels = KernelsFor(variant, width);
  const EarLaneCoefficients coefficients = LaneCoefficients(variant, c);
  const double gain = prediction ? kPredictionGain : kLocationGain;
  const std::int32_t last = count - 1;
  const std::int32_t stride = ProgressStride(last);
  const std::int32_t k0 = timing.ReflexOnsetSample;
  const SubstepRule rule{c.params.SubstepReduction(),
                         std::clamp<std::int32_t>(options.minimum_substeps, 1, kMaxSubsteps / 2),
                         kMaxSubsteps, kSubstepTolerance};

  EarState state;
  EarState start;
  EarState coarse;
  EarSamplePasses passes{kernels, c, coefficients, dt, options, 0, {}, std::nullopt};
  float f1s = 1.0f, f1e = 1.0f, f2s = 1.0f, f2e = 1.0f;
  float r = timing.ReflexStart;
  std::int32_t n = kInitialSubsteps;
  long long substeps_total = 0;
  long long reported_at = 0;

  double p_prev = 0.0;  // the first sample never drives the model
  out[0] = 0.0f;
  for (std::int32_t i = 1; i <= last; ++i) {
    const double p_next = gain * in[i];
    if (k0 >= 0) {
      if (i > k0) {
        r *= timing.ReflexDecay;
        f1e = ReflexBlend(r, c.F1);
        f2e = ReflexBlend(r, c.F2);
      } else {
        f1e = f2e = 1.0f;
      }
    } else {
      f1e = c.F1;
      f2e = c.F2;
    }
    passes.sample = i;
    passes.drive = {p_prev, p_next, f1s, f1e, f2s, f2e};
    start = state;
    const SampleSubsteps taken = IntegrateSample(passes, rule, n, start, coarse, state);
    n = taken.substeps;
    substeps_total += taken.substeps_run;
    stats.passes += taken.passes;
    if (taken.capped) ++stats.capped_samples;
    stats.max_substeps = std::max(stats.max_substeps, n);

    if (!StateFinite(state)) {
      throw Error("Floating point error in the middle-ear model at sample " + FormatInteger(i) +
                  ": the motion is no longer finite (check the ear-model parameter file)");
    }
    if (prediction) {
      out[i] = static_cast<float>((state.Q[Lane(8)] - state.Q[Lane(7)]) * c.K[2] / gain);
    } else {
      out[i] = static_cast<float>(state.Q[Lane(2)] * c.OutputScale);
    }
    // Loud stretches can cost many milliseconds per sample: report then by
    // work done as well, so that a window keeps repainting.
    if (progress != nullptr &&
        (i % stride == 0 || substeps_total - reported_at >= kSubstepsPerReport)) {
      progress->Checkpoint(i, last);
      reported_at = substeps_total;
    }
    p_prev = p_next;
    f1s = f1e;
    f2s = f2e;
  }
  stats.derivative_evaluations = 4 * substeps_total;
  return stats;
}

void CheckSizes(std::span<const float> pressure, std::span<float> output) {
  if (output.size() < pressure.size()) throw RangeError("middle-ear output shorter than its input");
  if (pressure.size() > static_cast<std::size_t>(INT32_MAX)) throw RangeError();
}

}  // namespace

int WidestVectorWidth() {
#if defined(__x86_64__)
  static const int widest = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") ? 8 : __builtin_cpu_supports("avx2") ? 4 : 2;
  }();
  return widest;
#else
  return 2;
#endif
}

MiddleEarStats RunMiddleEarModel(EarVariant variant, const EarModelConstants& model,
                                 const ReflexTiming& timing, float dt,
                                 std::span<const float> pressure, std::span<float> stapes,
                                 ProgressSink& progress, const IntegrationOptions& options) {
  CheckSizes(pressure, stapes);
  return Integrate(variant, false, model, timing, dt, pressure.data(), stapes.data(),
                   static_cast<std::int32_t>(pressure.size()), &progress, options);
}

MiddleEarStats TimeDomainModel1(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress) {
  return RunMiddleEarModel(EarVariant::FreeField, model, timing, dt, pressure, stapes, progress);
}

MiddleEarStats TimeDomainModel2(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress) {
  return RunMiddleEarModel(EarVariant::CanalEntrance, model, timing, dt, pressure, stapes,
                           progress);
}

MiddleEarStats TimeDomainModel3(const EarModelConstants& model, const ReflexTiming& timing,
                                float dt, std::span<const float> pressure, std::span<float> stapes,
                                ProgressSink& progress) {
  return RunMiddleEarModel(EarVariant::Eardrum, model, timing, dt, pressure, stapes, progress);
}

MiddleEarStats TimeDomainModel9(const EarModelConstants& model, float dt, std::span<float> samples,
                                ProgressSink& progress) {
  if (samples.size() > static_cast<std::size_t>(INT32_MAX)) throw RangeError();
  const ReflexTiming timing =
      ComputeReflexTiming(kPredictionReflexOffset, dt, kPredictionReflexTimeConstant);
  return Integrate(EarVariant::FreeField, true, model, timing, dt, samples.data(), samples.data(),
                   static_cast<std::int32_t>(samples.size()), &progress, {});
}

}  // namespace korva
