#include "core/model/cochlea.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <numbers>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"

namespace korva {
namespace {

using Cx = std::complex<double>;

Cx Sqrt(Cx z) {
  const ComplexRoot r = ComplexSqrt(z.real(), z.imag());
  return {r.root.re, r.root.im};
}

// e^z formed as magnitude and angle. Double-precision sine and cosine: the
// spectra are kept as singles, so extended precision would buy nothing here,
// and this runs for every bin of every place.
Cx Exp(Cx z) {
  const double magnitude = std::exp(z.real());
  if (magnitude == 0.0) return {0.0, 0.0};
  return {magnitude * std::cos(z.imag()), magnitude * std::sin(z.imag())};
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

// What every place shares at one bin: the damping root s and the base terms.
struct BinBase {
  Cx s;
  Cx delta_over_s;
  Cx inv_sqrt_w0;
  Cx base;  // t0 + j u0
};

[[noreturn]] void Degenerate(double f) {
  throw Error("Floating point error in the cochlear model at " + FormatFixed(f, 1) +
              " Hz: check the cochlear values of the ear-model parameter file");
}

BinBase BaseAt(const EarModelParameters& params, double delta, double f) {
  const auto& P = params.P;
  const double q = double{P[46]} * P[45] / (double{P[54]} * f);
  BinBase b;
  b.s = Sqrt(Cx(1.0, -q));
  b.delta_over_s = delta / b.s;
  const Cx u0 = (f / P[45]) * b.s;
  const Cx t0 = Sqrt(1.0 - u0 * u0);
  if (std::fabs(t0.real()) + std::fabs(t0.imag()) < 1e-300) Degenerate(f);
  b.inv_sqrt_w0 = 1.0 / Sqrt(u0 / t0);
  b.base = t0 + Cx(0.0, 1.0) * u0;
  return b;
}

// ln E at place x for one bin, and the amplitude term Z.
struct PlaceTerms {
  Cx log_e;
  Cx w;  // u / t
};

// a / b without the overflow guards of the library's complex division: the
// operands here are far from the limits of a double.
Cx Div(Cx a, Cx b) {
  const double n = b.real() * b.real() + b.imag() * b.imag();
  return {(a.real() * b.real() + a.imag() * b.imag()) / n,
          (a.imag() * b.real() - a.real() * b.imag()) / n};
}

bool Vanishes(Cx z) {
  return std::fabs(z.real()) + std::fabs(z.imag()) < 1e-300;
}

PlaceTerms TermsAt(const BinBase& b, double f, double cf) {
  const Cx u = (f / cf) * b.s;
  const Cx t = Sqrt(1.0 - u * u);
  if (Vanishes(t)) Degenerate(f);
  PlaceTerms terms;
  terms.w = Div(u, t);
  const Cx r = Div(b.base, t + Cx(-u.imag(), u.real()));
  const Polar polar = ToPolar(r.real(), r.imag());
  terms.log_e = b.delta_over_s * Cx(std::log(1e-20 + polar.magnitude), polar.phase);
  return terms;
}

// The amplitude term Z = (Delta/s) w^(3/2) / sqrt(w0).
Cx AmplitudeAt(const BinBase& b, Cx w) {
  return b.delta_over_s * w * Sqrt(w) * b.inv_sqrt_w0;
}

}  // namespace

std::int32_t FftLengthFor(std::int32_t sample_count) {
  if (sample_count <= 0) return 0;
  const double exponent = std::nearbyint(std::log2(static_cast<double>(sample_count)));
  return static_cast<std::int32_t>(std::nearbyint(std::exp2(exponent)));
}

MovieBuffer::MovieBuffer(std::int32_t rows)
    : rows_(rows), values_(static_cast<std::size_t>(std::max(rows, 0)) * kColumns, 0.0f) {}

float& MovieBuffer::At(std::int32_t row, int column) {
  if (row < 0 || row >= rows_ || column < 1 || column > kColumns) throw RangeError();
  return values_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column - 1)];
}

float MovieBuffer::At(std::int32_t row, int column) const {
  return const_cast<MovieBuffer*>(this)->At(row, column);
}

PlaceScan ScanPlace(std::span<const float> displacement, double scale, float threshold,
                    float exponent) {
  PlaceScan scan;
  HalfCycleHazard hazard(scale, threshold, exponent);
  for (const float d : displacement) {
    scan.maximum = std::max(scan.maximum, d);
    scan.minimum = std::min(scan.minimum, d);
    hazard.Add(d);
  }
  scan.hazard = hazard.Hazard();
  return scan;
}

std::vector<double> PlaceHazardScales(const EarModelParameters& params, int places) {
  const auto& P = params.P;
  const double lambda = -std::log(double{P[61]}) / P[56];
  const double step = places > 1 ? (double{P[58]} - P[57]) / (places - 1) : 0.0;
  const double growth = std::exp(-lambda * step);
  std::vector<double> scales;
  double scale = P[60] * std::exp(-lambda * P[57]);
  for (int c = 1; c <= places; ++c) {
    scales.push_back(scale);
    scale *= growth;
  }
  return scales;
}

std::vector<HalfCycleHazard> PlaceHazards(const EarModelParameters& params, int places) {
  std::vector<HalfCycleHazard> hazards;
  for (const double scale : PlaceHazardScales(params, places)) {
    hazards.emplace_back(scale, params.P[62], params.P[55]);
  }
  return hazards;
}

double PlaceDistance(const EarModelParameters& params, int place) {
  const auto& P = params.P;
  if (params.Places <= 1) return P[57];
  const double step = (double{P[58]} - P[57]) / (params.Places - 1);
  return P[57] + (place - 1) * step;
}

double CharacteristicFrequency(const EarModelParameters& params, double x) {
  return params.P[45] * std::exp(-x / params.P[52]);
}

double MinimumSampleRate(const EarModelParameters& params) {
  const double basal = std::min(PlaceDistance(params, 1), PlaceDistance(params, params.Places));
  return 2.0 * CharacteristicFrequency(params, basal);
}

namespace {

// The place-independent terms of every bin k = 1..half (index 0 unused).
std::vector<BinBase> BinBases(const EarModelParameters& params, double df, std::int32_t half) {
  const double delta = ConstantsAt(params, 0.0).delta;  // the same at every place
  std::vector<BinBase> bases(static_cast<std::size_t>(half) + 1);
  for (std::int32_t k = 1; k <= half; ++k) bases[k] = BaseAt(params, delta, k * df);
  return bases;
}

CochlearReference ReferenceFromBases(const EarModelParameters& params, double df, std::int32_t half,
                                     const std::vector<BinBase>& bases) {
  const double x0 = params.P[56];
  const double cf = CharacteristicFrequency(params, x0);
  CochlearReference r;
  r.ref.assign(static_cast<std::size_t>(half) + 1, Complex{1.0, 0.0});
  r.log_e0.assign(static_cast<std::size_t>(half) + 1, Complex{});
  for (std::int32_t k = 1; k <= half; ++k) {
    const double f = k * df;
    const PlaceTerms terms = TermsAt(bases[k], f, cf);
    r.log_e0[k] = {terms.log_e.real(), terms.log_e.imag()};
    if (params.P[80] == 0.0f) {
      const Cx e0 = Exp(terms.log_e);
      const Cx ref = 1.0 / (1.0 + e0 * e0);
      r.ref[k] = {ref.real(), ref.imag()};
    }
  }
  return r;
}

void TransferFromBases(const EarModelParameters& params, double x, double df, std::int32_t half,
                       const std::vector<BinBase>& bases, const CochlearReference& reference,
                       std::vector<Complex>& transfer) {
  const PlaceConstants pc = ConstantsAt(params, x);
  const double cf = CharacteristicFrequency(params, x);
  const bool reflects = params.P[80] == 0.0f;
  transfer.assign(static_cast<std::size_t>(half) + 1, Complex{});
  for (std::int32_t k = 1; k <= half; ++k) {
    const double f = k * df;
    const PlaceTerms terms = TermsAt(bases[k], f, cf);
    const Cx ref(reference.ref[k].re, reference.ref[k].im);
    // W = Ref E + (Ref - 1)/E. With the reflection (Ref - 1)/E equals
    // -Ref E0^2 / E; formed from the logarithms it stays 0 where E and E0
    // have both decayed below the smallest double, instead of 0/0.
    Cx w = ref * Exp(terms.log_e);
    if (reflects) {
      const Cx log_e0(reference.log_e0[k].re, reference.log_e0[k].im);
      w -= ref * Exp(2.0 * log_e0 - terms.log_e);
    }
    if (w == Cx(0.0, 0.0)) continue;  // the wave has died out before this place
    const Cx zw = AmplitudeAt(bases[k], terms.w) * w;
    const double re = pc.gain * zw.imag();
    const double im = k == half ? 0.0 : -pc.gain * zw.real();
    if (!std::isfinite(re) || !std::isfinite(im)) Degenerate(f);
    transfer[k] = {re, im};
  }
}

}  // namespace

CochlearReference CochlearReferenceTerm(const EarModelConstants& model, double df,
                                        std::int32_t half) {
  return ReferenceFromBases(model.params, df, half, BinBases(model.params, df, half));
}

void CochlearTransfer(const EarModelConstants& model, double x, double df, std::int32_t half,
                      const CochlearReference& reference, std::vector<Complex>& transfer) {
  TransferFromBases(model.params, x, df, half, BinBases(model.params, df, half), reference,
                    transfer);
}

CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie) {
  NoProgress quiet;
  return CochlearModel(model, session, movie, quiet);
}

CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie,
                             ProgressSink& progress, ThreadPool* pool) {
  const auto& params = model.params;
  const auto& P = params.P;
  CochlearResult result;
  const std::int32_t last = session.LastSample;
  const float dt = session.SampleInterval;
  result.Places = params.Places;
  result.FftLength = FftLengthFor(last + 1);
  if (result.FftLength > kMaxFftLength)
    throw RangeError("the waveform is too long for the cochlea");
  result.HalfFftLength = result.FftLength / 2;
  if (result.HalfFftLength < 1) throw Error("The cochlear model needs at least 2 samples");
  const std::int32_t length = result.FftLength;
  const std::int32_t half = result.HalfFftLength;
  session.FftLength = length;
  if (movie != nullptr && movie->rows() < length + 4) throw RangeError("movie buffer too short");

  const std::int32_t used = std::min(last, length - 1);
  const std::span<const float> pressure = std::as_const(session.Pressure).Range(0, last);
  const std::span<float> backup = session.StapesDisplacement.Range(0, std::max(last, length - 1));

  // Progress in steps: the stapes waveform, its spectrum, the terms every
  // place shares, then two per place (its spectrum, its waveform): on long
  // records each step takes a good fraction of a second.
  const long long steps = 4 + 2LL * params.Places;

  // Stapes extremes (and the movie's first two columns) over the analysed
  // length; samples past the record count as the zeros the transform pads.
  float stapes_max = -1.0e6f, stapes_min = 1.0e6f;
  for (std::int32_t i = 0; i < length; ++i) {
    const float stapes = i <= last ? backup[i] : 0.0f;
    stapes_max = std::max(stapes_max, stapes);
    stapes_min = std::min(stapes_min, stapes);
    if (movie != nullptr) {
      float* row = movie->Row(i + 4);
      row[0] = i <= last ? pressure[i] : 0.0f;
      row[1] = stapes;
    }
  }
  result.StapesMax = stapes_max;
  result.StapesMin = stapes_min;
  if (movie != nullptr) {
    movie->At(2, 1) = session.PeakPressure;
    movie->At(3, 1) = session.MinPressure;
    movie->At(2, 2) = stapes_max;
    movie->At(3, 2) = stapes_min;
  }
  progress.Checkpoint(1, steps);

  SpectrumBuffer stapes_re(half + 1), stapes_im(half + 1);
  PackRealSeries(backup.subspan(0, static_cast<std::size_t>(used) + 1), stapes_re, stapes_im);
  RealFFT(half, stapes_re, stapes_im, dt);
  progress.Checkpoint(2, steps);

  const std::vector<double> scales = PlaceHazardScales(params, params.Places);

  const double df = 1.0 / (static_cast<double>(length) * dt);
  const std::vector<BinBase> bases = BinBases(params, df, half);
  progress.Checkpoint(3, steps);
  const CochlearReference reference = ReferenceFromBases(params, df, half, bases);
  progress.Checkpoint(4, steps);
  const float* sr = stapes_re.data1();
  const float* si = stapes_im.data1();

  // The places are independent: each has its own buffers and movie column,
  // and the last one leaves its displacement in StapesDisplacement.
  std::vector<PlaceScan> scans(static_cast<std::size_t>(params.Places) + 1);
  std::mutex progress_mutex;
  long long steps_done = 4;
  const auto step = [&] {
    std::lock_guard<std::mutex> lock(progress_mutex);
    // Places still running when another stopped the run report nothing more.
    if (progress.StopRequested()) throw Cancelled();
    progress.Checkpoint(++steps_done, steps);
  };
  ParallelFor(pool, params.Places, [&](int index) {
    const int c = index + 1;
    std::vector<Complex> transfer;
    TransferFromBases(params, PlaceDistance(params, c), df, half, bases, reference, transfer);
    SpectrumBuffer place_re(half + 1), place_im(half + 1);
    float* pr = place_re.data1();
    float* pi = place_im.data1();
    for (std::int32_t k = 0; k <= half; ++k) {
      // The transfer function is kept in single precision, as the spectra are.
      const double tr = static_cast<float>(transfer[k].re);
      const double ti = static_cast<float>(transfer[k].im);
      pr[k] = static_cast<float>(sr[k] * tr - si[k] * ti);
      pi[k] = static_cast<float>(sr[k] * ti + si[k] * tr);
    }
    step();
    InverseRealFFT(half, place_re, place_im, dt);
    std::vector<float> own;
    std::span<float> displacement = backup.subspan(0, length);
    if (c != params.Places) {
      own.resize(static_cast<std::size_t>(length));
      displacement = own;
    }
    for (std::int32_t m = 0; m < half; ++m) {
      displacement[2 * m] = pr[m];
      displacement[2 * m + 1] = pi[m];
    }
    const PlaceScan scan = ScanPlace(displacement, scales[c - 1], P[62], P[55]);
    if (movie != nullptr) {
      for (std::int32_t i = 0; i < length; ++i) movie->Row(i + 4)[c + 1] = displacement[i];
      movie->At(1, c + 2) = scan.hazard;
      movie->At(2, c + 2) = scan.maximum;
      movie->At(3, c + 2) = scan.minimum;
    }
    scans[static_cast<std::size_t>(c)] = scan;
    step();
  });
  for (int c = 1; c <= params.Places; ++c) {
    const float hazard = scans[static_cast<std::size_t>(c)].hazard;
    result.SectionHazard[c] = hazard;
    if (result.TotalHazardARU < hazard) {
      result.TotalHazardARU = hazard;
      result.WorstSection = c;
    }
  }
  if (!std::isfinite(result.TotalHazardARU)) {
    throw Error("Floating point error in the cochlear model: the hazard is not finite");
  }
  return result;
}

std::string PlaceTableText(const EarModelParameters& params, const CochlearResult& result) {
  std::string text = "BIndex Freq(kHz) Hazard(AHU) Distance(cm)\r\n";
  for (int c = 1; c <= result.Places; ++c) {
    const double x = PlaceDistance(params, c);
    std::string index = FormatInteger(c);
    if (index.size() < 4) index.insert(0, 4 - index.size(), ' ');
    text += index;
    text += "    ";
    text += FormatFixed(0.001 * CharacteristicFrequency(params, x), 5, 2);
    text += "  ";
    text += FormatFixed(result.SectionHazard[c], 11, 5);
    text += "      ";
    text += FormatFixed(x, 5, 3);
    text += "\r\n";
  }
  return text;
}

}  // namespace korva
