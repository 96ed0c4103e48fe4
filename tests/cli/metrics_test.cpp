// End-to-end runs of "korva-cli metrics" on KRV files written in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::TempDir;

int RunMetrics(const std::string& arguments, std::string* out) {
  return testing::Cli("metrics " + arguments, out);
}

// 65,536 samples at 100 kHz of a 1 kHz tone: 1 Pa RMS for the first half,
// 0.1 Pa RMS for the second.
std::string ToneFile(const TempDir& dir) {
  const std::string text = testing::KrvText("tone", 100000, 1, 65536, [](int i) {
    return (i < 32768 ? 1.0 : 0.1) * std::numbers::sqrt2 *
           std::sin(2 * std::numbers::pi * i / 100.0);
  });
  return testing::Quoted(dir.Write("TONE.KRV", text));
}

double JsonValue(const std::string& json, const std::string& key) {
  return ParseLeadingNumber(testing::JsonField(json, key));
}

TEST(CliMetrics, FiveResultsOverTheChosenIntervalAndBadIntervalsRefused) {
  TempDir dir;
  const std::string file = ToneFile(dir);
  std::string out;
  // 50 to 250 ms: 20,000 samples of the 1 Pa tone, a whole number of periods.
  ASSERT_EQ(RunMetrics("--json --from 50 --to 250 " + file, &out), 0) << out;
  EXPECT_EQ(out.rfind("{\"LAeqInterval\": ", 0), 0u) << out;
  EXPECT_NEAR(JsonValue(out, "LAeqInterval"), 94.0, 0.02);
  EXPECT_NEAR(JsonValue(out, "LeqInterval"), 94.0, 0.02);
  EXPECT_NEAR(JsonValue(out, "LAeq8hr"), 94.0 + 10 * std::log10(0.2 / 28800), 0.02);
  EXPECT_GT(JsonValue(out, "AllowedRounds"), 0.0);  // its rule is checked in the core tests
  EXPECT_NEAR(JsonValue(out, "AWeightedExposure"), 0.2 / 415, 0.002 * 0.2 / 415);

  // The quieter half, by sample indices: 20 dB down.
  ASSERT_EQ(RunMetrics("--json --first 40000 --last 60000 " + file, &out), 0);
  EXPECT_NEAR(JsonValue(out, "LeqInterval"), 74.0, 0.02);

  // The text form, and intervals that are refused.
  ASSERT_EQ(RunMetrics("--to 100 " + file, &out), 0) << out;
  EXPECT_NE(out.find(": samples 0 to 10000 (0.000 to 100.000 ms)\n  LAeqInterval        93.9"),
            std::string::npos)
      << out;
  // Levels name their reference: 94 dB for 1 Pa here, not dB re 20 uPa.
  EXPECT_NE(out.find("\n  LeqInterval         94.000 dB (94 dB = 1 Pa)\n"), std::string::npos);
  EXPECT_EQ(RunMetrics("--first 5 --last 70000 " + file, &out), 1);
  EXPECT_NE(out.find("TONE.KRV: the interval lies outside the waveform"), std::string::npos) << out;
  EXPECT_EQ(RunMetrics("--from 5 --first 3 " + file, &out), 2);
  EXPECT_EQ(RunMetrics("--from 50 --to 20 " + file, &out), 2);
  // An unreadable file among good ones: the others are still measured.
  EXPECT_EQ(RunMetrics("--json '" + (dir / "MISSING.KRV").string() + "' " + file, &out), 1);
  EXPECT_NE(out.find("{\"LAeqInterval\": "), std::string::npos);
}

}  // namespace
}  // namespace korva
