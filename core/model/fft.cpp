#include "core/model/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "core/common/error.h"

namespace korva {

namespace {

using Extended = long double;

bool IsPowerOfTwo(std::int32_t n) {
  return n >= 1 && (n & (n - 1)) == 0;
}

// A transform of the wrong length or with a meaningless time step would give
// a spectrum that looks plausible and is wrong; stop the command instead.
void CheckTransform(std::int32_t n, const SpectrumBuffer& re, const SpectrumBuffer& im,
                    std::int64_t last_index, float dt) {
  if (!IsPowerOfTwo(n)) {
    throw Error("Transform length " + std::to_string(n) + " is not a power of two");
  }
  if (!std::isfinite(dt) || dt <= 0.0f) {
    throw Error("Transform needs a finite positive sample interval");
  }
  re.CheckRange(1, last_index);
  im.CheckRange(1, last_index);
}

// Values stored as single precision; intermediate arithmetic is carried wider
// and rounded once at the store, as the program has always done.
inline float Store(Extended value) {
  return static_cast<float>(value);
}

void ComplexFFTUnchecked(std::int32_t n, float* re, float* im, bool forward, float scale) {
  // 1-based views so the index arithmetic reads like the algorithm.
  float* const r1 = re - 1;
  float* const i1 = im - 1;

  // Bit-reversal permutation.
  std::int32_t j = 1;
  for (std::int32_t i = 1; i <= n - 1; ++i) {
    if (i < j) {
      std::swap(r1[i], r1[j]);
      std::swap(i1[i], i1[j]);
    }
    std::int32_t k = n / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // Butterflies. Each stage produces its twiddles by a running product of one
  // sine/cosine pair, kept in double; the sequence u_p is therefore fixed and
  // the order in which butterflies sharing a twiddle are visited is free. Up
  // to kBlock twiddles are formed ahead so that the array is walked block by
  // block rather than once per twiddle, which keeps large transforms in cache
  // without changing a single result bit.
  constexpr std::int32_t kBlock = 64;
  double ur_block[kBlock];
  double ui_block[kBlock];
  for (std::int32_t half = 1; half < n; half *= 2) {
    const std::int32_t span = 2 * half;
    const double theta = std::numbers::pi / half;
    const CosSin step = SinCos(theta);
    const double wr = step.cos;
    const double wi = forward ? -step.sin : step.sin;
    double ur = 1.0;
    double ui = 0.0;
    for (std::int32_t p0 = 1; p0 <= half; p0 += kBlock) {
      const std::int32_t count = std::min(kBlock, half - p0 + 1);
      for (std::int32_t b = 0; b < count; ++b) {
        ur_block[b] = ur;
        ui_block[b] = ui;
        const double next_r = static_cast<double>(Extended(ur) * wr - Extended(ui) * wi);
        ui = static_cast<double>(Extended(ur) * wi + Extended(ui) * wr);
        ur = next_r;
      }
      for (std::int32_t base = 0; base < n; base += span) {
        for (std::int32_t b = 0; b < count; ++b) {
          const std::int32_t q = base + p0 + b;
          const std::int32_t r = q + half;
          const Extended ur_e = ur_block[b];
          const Extended ui_e = ui_block[b];
          const Extended tr = Extended(r1[r]) * ur_e - Extended(i1[r]) * ui_e;
          const Extended ti = Extended(i1[r]) * ur_e + Extended(r1[r]) * ui_e;
          const Extended zr = r1[q];
          const Extended zi = i1[q];
          r1[r] = Store(zr - tr);
          i1[r] = Store(zi - ti);
          r1[q] = Store(zr + tr);
          i1[q] = Store(zi + ti);
        }
      }
    }
  }

  const Extended factor = forward ? Extended(scale) / 2 : 1 / (Extended(2) * n * Extended(scale));
  for (std::int32_t i = 1; i <= n; ++i) {
    r1[i] = Store(r1[i] * factor);
    i1[i] = Store(i1[i] * factor);
  }
}

// Advances the unpacking twiddle u by w, rounding to double as stored.
inline void Rotate(double& ur, double& ui, double wr, double wi) {
  const double next_r = static_cast<double>(Extended(wr) * ur - Extended(wi) * ui);
  ui = static_cast<double>(Extended(wi) * ur + Extended(wr) * ui);
  ur = next_r;
}

}  // namespace

SpectrumBuffer::SpectrumBuffer(std::int32_t capacity) {
  if (capacity < 1 || capacity > kLargestCapacity) {
    throw RangeError("spectrum buffer of " + std::to_string(capacity) + " elements");
  }
  values_.assign(static_cast<std::size_t>(capacity), 0.0f);
}

void SpectrumBuffer::Check(std::int64_t index) const {
  if (index < 1 || index > capacity()) throw RangeError();
}

void SpectrumBuffer::CheckRange(std::int64_t first, std::int64_t last) const {
  if (first < 1 || last < first || last > capacity()) throw RangeError();
}

void SpectrumBuffer::Zero() {
  std::fill(values_.begin(), values_.end(), 0.0f);
}

void PackRealSeries(std::span<const float> samples, SpectrumBuffer& re, SpectrumBuffer& im) {
  if (samples.empty()) return;
  const auto pairs = static_cast<std::int64_t>((samples.size() + 1) / 2);
  re.CheckRange(1, pairs);
  im.CheckRange(1, pairs);
  float* const r = re.data1();
  float* const i = im.data1();
  for (std::size_t t = 0; t < samples.size(); t += 2) {
    r[t / 2] = samples[t];
    if (t + 1 < samples.size()) i[t / 2] = samples[t + 1];
  }
}

void ComplexFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, bool forward, float scale) {
  CheckTransform(n, re, im, n, scale);
  ComplexFFTUnchecked(n, re.data1(), im.data1(), forward, scale);
}

void RealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt) {
  CheckTransform(n, re, im, std::int64_t{n} + 1, dt);
  ComplexFFTUnchecked(n, re.data1(), im.data1(), true, dt);

  float* const r1 = re.data1() - 1;
  float* const i1 = im.data1() - 1;
  r1[n + 1] = r1[1];
  i1[n + 1] = i1[1];

  // Split the transform of the packed pairs into the spectrum of the real
  // series. The usual factor 1/2 is already in the forward scale dt/2.
  const CosSin w = SinCos(std::numbers::pi / n);
  double ur = 1.0;
  double ui = 0.0;
  for (std::int32_t i = 1; i <= n / 2 + 1; ++i) {
    const std::int32_t j = n + 2 - i;
    const Extended h1r = Extended(r1[i]) + r1[j];
    const Extended h1i = Extended(i1[i]) + i1[j];
    const Extended h2r = Extended(r1[i]) - r1[j];
    const Extended h2i = Extended(i1[i]) - i1[j];
    const Extended tr = ur * h1i - ui * h2r;
    const Extended ti = ui * h1i + ur * h2r;
    r1[i] = Store(h1r + tr);
    i1[i] = Store(h2i - ti);
    r1[j] = Store(h1r - tr);
    i1[j] = Store(-h2i - ti);
    Rotate(ur, ui, w.cos, w.sin);
  }
}

void InverseRealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt) {
  CheckTransform(n, re, im, std::int64_t{n} + 1, dt);
  float* const r1 = re.data1() - 1;
  float* const i1 = im.data1() - 1;

  const CosSin w = SinCos(-std::numbers::pi / n);
  double ur = 1.0;
  double ui = 0.0;
  for (std::int32_t i = 1; i <= n / 2 + 1; ++i) {
    const std::int32_t j = n + 2 - i;
    const Extended h1r = Extended(r1[i]) + r1[j];
    const Extended h1i = Extended(i1[i]) + i1[j];
    const Extended h2r = Extended(r1[i]) - r1[j];
    const Extended h2i = Extended(i1[i]) - i1[j];
    const Extended tr = ui * h2r - ur * h1i;
    const Extended ti = ur * h2r + ui * h1i;
    r1[i] = Store(h1r + tr);
    i1[i] = Store(ti + h2i);
    r1[j] = Store(h1r - tr);
    i1[j] = Store(ti - h2i);
    Rotate(ur, ui, w.cos, w.sin);
  }

  ComplexFFTUnchecked(n, re.data1(), im.data1(), false, dt);
}

Complex ComplexMultiply(Complex a, Complex b) {
  return {static_cast<double>(Extended(a.re) * b.re - Extended(a.im) * b.im),
          static_cast<double>(Extended(a.re) * b.im + Extended(a.im) * b.re)};
}

Complex ComplexDivide(Complex numerator, Complex denominator) {
  const Extended d =
      Extended(denominator.re) * denominator.re + Extended(denominator.im) * denominator.im;
  if (d == 0) throw Error("Floating point error: complex division by zero");
  return {
      static_cast<double>(
          (Extended(numerator.re) * denominator.re + Extended(numerator.im) * denominator.im) / d),
      static_cast<double>(
          (Extended(numerator.im) * denominator.re - Extended(numerator.re) * denominator.im) / d)};
}

Polar ToPolar(double x, double y) {
  const double magnitude = static_cast<double>(std::sqrt(Extended(x) * x + Extended(y) * y));
  double phase = 0.0;
  if (x != 0.0) {
    phase = std::atan(y / x);
    if (x < 0.0) phase += (y >= 0.0) ? std::numbers::pi : -std::numbers::pi;
  } else if (y > 0.0) {
    phase = std::numbers::pi / 2;
  } else if (y < 0.0) {
    phase = -std::numbers::pi / 2;
  }
  return {magnitude, phase};
}

ComplexRoot ComplexSqrt(double x, double y) {
  const Extended r = std::sqrt(Extended(x) * x + Extended(y) * y);
  Extended root_re = std::sqrt((r + x) / 2);
  Extended root_im = 0;
  if (std::fabs(y) > 0.0001 * std::fabs(x)) {
    root_im = y / (2 * root_re);
  } else if (x > 0.0) {
    // Near the positive real axis r + x does not cancel, but the imaginary
    // part is better taken from the first-order expansion.
    root_im = y / (2 * std::sqrt(Extended(x)));
  } else if (x < 0.0) {
    // Near the negative real axis r + x cancels; use the expansion for the
    // real part and r - x for the imaginary one.
    root_re = std::fabs(y) / (2 * std::sqrt(-Extended(x)));
    root_im = std::sqrt((r - x) / 2);
    if (y < 0.0) root_im = -root_im;
  }
  return {{static_cast<double>(root_re), static_cast<double>(root_im)}, static_cast<double>(r)};
}

CosSin SinCos(double angle) {
  const Extended a = angle;
  return {static_cast<double>(std::cos(a)), static_cast<double>(std::sin(a))};
}

long double Tangent(long double angle) {
  return std::tan(angle);
}

namespace {

Weighting ResponseWith(const WeightingConstants& k, float frequency) {
  const double f = frequency;
  const double f1 = k.f1;
  const double f3 = k.f3;
  const double f4 = k.f4;
  const double f2sq = f * f;
  // (jf)^2 / (f1 + jf)^2: the two low poles shared by A and C.
  Complex h = ComplexDivide({f2sq, 0.0}, {f2sq - f1 * f1, -2.0 * f * f1});
  // f4^2 / (f4 + jf)^2: the two high poles.
  h = ComplexDivide({f4 * f4 * h.re, f4 * f4 * h.im}, {f4 * f4 - f2sq, 2.0 * f * f4});
  Weighting out;
  out.c = {static_cast<float>(k.gainC * h.re), static_cast<float>(k.gainC * h.im)};
  // (jf)^2 / ((jf)^2 + 3 f3 jf + f3^2): A's extra high-pass, poles at 0.382 f3 and 2.618 f3.
  h = ComplexDivide({f2sq * h.re, f2sq * h.im}, {f2sq - f3 * f3, -3.0 * f * f3});
  out.a = {static_cast<float>(k.gainA * h.re), static_cast<float>(k.gainA * h.im)};
  return out;
}

WeightingConstants ComputeWeightingConstants() {
  WeightingConstants k;
  k.f1 = 20.598997f;
  k.f4 = 12194.217f;
  k.f3 = static_cast<float>(std::exp(2.45L * std::log(10.0L)));
  k.gainA = 1.0f;
  k.gainC = 1.0f;
  const Weighting at1k = ResponseWith(k, 1000.0f);
  k.gainA = static_cast<float>(1.0 / std::hypot(double{at1k.a.re}, double{at1k.a.im}));
  k.gainC = static_cast<float>(1.0 / std::hypot(double{at1k.c.re}, double{at1k.c.im}));
  return k;
}

// The constants depend on nothing but themselves, so they are computed once
// for the whole process; the initialisation of a function-local static is
// thread-safe, which lets analyses on several threads weight concurrently.
const WeightingConstants& Constants() {
  static const WeightingConstants constants = ComputeWeightingConstants();
  return constants;
}

}  // namespace

void InitWeightingConstants() {
  (void)Constants();
}

const WeightingConstants& CurrentWeightingConstants() {
  return Constants();
}

Weighting WeightingResponse(float f) {
  return ResponseWith(Constants(), f);
}

}  // namespace korva
