// End-to-end runs of "korva-cli spectrum" on KRV files written in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::RunShell;
using testing::TempDir;

// 65,536 samples at 100 kHz; a 1 kHz tone of `rms` Pa lasting exactly 0.3 s.
std::string BurstFile(double rms) {
  std::string text =
      "PARAMETER \tVALUE \tCOMMENT \r\nTitle for waveform plot \t \tburst \r\n"
      "Sampling rate \t100000 \tsamples/sec \r\nMicrophone relative to ear \t1 \tFree field "
      "\r\nNumber of Samples \t \t \r\n";
  for (int i = 0; i < 65536; ++i) {
    const bool on = i >= 10000 && i < 40000;
    text +=
        FormatFixed(on ? rms * std::numbers::sqrt2 * std::sin(i * std::numbers::pi / 50) : 0.0, 6) +
        "\r\n";
  }
  return text;
}

std::string Cli() {
  return std::string(KORVA_CLI_PATH) + " spectrum ";
}

TEST(CliSpectrum, WritesTheTobTableAndPrintsTheSameBands) {
  TempDir dir;
  dir.Write("burst.krv", BurstFile(2.0));
  std::string out;
  ASSERT_EQ(RunShell("cd '" + dir.path().string() + "' && " + Cli() + "burst.krv 2>&1", &out), 0)
      << out;
  const std::string tob = ReadWholeFile(dir / "BURST.TOB");  // named by the upper-cased base
  EXPECT_EQ(tob.rfind("Leq300ms: steady 1/3 octave-band sound pressure levels which when "
                      "integrated\r\nfor 300 milliseconds have energies equal to that of the "
                      "signal.\r\nFreq(Hz)\tLeq(dB)\r\n   1.26\t",
                      0),
            0u)
      << tob;
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

  out.clear();
  ASSERT_EQ(RunShell(Cli() + "--json --dir '" + dir.path().string() + "' '" +
                         (dir / "burst.krv").string() + "' 2>&1",
                     &out),
            0);
  EXPECT_NE(out.find("{\"band\": 45, \"centre_hz\": 31622.776601683792, \"level_db\": "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("\"band\": 46"), std::string::npos);
  const std::size_t at = out.find("\"narrow_band_max_hz\": ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(ParseLeadingNumber(out.substr(at + 22)), 1000.0, 1.6);  // within one bin
}

TEST(CliSpectrum, SilenceGetsNoTableAndTheOldOneStays) {
  TempDir dir;
  const auto file = dir.Write("QUIET.KRV", BurstFile(0.0));
  dir.Write("QUIET.TOB", "earlier table\r\n");
  std::string out;
  EXPECT_EQ(
      RunShell(Cli() + "--dir '" + dir.path().string() + "' '" + file.string() + "' 2>&1", &out),
      1);
  EXPECT_NE(out.find("The waveform has no energy in the analysed bands"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(dir / "QUIET.TOB"), "earlier table\r\n");
}

}  // namespace
}  // namespace korva
