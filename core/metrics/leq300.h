// The Leq300ms third-octave spectrum: the energy of the whole waveform in each
// one-third-octave band, expressed as the steady band level that, lasting
// 300 ms, would carry the same energy. Also the narrow-band energies behind
// it, the plot ranges and the ".TOB" table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/common/levels.h"
#include "core/waveform/session.h"

namespace korva {

// Characteristic impedance of air used by the spectrum, Pa s/m.
inline constexpr double kSpectrumRhoC = 407.0;
// Energy of 20 uPa lasting 300 ms, J/m^2: the 0 dB of every band level.
inline constexpr double kLeq300ReferenceEnergy =
    kReferencePressurePa * kReferencePressurePa * 0.3 / kSpectrumRhoC;
// Band b has its centre at 10^(b/10) Hz; the bands kept are these.
inline constexpr int kLowestBand = -20;
inline constexpr int kHighestBand = 60;
// The spectrum takes waveforms of up to this many samples.
inline constexpr std::int32_t kMaxSpectrumSamples = 1 << 20;

// Narrow-band energies of a waveform, relative to the 300 ms reference
// energy, per bin of width df: P[j] = 2 df |X_j|^2 / rho c / Eref for
// j = 0..half, with the DC and Nyquist bins halved (they have no mirror).
struct BinEnergies {
  double df = 0.0;                    // Hz
  double nyquist = 0.0;               // Hz
  std::int32_t sample_count = 0;      // samples of the waveform
  std::int32_t transform_length = 0;  // the power of two transformed (zero-padded)
  std::int32_t half = 0;              // transform_length / 2
  std::vector<float> P;               // 0..half
  float largest = 0.0f;               // largest P before the halving
  std::int32_t largest_bin = 0;       // its bin (first of equals)

  // The narrow-band maximum: its level (dB re 20 uPa over 300 ms) and frequency.
  double LargestLevel() const;
  double LargestFrequency() const { return largest_bin * df; }
};

// Transforms samples (zero-padded to the next power of two when their count
// is not one: padding leaves band energies as they are, since every band is
// integrated over frequency) at interval dt and forms the bin energies.
// Throws Error for fewer than 2 or more than kMaxSpectrumSamples samples or
// a non-positive dt.
BinEnergies Leq300msBinEnergies(std::span<const float> samples, float dt);

// Band energies (relative to the 300 ms reference) for bands first..last.
struct BandEnergies {
  int first = 0;
  int last = -1;
  std::vector<float> energy;  // energy[b - first]

  bool empty() const { return last < first; }
  float Energy(int band) const;  // RangeError outside first..last
  double Level(int band) const;  // 10 log10 of the energy, dB re 20 uPa
  static double CentreFrequency(int band);
};

// The band range for a narrow-band spectrum: from b0 = trunc(10 log10 df) to
// two bands below the first whose centre reaches the Nyquist frequency,
// kept within kLowestBand..kHighestBand.
struct BandRange {
  int first = 0;
  int last = -1;
};
BandRange ThirdOctaveBandRange(double df, double nyquist, std::int32_t half);

// Trapezoidal integration of the bin energies over each band of the range,
// with the values at the band edges interpolated between neighbouring bins;
// the energy of a band is the integral divided by df. The reusable core of
// the spectrum, shared with the overlay comparison. RangeError for a band
// outside kLowestBand..kHighestBand or beyond the bins.
BandEnergies IntegrateThirdOctaveBands(const BinEnergies& bins);
BandEnergies IntegrateThirdOctaveBands(const BinEnergies& bins, BandRange range);

// Everything the spectrum plot and the ".TOB" table need.
struct Leq300msSpectrum {
  BinEnergies bins;
  BandEnergies bands;
  float largest = 0.0f;  // of the bin (before halving) and band energies
  float PlotYMax = 0.0f;
  float PlotYMin = 0.0f;
  float YTickStep = 0.0f;
  int YLabelEvery = 5;
  float PlotXMin = 0.0f;  // log10 df
  float PlotXMax = 0.0f;  // log10 Nyquist
  bool padded() const { return bins.transform_length != bins.sample_count; }
};

inline constexpr const char* kSpectrumCaption = "1/3 OCT LEQ(300MS)";
inline constexpr const char* kSpectrumUnitsCaption = "DB REF 20uPA";

// The spectrum of samples at interval dt. Throws Error (before anything is
// drawn or written) when no band fits the waveform or when the largest
// energy or any band energy is zero: their levels would be minus infinity.
Leq300msSpectrum ComputeLeq300msSpectrum(std::span<const float> samples, float dt);

// The ".TOB" table: two title lines, the column header and one line per band
// (centre frequency in 7 characters with 2 decimals, TAB, level in 8 with 2),
// lines ending in CR LF.
std::string TobText(const BandEnergies& bands);

// BaseName + ".TOB".
std::string TobFileName(const Session& session);

// The spectrum of the session's samples 0..LastSample, refusing (Error)
// fewer than 2 samples and kMaxSpectrumSamples or more.
Leq300msSpectrum Leq300msSpectrumOf(const Session& session);

// The command on the session: refuses an imported waveform or one of
// kMaxSpectrumSamples or more samples (Error, nothing changed), computes the
// spectrum of samples 0..LastSample, selects the whole waveform for the
// interval read-outs (SelFirst, SelLast) and writes the
// ".TOB" table into `folder`. Returns the spectrum and the file written.
struct Leq300msRun {
  Leq300msSpectrum spectrum;
  std::filesystem::path tob_file;
};
Leq300msRun RunLeq300msSpectrum(Session& session, const std::filesystem::path& folder);

}  // namespace korva
