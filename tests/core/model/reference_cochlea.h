// The cochlea's transfer functions computed the straightforward way: bin by
// bin with the library's complex functions, in double precision, as the
// program computed them before it evaluated them in vector lanes. Kept to
// check the vector evaluation (tests) and to measure what it gains (bench).
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "core/model/cochlea.h"
#include "core/model/ear_model.h"

namespace korva::reference {

class StraightforwardCochlea {
 public:
  using Cx = std::complex<double>;

  // What every place shares is computed here: at every bin the damping root
  // s, Delta / s, 1 / sqrt(w0), t0 + j u0 and the reflection at the far end.
  StraightforwardCochlea(const EarModelParameters& params, std::int32_t length, float dt)
      : params_(params), half_(length / 2), df_(1.0 / (static_cast<double>(length) * dt)) {
    const auto& P = params.P;
    delta_ = 4.0 * P[53];
    if (P[70] != 1.0f) {
      const double p41 = P[40] / std::pow(2.0 * std::numbers::pi * P[45], 2.0);
      delta_ = 2.0 * P[47] * P[48] / (double{P[47]} + P[48]) * std::sqrt(P[43] / (p41 * P[44]));
    }
    bases_.resize(static_cast<std::size_t>(half_) + 1);
    for (std::int32_t k = 1; k <= half_; ++k) {
      const double f = k * df_;
      Base& b = bases_[static_cast<std::size_t>(k)];
      b.s = std::sqrt(Cx(1.0, -double{P[46]} * P[45] / (double{P[54]} * f)));
      b.dos = delta_ / b.s;
      const Cx u0 = (f / P[45]) * b.s, t0 = std::sqrt(1.0 - u0 * u0);
      b.isw0 = 1.0 / std::sqrt(u0 / t0);
      b.base = t0 + Cx(0.0, 1.0) * u0;
      Cx w;
      b.log_e0 = LogE(b, f, CharacteristicFrequency(params, P[56]), w);
      b.ref = Reflects() ? 1.0 / (1.0 + std::exp(2.0 * b.log_e0)) : Cx(1.0);
    }
  }

  // Place c's transfer function at bins 0..half.
  std::vector<Cx> Transfer(int c) const {
    const double x = PlaceDistance(params_, c);
    const double cf = CharacteristicFrequency(params_, x);
    const double g = Gain(x);
    std::vector<Cx> transfer(static_cast<std::size_t>(half_) + 1);
    for (std::int32_t k = 1; k <= half_; ++k) {
      const Base& b = bases_[static_cast<std::size_t>(k)];
      Cx w;
      const Cx log_e = LogE(b, k * df_, cf, w);
      // W = Ref E + (Ref - 1)/E, the second term as -Ref E0^2 / E.
      Cx wave = b.ref * std::exp(log_e);
      if (Reflects()) wave -= b.ref * std::exp(2.0 * b.log_e0 - log_e);
      if (wave == Cx(0.0)) continue;
      const Cx zw = b.dos * w * std::sqrt(w) * b.isw0 * wave;  // Z W
      transfer[static_cast<std::size_t>(k)] = {g * zw.imag(), k == half_ ? 0.0 : -g * zw.real()};
    }
    return transfer;
  }

 private:
  struct Base {
    Cx s, dos, isw0, base, ref, log_e0;
  };

  bool Reflects() const { return params_.P[80] == 0.0f; }

  double Gain(double x) const {
    const auto& P = params_.P;
    if (P[70] == 1.0f)
      return std::exp(-double{P[69]} * x) * P[68] * P[35] / (double{P[43]} * P[52]);
    const double p41 = P[40] / std::pow(2.0 * std::numbers::pi * P[45], 2.0);
    return std::exp(-3.0 * x / (4.0 * P[48])) * P[68] * P[35] *
           std::sqrt(1.0 / (p41 * P[43] * P[44]));
  }

  // ln E at the place of characteristic frequency cf, and w = u / t.
  static Cx LogE(const Base& b, double f, double cf, Cx& w) {
    const Cx u = (f / cf) * b.s, t = std::sqrt(1.0 - u * u);
    const Cx r = b.base / (t + Cx(0.0, 1.0) * u);
    w = u / t;
    return b.dos * Cx(std::log(1e-20 + std::abs(r)), std::arg(r));
  }

  EarModelParameters params_;
  std::int32_t half_;
  double df_;
  double delta_;
  std::vector<Base> bases_;
};

}  // namespace korva::reference
