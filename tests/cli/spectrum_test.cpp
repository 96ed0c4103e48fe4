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

std::string Header() {
  return "PARAMETER \tVALUE \tCOMMENT \r\nTitle for waveform plot \t \tburst \r\n"
         "Sampling rate \t100000 \tsamples/sec \r\nMicrophone relative to ear \t1 \tFree field "
         "\r\nNumber of Samples \t \t \r\n";
}

// 65,536 samples at 100 kHz: a 1 kHz tone of 2 Pa RMS lasting exactly 0.3 s.
std::string BurstFile() {
  std::string text = Header();
  for (int i = 0; i < 65536; ++i) {
    const bool on = i >= 10000 && i < 40000;
    const double p =
        on ? 2.0 * std::numbers::sqrt2 * std::sin(2 * std::numbers::pi * i / 100.0) : 0.0;
    text += FormatFixed(p, 6) + "\r\n";
  }
  return text;
}

std::string Cli() {
  return std::string(KORVA_CLI_PATH);
}

TEST(CliSpectrum, WritesTheTobTableAndPrintsTheSameBands) {
  TempDir dir;
  const auto file = dir.Write("burst.krv", BurstFile());
  std::string out;
  ASSERT_EQ(
      RunShell("cd '" + dir.path().string() + "' && " + Cli() + " spectrum burst.krv 2>&1", &out),
      0)
      << out;
  const std::string tob = ReadWholeFile(dir / "BURST.TOB");  // named by the upper-cased base
  EXPECT_EQ(tob.rfind("Leq300ms: steady 1/3 octave-band sound pressure levels which when "
                      "integrated\r\nfor 300 milliseconds have energies equal to that of the "
                      "signal.\r\nFreq(Hz)\tLeq(dB)\r\n   1.26\t",
                      0),
            0u)
      << tob;
  const std::size_t band30 = tob.find("\r\n1000.00\t");
  ASSERT_NE(band30, std::string::npos);
  // 2 Pa RMS for 300 ms: 20 log10(2 / 20 uPa) = 100 dB.
  EXPECT_NEAR(ParseLeadingNumber(tob.substr(band30 + 10, 8)), 100.0, 0.05);
  // The last band is 45: "31622.78", TAB, the level in 8 characters, CR LF.
  ASSERT_GT(tob.size(), 20u);
  EXPECT_EQ(tob.substr(tob.size() - 20, 10), "\n31622.78\t");
  EXPECT_EQ(tob.substr(tob.size() - 2), "\r\n");

  // The printed table is the file's, line for line, without the CRs.
  std::string printed_rows = tob.substr(tob.find("Freq(Hz)"));
  std::string unix_rows;
  for (char c : printed_rows) {
    if (c != '\r') unix_rows += c;
  }
  EXPECT_NE(out.find(unix_rows), std::string::npos) << out;
  EXPECT_NE(out.find("narrow-band maximum: "), std::string::npos);
}

TEST(CliSpectrum, JsonListsBandsAndTheNarrowBandMaximum) {
  TempDir dir;
  const auto file = dir.Write("BURST.KRV", BurstFile());
  std::string out;
  ASSERT_EQ(RunShell(Cli() + " spectrum --json --dir '" + dir.path().string() + "' '" +
                         file.string() + "' 2>&1",
                     &out),
            0)
      << out;
  EXPECT_TRUE(std::filesystem::exists(dir / "BURST.TOB"));
  EXPECT_NE(out.find("{\"band\": 1, \"centre_hz\": 1.2589254117941673, \"level_db\": "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("{\"band\": 45, \"centre_hz\": 31622.776601683792, \"level_db\": "),
            std::string::npos);
  EXPECT_EQ(out.find("\"band\": 46"), std::string::npos);
  const std::size_t at = out.find("\"narrow_band_max_hz\": ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(ParseLeadingNumber(out.substr(at + 22)), 1000.0, 1.6);  // within one bin
}

TEST(CliSpectrum, SilenceGetsNoTableAndTheOldOneStays) {
  TempDir dir;
  std::string text = Header();
  for (int i = 0; i < 4096; ++i) text += "0\r\n";
  const auto file = dir.Write("QUIET.KRV", text);
  dir.Write("QUIET.TOB", "earlier table\r\n");
  std::string out;
  EXPECT_EQ(
      RunShell(Cli() + " spectrum --dir '" + dir.path().string() + "' '" + file.string() + "' 2>&1",
               &out),
      1);
  EXPECT_NE(out.find("The waveform has no energy in the analysed bands"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(dir / "QUIET.TOB"), "earlier table\r\n");
  // A folder that does not exist is an error, not a silent success.
  EXPECT_EQ(RunShell(Cli() + " spectrum --dir '" + (dir / "nowhere").string() + "' '" +
                         dir.Write("BURST.KRV", BurstFile()).string() + "' 2>&1",
                     &out),
            1);
}

}  // namespace
}  // namespace korva
