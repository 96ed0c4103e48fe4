// The ear model as it stood before it was tuned for speed: a straightforward
// scalar middle-ear integration and a cochlea that evaluates every place's
// transfer function bin by bin with the library's complex functions and
// transforms with the previous extended-precision transform. Kept here so
// that every run of the speed benchmark measures the tuned model against it
// on the same machine at the same moment (ratios, not remembered timings).
// Free field only: the benchmark's cases are free-field recordings.
// kFastTangent swaps the library's tan for the tuned stapes spring, to show
// what that alone buys.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "core/model/cochlea.h"
#include "core/model/ear_equations.h"
#include "core/model/middle_ear.h"
#include "tests/core/model/reference_cochlea.h"
#include "tests/core/model/reference_transform.h"

namespace korva::reference {

// Q (displacements) and V (velocities) indexed 1..26; index 0 is unused.
struct EarState {
  std::array<double, 27> Q{};
  std::array<double, 27> V{};
};

// Accelerations a[1..n] of all coordinates for displacements Q, velocities V,
// driving pressure p (dyn/cm^2) and reflex factors f1 (stiffness) and f2
// (resistance).
template <EarVariant kVariant, bool kFastTangent = false>
inline void Derivatives(const EarModelConstants& c, const double* Q, const double* V, double p,
                        double f1, double f2, double* a) {
  // The stapes suspension hardens with displacement: sigma = 1 at rest and
  // rises steeply towards the cap as g approaches P38.
  const double u = Q[2] * c.NonlinearScale;
  const double g = c.NonlinearShape * std::sqrt(1.0 + u * u) - 1.0;
  const double theta = std::min(c.ThetaScale * g, c.ThetaCap);
  const double sigma =
      kFastTangent ? StapesSpring(c, Q[2]) : std::tan(theta) * c.SigmaScale / (g + 1.0);
  const double kst = f1 * sigma * c.KNonlinear + c.KLinear;
  const double rst =
      f2 * c.R30 * (c.StapesResistanceGrowth * sigma - (c.StapesResistanceGrowth - 1.0));

  const double F1 = (V[2] - V[1]) * c.R31;
  const double F2 = (V[3] - V[2]) * c.R25 + (Q[3] - Q[2]) * c.K26;
  const double F3 = (V[4] - V[3]) * c.R22 + (Q[4] - Q[3]) * c.K23;
  const double F4 = (V[6] - V[4]) * c.R16 + (Q[6] - Q[4]) * c.InvP17;
  const double F5 = (Q[6] - Q[5]) * c.InvP14;

  a[1] = (F1 - c.R32 * V[1]) * c.InvMass1;
  a[2] = (F2 - F1 - kst * Q[2] - rst * V[2]) * c.InvMass2;
  a[3] = (F3 - F2) * c.InvMass3;
  a[5] = (F5 - c.R13 * V[5] - Q[5] * c.InvP12) * c.InvP11;

  if constexpr (kVariant == EarVariant::Eardrum) {
    a[4] = (p - F3 - F5 - c.R20 * V[4] - Q[4] * c.InvP19) * c.InvP18;
    a[6] = (p - F4 - F5) * c.InvP15 + a[4];
  } else {
    // Canal sections: F[k] = (Q[k+1] - Q[k]) K[k-5] for k = 6..21.
    double F[22];
    for (int k = 6; k <= 21; ++k) F[k] = (Q[k + 1] - Q[k]) * c.K[k - 5];
    const double G3 = F3 - F4 + c.R20 * V[4] + Q[4] * c.InvP19;
    const double G4 = F[6] - F4 - F5;
    a[4] = c.c44 * G4 - c.c43 * G3;
    a[6] = c.c64 * G4 - c.c63 * G3;
    for (int k = 7; k <= 21; ++k) a[k] = (F[k] - F[k - 1]) * c.Minv[k - 5];
    const double Fr = (V[22] - V[23]) * c.Rrad;
    if constexpr (kVariant == EarVariant::CanalEntrance) {
      a[22] = (p - Fr - F[21]) * c.Minv[17];
      a[23] = Fr * c.InvMrad;
    } else {
      const double Fc = (V[24] - V[22]) * c.R5;
      a[22] = (c.IncidentGain * p + Fc - Fr - F[21]) * c.Minv[17];
      a[23] = Fr * c.InvMrad;
      a[24] = (c.CouplingGain * p - Fc) * c.InvP6;
    }
  }
}

// Inputs of one sample interval: pressure and reflex factors at its start
// and end, interpolated linearly across it.
struct IntervalDrive {
  double p_prev, p_next;
  double f1s, f1e;
  double f2s, f2e;
};

// One sample interval of classical fourth-order Runge-Kutta with `substeps`
// equal steps of h = dt / substeps, starting from `start` and leaving the
// result in `state`.
template <EarVariant kVariant, bool kFastTangent = false>
inline void Step(const EarModelConstants& c, const EarState& start, EarState& state, int substeps,
                 double dt, const IntervalDrive& d) {
  // Loops run over an even count so that the compiler can pair them in
  // vector registers; a coordinate beyond the network's (the canal variant's
  // 24th) starts at rest, is never accelerated and stays there.
  constexpr int n = (StateCount(kVariant) + 1) / 2 * 2;
  const double h = dt / substeps;
  const double half = 0.5 * h;
  const double sixth = h / 6.0;
  const double dp = (d.p_next - d.p_prev) / substeps;
  const double df1 = (d.f1e - d.f1s) / substeps;
  const double df2 = (d.f2e - d.f2s) / substeps;

  // Stage slopes are folded into running sums as they come, in the order of
  // h/6 (V + 2 V2 + 2 V3 + V4), so no stage needs to be kept.
  double Q[27], V[27];
  double Qt[27], Vt[27];
  double a[27] = {};
  double sum_v[27], sum_a[27];
  for (int j = 1; j <= n; ++j) {
    Q[j] = start.Q[j];
    V[j] = start.V[j];
  }
  for (int m = 1; m <= substeps; ++m) {
    const double s0 = m - 1.0;
    const double sh = m - 0.5;
    const double s1 = m;
    Derivatives<kVariant, kFastTangent>(c, Q, V, d.p_prev + s0 * dp, d.f1s + s0 * df1,
                                        d.f2s + s0 * df2, a);
    for (int j = 1; j <= n; ++j) {
      sum_v[j] = V[j];
      sum_a[j] = a[j];
      Qt[j] = Q[j] + half * V[j];
      Vt[j] = V[j] + half * a[j];
    }
    Derivatives<kVariant, kFastTangent>(c, Qt, Vt, d.p_prev + sh * dp, d.f1s + sh * df1,
                                        d.f2s + sh * df2, a);
    for (int j = 1; j <= n; ++j) {
      sum_v[j] += 2.0 * Vt[j];
      sum_a[j] += 2.0 * a[j];
      Qt[j] = Q[j] + half * Vt[j];
      Vt[j] = V[j] + half * a[j];
    }
    Derivatives<kVariant, kFastTangent>(c, Qt, Vt, d.p_prev + sh * dp, d.f1s + sh * df1,
                                        d.f2s + sh * df2, a);
    for (int j = 1; j <= n; ++j) {
      sum_v[j] += 2.0 * Vt[j];
      sum_a[j] += 2.0 * a[j];
      Qt[j] = Q[j] + h * Vt[j];
      Vt[j] = V[j] + h * a[j];
    }
    Derivatives<kVariant, kFastTangent>(c, Qt, Vt, d.p_prev + s1 * dp, d.f1s + s1 * df1,
                                        d.f2s + s1 * df2, a);
    for (int j = 1; j <= n; ++j) {
      Q[j] += sixth * (sum_v[j] + Vt[j]);
      V[j] += sixth * (sum_a[j] + a[j]);
    }
  }
  for (int j = 1; j <= n; ++j) {
    state.Q[j] = Q[j];
    state.V[j] = V[j];
  }
}

// The per-sample rule of RunMiddleEarModel, free-field variant, without
// progress reports: the same decisions, the same counts. `states`, when
// given, receives the state at the end of every sample.
template <bool kFastTangent = false>
inline MiddleEarStats TimeDomainModel1(const EarModelConstants& c, const ReflexTiming& timing,
                                       float dt, std::span<const float> in, std::span<float> out,
                                       std::vector<EarState>* states = nullptr) {
  MiddleEarStats stats;
  const double gain = 10.0 * std::sqrt(10.0);
  const double reduction = c.params.SubstepReduction();
  const auto last = static_cast<std::int32_t>(in.size()) - 1;
  const std::int32_t k0 = timing.ReflexOnsetSample;
  EarState state;
  EarState start;
  double v_prev[8] = {};
  float f1s = 1.0f, f1e = 1.0f, f2s = 1.0f, f2e = 1.0f;
  float r = timing.ReflexStart;
  std::int32_t n = kInitialSubsteps;
  long long substeps = 0;
  double p_prev = 0.0;
  out[0] = 0.0f;
  for (std::int32_t i = 1; i <= last; ++i) {
    const double p_next = gain * in[static_cast<std::size_t>(i)];
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
    n = static_cast<std::int32_t>(
        std::clamp(std::nearbyint(n / reduction), 1.0, kMaxSubsteps / 2.0));
    start = state;
    Step<EarVariant::FreeField, kFastTangent>(c, start, state, n, dt, drive);
    substeps += n;
    ++stats.passes;
    double err;
    do {
      for (int j = 2; j <= 7; ++j) v_prev[j] = state.V[static_cast<std::size_t>(j)];
      n *= 2;
      Step<EarVariant::FreeField, kFastTangent>(c, start, state, n, dt, drive);
      substeps += n;
      ++stats.passes;
      err = 0.0;
      for (int j = 2; j <= 7; ++j) {
        const double v = state.V[static_cast<std::size_t>(j)];
        if (v != 0.0) err = std::max(err, std::fabs(v_prev[j] / v - 1.0));
      }
    } while (err > kSubstepTolerance && n <= kMaxSubsteps / 2);
    stats.max_substeps = std::max(stats.max_substeps, n);
    out[static_cast<std::size_t>(i)] = static_cast<float>(state.Q[2] * c.OutputScale);
    if (states != nullptr) states->push_back(state);
    p_prev = p_next;
    f1s = f1e;
    f2s = f2e;
  }
  stats.derivative_evaluations = 4 * substeps;
  return stats;
}

// The cochlea's hazard (the largest place hazard) from the stapes
// displacement (um), everything computed afresh.
inline float CochlearHazard(const EarModelParameters& params, std::span<const float> stapes,
                            float dt) {
  using Cx = std::complex<double>;
  const std::int32_t length = FftLengthFor(static_cast<std::int32_t>(stapes.size()));
  const auto half = static_cast<std::size_t>(length / 2);
  std::vector<float> sr(half + 1), si(half + 1);
  for (std::size_t t = 0; t < std::min(stapes.size(), static_cast<std::size_t>(length)); ++t) {
    (t % 2 == 0 ? sr : si)[t / 2] = stapes[t];
  }
  RealFFT(length / 2, sr.data(), si.data(), dt);
  const StraightforwardCochlea cochlea(params, length, dt);
  const std::vector<double> scales = PlaceHazardScales(params, params.Places);
  std::vector<float> pr(half + 1), pi(half + 1), displacement(static_cast<std::size_t>(length));
  float worst = 0.0f;
  for (int c = 1; c <= params.Places; ++c) {
    const std::vector<Cx> transfer = cochlea.Transfer(c);
    for (std::size_t k = 0; k <= half; ++k) {
      const Cx product = Cx(sr[k], si[k]) * Cx(static_cast<float>(transfer[k].real()),
                                               static_cast<float>(transfer[k].imag()));
      pr[k] = static_cast<float>(product.real());
      pi[k] = static_cast<float>(product.imag());
    }
    InverseRealFFT(length / 2, pr.data(), pi.data(), dt);
    for (std::size_t m = 0; m < half; ++m) {
      displacement[2 * m] = pr[m];
      displacement[2 * m + 1] = pi[m];
    }
    worst = std::max(worst, ScanPlace(displacement, scales[static_cast<std::size_t>(c - 1)],
                                      params.P[62], params.P[55])
                                .hazard);
  }
  return worst;
}

}  // namespace korva::reference
