#include "core/protection/overlay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/krv.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

// A KRV file of `count` samples of a decaying 1 kHz burst at `rate`, from
// `onset` samples on, scaled by `gain`.
fs::path WriteKrv(const testing::TempDir& dir, const std::string& name, int count, float rate,
                  float gain, int onset = 0) {
  std::string text = "PARAMETER\tVALUE\tCOMMENT\r\nTitle\t \tburst\r\nSampling rate\t" +
                     std::to_string(static_cast<int>(rate)) +
                     "\t \r\nMicrophone relative to ear\t1\t \r\nNumber of Samples\t" +
                     std::to_string(count) + "\t \r\n";
  for (int i = 0; i < count; ++i) {
    const double t = (i - onset) / static_cast<double>(rate);
    const double p =
        i < onset ? 0.0 : gain * 100.0 * std::sin(2 * M_PI * 1000 * t) * std::exp(-t / 0.004);
    text += FloatToCompactStr(static_cast<float>(p)) + "\r\n";
  }
  return dir.Write(name, text);
}

// The pieces of `text` between separators, empty ones included.
std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (std::size_t end; (end = text.find(separator, pos)) != std::string::npos;
       pos = end + separator.size()) {
    out.push_back(text.substr(pos, end - pos));
  }
  out.push_back(text.substr(pos));
  return out;
}

TEST(Overlay, SelfComparisonCorrectsOnlyFromBand23AndWritesTheHeaderOnce) {
  testing::TempDir dir;
  const fs::path first = WriteKrv(dir, "REF.KRV", 4096, 50000.0f, 1.0f, 100);
  const fs::path table = dir / "TOB.txt";
  NoProgress progress;
  Lcg generator(0);
  for (int run = 0; run < 2; ++run) {
    Session s(1 << 21);
    OpenWaveform(s, first, progress);
    const OverlayResult r = OverlayKRVWaveform(s, generator, first, table, progress);
    EXPECT_EQ(r.header_written, run == 0);
    EXPECT_EQ(r.OverlayLabel, "REF_to_REF");
  }
  const std::vector<std::string> lines = Split(ReadWholeFile(table), "\r\n");
  ASSERT_EQ(lines.size(), 4u);  // the header, two results, and nothing after the last CR LF
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[0], NoiseReductionHeader().substr(0, NoiseReductionHeader().size() - 2));
  EXPECT_EQ(lines[0].substr(0, 6), "0.050\t");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 7), "\t10.000");
  const std::vector<std::string> f = Split(lines[1], "\t");
  ASSERT_EQ(f.size(), 28u);  // 24 bands, the label and three codes
  // The same recording read twice differs by its dither only: nothing
  // below band 23, minus the open-ear correction above.
  for (int n = 17; n <= 40; ++n) {
    const std::string expected = n < 23 ? "0.0" : FormatFixed(-EarCanalCorrection(n), 1, 1);
    EXPECT_EQ(f[static_cast<std::size_t>(n - 17)], expected) << "band " << n;
  }
  EXPECT_EQ(f[24], "REF_to_REF");
  EXPECT_EQ(f[25] + f[26] + f[27], "310");
  EXPECT_FLOAT_EQ(EarCanalCorrection(30), 8.2f);  // 1 kHz
  EXPECT_EQ(EarCanalCorrection(22), 0.0f);
}

TEST(Overlay, SecondWaveformIsCutToTheKeptWindowAndPaddedForTheTransform) {
  testing::TempDir dir;
  const fs::path first = WriteKrv(dir, "FREE.KRV", 4096, 50000.0f, 1.0f, 100);
  const fs::path second = WriteKrv(dir, "EAR.KRV", 8192, 50000.0f, 0.1f, 100);
  NoProgress progress;
  Lcg generator(0);
  Session s(1 << 21);
  OpenWaveform(s, first, progress);
  s.SavedEndTime = 2999 * s.SampleInterval;  // a kept window shorter than the file
  const OverlayResult r = OverlayKRVWaveform(s, generator, second, dir / "TOB.txt", progress);
  EXPECT_EQ(s.LastSample, 2999);   // cut at the first waveform's kept end
  EXPECT_FALSE(s.WaveformLoaded);  // a mixed session must be reopened before analysis
  EXPECT_EQ(r.second_bins.sample_count, 3000);
  EXPECT_EQ(r.second_bins.transform_length, 4096);
  EXPECT_EQ(r.OverlayLabel, "FREE_to_EAR");
  // One tenth of the pressure: 20 dB down in every band both computed.
  for (int n = 25; n <= 40; ++n) {
    const auto& d = r.differences[static_cast<std::size_t>(n - 17)];
    ASSERT_TRUE(d) << n;
    EXPECT_NEAR(*d, -20.0, 0.05) << n;
  }
}

TEST(Overlay, UnresolvedBandsAreEmptyAndDisjointWindowsWriteNothing) {
  testing::TempDir dir;
  // 2,048 samples at 200 kHz: bins 98 Hz apart, so bands below 20 are unknown.
  const fs::path first = WriteKrv(dir, "SHORT.KRV", 2048, 200000.0f, 1.0f, 10);
  NoProgress progress;
  Lcg generator(0);
  Session s(1 << 21);
  OpenWaveform(s, first, progress);
  const OverlayResult r = OverlayKRVWaveform(s, generator, first, dir / "TOB.txt", progress);
  const std::vector<std::string> f = Split(Split(ReadWholeFile(dir / "TOB.txt"), "\r\n")[1], "\t");
  ASSERT_EQ(f.size(), 28u);
  EXPECT_EQ(f[0] + f[1] + f[2], "");
  EXPECT_FALSE(f[3].empty());

  // A second recording whose time span misses the kept start: nothing written.
  Session later(1 << 21);
  OpenWaveform(later, first, progress);
  later.SavedStartTime = later.SavedEndTime + 1.0f;
  const Session before = later;
  const std::string table_before = ReadWholeFile(dir / "TOB.txt");
  EXPECT_THROW(OverlayKRVWaveform(later, generator, first, dir / "TOB.txt", progress), Error);
  EXPECT_EQ(ReadWholeFile(dir / "TOB.txt"), table_before);
  EXPECT_EQ(later.DataFileName, before.DataFileName);
  // A table folder that does not exist is an error naming it; nothing is created.
  EXPECT_THROW(OverlayKRVWaveform(s, generator, first, dir / "missing" / "TOB.txt", progress),
               IoError);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
}  // namespace korva
