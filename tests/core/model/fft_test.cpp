#include "core/model/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "core/common/error.h"

namespace korva {
namespace {

using LComplex = std::complex<long double>;

// A random series packed into a pair of buffers of n + 1 elements.
std::vector<float> PackRandom(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im) {
  std::mt19937 engine(static_cast<unsigned>(n));
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> x(2 * static_cast<std::size_t>(n));
  for (std::size_t t = 0; t < x.size(); ++t) {
    x[t] = uniform(engine);
    (t % 2 == 0 ? re : im)[static_cast<std::int64_t>(t / 2 + 1)] = x[t];
  }
  return x;
}

// Compares bins with dt * sum_t x[t] exp(-2 pi j k t / N) in long double,
// within a few single-precision ulps per stage.
void ExpectDirectSum(const std::vector<float>& x, const std::vector<std::int64_t>& bins,
                     const SpectrumBuffer& re, const SpectrumBuffer& im, double dt) {
  const auto n_total = static_cast<std::int64_t>(x.size());
  std::vector<LComplex> roots;
  for (std::int64_t t = 0; t < n_total; ++t) {
    roots.push_back(std::polar(1.0L, -2 * std::numbers::pi_v<long double> * t / n_total));
  }
  const double tolerance = 5e-7 * std::log2(n_total + 1.0) * std::sqrt(n_total) * dt;
  for (std::int64_t k : bins) {
    LComplex sum = 0;
    for (std::int64_t t = 0; t < n_total; ++t) {
      sum += static_cast<long double>(x[static_cast<std::size_t>(t)]) *
             roots[static_cast<std::size_t>((k * t) % n_total)];
    }
    EXPECT_NEAR(re[k + 1], static_cast<double>(sum.real()) * dt, tolerance) << k;
    EXPECT_NEAR(im[k + 1], static_cast<double>(sum.imag()) * dt, tolerance) << k;
  }
}

TEST(RealFFT, MatchesTheDirectSumFromOnePairToTheLargestTransform) {
  const float dt = 0.00125f;
  for (std::int32_t n : {1, 2, 8, 64, 2048}) {
    SCOPED_TRACE(n);
    SpectrumBuffer re(n + 1), im(n + 1);
    const auto x = PackRandom(n, re, im);
    RealFFT(n, re, im, dt);
    std::vector<std::int64_t> bins;
    for (std::int32_t k = 0; k <= n; ++k) bins.push_back(k);
    ExpectDirectSum(x, bins, re, im, dt);
    EXPECT_EQ(im[n + 1], 0.0f);
  }
  // 2^20 samples in buffers of exactly n + 1 elements; a few bins suffice.
  constexpr std::int32_t n = 1 << 19;
  SpectrumBuffer re(n + 1), im(n + 1);
  const auto x = PackRandom(n, re, im);
  RealFFT(n, re, im, dt);
  ExpectDirectSum(x, {0, 1, 777, 262143, n - 1, n}, re, im, dt);
}

// The forward transform is checked against the direct sum above; the
// inverse must undo it whatever the interval.
TEST(RealFFT, InverseUndoesTheForwardTransform) {
  constexpr std::int32_t n = 4096;
  SpectrumBuffer re(n + 1), im(n + 1);
  for (float dt : {1.0f / 96000.0f, 250.0f}) {
    const auto x = PackRandom(n, re, im);
    RealFFT(n, re, im, dt);
    InverseRealFFT(n, re, im, dt);
    for (std::int32_t i = 1; i <= n; ++i) {
      ASSERT_NEAR(re[i], x[2 * i - 2], 2e-6) << i;
      ASSERT_NEAR(im[i], x[2 * i - 1], 2e-6) << i;
    }
  }
}

TEST(RealFFT, RefusesLengthsIntervalsAndBuffersThatCannotWork) {
  SpectrumBuffer re(9), im(9);
  re[1] = 5.0f;
  EXPECT_THROW(RealFFT(3, re, im, 0.001f), Error);
  EXPECT_THROW(RealFFT(0, re, im, 0.001f), Error);
  EXPECT_THROW(RealFFT(8, re, im, 0.0f), Error);
  EXPECT_THROW(InverseRealFFT(8, re, im, std::nanf("")), Error);
  EXPECT_THROW(RealFFT(16, re, im, 0.001f), RangeError);  // needs 17 elements
  EXPECT_EQ(re[1], 5.0f);                                 // refused before touching anything
  EXPECT_THROW(re[0], RangeError);
  EXPECT_THROW(re[10], RangeError);
  EXPECT_THROW(SpectrumBuffer(SpectrumBuffer::kLargestCapacity + 1), RangeError);
}

TEST(ComplexHelpers, DivisionPolarFormAndSquareRootNearTheAxes) {
  const Complex q = ComplexDivide(ComplexMultiply({3.0, -2.0}, {-0.5, 4.0}), {-0.5, 4.0});
  EXPECT_NEAR(q.re, 3.0, 1e-15);
  EXPECT_NEAR(q.im, -2.0, 1e-15);
  EXPECT_THROW(ComplexDivide({1.0, 0.0}, {0.0, 0.0}), Error);

  const double pi = std::numbers::pi;
  EXPECT_DOUBLE_EQ(ToPolar(-1.0, 0.0).phase, pi);
  EXPECT_LT(ToPolar(-1.0, -1e-12).phase, -pi + 1e-11);
  EXPECT_DOUBLE_EQ(ToPolar(0.0, -2.0).phase, -pi / 2);
  EXPECT_EQ(ToPolar(0.0, 0.0).magnitude, 0.0);
  EXPECT_EQ(ToPolar(0.0, 0.0).phase, 0.0);

  EXPECT_EQ(ComplexSqrt(-4.0, 0.0).root.re, 0.0);
  EXPECT_DOUBLE_EQ(ComplexSqrt(-4.0, 0.0).root.im, 2.0);
  // Near both real half-axes, on the imaginary axis and in general position:
  // the principal root (the near-axis branches are where a slip would show).
  for (const auto& z : {LComplex(-4.0, -1e-5), LComplex(-1e6, 1e-3), LComplex(-2.0, -3e-4),
                        LComplex(9.0, -5e-4), LComplex(0.0, -2.0), LComplex(-5.0, 5.0)}) {
    SCOPED_TRACE(testing::Message() << z);
    const ComplexRoot got =
        ComplexSqrt(static_cast<double>(z.real()), static_cast<double>(z.imag()));
    const LComplex expected = std::sqrt(z);
    const double scale = static_cast<double>(std::abs(expected));
    EXPECT_NEAR(got.root.re, static_cast<double>(expected.real()), 1e-10 * scale);
    EXPECT_NEAR(got.root.im, static_cast<double>(expected.imag()), 1e-10 * scale);
    EXPECT_NEAR(got.modulus, static_cast<double>(std::abs(z)), 1e-15 * got.modulus);
  }
}

double Decibels(ComplexF h) {
  return 20.0 * std::log10(std::hypot(double{h.re}, double{h.im}));
}

TEST(WeightingResponse, FollowsTheStandardTableAtEveryThirdOctave) {
  InitWeightingConstants();
  EXPECT_NEAR(Decibels(WeightingResponse(1000.0f).a), 0.0, 1e-5);
  EXPECT_NEAR(Decibels(WeightingResponse(1000.0f).c), 0.0, 1e-5);
  // IEC 61672-1 values, bands 10 Hz .. 20 kHz at their exact base-ten centres.
  const double a_table[] = {-70.4, -63.4, -56.7, -50.5, -44.7, -39.4, -34.6, -30.2, -26.2,
                            -22.5, -19.1, -16.1, -13.4, -10.9, -8.6,  -6.6,  -4.8,  -3.2,
                            -1.9,  -0.8,  0.0,   0.6,   1.0,   1.2,   1.3,   1.2,   1.0,
                            0.5,   -0.1,  -1.1,  -2.5,  -4.3,  -6.6,  -9.3};
  const double c_table[] = {-14.3, -11.2, -8.5, -6.2, -4.4, -3.0, -2.0, -1.3, -0.8,
                            -0.5,  -0.3,  -0.2, -0.1, 0.0,  0.0,  0.0,  0.0,  0.0,
                            0.0,   0.0,   0.0,  0.0,  -0.1, -0.2, -0.3, -0.5, -0.8,
                            -1.3,  -2.0,  -3.0, -4.4, -6.2, -8.5, -11.2};
  for (int band = 0; band < 34; ++band) {
    const float f = static_cast<float>(1000.0 * std::pow(10.0, (band - 20) / 10.0));
    const Weighting w = WeightingResponse(f);
    EXPECT_NEAR(Decibels(w.a), a_table[band], 0.06) << f;
    EXPECT_NEAR(Decibels(w.c), c_table[band], 0.06) << f;
  }
  // Minimum-phase high-pass corners: the response leads there.
  EXPECT_GT(WeightingResponse(20.0f).c.im, 0.0f);
  EXPECT_GT(WeightingResponse(100.0f).a.im, 0.0f);
}

}  // namespace
}  // namespace korva
