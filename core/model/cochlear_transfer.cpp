#include "core/model/cochlear_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <list>
#include <numbers>
#include <string>

#include "core/common/error.h"
#include "core/common/large_array.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/model/cochlea.h"
#include "core/model/ear_equations.h"
#include "core/model/middle_ear.h"

#if defined(__x86_64__) && defined(KORVA_HAVE_MVEC)
#include <immintrin.h>

// The vector variants of the C library's functions (libmvec): 8 doubles
// with AVX-512, 4 with AVX2, accurate to a few units in the last place.
extern "C" {
__m512d _ZGVeN8v_exp(__m512d);
__m512d _ZGVeN8v_log(__m512d);
__m512d _ZGVeN8v_sin(__m512d);
__m512d _ZGVeN8v_cos(__m512d);
__m512d _ZGVeN8vv_atan2(__m512d, __m512d);
__m256d _ZGVdN4v_exp(__m256d);
__m256d _ZGVdN4v_log(__m256d);
__m256d _ZGVdN4v_sin(__m256d);
__m256d _ZGVdN4v_cos(__m256d);
__m256d _ZGVdN4vv_atan2(__m256d, __m256d);
}
#endif

namespace korva {
namespace {

// W doubles in one vector; W = 1 is the scalar form of the same code.
template <int W>
using Vec = typename VectorOf<W>::type;

template <int W>
struct Math {
  using V = Vec<W>;
  static V Sqrt(V x) { return V{std::sqrt(x[0])}; }
  static V Exp(V x) { return V{std::exp(x[0])}; }
  static V Log(V x) { return V{std::log(x[0])}; }
  static V Sin(V x) { return V{std::sin(x[0])}; }
  static V Cos(V x) { return V{std::cos(x[0])}; }
  static V Atan2(V y, V x) { return V{std::atan2(y[0], x[0])}; }
};

#if defined(__x86_64__) && defined(KORVA_HAVE_MVEC)
#define KORVA_LANES(isa) [[gnu::target(isa)]] static
template <>
struct Math<8> {
  using V = Vec<8>;
  KORVA_LANES("avx512f") V Sqrt(V x) { return _mm512_mask_sqrt_pd(x, 0xFF, x); }
  KORVA_LANES("avx512f") V Exp(V x) { return _ZGVeN8v_exp(x); }
  KORVA_LANES("avx512f") V Log(V x) { return _ZGVeN8v_log(x); }
  KORVA_LANES("avx512f") V Sin(V x) { return _ZGVeN8v_sin(x); }
  KORVA_LANES("avx512f") V Cos(V x) { return _ZGVeN8v_cos(x); }
  KORVA_LANES("avx512f") V Atan2(V y, V x) { return _ZGVeN8vv_atan2(y, x); }
};
template <>
struct Math<4> {
  using V = Vec<4>;
  KORVA_LANES("avx2") V Sqrt(V x) { return _mm256_sqrt_pd(x); }
  KORVA_LANES("avx2") V Exp(V x) { return _ZGVdN4v_exp(x); }
  KORVA_LANES("avx2") V Log(V x) { return _ZGVdN4v_log(x); }
  KORVA_LANES("avx2") V Sin(V x) { return _ZGVdN4v_sin(x); }
  KORVA_LANES("avx2") V Cos(V x) { return _ZGVdN4v_cos(x); }
  KORVA_LANES("avx2") V Atan2(V y, V x) { return _ZGVdN4vv_atan2(y, x); }
};
#undef KORVA_LANES
#endif

// Complex numbers of W lanes.
template <int W>
struct Cx {
  Vec<W> re, im;
};

template <int W>
[[gnu::always_inline]] inline Cx<W> operator*(Cx<W> a, Cx<W> b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// One division per quotient: the transfer functions are kept in single
// precision, far coarser than the rounding of the reciprocal.
template <int W>
[[gnu::always_inline]] inline Cx<W> operator/(Cx<W> a, Cx<W> b) {
  const Vec<W> r = 1.0 / (b.re * b.re + b.im * b.im);
  return {(a.re * b.re + a.im * b.im) * r, (a.im * b.re - a.re * b.im) * r};
}

template <int W>
[[gnu::always_inline]] inline Vec<W> Abs(Vec<W> x) {
  return x < 0.0 ? -x : x;
}

// The principal root (real part >= 0, imaginary part with the sign of the
// argument's, positive for a zero one), without the cancellation of
// (|z| + Re z) / 2 when Re z < 0.
template <int W>
[[gnu::always_inline]] inline Cx<W> Sqrt(Cx<W> z) {
  using M = Math<W>;
  const Vec<W> t = M::Sqrt((M::Sqrt(z.re * z.re + z.im * z.im) + Abs<W>(z.re)) * 0.5);
  const Vec<W> two_t = t + t;
  const Vec<W> zero{};
  const Vec<W> side = two_t == 0.0 ? zero : z.im / two_t;  // 0 at z = 0
  const Vec<W> signed_t = z.im < 0.0 ? -t : t;
  return {z.re >= 0.0 ? t : Abs<W>(side), z.re >= 0.0 ? side : signed_t};
}

template <int W>
[[gnu::always_inline]] inline bool Any(decltype(Vec<W>{} < Vec<W>{}) mask) {
  for (int i = 0; i < W; ++i) {
    if (mask[i] != 0) return true;
  }
  return false;
}

[[noreturn]] void Degenerate(double f) {
  throw Error("Floating point error in the cochlear model at " + FormatFixed(f, 1) +
              " Hz: check the cochlear values of the ear-model parameter file");
}

template <int W>
[[noreturn]] void DegenerateAt(decltype(Vec<W>{} < Vec<W>{}) mask, Vec<W> f) {
  for (int i = 0; i < W; ++i) {
    if (mask[i] != 0) Degenerate(f[i]);
  }
  Degenerate(f[0]);
}

// Place constants: the gain G and the phase constant Delta.
struct PlaceConstants {
  double gain;
  double delta;
};

PlaceConstants ConstantsAt(const EarModelParameters& params, double x) {
  const auto& P = params.P;
  if (P[70] == 1.0f) {
    return {std::exp(-double{P[69]} * x) * P[68] * P[35] / (double{P[43]} * P[52]), 4.0 * P[53]};
  }
  // The partition mass follows from the base stiffness and the base frequency.
  const double two_pi_f = 2.0 * std::numbers::pi * P[45];
  const double p41 = P[40] / (two_pi_f * two_pi_f);
  return {
      std::exp(-3.0 * x / (4.0 * P[48])) * P[68] * P[35] * std::sqrt(1.0 / (p41 * P[43] * P[44])),
      2.0 * P[47] * P[48] / (double{P[47]} + P[48]) * std::sqrt(P[43] / (p41 * P[44]))};
}

// The bins are computed in chunks of this many, every place at once: what
// the places share at a bin then stays in the cache, and a chunk is a good
// grain for the pool.
constexpr std::size_t kChunk = 256;

// What every place shares at the bins of one chunk (index i for bin
// first + i, padded past the Nyquist bin with copies of it): the damping
// root s, Delta / s, 1 / sqrt(w0) and t0 + j u0 of the base, and the
// reflection (Ref, and 2 ln E0 as magnitude and the rotation by its angle).
struct Bins {
  double f[kChunk], s_re[kChunk], s_im[kChunk], dos_re[kChunk], dos_im[kChunk];
  double isw0_re[kChunk], isw0_im[kChunk], base_re[kChunk], base_im[kChunk];
  double ref_re[kChunk], ref_im[kChunk], e0_log2[kChunk], e0_cos2[kChunk], e0_sin2[kChunk];
};

template <int W>
[[gnu::always_inline]] inline Vec<W> Load(const double* v, std::size_t i) {
  Vec<W> x;
  std::memcpy(&x, v + i, sizeof x);
  return x;
}

template <int W>
[[gnu::always_inline]] inline void Store(double* v, std::size_t i, Vec<W> x) {
  std::memcpy(v + i, &x, sizeof x);
}

// ln E at the place of characteristic frequency `cf` for the bins of one
// vector, and the amplitude term's u / t.
template <int W>
struct Terms {
  Cx<W> log_e, w;
};

template <int W>
[[gnu::always_inline]] inline Terms<W> TermsAt(const Bins& b, std::size_t i, Vec<W> f, double cf) {
  using M = Math<W>;
  const Cx<W> s{Load<W>(b.s_re, i), Load<W>(b.s_im, i)};
  const Vec<W> ratio = f / cf;
  const Cx<W> u{ratio * s.re, ratio * s.im};
  const Cx<W> t = Sqrt<W>({1.0 - (u.re * u.re - u.im * u.im), -(2.0 * u.re * u.im)});
  const auto vanishes = Abs<W>(t.re) + Abs<W>(t.im) < 1e-300;
  if (Any<W>(vanishes)) DegenerateAt<W>(vanishes, f);
  const Cx<W> base{Load<W>(b.base_re, i), Load<W>(b.base_im, i)};
  const Cx<W> r = base / Cx<W>{t.re - u.im, t.im + u.re};
  // ln R, its angle in (-pi, pi] (a zero imaginary part taken as +0).
  const Cx<W> log_r{M::Log(1e-20 + M::Sqrt(r.re * r.re + r.im * r.im)), M::Atan2(r.im + 0.0, r.re)};
  const Cx<W> dos{Load<W>(b.dos_re, i), Load<W>(b.dos_im, i)};
  return {dos * log_r, u / t};
}

// A place: its distance from the stapes, gain and characteristic frequency.
struct PlaceAt {
  double gain, cf;
};

// One chunk of bins, first .. first + count - 1 (count a multiple of W at
// most kChunk; bins past `half` repeat it), of every place: transfer
// function of place c, bin k at out[(c - 1) stride + k].
template <int W>
void ComputeChunk(const EarModelParameters& params, const std::vector<PlaceAt>& places, double df,
                  std::int32_t half, std::size_t first, std::size_t count, std::complex<float>* out,
                  std::size_t stride) {
  using M = Math<W>;
  const auto& P = params.P;
  const double delta = ConstantsAt(params, 0.0).delta;  // the same at every place
  const double cf0 = CharacteristicFrequency(params, P[56]);
  const bool reflects = P[80] == 0.0f;
  const double q_scale = double{P[46]} * P[45];
  const Vec<W> one = Vec<W>{} + 1.0;
  Bins b;
  for (std::size_t i = 0; i < count; ++i) {
    b.f[i] = static_cast<double>(std::min(first + i, static_cast<std::size_t>(half))) * df;
  }
  for (std::size_t i = 0; i < count; i += W) {
    const Vec<W> f = Load<W>(b.f, i);
    const Vec<W> q = q_scale / (double{P[54]} * f);
    const Cx<W> s = Sqrt<W>({one, -q});
    const Cx<W> dos = Cx<W>{one * delta, Vec<W>{}} / s;
    const Vec<W> ratio = f / double{P[45]};
    const Cx<W> u0{ratio * s.re, ratio * s.im};
    const Cx<W> t0 = Sqrt<W>({1.0 - (u0.re * u0.re - u0.im * u0.im), -(2.0 * u0.re * u0.im)});
    const auto vanishes = Abs<W>(t0.re) + Abs<W>(t0.im) < 1e-300;
    if (Any<W>(vanishes)) DegenerateAt<W>(vanishes, f);
    const Cx<W> isw0 = Cx<W>{one, Vec<W>{}} / Sqrt<W>(u0 / t0);
    Store<W>(b.s_re, i, s.re);
    Store<W>(b.s_im, i, s.im);
    Store<W>(b.dos_re, i, dos.re);
    Store<W>(b.dos_im, i, dos.im);
    Store<W>(b.isw0_re, i, isw0.re);
    Store<W>(b.isw0_im, i, isw0.im);
    Store<W>(b.base_re, i, t0.re - u0.im);
    Store<W>(b.base_im, i, t0.im + u0.re);
    Cx<W> ref{one, Vec<W>{}};
    if (reflects) {
      const Terms<W> terms = TermsAt<W>(b, i, f, cf0);
      const Vec<W> m = M::Exp(terms.log_e.re);
      const Cx<W> e0{m * M::Cos(terms.log_e.im), m * M::Sin(terms.log_e.im)};
      ref =
          Cx<W>{one, Vec<W>{}} / Cx<W>{one + (e0.re * e0.re - e0.im * e0.im), 2.0 * e0.re * e0.im};
      const Vec<W> angle2 = 2.0 * terms.log_e.im;
      Store<W>(b.e0_log2, i, 2.0 * terms.log_e.re);
      Store<W>(b.e0_cos2, i, M::Cos(angle2));
      Store<W>(b.e0_sin2, i, M::Sin(angle2));
    }
    Store<W>(b.ref_re, i, ref.re);
    Store<W>(b.ref_im, i, ref.im);
  }

  const std::size_t kept = std::min(count, static_cast<std::size_t>(half) + 1 - first);
  for (std::size_t c = 0; c < places.size(); ++c) {
    const double gain = places[c].gain;
    std::complex<float>* const to = out + c * stride + first;
    for (std::size_t i = 0; i < count; i += W) {
      const Vec<W> f = Load<W>(b.f, i);
      const Terms<W> terms = TermsAt<W>(b, i, f, places[c].cf);
      // W = Ref E + (Ref - 1)/E. With the reflection (Ref - 1)/E equals
      // -Ref E0^2 / E; formed from the logarithms it stays 0 where E and E0
      // have both decayed below the smallest double, instead of 0/0.
      const Vec<W> m = M::Exp(terms.log_e.re);
      const Vec<W> cos_e = M::Cos(terms.log_e.im);
      const Vec<W> sin_e = M::Sin(terms.log_e.im);
      const Cx<W> ref{Load<W>(b.ref_re, i), Load<W>(b.ref_im, i)};
      Cx<W> wave = ref * Cx<W>{m * cos_e, m * sin_e};
      if (reflects) {
        // E0^2 / E: magnitude e^(2 Re ln E0 - Re ln E), angle 2 arg E0 - arg E.
        const Vec<W> m2 = M::Exp(Load<W>(b.e0_log2, i) - terms.log_e.re);
        const Vec<W> c2 = Load<W>(b.e0_cos2, i), s2 = Load<W>(b.e0_sin2, i);
        const Cx<W> back =
            ref * Cx<W>{m2 * (c2 * cos_e + s2 * sin_e), m2 * (s2 * cos_e - c2 * sin_e)};
        wave = {wave.re - back.re, wave.im - back.im};
      }
      // The amplitude term Z = (Delta/s) w^(3/2) / sqrt(w0); T = -j G Z W.
      const Cx<W> dos{Load<W>(b.dos_re, i), Load<W>(b.dos_im, i)};
      const Cx<W> isw0{Load<W>(b.isw0_re, i), Load<W>(b.isw0_im, i)};
      const Cx<W> zw = dos * terms.w * Sqrt<W>(terms.w) * isw0 * wave;
      const auto died = wave.re == 0.0 && wave.im == 0.0;  // before this place
      const Vec<W> zero{};
      const Vec<W> re = died ? zero : gain * zw.im;
      const Vec<W> im = died ? zero : -gain * zw.re;
      const auto bad = (re - re != 0.0) || (im - im != 0.0);  // inf or NaN
      if (Any<W>(bad)) DegenerateAt<W>(bad, f);
      for (int j = 0; j < W && i + static_cast<std::size_t>(j) < kept; ++j) {
        to[i + static_cast<std::size_t>(j)] = {static_cast<float>(re[j]),
                                               static_cast<float>(im[j])};
      }
    }
  }
}

using ChunkFn = void (*)(const EarModelParameters&, const std::vector<PlaceAt>&, double,
                         std::int32_t, std::size_t, std::size_t, std::complex<float>*, std::size_t);

#if defined(__x86_64__) && defined(KORVA_HAVE_MVEC)
[[gnu::target("avx512f"), gnu::flatten]] void Chunk8(const EarModelParameters& params,
                                                     const std::vector<PlaceAt>& places, double df,
                                                     std::int32_t half, std::size_t first,
                                                     std::size_t count, std::complex<float>* out,
                                                     std::size_t stride) {
  ComputeChunk<8>(params, places, df, half, first, count, out, stride);
}
[[gnu::target("avx2"), gnu::flatten]] void Chunk4(const EarModelParameters& params,
                                                  const std::vector<PlaceAt>& places, double df,
                                                  std::int32_t half, std::size_t first,
                                                  std::size_t count, std::complex<float>* out,
                                                  std::size_t stride) {
  ComputeChunk<4>(params, places, df, half, first, count, out, stride);
}
#endif

// The widest of `wanted` (0: any) and what the processor runs.
ChunkFn ChunkFor(int wanted) {
  const int width = wanted > 0 ? std::min(wanted, WidestVectorWidth()) : WidestVectorWidth();
#if defined(__x86_64__) && defined(KORVA_HAVE_MVEC)
  if (width >= 8) return &Chunk8;
  if (width >= 4) return &Chunk4;
#endif
  (void)width;
  return &ComputeChunk<1>;
}

}  // namespace

CochlearTransfers::CochlearTransfers(const EarModelParameters& params, std::int32_t length,
                                     float dt, int vector_width)
    : params_(params),
      half_(length / 2),
      df_(1.0 / (static_cast<double>(length) * dt)),
      vector_width_(vector_width) {
  if (length < 2 || !(dt > 0.0f) || !std::isfinite(dt)) {
    throw Error("The cochlear model needs at least 2 samples and a positive sample interval");
  }
}

void CochlearTransfers::Compute(ThreadPool* pool) const {
  if (computed_.load(std::memory_order_acquire)) return;
  const std::lock_guard<std::mutex> lock(compute_mutex_);
  if (computed_.load(std::memory_order_relaxed)) return;
  {
    const auto stride = static_cast<std::size_t>(half_) + 1;
    const auto places = static_cast<std::size_t>(std::max(params_.Places, 0));
    // Every value is written below; fresh pages cost enough not to clear them first.
    LargeArray<std::complex<float>> values = MakeLargeArray<std::complex<float>>(places * stride);
    std::vector<PlaceAt> at;
    for (int c = 1; c <= params_.Places; ++c) {
      const double x = PlaceDistance(params_, c);
      at.push_back({ConstantsAt(params_, x).gain, CharacteristicFrequency(params_, x)});
      values[(static_cast<std::size_t>(c) - 1) * stride] = 0.0f;  // DC
    }
    const ChunkFn chunk = ChunkFor(vector_width_);
    const std::size_t chunks = (static_cast<std::size_t>(half_) + kChunk - 1) / kChunk;
    // A failure is reported for the lowest frequency, whichever thread met it.
    std::vector<std::exception_ptr> errors(chunks);
    ParallelFor(pool, static_cast<int>(chunks), [&](int index) {
      try {
        chunk(params_, at, df_, half_, 1 + kChunk * static_cast<std::size_t>(index), kChunk,
              values.get(), stride);
      } catch (const Error&) {
        errors[static_cast<std::size_t>(index)] = std::current_exception();
      }
    });
    for (const std::exception_ptr& error : errors) {
      if (error) std::rethrow_exception(error);
    }
    for (std::size_t c = 0; c < places; ++c) values[c * stride + stride - 1].imag(0.0f);
    values_ = std::move(values);
    computed_.store(true, std::memory_order_release);
  }
}

std::span<const std::complex<float>> CochlearTransfers::Place(int c) const {
  if (c < 1 || c > params_.Places) throw RangeError();
  Compute(nullptr);
  const auto stride = static_cast<std::size_t>(half_) + 1;
  return {values_.get() + (static_cast<std::size_t>(c) - 1) * stride, stride};
}

std::size_t CochlearTransfers::Bytes() const {
  return static_cast<std::size_t>(params_.Places) * (static_cast<std::size_t>(half_) + 1) *
         sizeof(std::complex<float>);
}

namespace {

struct CacheKey {
  std::array<float, kEarModelLines + 1> P;
  std::int32_t places;
  std::int32_t length;
  float dt;

  // Bit for bit: a parameter file read again gives the same key.
  bool operator==(const CacheKey& o) const {
    return std::memcmp(P.data(), o.P.data(), sizeof P) == 0 && places == o.places &&
           length == o.length && std::memcmp(&dt, &o.dt, sizeof dt) == 0;
  }
};

}  // namespace

namespace {

struct CacheEntry {
  CacheKey key;
  std::shared_ptr<const CochlearTransfers> transfers;
};

struct TransferCache {
  std::mutex mutex;
  std::list<CacheEntry> entries;  // most recently used first
};

TransferCache& Cache() {
  static TransferCache cache;
  return cache;
}

}  // namespace

std::shared_ptr<const CochlearTransfers> CochlearTransfersFor(const EarModelParameters& params,
                                                              std::int32_t length, float dt) {
  TransferCache& cache = Cache();
  const CacheKey key{params.P, params.Places, length, dt};
  std::lock_guard<std::mutex> lock(cache.mutex);
  auto& entries = cache.entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (it->key == key) {
      entries.splice(entries.begin(), entries, it);
      return entries.front().transfers;
    }
  }
  // Made here, computed by whoever asks for a place first.
  entries.push_front({key, std::make_shared<const CochlearTransfers>(params, length, dt)});
  std::size_t bytes = 0, count = 0;
  for (auto it = entries.begin(); it != entries.end();) {
    bytes += it->transfers->Bytes();
    ++count;
    if (count > 1 && (count > kTransferCacheEntries || bytes > kTransferCacheBytes)) {
      it = entries.erase(it);  // holders keep theirs until they are done
    } else {
      ++it;
    }
  }
  return entries.front().transfers;
}

void ForgetCochlearTransfers() {
  TransferCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.entries.clear();
}

}  // namespace korva
