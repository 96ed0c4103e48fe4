// The program's pseudo-random streams: a 32-bit linear congruential
// generator (seed <- seed * 134775813 + 1 mod 2^32, U = seed / 2^32) and the
// polar method for Gaussian deviates. Each user owns its stream so that
// reseeding one (the KRV reader reseeds with 1 on every Open) never disturbs
// another.
#pragma once

#include <cmath>
#include <cstdint>

namespace korva {

class Lcg {
 public:
  explicit Lcg(std::uint32_t seed = 0) : seed_(seed) {}

  void Reseed(std::uint32_t seed) { seed_ = seed; }
  std::uint32_t seed() const { return seed_; }

  // Uniform in [0, 1).
  double Uniform() {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<double>(seed_) / 4294967296.0;
  }

  // Gaussian deviate with mean 0 and the given standard deviation.
  double Gaussian(double standard_deviation) {
    double u1 = 0.0;
    double s = 0.0;
    do {
      u1 = 2.0 * Uniform() - 1.0;
      const double u2 = 2.0 * Uniform() - 1.0;
      s = u1 * u1 + u2 * u2;
    } while (s >= 1.0 || s == 0.0);
    return u1 * std::sqrt(-2.0 * std::log(s) / s) * standard_deviation;
  }

 private:
  std::uint32_t seed_;
};

}  // namespace korva
