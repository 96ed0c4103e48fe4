// The numeric kernels every spectral computation shares: planned real
// transforms, the program's one-based real forward and inverse transforms
// built on them, complex helpers and the A and C frequency weightings.
//
// Conventions, fixed once for the whole program:
// - Buffers are indexed from 1. A real series x[0..N-1], N = 2n, is packed as
//   re[i] = x[2i-2], im[i] = x[2i-1], i = 1..n; transforms take n (pairs).
// - After RealFFT bin k (k = 0..n, frequency k / (N dt)) is re[k+1] + j im[k+1]
//   and equals dt * sum_t x[t] exp(-2 pi j k t / N): an estimate of the
//   continuous Fourier transform (Pa s for x in Pa). Index 1 is DC, n+1 Nyquist.
// - InverseRealFFT undoes RealFFT with the same n and dt.
// - The transforms compute in double precision and round once when they
//   store into the single-precision buffers.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace korva {

// Single-precision values indexed 1..capacity, every access checked
// (RangeError). The program's transforms need at most 2^19 + 1 bins, except
// the interval metrics; the capacity can be sized to the run (1 to
// kLargestCapacity, else RangeError).
class SpectrumBuffer {
 public:
  static constexpr std::int32_t kSpectrumCapacity = 525289;  // 2^19 + 1001
  // Buffers sized to a run may be larger, so that the interval metrics of a
  // waveform of up to 2^20 samples (transform of 2^21) fit: 2^21 + 1.
  static constexpr std::int32_t kLargestCapacity = (1 << 21) + 1;

  explicit SpectrumBuffer(std::int32_t capacity = kSpectrumCapacity);

  std::int32_t capacity() const { return static_cast<std::int32_t>(values_.size()); }

  float& operator[](std::int64_t index) {
    Check(index);
    return values_[static_cast<std::size_t>(index - 1)];
  }
  float operator[](std::int64_t index) const {
    Check(index);
    return values_[static_cast<std::size_t>(index - 1)];
  }
  // Unchecked element 1 for loops that checked their range once.
  float* data1() { return values_.data(); }
  const float* data1() const { return values_.data(); }
  // Throws RangeError unless 1 <= first <= last <= capacity.
  void CheckRange(std::int64_t first, std::int64_t last) const;
  void Zero();

 private:
  void Check(std::int64_t index) const;
  std::vector<float> values_;
};

struct Complex {
  double re = 0.0;
  double im = 0.0;
};

struct ComplexF {
  float re = 0.0f;
  float im = 0.0f;
};

// Packs a real series as the transforms take it: x[2i-2] into re[i] and
// x[2i-1] into im[i]. Elements past the series are left as they are.
// RangeError when the buffers are too small.
void PackRealSeries(std::span<const float> samples, SpectrumBuffer& re, SpectrumBuffer& im);

// The real transforms of one length N (a power of two, 2 .. 2^22), planned
// once per length for the whole process (FFTW, double precision) and safe
// to run from any number of threads at once:
//   Forward: X[k] = sum_t x[t] exp(-2 pi j k t / N), k = 0..N/2
//   Inverse: x[t] = sum over the Hermitian spectrum of X[k] exp(+2 pi j k t / N)
// Both unscaled (Inverse(Forward(x)) = N x); the imaginary parts of the DC
// and Nyquist bins take no part in Inverse, which overwrites its spectrum.
// The arrays must come from TransformArray, which gives them the alignment
// the plans were made for.
template <typename T>
class TransformArray {
 public:
  explicit TransformArray(std::size_t count);
  T* data() { return values_.get(); }
  const T* data() const { return values_.get(); }
  std::span<T> span() { return {values_.get(), count_}; }
  std::span<const T> span() const { return {values_.get(), count_}; }
  std::size_t size() const { return count_; }
  T& operator[](std::size_t i) { return values_[i]; }
  T operator[](std::size_t i) const { return values_[i]; }

 private:
  struct Free {
    void operator()(T* p) const;
  };
  std::unique_ptr<T[], Free> values_;
  std::size_t count_;
};
using RealSeries = TransformArray<double>;
using HalfSpectrum = TransformArray<std::complex<double>>;

class RealTransform {
 public:
  // The transform of `length` samples; Error for a length that is not a
  // power of two from 2 to 2^22.
  static const RealTransform& Of(std::int32_t length);

  std::int32_t length() const { return length_; }
  // x: length values; X: length / 2 + 1 bins.
  void Forward(RealSeries& x, HalfSpectrum& X) const;
  void Inverse(HalfSpectrum& X, RealSeries& x) const;

  RealTransform(const RealTransform&) = delete;
  RealTransform& operator=(const RealTransform&) = delete;

 private:
  RealTransform(std::int32_t length, void* forward, void* inverse)
      : length_(length), forward_(forward), inverse_(inverse) {}
  std::int32_t length_;
  void* forward_;  // the FFTW plans
  void* inverse_;
};

// The one-based transforms on a pair of buffers. They throw Error for an n
// that is not a power of two or a dt that is not finite and positive, and
// RangeError when the buffers hold fewer than n + 1 elements; the buffers
// are untouched then.
void RealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt);
void InverseRealFFT(std::int32_t n, SpectrumBuffer& re, SpectrumBuffer& im, float dt);

Complex ComplexMultiply(Complex a, Complex b);
// Throws Error ("Floating point error: ...") for a zero denominator.
Complex ComplexDivide(Complex numerator, Complex denominator);

struct Polar {
  double magnitude;
  double phase;  // radians, in (-pi, pi]
};
Polar ToPolar(double x, double y);

struct ComplexRoot {
  Complex root;  // principal root, real part >= 0
  double modulus;
};
ComplexRoot ComplexSqrt(double x, double y);

struct CosSin {
  double cos;
  double sin;
};
CosSin SinCos(double angle);
long double Tangent(long double angle);

// The weighting filter constants. They are computed once per process on first
// use (thread-safe, so analyses on several threads may weight at once);
// InitWeightingConstants only makes sure that has happened, and
// WeightingResponse is always normalised to unit magnitude at 1000 Hz.
struct WeightingConstants {
  float f1 = 20.598997f;
  float f3 = 0.0f;
  float f4 = 12194.217f;
  float gainA = 1.0f;
  float gainC = 1.0f;
};
void InitWeightingConstants();
const WeightingConstants& CurrentWeightingConstants();

struct Weighting {
  ComplexF a;
  ComplexF c;
};
Weighting WeightingResponse(float f);

}  // namespace korva
