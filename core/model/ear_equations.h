// The equations of motion of the outer- and middle-ear network, written for
// the machine's vector units, in the form the Runge-Kutta integrator
// (runge_kutta.h) takes. Most callers want middle_ear.h.
//
// The network is a chain of coordinates joined by springs and dampers. With
// coordinate j kept in lane j - 1 of a few vectors, every link force is
// (X[i+1] - X[i]) times a coefficient, and the net force on a lane is its
// upper link's force minus its lower one's: a handful of vector operations
// for all 24 coordinates, where a coefficient is 0 for a link that does not
// exist. Two links skip a coordinate (4-6 and 22-24) and go through a shift
// by two lanes; the stapes spring is the only nonlinear term and is computed
// once per evaluation as a scalar.
//
// The vector width is a template parameter: middle_ear.cpp compiles the
// passes three times (8 doubles for AVX-512, 4 for AVX2, 2 for any x86-64)
// and runs the widest the processor has. Every width performs the same
// operations lane by lane, so all three give the same numbers.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

#include "core/model/ear_model.h"
#include "core/model/runge_kutta.h"

namespace korva {

// The three networks: the free field (outer-ear coupling, canal, eardrum,
// ossicles), the canal entrance (no outer-ear element) and the eardrum
// (pressure applied at the eardrum, no canal).
enum class EarVariant { FreeField = 1, CanalEntrance = 2, Eardrum = 3 };

// Coordinates in use: 24, 23 or 6.
constexpr int StateCount(EarVariant variant) {
  return variant == EarVariant::FreeField ? 24 : variant == EarVariant::CanalEntrance ? 23 : 6;
}

// Lanes the equations work on: the coordinates rounded up to whole vectors
// of 8. A lane beyond the network's coordinates has no mass, starts at rest
// and stays there.
constexpr int LaneCount(EarVariant variant) {
  return variant == EarVariant::Eardrum ? 8 : 24;
}

// The lane of coordinate j (1-based, as the equations number them).
constexpr int Lane(int coordinate) {
  return coordinate - 1;
}

// Q (displacements) and V (velocities) of the network, coordinate j in lane j - 1.
struct EarState {
  alignas(64) std::array<double, 24> Q{};
  alignas(64) std::array<double, 24> V{};
};

// Inputs of one sample interval: pressure and reflex factors at its start
// and end, interpolated linearly across it.
struct IntervalDrive {
  double p_prev, p_next;
  double f1s, f1e;
  double f2s, f2e;
};

// The stapes spring factor sigma = tan(theta) (1 + P37) / (tan(pi P37 /
// (2 P38)) (g + 1)) at stapes coordinate q2; 1 at rest, rising steeply as
// the spring hardens.
//
// theta lies in (0, 0.9997 pi/2] (g >= P37 > 0, and the cap), so the
// tangent needs no range reduction: up to pi/4 it is x P(x^2)/Q(x^2), the
// [9/8] Pade approximant from Lambert's continued fraction tan x = x / (1 -
// x^2 / (3 - x^2 / (5 - ...))), whose error on [0, pi/4] is below 2e-17;
// above pi/4 it is the reciprocal of the same at pi/2 - theta, formed
// exactly in two parts so that the steep end keeps its accuracy. The result
// stays within a few units in the last place of the library's tan
// (StapesSpringFactor), and the branch-free form keeps the run's critical
// path short.
inline double StapesSpring(const EarModelConstants& c, double q2) {
  constexpr double kHalfPiHigh = 1.5707963267948966;    // pi/2 rounded to double
  constexpr double kHalfPiLow = 6.123233995736766e-17;  // pi/2 - kHalfPiHigh
  const double u = q2 * c.NonlinearScale;
  const double g = c.NonlinearShape * std::sqrt(1.0 + u * u) - 1.0;
  const double theta = std::min(c.ThetaScale * g, c.ThetaCap);
  const double rest = (kHalfPiHigh - theta) + kHalfPiLow;  // exact for theta >= pi/4
  const bool steep = rest < theta;
  const double x = std::min(theta, rest);
  const double y = x * x;
  const double p =
      1.0 + y * (-7.0 / 51 + y * (1.0 / 255 + y * (-2.0 / 69615 + y * (1.0 / 34459425))));
  const double q = 1.0 + y * (-8.0 / 17 + y * (7.0 / 255 + y * (-4.0 / 9945 + y * (1.0 / 765765))));
  const double xp = x * p;
  const double num = steep ? q : xp;  // tan theta = num / den
  const double den = steep ? xp : q;
  return c.SigmaScale * num / (den * (g + 1.0));
}

// The coefficients of the lane form, per lane (see the top of the file):
// accelerations a = M N + Up N[+2] + Down N[-2] from net forces
//   N[i] = L[i] - L[i-1] + S[i] - S[i-2] - Kg[i] Q[i] - Rg[i] V[i] + D[i] p
// with link forces L[i] = (Q[i+1] - Q[i]) K1[i] + (V[i+1] - V[i]) R1[i] and
// skip-link forces S[i] = (Q[i+2] - Q[i]) K2[i] + (V[i+2] - V[i]) R2[i]. The
// stapes lane's Kg holds its linear spring; the hardening spring and the
// stapes resistance follow sigma and are set per evaluation. Derived once
// per run.
struct EarLaneCoefficients {
  alignas(64) std::array<double, 24> K1{}, R1{}, K2{}, R2{}, Kg{}, Rg{}, D{}, M{}, Up{}, Down{};
};

inline EarLaneCoefficients LaneCoefficients(EarVariant variant, const EarModelConstants& c) {
  EarLaneCoefficients k;
  const auto link = [&](int from, double stiffness, double resistance) {
    k.K1[Lane(from)] = stiffness;
    k.R1[Lane(from)] = resistance;
  };
  // Ossicles: cochlear load 1-2, joints 2-3 and 3-4; cavity air 5-6.
  link(1, 0.0, c.R31);
  link(2, c.K26, c.R25);
  link(3, c.K23, c.R22);
  link(5, c.InvP14, 0.0);
  // Eardrum 4-6 skips the cavity coordinate.
  k.K2[Lane(4)] = c.InvP17;
  k.R2[Lane(4)] = c.R16;
  k.Rg[Lane(1)] = c.R32;
  k.Kg[Lane(2)] = c.KLinear;
  k.Kg[Lane(4)] = c.InvP19;
  k.Rg[Lane(4)] = c.R20;
  k.Kg[Lane(5)] = c.InvP12;
  k.Rg[Lane(5)] = c.R13;
  k.M[Lane(1)] = c.InvMass1;
  k.M[Lane(2)] = c.InvMass2;
  k.M[Lane(3)] = c.InvMass3;
  k.M[Lane(5)] = c.InvP11;
  if (variant == EarVariant::Eardrum) {
    // The pressure acts on the eardrum pair; coordinate 6 moves with 4.
    k.D[Lane(4)] = 1.0;
    k.D[Lane(6)] = 1.0;
    k.M[Lane(4)] = c.InvP18;
    k.M[Lane(6)] = c.InvP15;
    k.Down[Lane(6)] = 1.0;  // a6 += a4, applied to accelerations
    return k;
  }
  // Canal: 16 sections from the eardrum (6-7) to the entrance (21-22).
  for (int j = 6; j <= 21; ++j) link(j, c.K[j - 5], 0.0);
  for (int j = 7; j <= 21; ++j) k.M[Lane(j)] = c.Minv[j - 5];
  link(22, 0.0, c.Rrad);  // radiation 22-23
  k.M[Lane(22)] = c.Minv[17];
  k.M[Lane(23)] = c.InvMrad;
  // The eardrum pair 4/6 through its inverse mass matrix.
  k.M[Lane(4)] = c.c43;
  k.Up[Lane(4)] = c.c44;
  k.M[Lane(6)] = c.c64;
  k.Down[Lane(6)] = c.c63;
  if (variant == EarVariant::CanalEntrance) {
    k.D[Lane(22)] = 1.0;
  } else {
    k.D[Lane(22)] = c.IncidentGain;
    k.D[Lane(24)] = c.CouplingGain;
    k.R2[Lane(22)] = c.R5;  // outer-ear coupling 22-24
    k.M[Lane(24)] = c.InvP6;
  }
  return k;
}

// kWidth doubles in one vector register.
template <int kWidth>
struct VectorOf {
  typedef double type __attribute__((vector_size(8 * kWidth)));
};

// One sample interval integrated on vectors of kWidth doubles. The shifts
// take and return vectors by value but are always inlined into functions
// compiled for the vector width, so no call passes a vector across the ABI
// that -Wpsabi warns about; files that instantiate these passes are built
// with -Wno-psabi.
template <EarVariant kVariant, int kWidth>
struct EarPasses {
  using Vec = typename VectorOf<kWidth>::type;
  static constexpr int kVectors = LaneCount(kVariant) / kWidth;
  static_assert(LaneCount(kVariant) % kWidth == 0);

  // Vector m holds lanes m kWidth .. m kWidth + kWidth - 1.
  static constexpr bool Holds(int m, int first_lane, int last_lane) {
    return m * kWidth <= last_lane && first_lane < (m + 1) * kWidth;
  }

  template <int kShift, std::size_t... I>
  [[gnu::always_inline]] static Vec Concat(Vec low, Vec high, std::index_sequence<I...>) {
    return __builtin_shufflevector(low, high, (I + kShift)...);
  }
  // X[i + s] and X[i - s] for the lanes of vector m; 0 beyond the ends.
  template <int s>
  [[gnu::always_inline]] static Vec Above(const Vec* x, int m) {
    const Vec next = m + 1 < kVectors ? x[m + 1] : Vec{};
    return Concat<s>(x[m], next, std::make_index_sequence<kWidth>());
  }
  template <int s>
  [[gnu::always_inline]] static Vec Below(const Vec* x, int m) {
    const Vec previous = m > 0 ? x[m - 1] : Vec{};
    return Concat<kWidth - s>(previous, x[m], std::make_index_sequence<kWidth>());
  }

  struct Coefficients {
    Vec K1[kVectors], R1[kVectors], K2[kVectors], R2[kVectors], Kg[kVectors], Rg[kVectors],
        D[kVectors], M[kVectors], Up[kVectors], Down[kVectors];
  };

  [[gnu::always_inline]] static void Load(Vec* to, const double* from) {
    std::memcpy(to, from, sizeof(Vec) * kVectors);
  }

  [[gnu::always_inline]] static void Load(Coefficients& to, const EarLaneCoefficients& k) {
    Load(to.K1, k.K1.data());
    Load(to.R1, k.R1.data());
    Load(to.K2, k.K2.data());
    Load(to.R2, k.R2.data());
    Load(to.Kg, k.Kg.data());
    Load(to.Rg, k.Rg.data());
    Load(to.D, k.D.data());
    Load(to.M, k.M.data());
    Load(to.Up, k.Up.data());
    Load(to.Down, k.Down.data());
  }

  // Accelerations a of all lanes for displacements q, velocities v, driving
  // pressure p (dyn/cm^2) and reflex factors f1 (stiffness), f2 (resistance).
  [[gnu::always_inline]] static void Accelerations(const EarModelConstants& c,
                                                   const Coefficients& k, const Vec* q,
                                                   const Vec* v, double p, double f1, double f2,
                                                   Vec* a) {
    constexpr int kStapes = Lane(2);
    const double sigma = StapesSpring(c, q[0][kStapes]);
    const double k_stapes = f1 * sigma * c.KNonlinear;
    const double r_stapes =
        f2 * c.R30 * (c.StapesResistanceGrowth * sigma - (c.StapesResistanceGrowth - 1.0));

    Vec link[kVectors], net[kVectors];
#pragma GCC unroll 24
    for (int m = 0; m < kVectors; ++m) {
      link[m] = (Above<1>(q, m) - q[m]) * k.K1[m];
      if (Holds(m, Lane(1), Lane(3)) || Holds(m, Lane(22), Lane(22))) {
        link[m] += (Above<1>(v, m) - v[m]) * k.R1[m];
      }
    }
#pragma GCC unroll 24
    for (int m = 0; m < kVectors; ++m) net[m] = link[m] - Below<1>(link, m);

    // Skip links start at lanes 3 and 21 and pull lanes 5 and 23.
    Vec skip[kVectors] = {};
    constexpr int kEardrum = Lane(4) / kWidth;
    skip[kEardrum] = (Above<2>(q, kEardrum) - q[kEardrum]) * k.K2[kEardrum] +
                     (Above<2>(v, kEardrum) - v[kEardrum]) * k.R2[kEardrum];
    if constexpr (kVariant == EarVariant::FreeField) {
      constexpr int kOuter = Lane(22) / kWidth;
      skip[kOuter] = (Above<2>(v, kOuter) - v[kOuter]) * k.R2[kOuter];
    }
#pragma GCC unroll 24
    for (int m = 0; m < kVectors; ++m) {
      if (Holds(m, Lane(4), Lane(6)) || Holds(m, Lane(22), Lane(24))) {
        if constexpr (kVariant == EarVariant::Eardrum) {
          // The eardrum network couples 4 and 6 through their masses, not
          // a link: coordinate 4 feels the cavity (5-6) and not the drum.
          net[m] -= Below<2>(skip, m);
          if (Holds(m, Lane(4), Lane(4))) {
            Vec cavity_on_4{};
            cavity_on_4[Lane(4) % kWidth] = Above<1>(link, m)[Lane(4) % kWidth];
            net[m] -= cavity_on_4;
          }
        } else {
          net[m] += skip[m] - Below<2>(skip, m);
        }
      }
    }

    // Springs and dampers to ground, the stapes spring's hardening part with them.
    Vec kg = k.Kg[0], rg = k.Rg[0];
    kg[kStapes] += k_stapes;
    rg[kStapes] = r_stapes;
    net[0] -= kg * q[0] + rg * v[0];
#pragma GCC unroll 24
    for (int m = 1; m < kVectors; ++m) {
      if (Holds(m, Lane(1), Lane(5))) net[m] -= k.Kg[m] * q[m] + k.Rg[m] * v[m];
    }
#pragma GCC unroll 24
    for (int m = 0; m < kVectors; ++m) {
      if (Holds(m, Lane(4), Lane(6)) || Holds(m, Lane(22), Lane(24))) net[m] += k.D[m] * p;
    }

#pragma GCC unroll 24
    for (int m = 0; m < kVectors; ++m) {
      a[m] = net[m] * k.M[m];
      if constexpr (kVariant != EarVariant::Eardrum) {
        if (Holds(m, Lane(4), Lane(4))) a[m] += k.Up[m] * Above<2>(net, m);
        if (Holds(m, Lane(6), Lane(6))) a[m] += k.Down[m] * Below<2>(net, m);
      }
    }
    if constexpr (kVariant == EarVariant::Eardrum) {
      constexpr int m = Lane(6) / kWidth;
      a[m] += k.Down[m] * Below<2>(a, m);
    }
  }

  // One sample interval's equations, as the integrator takes them
  // (core/model/runge_kutta.h): the pressure and the reflex factors rise
  // linearly across the interval.
  class Interval {
   public:
    using Value = Vec;
    using State = EarState;
    static constexpr int kSize = kVectors;
    struct Drive {
      double p, dp, f1, df1, f2, df2;  // at the start, and per substep
    };

    [[gnu::always_inline]] Interval(const EarModelConstants& c,
                                    const EarLaneCoefficients& coefficients, const IntervalDrive& d)
        : c_(c), d_(d) {
      EarPasses::Load(k_, coefficients);
    }

    [[gnu::always_inline]] Drive DriveFor(int substeps) const {
      return {d_.p_prev, (d_.p_next - d_.p_prev) / substeps, d_.f1s, (d_.f1e - d_.f1s) / substeps,
              d_.f2s,    (d_.f2e - d_.f2s) / substeps};
    }

    [[gnu::always_inline]] void Accelerations(const Drive& d, double s, const Vec* q, const Vec* v,
                                              Vec* a) const {
      EarPasses::Accelerations(c_, k_, q, v, d.p + s * d.dp, d.f1 + s * d.df1, d.f2 + s * d.df2, a);
    }

    [[gnu::always_inline]] static void Load(const EarState& from, Vec* q, Vec* v) {
      EarPasses::Load(q, from.Q.data());
      EarPasses::Load(v, from.V.data());
    }

    [[gnu::always_inline]] static void Store(const Vec* q, const Vec* v, EarState& to) {
      std::memcpy(to.Q.data(), q, sizeof(Vec) * kVectors);
      std::memcpy(to.V.data(), v, sizeof(Vec) * kVectors);
    }

   private:
    const EarModelConstants& c_;
    const IntervalDrive d_;
    Coefficients k_;
  };
};

}  // namespace korva
