#include "core/metrics/leq300.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/fft.h"
#include "core/plot/frame.h"

namespace korva {

namespace {

using Extended = long double;

std::int32_t NextPowerOfTwo(std::int32_t count) {
  std::int32_t n = 1;
  while (n < count) n *= 2;
  return n;
}

// Energies are stored in single precision; one beyond its range (pressures
// no recording has) stops the command instead of becoming infinite.
float StoreEnergy(Extended value) {
  if (!(value <= std::numeric_limits<float>::max())) {
    throw Error("Floating point error in Leq300ms spectrum: the energies overflow");
  }
  return static_cast<float>(value);
}

double BandEdge(int band, double half_band) {
  return std::pow(10.0, (band + half_band) / 10.0);
}

}  // namespace

double BinEnergies::LargestLevel() const {
  return 10.0 * std::log10(double{largest});
}

BinEnergies Leq300msBinEnergies(std::span<const float> samples, float dt) {
  if (samples.size() < 2) throw Error("The spectrum needs at least 2 samples");
  if (samples.size() > std::size_t{kMaxSpectrumSamples}) {
    throw Error("The Leq300ms spectrum needs a waveform of fewer than 1,048,576 samples");
  }
  if (!std::isfinite(dt) || dt <= 0.0f) throw Error("The sample interval must be positive");

  BinEnergies out;
  out.sample_count = static_cast<std::int32_t>(samples.size());
  out.transform_length = NextPowerOfTwo(out.sample_count);
  out.half = out.transform_length / 2;
  const std::int32_t h = out.half;
  out.df = 1.0 / (static_cast<double>(out.transform_length) * dt);
  out.nyquist = 0.5 / double{dt};

  SpectrumBuffer re(h + 1);
  SpectrumBuffer im(h + 1);
  PackRealSeries(samples, re, im);
  RealFFT(h, re, im, dt);
  const float* const r1 = re.data1() - 1;
  const float* const i1 = im.data1() - 1;

  out.P.resize(static_cast<std::size_t>(h) + 1);
  const Extended scale = 2 * Extended(out.df) / kSpectrumRhoC / kLeq300ReferenceEnergy;
  for (std::int32_t j = 0; j <= h; ++j) {
    const Extended x = r1[j + 1];
    const Extended y = i1[j + 1];
    const float p = StoreEnergy(scale * (x * x + y * y));
    out.P[static_cast<std::size_t>(j)] = p;
    if (p > out.largest) {
      out.largest = p;
      out.largest_bin = j;
    }
  }
  out.P[0] /= 2;
  out.P[static_cast<std::size_t>(h)] /= 2;
  return out;
}

float BandEnergies::Energy(int band) const {
  if (band < first || band > last) throw RangeError();
  return energy[static_cast<std::size_t>(band - first)];
}

double BandEnergies::Level(int band) const {
  return 10.0 * std::log10(double{Energy(band)});
}

double BandEnergies::CentreFrequency(int band) {
  return std::pow(10.0, band / 10.0);
}

BandRange ThirdOctaveBandRange(double df, double nyquist, std::int32_t half) {
  BandRange range;
  if (!(df > 0.0) || !(nyquist > 0.0) || !std::isfinite(nyquist) || half < 1) return range;
  const int b0 = static_cast<int>(std::trunc(10.0 * std::log10(df)));
  int b_reach = b0;
  while (BandEnergies::CentreFrequency(b_reach) < nyquist) ++b_reach;
  range.first = std::max(b0, kLowestBand);
  range.last = std::min(b_reach - 2, kHighestBand);
  // The last band's upper edge lies below the centre of the next band, and
  // so below the Nyquist frequency: every band has bins on both sides.
  return range;
}

BandEnergies IntegrateThirdOctaveBands(const BinEnergies& bins) {
  return IntegrateThirdOctaveBands(bins, ThirdOctaveBandRange(bins.df, bins.nyquist, bins.half));
}

BandEnergies IntegrateThirdOctaveBands(const BinEnergies& bins, BandRange range) {
  const double df = bins.df;
  const auto& P = bins.P;
  BandEnergies out;
  out.first = range.first;
  out.last = range.last;
  if (range.last < range.first) return out;
  if (range.first < kLowestBand || range.last > kHighestBand) throw RangeError("band range");

  // Bin value at a frequency inside bins i-1..i.
  auto at_edge = [&](double f, std::int64_t i) {
    const Extended below = P[static_cast<std::size_t>(i - 1)];
    const Extended above = P[static_cast<std::size_t>(i)];
    return below + (Extended(f) / df - Extended(i) + 1) * (above - below);
  };

  out.energy.reserve(static_cast<std::size_t>(range.last - range.first + 1));
  for (int b = range.first; b <= range.last; ++b) {
    const double fl = BandEdge(b, -0.5);
    const double fu = BandEdge(b, 0.5);
    // The first bins above each edge.
    const auto il = static_cast<std::int64_t>(std::trunc(fl / df)) + 1;
    const auto iu = static_cast<std::int64_t>(std::trunc(fu / df)) + 1;
    // A range chosen by the caller may hold bands the bins do not cover.
    if (!(df > 0.0) || iu >= static_cast<std::int64_t>(P.size())) {
      throw RangeError("band " + std::to_string(b) + " lies beyond the computed bins");
    }
    const Extended p_lower = at_edge(fl, il);
    const Extended p_upper = at_edge(fu, iu);
    Extended e;
    if (iu == il) {
      e = (Extended(fu) - fl) * (p_lower + p_upper) / 2;
    } else {
      e = (Extended(il) * df - fl) * (p_lower + P[static_cast<std::size_t>(il)]) / 2 +
          (Extended(fu) - Extended(iu - 1) * df) * (p_upper + P[static_cast<std::size_t>(iu - 1)]) /
              2;
      for (std::int64_t j = il + 1; j <= iu - 1; ++j) {
        e += (Extended(P[static_cast<std::size_t>(j - 1)]) + P[static_cast<std::size_t>(j)]) / 2 *
             df;
      }
    }
    out.energy.push_back(StoreEnergy(e / df));
  }
  return out;
}

Leq300msSpectrum ComputeLeq300msSpectrum(std::span<const float> samples, float dt) {
  Leq300msSpectrum s;
  s.bins = Leq300msBinEnergies(samples, dt);
  s.bands = IntegrateThirdOctaveBands(s.bins);
  if (s.bands.empty()) throw Error("The waveform is too short for a third-octave spectrum");
  s.largest = s.bins.largest;
  bool silent_band = false;
  for (float e : s.bands.energy) {
    s.largest = std::max(s.largest, e);
    silent_band = silent_band || !(e > 0.0f);
  }
  if (!(s.largest > 0.0f) || silent_band) {
    throw Error("The waveform has no energy in the analysed bands");
  }
  s.PlotYMax = static_cast<float>(10.0 * std::log10(double{s.largest}));
  s.PlotYMin = s.PlotYMax - 60.0f;
  s.YTickStep = plot::NiceStep((s.PlotYMax - s.PlotYMin) / 30.0f);
  s.PlotXMin = static_cast<float>(std::log10(s.bins.df));
  s.PlotXMax = static_cast<float>(std::log10(s.bins.nyquist));
  return s;
}

std::string TobText(const BandEnergies& bands) {
  std::string text =
      "Leq300ms: steady 1/3 octave-band sound pressure levels which when integrated\r\n"
      "for 300 milliseconds have energies equal to that of the signal.\r\n"
      "Freq(Hz)\tLeq(dB)\r\n";
  for (int b = bands.first; b <= bands.last; ++b) {
    text += FormatFixed(BandEnergies::CentreFrequency(b), 7, 2);
    text += '\t';
    text += FormatFixed(bands.Level(b), 8, 2);
    text += "\r\n";
  }
  return text;
}

std::string TobFileName(const Session& session) {
  if (session.BaseName.empty()) throw Error("The waveform has no file name to name its table by");
  return session.BaseName + ".TOB";
}

Leq300msSpectrum Leq300msSpectrumOf(const Session& session) {
  if (session.LastSample >= kMaxSpectrumSamples) {
    throw Error("The Leq300ms spectrum needs a waveform of fewer than 1,048,576 samples");
  }
  if (session.LastSample < 1) throw Error("The spectrum needs at least 2 samples");
  return ComputeLeq300msSpectrum(session.Pressure.Range(0, session.LastSample),
                                 session.SampleInterval);
}

Leq300msRun RunLeq300msSpectrum(Session& session, const std::filesystem::path& folder) {
  if (session.ImportedWaveform) {
    throw Error(
        "The Leq300ms spectrum is computed only for a waveform opened from a KRV file; save the "
        "imported waveform as KRV and open it");
  }
  const std::string name = TobFileName(session);

  Leq300msRun run;
  run.spectrum = Leq300msSpectrumOf(session);

  // The interval read-outs that follow the spectrum start from the whole waveform.
  session.SelFirst = 0;
  session.SelLast = session.LastSample;

  run.tob_file = folder / name;
  WriteFileAtomically(run.tob_file, TobText(run.spectrum.bands));
  return run;
}

}  // namespace korva
