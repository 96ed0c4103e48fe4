#include "core/model/runge_kutta.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace korva {
namespace {

// A driven pendulum with a stiffening damper: nonlinear, so that a slip in
// the stage order or the drive's timing changes the numbers.
struct Pendulum {
  using Value = double;
  static constexpr int kSize = 2;
  struct State {
    std::array<double, 2> q{}, v{};
  };
  struct Drive {
    double p, dp;
  };
  double p_start = 0.0, p_end = 0.0;

  Drive DriveFor(int substeps) const { return {p_start, (p_end - p_start) / substeps}; }
  void Accelerations(const Drive& d, double s, const double* q, const double* v, double* a) const {
    const double p = d.p + s * d.dp;
    a[0] = p - 40.0 * std::sin(q[0]) - 0.3 * v[0] * std::fabs(v[0]) + 5.0 * (q[1] - q[0]);
    a[1] = -90.0 * q[1] - 5.0 * (q[1] - q[0]) - 0.1 * v[1];
  }
  static void Load(const State& s, double* q, double* v) {
    for (int j = 0; j < kSize; ++j) q[j] = s.q[j], v[j] = s.v[j];
  }
  static void Store(const double* q, const double* v, State& s) {
    for (int j = 0; j < kSize; ++j) s.q[j] = q[j], s.v[j] = v[j];
  }
};

TEST(RungeKutta, InterleavedPassesEqualSeparateOnesAndConvergeAtFourthOrder) {
  Pendulum eq;
  eq.p_start = 3.0;
  eq.p_end = -7.0;
  Pendulum::State start;
  start.q = {0.4, -0.2};
  start.v = {1.5, 0.7};
  const double dt = 0.05;
  for (const int n : {1, 3, 8}) {
    Pendulum::State coarse, fine, once, twice;
    IntegrateIntervalTwice(eq, start, coarse, fine, n, dt);
    IntegrateInterval(eq, start, once, n, dt);
    IntegrateInterval(eq, start, twice, 2 * n, dt);
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(coarse.q[j], once.q[j]);
      EXPECT_EQ(coarse.v[j], once.v[j]);
      EXPECT_EQ(fine.q[j], twice.q[j]);
      EXPECT_EQ(fine.v[j], twice.v[j]);
    }
  }
  // Halving the substep divides the error by about 2^4 = 16.
  Pendulum::State exact, h1, h2;
  IntegrateInterval(eq, start, exact, 4096, dt);
  IntegrateInterval(eq, start, h1, 8, dt);
  IntegrateInterval(eq, start, h2, 16, dt);
  const double ratio = std::fabs(h1.q[0] - exact.q[0]) / std::fabs(h2.q[0] - exact.q[0]);
  EXPECT_GT(ratio, 12.0);
  EXPECT_LT(ratio, 20.0);
}

// Passes that integrate nothing and report a scripted disagreement: the
// rule's decisions alone.
struct Scripted {
  using State = int;
  explicit Scripted(std::vector<double> script) : disagreements(std::move(script)) {}
  std::vector<double> disagreements;
  std::vector<int> counts;  // substeps of every pass, in order
  std::size_t next = 0;

  void Twice(const State&, State&, State& fine, int n) {
    counts.push_back(n);
    counts.push_back(2 * n);
    fine = 2 * n;
  }
  void Once(const State&, State& out, int n) {
    counts.push_back(n);
    out = n;
  }
  double Disagreement(const State&, const State&) {
    return next < disagreements.size() ? disagreements[next++] : 0.0;
  }
};

TEST(SubstepRule, ReducesDoublesUntilAgreementAndNeverPassesTheMaximum) {
  const SubstepRule rule{4.0, 2, 64, 0.001};
  int coarse = 0, fine = 0;
  {
    // 256 / 4 = 64, kept at 32 (max / 2); agreement after one more pass.
    Scripted s({0.5, 0.0005});
    const SampleSubsteps taken = IntegrateSample(s, rule, 256, 0, coarse, fine);
    EXPECT_EQ(s.counts, (std::vector<int>{32, 64}));
    EXPECT_EQ(taken.substeps, 64);
    EXPECT_EQ(taken.passes, 2);
    EXPECT_TRUE(taken.capped);  // 64 is the maximum: no third pass
  }
  {
    // 10 / 4 = 2.5 rounds to even 2; the tolerance itself counts as agreement.
    Scripted s({0.5, 0.2, 0.001});
    const SampleSubsteps taken = IntegrateSample(s, rule, 10, 0, coarse, fine);
    EXPECT_EQ(s.counts, (std::vector<int>{2, 4, 8, 16}));
    EXPECT_EQ(taken.substeps, 16);
    EXPECT_EQ(taken.substeps_run, 30);
    EXPECT_EQ(taken.passes, 4);
    EXPECT_FALSE(taken.capped);
    EXPECT_EQ(coarse, 8);
    EXPECT_EQ(fine, 16);
  }
  {
    // A count that is no power of two stops below the maximum rather than
    // doubling past it: 24 -> 48, and 96 would exceed 64.
    Scripted s({1.0, 1.0, 1.0});
    const SampleSubsteps taken =
        IntegrateSample(s, SubstepRule{1.0, 1, 64, 0.001}, 12, 0, coarse, fine);
    EXPECT_EQ(s.counts, (std::vector<int>{12, 24, 48}));
    EXPECT_TRUE(taken.capped);
  }
  // The floor holds however far the reduction would take the count.
  EXPECT_EQ(ReducedSubsteps(rule, 3), 2);
  EXPECT_EQ(ReducedSubsteps(SubstepRule{1e-30, 1, 64, 0.001}, 5), 32);
}

}  // namespace
}  // namespace korva
