// End-to-end runs of "korva-cli spectrum" on KRV files written in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::CliOk;
using testing::Quoted;
using testing::TempDir;

// 65,536 samples at 100 kHz; a 1 kHz tone of `rms` Pa lasting exactly 0.3 s.
std::string BurstFile(double rms) {
  return testing::KrvText("burst", 100000, 1, 65536, [rms](int i) {
    const bool on = i >= 10000 && i < 40000;
    return on ? rms * std::numbers::sqrt2 * std::sin(i * std::numbers::pi / 50) : 0.0;
  });
}

TEST(CliSpectrum, WritesTheTobTableAndPrintsTheSameBands) {
  TempDir dir;
  dir.Write("burst.krv", BurstFile(2.0));
  std::string out;
  ASSERT_EQ(testing::Shell(
                "cd " + Quoted(dir.path()) + " && " + KORVA_CLI_PATH + " spectrum burst.krv", &out),
            0)
      << out;
  // Named by the upper-cased base; the table's own layout is checked in the core tests.
  const std::string tob = ReadWholeFile(dir / "BURST.TOB");
  // 2 Pa RMS for 300 ms: 20 log10(2 / 20 uPa) = 100 dB.
  const std::size_t band30 = tob.find("\r\n1000.00\t");
  ASSERT_NE(band30, std::string::npos);
  EXPECT_NEAR(ParseLeadingNumber(tob.substr(band30 + 10, 8)), 100.0, 0.05);
  // The printed table is the file's, line for line, without the CRs.
  std::string rows;
  for (char c : tob.substr(tob.find("Freq(Hz)"))) {
    if (c != '\r') rows += c;
  }
  EXPECT_NE(out.find(rows), std::string::npos) << out;

  out = CliOk("spectrum --json --dir " + Quoted(dir.path()) + " " + Quoted(dir / "burst.krv"));
  EXPECT_NE(out.find("{\"band\": 45, \"centre_hz\": 31622.776601683792, \"level_db\": "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("\"band\": 46"), std::string::npos);
  // Within one bin of the tone.
  EXPECT_NEAR(ParseLeadingNumber(testing::JsonField(out, "narrow_band_max_hz")), 1000.0, 1.6);
}

TEST(CliSpectrum, SilenceGetsNoTableAndTheOldOneStays) {
  TempDir dir;
  const auto file = dir.Write("QUIET.KRV", BurstFile(0.0));
  dir.Write("QUIET.TOB", "earlier table\r\n");
  std::string out;
  EXPECT_EQ(testing::Cli("spectrum --dir " + Quoted(dir.path()) + " " + Quoted(file), &out), 1);
  EXPECT_NE(out.find("The waveform has no energy in the analysed bands"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(dir / "QUIET.TOB"), "earlier table\r\n");
}

}  // namespace
}  // namespace korva
