// End-to-end runs of "korva-cli info" on files written in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/numbers.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::Quoted;
using testing::TempDir;

int RunInfo(const std::string& arguments, std::string* out) {
  return testing::Cli("info " + arguments, out);
}

// 4,100 samples of a decaying 1 kHz tone at 48 kHz with a peak of exactly
// 20 Pa (120.02 dB) in the first sample and a minimum of -12.5 Pa.
std::string ShotFile(const std::string& title) {
  return testing::KrvText(title, 48000, 3, 4100, [](int i) {
    return i == 0 ? 20.0 : i == 1 ? -12.5 : 10.0 * std::exp(-i / 500.0) * std::sin(i * 0.1309);
  });
}

TEST(CliInfo, TextShowsHeaderCountsRateLocationExtremesLevelAndTheExactSamples) {
  TempDir dir;
  dir.Write("SHOT.KRV", ShotFile("Rifle at 1 m"));
  std::string out;
  ASSERT_EQ(RunInfo(Quoted(dir / "shot.wav"), &out), 0) << out;  // the KRV of the same base name
  EXPECT_NE(out.find("  Title for waveform plot |  | Rifle at 1 m\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Sampling rate | 48000 | samples/sec\n"), std::string::npos);
  EXPECT_NE(out.find("samples read:        4100\n"), std::string::npos);
  EXPECT_NE(out.find("samples analysed:    4096\n"), std::string::npos);
  EXPECT_NE(out.find("sample rate:         48000 samples/s\n"), std::string::npos);
  EXPECT_NE(out.find("microphone location: 3 (eardrum)\n"), std::string::npos);
  EXPECT_NE(out.find("peak pressure:       20 Pa\n"), std::string::npos);
  EXPECT_NE(out.find("minimum pressure:    -12.5 Pa\n"), std::string::npos);
  EXPECT_NE(out.find("peak level:          120.02 dB (94 dB = 1 Pa)\n"), std::string::npos);
  EXPECT_EQ(out.find("Number of exposures"), std::string::npos);  // reset rows are not shown

  // --samples prints what a session holds after Open, exactly: the nine
  // digits read back to the same singles.
  const auto path = dir / "SHOT.KRV";
  std::string first;
  ASSERT_EQ(RunInfo("--samples " + Quoted(path), &first), 0) << first;

  Session session(1 << 21);
  NoProgress progress;
  OpenWaveform(session, path, progress);
  std::vector<float> printed;
  std::size_t p = 0;
  while (p < first.size()) {
    const std::size_t end = first.find('\n', p);
    const auto value = ParseWholeNumber(std::string_view(first).substr(p, end - p));
    ASSERT_TRUE(value.has_value()) << first.substr(p, end - p);
    printed.push_back(static_cast<float>(*value));
    p = end + 1;
  }
  ASSERT_EQ(printed.size(), 4096u);
  const auto expected = session.Pressure.Range(0, 4095);
  EXPECT_EQ(std::memcmp(printed.data(), expected.data(), 4096 * sizeof(float)), 0);
}

TEST(CliInfo, JsonHasTheKeysAndEscapesStrings) {
  TempDir dir;
  dir.Write("SHOT.KRV", ShotFile("Say \"bang\" \\ caf\xe9 \xc3\xa9t\xc3\xa9"));
  std::string out;
  ASSERT_EQ(RunInfo("--json " + Quoted(dir / "SHOT.KRV"), &out), 0) << out;
  EXPECT_EQ(out.rfind("{\"file\": \"" + (dir / "SHOT.KRV").string() + "\"", 0), 0u) << out;
  for (const std::string& part :
       {std::string(", \"samples_read\": 4100, \"samples\": 4096, \"sample_rate\": 48000, "
                    "\"mic_location\": 3, "),
        std::string("\"title\": \"Say \\\"bang\\\" \\\\ caf\\u00e9 \xc3\xa9t\xc3\xa9\""),
        std::string("\"peak_pa\": 20, \"min_pa\": -12.5, \"peak_level_db\": 120.02, "),
        std::string("\"unweighted_energy\": ")}) {
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  }
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.find('\n'), out.size() - 1);  // one object on one line
}

TEST(CliInfo, ABadFileIsReportedAndTheOthersStillShown) {
  TempDir dir;
  const auto good = dir.Write("GOOD.KRV", ShotFile("ok"));
  const auto empty = dir.Write("EMPTY.KRV", "PARAMETER \tVALUE \tCOMMENT \r\n");
  std::string out;
  EXPECT_EQ(
      RunInfo("--json " + Quoted(empty) + " " + Quoted(dir / "MISSING.KRV") + " " + Quoted(good),
              &out),
      1);
  EXPECT_NE(out.find("korva-cli: " + empty.string() + ": no samples after the header\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("korva-cli: " + (dir / "MISSING.KRV").string() + ": "), std::string::npos);
  EXPECT_NE(out.find("\"samples_read\": 4100"), std::string::npos);

  EXPECT_EQ(RunInfo("", &out), 2);
  EXPECT_EQ(RunInfo("--bogus " + Quoted(good), &out), 2);
}

}  // namespace
}  // namespace korva
