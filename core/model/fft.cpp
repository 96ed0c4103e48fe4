#include "core/model/fft.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <mutex>
#include <new>
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

constexpr std::int32_t kLongestTransform = 1 << 22;

}  // namespace

template <typename T>
TransformArray<T>::TransformArray(std::size_t count)
    : values_(static_cast<T*>(fftw_malloc(sizeof(T) * std::max<std::size_t>(count, 1)))),
      count_(count) {
  if (!values_) throw std::bad_alloc();
}

template <typename T>
void TransformArray<T>::Free::operator()(T* p) const {
  fftw_free(p);
}

template class TransformArray<double>;
template class TransformArray<std::complex<double>>;

const RealTransform& RealTransform::Of(std::int32_t length) {
  if (!IsPowerOfTwo(length) || length < 2 || length > kLongestTransform) {
    throw Error("Transform length " + std::to_string(length) + " is not a power of two from 2 to " +
                std::to_string(kLongestTransform));
  }
  // One plan pair per length for the whole process. FFTW's planner is not
  // reentrant, so plans are made under this lock; running them is
  // thread-safe. Estimated rather than measured plans: the same length then
  // always gets the same plan, and the same input the same bits.
  // The plans live as long as the process: a thread may still run one while
  // the program exits.
  static std::mutex mutex;
  static auto& plans = *new std::array<std::unique_ptr<RealTransform>, 23>;  // by log2 length
  const auto slot = static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(length)));
  std::lock_guard<std::mutex> lock(mutex);
  if (!plans[slot]) {
    RealSeries x(static_cast<std::size_t>(length));
    HalfSpectrum X(static_cast<std::size_t>(length / 2 + 1));
    auto* bins = reinterpret_cast<fftw_complex*>(X.data());
    fftw_plan forward = fftw_plan_dft_r2c_1d(length, x.data(), bins, FFTW_ESTIMATE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(length, bins, x.data(), FFTW_ESTIMATE);
    if (forward == nullptr || inverse == nullptr) {
      throw Error("No transform of length " + std::to_string(length) + " could be planned");
    }
    plans[slot].reset(new RealTransform(length, forward, inverse));
  }
  return *plans[slot];
}

void RealTransform::Forward(RealSeries& x, HalfSpectrum& X) const {
  if (x.size() < static_cast<std::size_t>(length_) ||
      X.size() < static_cast<std::size_t>(length_ / 2 + 1)) {
    throw RangeError("transform arrays shorter than the transform");
  }
  fftw_execute_dft_r2c(static_cast<fftw_plan>(forward_), x.data(),
                       reinterpret_cast<fftw_complex*>(X.data()));
}

void RealTransform::Inverse(HalfSpectrum& X, RealSeries& x) const {
  if (x.size() < static_cast<std::size_t>(length_) ||
      X.size() < static_cast<std::size_t>(length_ / 2 + 1)) {
    throw RangeError("transform arrays shorter than the transform");
  }
  fftw_execute_dft_c2r(static_cast<fftw_plan>(inverse_), reinterpret_cast<fftw_complex*>(X.data()),
                       x.data());
}

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

void RealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt) {
  CheckTransform(n, re, im, std::int64_t{n} + 1, dt);
  const RealTransform& transform = RealTransform::Of(2 * n);
  RealSeries x(2 * static_cast<std::size_t>(n));
  HalfSpectrum X(static_cast<std::size_t>(n) + 1);
  const float* r = re.data1();
  const float* i = im.data1();
  for (std::int32_t m = 0; m < n; ++m) {
    x[2 * static_cast<std::size_t>(m)] = r[m];
    x[2 * static_cast<std::size_t>(m) + 1] = i[m];
  }
  transform.Forward(x, X);
  // The factor dt makes the sum an estimate of the continuous transform.
  for (std::int32_t k = 0; k <= n; ++k) {
    re.data1()[k] = static_cast<float>(X[static_cast<std::size_t>(k)].real() * dt);
    im.data1()[k] = static_cast<float>(X[static_cast<std::size_t>(k)].imag() * dt);
  }
}

void InverseRealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt) {
  CheckTransform(n, re, im, std::int64_t{n} + 1, dt);
  const RealTransform& transform = RealTransform::Of(2 * n);
  RealSeries x(2 * static_cast<std::size_t>(n));
  HalfSpectrum X(static_cast<std::size_t>(n) + 1);
  for (std::int32_t k = 0; k <= n; ++k) {
    X[static_cast<std::size_t>(k)] = {re.data1()[k], im.data1()[k]};
  }
  transform.Inverse(X, x);
  const double scale = 1.0 / (2.0 * n * dt);
  for (std::int32_t m = 0; m < n; ++m) {
    re.data1()[m] = static_cast<float>(x[2 * static_cast<std::size_t>(m)] * scale);
    im.data1()[m] = static_cast<float>(x[2 * static_cast<std::size_t>(m) + 1] * scale);
  }
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
