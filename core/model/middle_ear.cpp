#include "core/model/middle_ear.h"

#include <algorithm>
#include <cmath>

#include "core/common/error.h"
#include "core/common/numbers.h"

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

double RefinementError(const double* v_prev, const EarState& s) {
  double err = 0.0;
  for (int j = 2; j <= 7; ++j) {
    if (s.V[j] != 0.0) err = std::max(err, std::fabs(v_prev[j] / s.V[j] - 1.0));
  }
  return err;
}

template <EarVariant kVariant>
bool StateFinite(const EarState& s) {
  double sum = 0.0;
  for (int j = 1; j <= StateCount(kVariant); ++j) sum += s.Q[j] * 0.0 + s.V[j] * 0.0;
  return sum == 0.0;  // any inf or NaN makes the sum NaN
}

// The per-run procedure shared by all variants. `in` and `out` may be the
// same array (the prediction works in place): sample i is read before it is
// written.
template <EarVariant kVariant, bool kPrediction>
MiddleEarStats Integrate(const EarModelConstants& c, const ReflexTiming& timing, float dt,
                         const float* in, float* out, std::int32_t count, ProgressSink* progress,
                         std::int32_t minimum_substeps = 1) {
  MiddleEarStats stats;
  if (count <= 0) return stats;
  if (!(dt > 0.0f) || !std::isfinite(dt)) {
    throw Error("The sampling interval must be a positive number for the middle-ear model");
  }
  const double gain = kPrediction ? kPredictionGain : kLocationGain;
  const double reduction = c.params.SubstepReduction();
  const std::int32_t last = count - 1;
  const std::int32_t stride = ProgressStride(last);
  const std::int32_t k0 = timing.ReflexOnsetSample;
  const double min_n = std::clamp<std::int32_t>(minimum_substeps, 1, kMaxSubsteps / 2);

  EarState state;
  EarState start;
  double v_prev[8] = {};
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
    const IntervalDrive drive{p_prev, p_next, f1s, f1e, f2s, f2e};

    const double reduced = std::nearbyint(n / reduction);
    n = static_cast<std::int32_t>(std::clamp(reduced, min_n, kMaxSubsteps / 2.0));
    start = state;
    StepSampleInterval<kVariant>(c, start, state, n, dt, drive);
    substeps_total += n;
    ++stats.passes;
    double err;
    do {
      for (int j = 2; j <= 7; ++j) v_prev[j] = state.V[j];
      n *= 2;
      StepSampleInterval<kVariant>(c, start, state, n, dt, drive);
      substeps_total += n;
      ++stats.passes;
      err = RefinementError(v_prev, state);
    } while (err > kSubstepTolerance && n <= kMaxSubsteps / 2);
    if (err > kSubstepTolerance) ++stats.capped_samples;
    stats.max_substeps = std::max(stats.max_substeps, n);

    if (!StateFinite<kVariant>(state)) {
      throw Error("Floating point error in the middle-ear model at sample " + FormatInteger(i) +
                  ": the motion is no longer finite (check the ear-model parameter file)");
    }
    if constexpr (kPrediction) {
      out[i] = static_cast<float>((state.Q[8] - state.Q[7]) * c.K[2] / gain);
    } else {
      out[i] = static_cast<float>(state.Q[2] * c.OutputScale);
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

MiddleEarStats RunMiddleEarModel(EarVariant variant, const EarModelConstants& model,
                                 const ReflexTiming& timing, float dt,
                                 std::span<const float> pressure, std::span<float> stapes,
                                 ProgressSink& progress, std::int32_t minimum_substeps) {
  CheckSizes(pressure, stapes);
  const auto count = static_cast<std::int32_t>(pressure.size());
  switch (variant) {
    case EarVariant::FreeField:
      return Integrate<EarVariant::FreeField, false>(
          model, timing, dt, pressure.data(), stapes.data(), count, &progress, minimum_substeps);
    case EarVariant::CanalEntrance:
      return Integrate<EarVariant::CanalEntrance, false>(
          model, timing, dt, pressure.data(), stapes.data(), count, &progress, minimum_substeps);
    case EarVariant::Eardrum:
      return Integrate<EarVariant::Eardrum, false>(
          model, timing, dt, pressure.data(), stapes.data(), count, &progress, minimum_substeps);
  }
  throw Error("unknown middle-ear variant");
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
  return Integrate<EarVariant::FreeField, true>(model, timing, dt, samples.data(), samples.data(),
                                                static_cast<std::int32_t>(samples.size()),
                                                &progress);
}

}  // namespace korva
