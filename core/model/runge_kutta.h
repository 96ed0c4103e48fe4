// The one integrator of the program's time-domain networks (the middle ear,
// the protector circuit): classical fourth-order Runge-Kutta over one sample
// interval in N equal substeps, and the rule that chooses N.
//
// The rule: at the start of each sample the previous sample's N is divided
// by a reduction and kept within [minimum, maximum / 2]; the interval is
// integrated with N and with 2N substeps from the same start, then N is
// doubled and the interval integrated again while the last two passes
// disagree by more than the tolerance and the next pass would stay within
// the maximum. So a quiet stretch lets N fall and a transient raises it,
// every sample takes at least two passes and none more than `maximum`
// substeps. At the maximum the finer pass is accepted and the sample is
// reported as capped; the caller decides whether that is good enough.
//
// The passes are written once for any system of second-order equations
// q'' = a(q, q', drive), given as an `Equations` type with
//   Value     double, or a vector of doubles (the middle ear keeps its
//             coordinates in vector lanes)
//   kSize     the number of Values that hold the coordinates
//   State     what a pass starts from and ends in, copied in and out by
//             static Load(const State&, Value* q, Value* v) and
//             static Store(const Value* q, const Value* v, State&)
//   Drive     the inputs across the interval for one substep count, made by
//             DriveFor(substeps) once per pass
//   Accelerations(const Drive&, double position, q, v, a), position being
//             the time within the interval in substeps (0 .. substeps).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korva {

template <class Equations>
class RungeKuttaPass {
 public:
  using Value = typename Equations::Value;
  using State = typename Equations::State;
  static constexpr int kSize = Equations::kSize;

  [[gnu::always_inline]] void Start(const Equations& eq, const State& start, int substeps,
                                    double dt) {
    h_ = dt / substeps;
    half_ = 0.5 * h_;
    sixth_ = h_ / 6.0;
    drive_ = eq.DriveFor(substeps);
    Equations::Load(start, Q_, V_);
  }

  [[gnu::always_inline]] void Finish(State& out) const { Equations::Store(Q_, V_, out); }

  // Stage `stage` (1..4) of substep m: slopes at the substep's start, twice
  // at its middle, at its end. The stage slopes are summed as they come,
  // h/6 (k1 + 2 k2 + 2 k3 + k4), so no stage needs to be kept.
  [[gnu::always_inline]] void Stage(const Equations& eq, int m, int stage) {
    const double s = stage == 1 ? m - 1.0 : stage == 4 ? double(m) : m - 0.5;
    if (stage == 1) {
      eq.Accelerations(drive_, s, Q_, V_, a_);
#pragma GCC unroll 24
      for (int j = 0; j < kSize; ++j) {
        sum_v_[j] = V_[j];
        sum_a_[j] = a_[j];
        Qt_[j] = Q_[j] + half_ * V_[j];
        Vt_[j] = V_[j] + half_ * a_[j];
      }
      return;
    }
    eq.Accelerations(drive_, s, Qt_, Vt_, a_);
    if (stage == 4) {
#pragma GCC unroll 24
      for (int j = 0; j < kSize; ++j) {
        Q_[j] += sixth_ * (sum_v_[j] + Vt_[j]);
        V_[j] += sixth_ * (sum_a_[j] + a_[j]);
      }
      return;
    }
    const double step = stage == 2 ? half_ : h_;
#pragma GCC unroll 24
    for (int j = 0; j < kSize; ++j) {
      sum_v_[j] += 2.0 * Vt_[j];
      sum_a_[j] += 2.0 * a_[j];
      Qt_[j] = Q_[j] + step * Vt_[j];
      Vt_[j] = V_[j] + step * a_[j];
    }
  }

  [[gnu::always_inline]] void Substep(const Equations& eq, int m) {
    Stage(eq, m, 1);
    Stage(eq, m, 2);
    Stage(eq, m, 3);
    Stage(eq, m, 4);
  }

 private:
  Value Q_[kSize], V_[kSize];    // the state
  Value Qt_[kSize], Vt_[kSize];  // the point of the next stage
  Value a_[kSize];
  Value sum_v_[kSize], sum_a_[kSize];  // the stage slopes so far
  typename Equations::Drive drive_;
  double h_, half_, sixth_;
};

// The interval with `substeps` substeps from `start` into `out`.
template <class Equations>
[[gnu::always_inline]] inline void IntegrateInterval(const Equations& eq,
                                                     const typename Equations::State& start,
                                                     typename Equations::State& out, int substeps,
                                                     double dt) {
  RungeKuttaPass<Equations> pass;
  pass.Start(eq, start, substeps, dt);
  for (int m = 1; m <= substeps; ++m) pass.Substep(eq, m);
  pass.Finish(out);
}

// The interval twice from the same start, with n substeps into `coarse` and
// with 2n into `fine`. Each pass is a chain of dependent stages whose
// latency, not the arithmetic, sets the pace; interleaving one stage of the
// coarse pass with every two of the fine one lets the processor fill the
// waits of either chain with the other's work. The numbers are those of two
// separate passes.
template <class Equations>
[[gnu::always_inline]] inline void IntegrateIntervalTwice(const Equations& eq,
                                                          const typename Equations::State& start,
                                                          typename Equations::State& coarse,
                                                          typename Equations::State& fine, int n,
                                                          double dt) {
  RungeKuttaPass<Equations> a, b;
  a.Start(eq, start, n, dt);
  b.Start(eq, start, 2 * n, dt);
  for (int m = 1; m <= n; ++m) {
    const int first = 2 * m - 1;
    b.Stage(eq, first, 1);
    a.Stage(eq, m, 1);
    b.Stage(eq, first, 2);
    b.Stage(eq, first, 3);
    a.Stage(eq, m, 2);
    b.Stage(eq, first, 4);
    b.Stage(eq, first + 1, 1);
    a.Stage(eq, m, 3);
    b.Stage(eq, first + 1, 2);
    b.Stage(eq, first + 1, 3);
    a.Stage(eq, m, 4);
    b.Stage(eq, first + 1, 4);
  }
  a.Finish(coarse);
  b.Finish(fine);
}

struct SubstepRule {
  double reduction;      // N is divided by this at the start of each sample
  std::int32_t minimum;  // and kept at least this
  std::int32_t maximum;  // no pass takes more substeps
  double tolerance;      // two passes agree when their disagreement is at most this
};

// The substep count of a new sample from the last one's: N / reduction,
// rounded half to even, within [minimum, maximum / 2].
inline std::int32_t ReducedSubsteps(const SubstepRule& rule, std::int32_t previous) {
  const double reduced = std::nearbyint(previous / rule.reduction);
  return static_cast<std::int32_t>(
      std::clamp(reduced, static_cast<double>(rule.minimum), rule.maximum / 2.0));
}

// What one sample's integration took.
struct SampleSubsteps {
  std::int32_t substeps = 0;      // of the accepted (finest) pass
  std::int64_t substeps_run = 0;  // over all its passes
  int passes = 0;
  bool capped = false;  // accepted at the maximum while the passes still disagreed
};

// One sample interval by the rule above, from `start` into `fine` (`coarse`
// holds the pass before it). `passes` integrates and compares:
//   Twice(start, coarse, fine, n)  n substeps into coarse, 2n into fine
//   Once(start, out, n)            n substeps into out
//   Disagreement(coarse, fine)     called after every finer pass; it may
//                                  refuse a state by throwing
// `previous` is the last sample's substep count (the run's start value for
// the first sample).
template <class Passes, class State>
SampleSubsteps IntegrateSample(Passes& passes, const SubstepRule& rule, std::int32_t previous,
                               const State& start, State& coarse, State& fine) {
  std::int32_t n = ReducedSubsteps(rule, previous);
  passes.Twice(start, coarse, fine, n);
  SampleSubsteps taken;
  taken.substeps_run = 3LL * n;
  taken.passes = 2;
  n *= 2;
  double disagreement = passes.Disagreement(coarse, fine);
  while (disagreement > rule.tolerance && n <= rule.maximum / 2) {
    coarse = fine;
    n *= 2;
    passes.Once(start, fine, n);
    taken.substeps_run += n;
    ++taken.passes;
    disagreement = passes.Disagreement(coarse, fine);
  }
  taken.substeps = n;
  taken.capped = disagreement > rule.tolerance;
  return taken;
}

}  // namespace korva
