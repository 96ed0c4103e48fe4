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

std::vector<float> RandomSeries(std::size_t count, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> x(count);
  for (float& v : x) v = uniform(engine);
  return x;
}

void Pack(const std::vector<float>& x, SpectrumBuffer& re, SpectrumBuffer& im) {
  for (std::size_t t = 0; t < x.size(); t += 2) {
    re[static_cast<std::int64_t>(t / 2 + 1)] = x[t];
    im[static_cast<std::int64_t>(t / 2 + 1)] = x[t + 1];
  }
}

// dt * sum_t x[t] exp(-2 pi j k t / N) for the bins asked, with the angles
// taken from an exact table of the N roots of unity.
std::vector<LComplex> NaiveBins(const std::vector<float>& x, const std::vector<std::int64_t>& bins,
                                long double dt) {
  const auto n_total = static_cast<std::int64_t>(x.size());
  std::vector<LComplex> roots(static_cast<std::size_t>(n_total));
  for (std::int64_t t = 0; t < n_total; ++t) {
    const long double angle = -2 * std::numbers::pi_v<long double> * t / n_total;
    roots[static_cast<std::size_t>(t)] = LComplex(std::cos(angle), std::sin(angle));
  }
  std::vector<LComplex> out;
  for (std::int64_t k : bins) {
    LComplex sum = 0;
    for (std::int64_t t = 0; t < n_total; ++t) {
      sum += static_cast<long double>(x[static_cast<std::size_t>(t)]) *
             roots[static_cast<std::size_t>((k * t) % n_total)];
    }
    out.push_back(sum * dt);
  }
  return out;
}

// Error bound of a single-precision FFT: a few ulps times log2 N times the
// size of the bins' inputs.
double Tolerance(std::size_t n_total, double dt) {
  return 8.0 * std::log2(static_cast<double>(n_total) + 1) * 6e-8 *
         std::sqrt(static_cast<double>(n_total)) * dt;
}

TEST(RealFFT, MatchesTheDirectSumOverSeveralSizes) {
  const float dt = 0.00125f;
  for (std::int32_t n : {1, 2, 4, 8, 64, 512, 2048}) {
    SCOPED_TRACE(n);
    const auto x = RandomSeries(2 * static_cast<std::size_t>(n), static_cast<unsigned>(n));
    SpectrumBuffer re(n + 1), im(n + 1);
    Pack(x, re, im);
    RealFFT(n, re, im, dt);
    std::vector<std::int64_t> bins;
    for (std::int32_t k = 0; k <= n; ++k) bins.push_back(k);
    const auto spectrum = NaiveBins(x, bins, dt);
    for (std::int32_t k = 0; k <= n; ++k) {
      const LComplex& expected = spectrum[static_cast<std::size_t>(k)];
      EXPECT_NEAR(re[k + 1], static_cast<double>(expected.real()), Tolerance(x.size(), dt));
      EXPECT_NEAR(im[k + 1], static_cast<double>(expected.imag()), Tolerance(x.size(), dt));
    }
    EXPECT_EQ(im[1], 0.0f);
    EXPECT_EQ(im[n + 1], 0.0f);
  }
}

TEST(RealFFT, LargestTransformUsesIndicesUpToNPlusOne) {
  constexpr std::int32_t n = 1 << 19;
  const float dt = 1.0f / 48000.0f;
  const auto x = RandomSeries(2 * static_cast<std::size_t>(n), 7);
  // Exactly n + 1 elements: the transform must not reach beyond them.
  SpectrumBuffer re(n + 1), im(n + 1);
  Pack(x, re, im);
  RealFFT(n, re, im, dt);
  const std::vector<std::int64_t> bins = {0, 1, 777, 262143, n - 1, n};
  const auto spectrum = NaiveBins(x, bins, dt);
  for (std::size_t b = 0; b < bins.size(); ++b) {
    const std::int64_t k = bins[b];
    SCOPED_TRACE(k);
    const LComplex& expected = spectrum[b];
    EXPECT_NEAR(re[k + 1], static_cast<double>(expected.real()), Tolerance(x.size(), dt));
    EXPECT_NEAR(im[k + 1], static_cast<double>(expected.imag()), Tolerance(x.size(), dt));
  }
}

TEST(RealFFT, ImpulseAndCosineHaveTheirKnownSpectra) {
  constexpr std::int32_t n = 256;
  SpectrumBuffer re(n + 1), im(n + 1);
  re[1] = 1.0f;  // x[0] = 1, the rest 0
  RealFFT(n, re, im, 0.001f);
  for (std::int32_t i = 1; i <= n + 1; ++i) {
    EXPECT_FLOAT_EQ(re[i], 0.001f) << i;
    EXPECT_NEAR(im[i], 0.0f, 1e-10) << i;
  }

  // k cycles in N samples land in bin k with dt N / 2 and nowhere else.
  const float dt = 0.5f;
  for (std::int32_t k : {1, 37, n - 1}) {
    SCOPED_TRACE(k);
    std::vector<float> x(2 * n);
    for (std::size_t t = 0; t < x.size(); ++t) {
      x[t] =
          static_cast<float>(std::cos(2 * std::numbers::pi * k * static_cast<double>(t) / (2 * n)));
    }
    re.Zero();
    im.Zero();
    Pack(x, re, im);
    RealFFT(n, re, im, dt);
    for (std::int32_t bin = 0; bin <= n; ++bin) {
      const double expected = bin == k ? dt * 2 * n / 2.0 : 0.0;
      EXPECT_NEAR(re[bin + 1], expected, 1e-4) << bin;
      EXPECT_NEAR(im[bin + 1], 0.0, 1e-4) << bin;
    }
    EXPECT_EQ(im[1], 0.0f);
    EXPECT_EQ(im[n + 1], 0.0f);
  }
}

TEST(InverseRealFFT, RestoresTheSamplesWhateverTheInterval) {
  constexpr std::int32_t n = 4096;
  const auto x = RandomSeries(2 * n, 11);
  for (float dt : {1.0f / 96000.0f, 0.37f, 250.0f}) {
    SCOPED_TRACE(dt);
    SpectrumBuffer re(n + 1), im(n + 1);
    Pack(x, re, im);
    RealFFT(n, re, im, dt);
    InverseRealFFT(n, re, im, dt);
    double worst = 0.0;
    for (std::int32_t i = 1; i <= n; ++i) {
      worst = std::max(worst, std::fabs(double{re[i]} - x[2 * i - 2]));
      worst = std::max(worst, std::fabs(double{im[i]} - x[2 * i - 1]));
    }
    EXPECT_LT(worst, 2e-6);
  }
}

TEST(RealFFT, RefusesLengthsIntervalsAndBuffersThatCannotWork) {
  SpectrumBuffer re(9), im(9);
  re[1] = 5.0f;
  EXPECT_THROW(RealFFT(3, re, im, 0.001f), Error);
  EXPECT_THROW(RealFFT(0, re, im, 0.001f), Error);
  EXPECT_THROW(RealFFT(-8, re, im, 0.001f), Error);
  EXPECT_THROW(RealFFT(8, re, im, 0.0f), Error);
  EXPECT_THROW(InverseRealFFT(8, re, im, std::nanf("")), Error);
  EXPECT_THROW(ComplexFFT(8, re, im, true, -1.0f), Error);
  // Nine elements hold n = 8 pairs plus the Nyquist bin; n = 16 does not fit.
  EXPECT_THROW(RealFFT(16, re, im, 0.001f), RangeError);
  EXPECT_EQ(re[1], 5.0f);  // refused before touching anything
  EXPECT_NO_THROW(RealFFT(8, re, im, 0.001f));
}

TEST(SpectrumBuffer, ChecksEveryIndexAndItsSize) {
  SpectrumBuffer buffer(10);
  EXPECT_THROW(buffer[0], RangeError);
  EXPECT_THROW(buffer[11], RangeError);
  buffer[10] = 2.5f;
  EXPECT_EQ(buffer[10], 2.5f);
  EXPECT_THROW(buffer.CheckRange(0, 5), RangeError);
  EXPECT_THROW(buffer.CheckRange(3, 11), RangeError);
  EXPECT_NO_THROW(buffer.CheckRange(1, 10));
  EXPECT_THROW(SpectrumBuffer(0), RangeError);
  EXPECT_THROW(SpectrumBuffer(SpectrumBuffer::kLargestCapacity + 1), RangeError);
}

TEST(ComplexHelpers, MultiplyAndDivideAreInverse) {
  const Complex a{3.0, -2.0}, b{-0.5, 4.0};
  const Complex p = ComplexMultiply(a, b);
  EXPECT_DOUBLE_EQ(p.re, 3.0 * -0.5 + 2.0 * 4.0);
  EXPECT_DOUBLE_EQ(p.im, 3.0 * 4.0 + 2.0 * 0.5);
  const Complex q = ComplexDivide(p, b);
  EXPECT_NEAR(q.re, a.re, 1e-15);
  EXPECT_NEAR(q.im, a.im, 1e-15);
  EXPECT_THROW(ComplexDivide({1.0, 0.0}, {0.0, 0.0}), Error);
}

TEST(ComplexHelpers, PolarPhaseCoversTheHalfOpenCircle) {
  const double pi = std::numbers::pi;
  EXPECT_DOUBLE_EQ(ToPolar(-1.0, 0.0).phase, pi);
  EXPECT_DOUBLE_EQ(ToPolar(-1.0, -0.0).phase, pi);
  EXPECT_NEAR(ToPolar(-1.0, -1e-12).phase, -pi, 1e-11);
  EXPECT_LT(ToPolar(-1.0, -1e-12).phase, 0.0);
  EXPECT_DOUBLE_EQ(ToPolar(0.0, 2.0).phase, pi / 2);
  EXPECT_DOUBLE_EQ(ToPolar(0.0, -2.0).phase, -pi / 2);
  const Polar origin = ToPolar(0.0, 0.0);
  EXPECT_EQ(origin.magnitude, 0.0);
  EXPECT_EQ(origin.phase, 0.0);
  const Polar p = ToPolar(-3.0, -4.0);
  EXPECT_DOUBLE_EQ(p.magnitude, 5.0);
  EXPECT_NEAR(p.phase, std::atan2(-4.0, -3.0), 1e-15);
}

TEST(ComplexHelpers, SquareRootIsPrincipalAndAccurateNearTheAxes) {
  const ComplexRoot on_axis = ComplexSqrt(-4.0, 0.0);
  EXPECT_EQ(on_axis.root.re, 0.0);
  EXPECT_DOUBLE_EQ(on_axis.root.im, 2.0);
  EXPECT_DOUBLE_EQ(on_axis.modulus, 4.0);
  EXPECT_LT(ComplexSqrt(-4.0, -0.00001).root.im, 0.0);

  // Points on and near both real half-axes, the imaginary axis and in general
  // position: the root must match the principal root to near double precision.
  const double points[][2] = {{-4.0, -1e-5}, {-4.0, 1e-5}, {-1e6, 1e-3},  {-2.0, -3e-4},
                              {9.0, 1e-9},   {9.0, -5e-4}, {0.0, 2.0},    {0.0, -2.0},
                              {1e-3, 7.0},   {-5.0, 5.0},  {2.5, -1e-300}};
  for (const auto& point : points) {
    SCOPED_TRACE(testing::Message() << point[0] << " " << point[1]);
    const ComplexRoot got = ComplexSqrt(point[0], point[1]);
    const LComplex expected = std::sqrt(LComplex(point[0], point[1]));
    const double scale = std::abs(static_cast<double>(std::abs(expected)));
    EXPECT_GE(got.root.re, 0.0);
    EXPECT_NEAR(got.root.re, static_cast<double>(expected.real()), 1e-10 * scale);
    EXPECT_NEAR(got.root.im, static_cast<double>(expected.imag()), 1e-10 * scale);
    EXPECT_NEAR(got.modulus, std::hypot(point[0], point[1]), 1e-15 * got.modulus);
  }
}

double Decibels(ComplexF h) {
  return 20.0 * std::log10(std::hypot(double{h.re}, double{h.im}));
}

TEST(WeightingResponse, FollowsTheStandardTableAtEveryThirdOctave) {
  InitWeightingConstants();
  const Weighting at1k = WeightingResponse(1000.0f);
  EXPECT_NEAR(Decibels(at1k.a), 0.0, 1e-5);
  EXPECT_NEAR(Decibels(at1k.c), 0.0, 1e-5);
  EXPECT_NEAR(Decibels(WeightingResponse(100.0f).a), -19.143, 0.005);
  EXPECT_NEAR(Decibels(WeightingResponse(10000.0f).c), -4.41, 0.01);

  // Third-octave bands 10 Hz .. 20 kHz at their exact base-ten centres.
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
    SCOPED_TRACE(f);
    const Weighting w = WeightingResponse(f);
    EXPECT_NEAR(Decibels(w.a), a_table[band], 0.06);
    EXPECT_NEAR(Decibels(w.c), c_table[band], 0.06);
  }

  // Phase: both are minimum-phase high-pass/low-pass cascades, so near their
  // low corner they lead (positive phase).
  EXPECT_GT(WeightingResponse(20.0f).c.im, 0.0f);
  EXPECT_GT(WeightingResponse(100.0f).a.im, 0.0f);
}

}  // namespace
}  // namespace korva
