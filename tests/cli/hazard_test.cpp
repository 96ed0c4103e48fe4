// End-to-end runs of "korva-cli hazard" on KRV files written by "korva-cli synth".
#include "core/model/hazard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/krv.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::Shell;
using testing::TempDir;

const std::string kCli = KORVA_CLI_PATH;

std::string TestModel() {
  return (std::filesystem::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt").string();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The text after "KEY": up to the next comma or brace.
std::string JsonField(const std::string& json, const std::string& key, std::size_t from = 0) {
  const std::size_t at = json.find("\"" + key + "\": ", from);
  if (at == std::string::npos) return "<missing " + key + ">";
  const std::size_t start = at + key.size() + 4;
  return json.substr(start, json.find_first_of(",}", start) - start);
}

// Writes DIR/NAME.KRV with "korva-cli synth OPTIONS".
void Synth(const TempDir& dir, const std::string& options, const std::string& name) {
  std::string out;
  ASSERT_EQ(Shell(kCli + " synth " + options + " '" + (dir / (name + ".KRV")).string() + "'", &out),
            0)
      << out;
}

// The hazard of the same file computed in this process, one run at a time.
float InProcessHazard(const std::filesystem::path& krv, Listener listener) {
  Session session(1 << 21);
  NoProgress none;
  OpenWaveform(session, krv, none);
  HazardRunOptions options;
  options.listener = listener;
  options.model_file = TestModel();
  options.keep_movie = false;
  options.write_place_table = false;
  return RunHazardAnalysis(session, options, none).cochlea.TotalHazardARU;
}

TEST(CliHazard, JsonForEveryLocationMatchesTheRunsDoneOneAtATime) {
  TempDir dir;
  std::string out;
  const std::string d = dir.path().string();
  Synth(dir, "--peak 160 --samples 4096", "FREE");
  Synth(dir, "--peak 150 --location 2 --samples 4096", "CANAL");
  Synth(dir, "--peak 150 --location 3 --samples 2048", "DRUM");
  ASSERT_EQ(Shell(kCli + " hazard --json -j 2 --model '" + TestModel() + "' '" + d +
                      "/FREE.KRV' '" + d + "/CANAL.KRV' '" + d + "/DRUM.KRV'",
                  &out),
            0)
      << out;
  const std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 3u) << out;
  const char* names[] = {"FREE", "CANAL", "DRUM"};
  const char* locations[] = {"1", "2", "3"};
  for (std::size_t f = 0; f < 3; ++f) {
    const std::string& json = lines[f];
    const std::filesystem::path krv = dir / (std::string(names[f]) + ".KRV");
    EXPECT_EQ(JsonField(json, "file"), "\"" + krv.string() + "\"");
    EXPECT_EQ(JsonField(json, "mic_location"), locations[f]);
    EXPECT_EQ(JsonField(json, "samples"), f == 2 ? "2048" : "4096");
    for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
      const std::size_t at = json.find(std::string("\"") + ListenerName(listener) + "\": {");
      ASSERT_NE(at, std::string::npos) << json;
      const float aru = static_cast<float>(ParseLeadingNumber(JsonField(json, "aru", at)));
      // Parallel runs on session copies give exactly the sequential result.
      EXPECT_EQ(aru, InProcessHazard(krv, listener)) << names[f] << " " << json;
      EXPECT_EQ(JsonField(json, "aru_text", at), "\"" + HazardText(aru) + "\"");
      EXPECT_EQ(JsonField(json, "allowed_text", at), "\"" + AllowedExposuresText(aru) + "\"");
      EXPECT_EQ(JsonField(json, "fft_length", at), f == 2 ? "2048" : "4096");
      const std::string worst = JsonField(json, "worst_section", at);
      EXPECT_GE(ParseLeadingNumber(worst), 1.0);
      EXPECT_LE(ParseLeadingNumber(worst), 23.0);
      const std::size_t list = json.find("\"section_hazard\": [", at);
      ASSERT_NE(list, std::string::npos);
      const std::string places = json.substr(list, json.find(']', list) - list);
      EXPECT_EQ(std::count(places.begin(), places.end(), ','), 22) << places;
    }
    // Both listeners ran: the place table holds the unwarned one.
    EXPECT_TRUE(std::filesystem::exists(dir / (std::string(names[f]) + ".HAZ")));
  }
}

TEST(CliHazard, OneListenerCsvAndBadFilesReportedWithoutStoppingTheOthers) {
  TempDir dir;
  std::string out;
  const std::string d = dir.path().string();
  Synth(dir, "--peak 140 --samples 2048", "GOOD");
  // A waveform whose microphone location is not 1 to 4.
  std::string bad = ReadWholeFile(dir / "GOOD.KRV");
  const std::size_t row3 = bad.find("\r\n", bad.find("\r\n", bad.find("\r\n") + 2) + 2) + 2;
  const std::size_t cell = bad.find('\t', row3) + 1;
  bad.replace(cell, bad.find(' ', cell) - cell, "7");
  dir.Write("BAD.KRV", bad);
  EXPECT_EQ(Shell(kCli + " hazard --csv --unwarned --model '" + TestModel() + "' '" + d +
                      "/BAD.KRV' '" + d + "/GOOD.KRV' '" + d + "/NONE.KRV'",
                  &out),
            1);
  EXPECT_NE(out.find("korva-cli: " + d + "/BAD.KRV: " + kBadLocationMessage), std::string::npos)
      << out;
  EXPECT_NE(out.find("NONE.KRV"), std::string::npos) << out;
  EXPECT_NE(out.find("file,listener,samples,mic_location,aru,aru_text,allowed,worst_section,"
                     "fft_length\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(d + "/GOOD.KRV,unwarned,2048,1,"), std::string::npos) << out;
  EXPECT_EQ(out.find(",warned,"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "BAD.HAZ"));
}

TEST(CliHazard, FindsTheModelThroughManFigAndRefusesBadUsage) {
  TempDir dir;
  std::string out;
  const std::string d = dir.path().string();
  Synth(dir, "--peak 150 --samples 2048", "SHOT");
  dir.Write("EARTEST.TXT", ReadWholeFile(TestModel()));
  dir.Write("Man.Fig", "EARTEST.TXT\r\ntest parameters\r\n");
  // Man.Fig in the current folder names the parameter file.
  ASSERT_EQ(Shell("cd '" + d + "' && " + kCli + " hazard --warned SHOT.KRV", &out), 0) << out;
  EXPECT_NE(out.find("SHOT.KRV: 2048 samples, microphone location 1 (free field)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  warned    " +
                     HazardText(InProcessHazard(dir / "SHOT.KRV", Listener::Warned)) + " A.R.U."),
            std::string::npos)
      << out;
  // A parameter file that is not one: exit 1 with the file and line named.
  dir.Write("BROKEN.TXT", "1.0\n2.0\n");
  EXPECT_EQ(Shell(kCli + " hazard --model '" + d + "/BROKEN.TXT' '" + d + "/SHOT.KRV'", &out), 1);
  EXPECT_NE(out.find("BROKEN.TXT: line 3: missing"), std::string::npos) << out;
  EXPECT_EQ(Shell(kCli + " hazard --json --csv '" + d + "/SHOT.KRV'", &out), 2);
  EXPECT_EQ(Shell(kCli + " hazard", &out), 2);
  EXPECT_EQ(Shell(kCli + " hazard -j 0 '" + d + "/SHOT.KRV'", &out), 2);
}

}  // namespace
}  // namespace korva
