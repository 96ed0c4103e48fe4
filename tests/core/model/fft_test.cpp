#include "core/model/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "core/common/error.h"
#include "tests/core/model/reference_transform.h"

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

// At every length the program may transform: the spectrum the previous
// (extended-precision, single-store) transform gave, within 1e-6 of its
// size; the signal's energy (Parseval); a cosine in its own bin only; and
// the inverse restoring the samples.
TEST(RealFFT, EveryPowerOfTwoAgreesWithThePreviousTransform) {
  const float dt = 1.0f / 48000.0f;
  for (int p = 4; p <= 22; ++p) {
    const std::int32_t n = 1 << (p - 1);
    SCOPED_TRACE(n);
    SpectrumBuffer re(n + 1), im(n + 1);
    const auto x = PackRandom(n, re, im);
    std::vector<float> old_re(re.data1(), re.data1() + n + 1),
        old_im(im.data1(), im.data1() + n + 1);
    RealFFT(n, re, im, dt);
    reference::RealFFT(n, old_re.data(), old_im.data(), dt);
    long double difference = 0, size = 0, energy = 0, signal = 0;
    for (std::int32_t k = 0; k <= n; ++k) {
      const long double dr = re.data1()[k] - old_re[k], di = im.data1()[k] - old_im[k];
      difference += dr * dr + di * di;
      size += static_cast<long double>(old_re[k]) * old_re[k] +
              static_cast<long double>(old_im[k]) * old_im[k];
      const long double bin = static_cast<long double>(re.data1()[k]) * re.data1()[k] +
                              static_cast<long double>(im.data1()[k]) * im.data1()[k];
      energy += (k == 0 || k == n) ? bin : 2 * bin;
    }
    for (const float v : x) signal += static_cast<long double>(v) * v;
    EXPECT_LE(std::sqrt(difference / size), 1e-6L);
    EXPECT_NEAR(static_cast<double>(energy / (static_cast<long double>(dt) * dt * 2 * n * signal)),
                1.0, 1e-6);
    EXPECT_EQ(im[1], 0.0f);
    EXPECT_EQ(im[n + 1], 0.0f);

    InverseRealFFT(n, re, im, dt);
    float worst = 0.0f;
    for (std::int32_t i = 0; i < 2 * n; ++i) {
      worst = std::max(
          worst, std::fabs((i % 2 == 0 ? re : im)[i / 2 + 1] - x[static_cast<std::size_t>(i)]));
    }
    EXPECT_LE(worst, 2e-6f);

    // A cosine of k0 cycles: dt N / 2 in bin k0, nothing elsewhere.
    const std::int32_t k0 = n / 3 + 1;
    for (std::int32_t t = 0; t < 2 * n; ++t) {
      const long double phase = 2 * std::numbers::pi_v<long double> *
                                ((static_cast<std::int64_t>(k0) * t) % (2 * n)) / (2 * n);
      (t % 2 == 0 ? re : im)[t / 2 + 1] = static_cast<float>(std::cos(phase));
    }
    RealFFT(n, re, im, dt);
    const double expected = dt * n;  // dt N / 2
    float leak = 0.0f;
    for (std::int32_t k = 0; k <= n; ++k) {
      if (k == k0) continue;
      leak = std::max({leak, std::fabs(re.data1()[k]), std::fabs(im.data1()[k])});
    }
    EXPECT_NEAR(re[k0 + 1], expected, 1e-6 * expected);
    EXPECT_LE(leak, 1e-6 * expected);
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
  EXPECT_THROW(RealTransform::Of(1 << 23), Error);
  EXPECT_EQ(re[1], 5.0f);  // refused before touching anything
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
