#include "core/metrics/leq300.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/core/metrics/waveforms.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::Sine;
using testing::TempDir;

constexpr float kDt = 1.0e-5f;

// A tone of RMS p lasting exactly 0.3 s inside a longer silent record.
std::vector<float> TonePulse(double rms, double frequency, std::int32_t count) {
  std::vector<float> x(static_cast<std::size_t>(count), 0.0f);
  const auto tone = Sine(rms, frequency, 30000, kDt);
  std::copy(tone.begin(), tone.end(), x.begin() + 10000);
  return x;
}

TEST(Leq300ms, BandRangeFollowsTheResolutionAndTheNyquistFrequency) {
  // 65,536 samples at 10 us: df = 1.526 Hz, first band 1 (1.26 Hz), last band
  // two below the first whose centre reaches 50 kHz.
  const BandRange r = ThirdOctaveBandRange(1.0 / (65536 * 1e-5), 50000.0, 32768);
  EXPECT_EQ(r.first, 1);
  EXPECT_EQ(r.last, 45);

  // 10 MHz sampling would reach band 65; the band table stops at 60 (1 MHz).
  EXPECT_EQ(ThirdOctaveBandRange(1.0 / (65536 * 1e-7), 5.0e6, 32768).last, kHighestBand);
  // Records over 100 s start at band -20.
  EXPECT_EQ(ThirdOctaveBandRange(1.0 / 400.0, 500.0, 1 << 19).first, kLowestBand);
}

TEST(Leq300ms, BandIntegrationIsExactForALinearSpectrum) {
  // Trapezoids with interpolated edges integrate a straight line exactly, in
  // each of the three cases: both edges in one bin, in neighbouring bins, and
  // spanning several bins.
  BinEnergies bins;
  bins.df = 10.0;
  bins.half = 4096;
  bins.nyquist = bins.df * bins.half;
  for (std::int32_t j = 0; j <= bins.half; ++j) bins.P.push_back(static_cast<float>(j));
  const BandEnergies bands = IntegrateThirdOctaveBands(bins, {10, 45});
  for (int b = 10; b <= 45; ++b) {
    const double fl = std::pow(10.0, (b - 0.5) / 10);
    const double fu = std::pow(10.0, (b + 0.5) / 10);
    const double expected = (fu * fu - fl * fl) / (2 * bins.df * bins.df);
    EXPECT_NEAR(bands.Energy(b), expected, 2e-6 * expected + 1e-6) << b;
  }
  EXPECT_THROW(bands.Energy(46), RangeError);
  EXPECT_THROW(IntegrateThirdOctaveBands(bins, {10, 50}), RangeError);  // 100 kHz > 41 kHz
}

TEST(Leq300ms, ToneLastingThreeHundredMillisecondsReadsItsLevel) {
  // 1 Pa RMS for 0.3 s in the 1 kHz band: 20 log10(1 / 20 uPa) = 93.98 dB.
  const auto x = TonePulse(1.0, 1000.0, 65536);
  const Leq300msSpectrum s = ComputeLeq300msSpectrum(x, kDt);
  EXPECT_FALSE(s.padded());
  EXPECT_NEAR(s.bands.Level(30), 20 * std::log10(1.0 / 0.00002), 0.05);
  EXPECT_LT(s.bands.Level(27), s.bands.Level(30) - 25.0);
  EXPECT_LT(s.bands.Level(33), s.bands.Level(30) - 25.0);
  // The plot's top must not cut off the strongest band.
  EXPECT_GE(s.PlotYMax, static_cast<float>(10 * std::log10(s.bands.Energy(30))));

  // An edited length is zero-padded to a power of two; band energies stay.
  const std::vector<float> cut(x.begin(), x.begin() + 50000);
  const Leq300msSpectrum padded = ComputeLeq300msSpectrum(cut, kDt);
  EXPECT_TRUE(padded.padded());
  EXPECT_EQ(padded.bins.transform_length, 65536);
  EXPECT_NEAR(padded.bands.Level(30), s.bands.Level(30), 0.01);

  // A level 20 dB down reads 20 dB down, in a band of its own. The 125 Hz
  // band is only 29 Hz wide, so the gating of the tone spreads a little more
  // of its energy into the neighbours.
  const Leq300msSpectrum low = ComputeLeq300msSpectrum(TonePulse(0.1, 125.0, 65536), kDt);
  EXPECT_NEAR(low.bands.Level(21), 20 * std::log10(0.1 / 0.00002), 0.15);
}

TEST(Leq300ms, SilenceAndTinyWaveformsStopBeforeAnyOutput) {
  EXPECT_THROW(ComputeLeq300msSpectrum(std::vector<float>(4096, 0.0f), kDt), Error);
  EXPECT_THROW(ComputeLeq300msSpectrum(std::vector<float>(1, 1.0f), kDt), Error);
  EXPECT_THROW(ComputeLeq300msSpectrum(std::vector<float>(64, 1.0f), 0.0f), Error);
  // Pressures no recording has: energies beyond single precision.
  try {
    ComputeLeq300msSpectrum(std::vector<float>(4096, 3.0e30f), kDt);
    ADD_FAILURE() << "overflowing energies were accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Floating point error"), std::string::npos);
  }
}

TEST(Leq300ms, TobTableAndTheCommandOnTheSession) {
  TempDir dir;
  Session session = testing::SessionWith(TonePulse(1.0, 1000.0, 65536), kDt);
  session.SelFirst = 100;
  const Leq300msRun run = RunLeq300msSpectrum(session, dir.path());
  EXPECT_EQ(run.tob_file, dir / "SHOT.TOB");
  EXPECT_EQ(session.SelFirst, 0);  // the read-outs that follow take the whole waveform
  EXPECT_EQ(session.SelLast, 65535);

  const std::string text = ReadWholeFile(run.tob_file);
  const std::string head =
      "Leq300ms: steady 1/3 octave-band sound pressure levels which when integrated\r\n"
      "for 300 milliseconds have energies equal to that of the signal.\r\n"
      "Freq(Hz)\tLeq(dB)\r\n"
      "   1.26\t";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // Band 30: "1000.00", TAB, the level right-aligned in 8 with 2 decimals.
  const std::size_t band30 = text.find("\r\n1000.00\t   ");
  ASSERT_NE(band30, std::string::npos);
  EXPECT_NEAR(ParseLeadingNumber(text.substr(band30 + 10, 8)), 93.98, 0.05);
  EXPECT_EQ(text.substr(band30 + 15, 1), ".");
  EXPECT_EQ(text.substr(band30 + 18, 2), "\r\n");
  // The last band is 45.
  EXPECT_EQ(text.substr(text.size() - 19, 9), "31622.78\t");

  // An imported, an over-long or a silent waveform writes nothing.
  session.ImportedWaveform = true;
  EXPECT_THROW(RunLeq300msSpectrum(session, dir.path()), Error);
  Session silent = testing::SessionWith(std::vector<float>(4096, 0.0f), kDt);
  silent.BaseName = "QUIET";
  EXPECT_THROW(RunLeq300msSpectrum(silent, dir.path()), Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "QUIET.TOB"));
  silent.LastSample = kMaxSpectrumSamples;
  EXPECT_THROW(RunLeq300msSpectrum(silent, dir.path()), Error);
}

}  // namespace
}  // namespace korva
