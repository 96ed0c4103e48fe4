// End-to-end runs of "korva-cli hazard" on KRV files written by "korva-cli synth".
#include "core/model/hazard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/common/sha256.h"
#include "core/waveform/krv.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliOk;
using testing::JsonField;
using testing::Quoted;
using testing::TempDir;

const fs::path kTestModel = fs::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt";

// Writes DIR/NAME.KRV with "korva-cli synth OPTIONS"; returns its path.
fs::path Synth(const TempDir& dir, const std::string& options, const std::string& name) {
  CliOk("synth " + options + " " + Quoted(dir / (name + ".KRV")));
  return dir / (name + ".KRV");
}

// The hazard of the same file computed in this process, one run at a time.
float InProcessHazard(const fs::path& krv, Listener listener) {
  Session session(1 << 21);
  NoProgress none;
  OpenWaveform(session, krv, none);
  HazardRunOptions options;
  options.listener = listener;
  options.model_file = kTestModel;
  options.keep_movie = false;
  options.write_place_table = false;
  return RunHazardAnalysis(session, options, none).cochlea.TotalHazardARU;
}

TEST(CliHazard, JsonForEveryLocationMatchesTheRunsDoneOneAtATime) {
  TempDir dir;
  const fs::path files[] = {Synth(dir, "--peak 160 --samples 4096", "FREE"),
                            Synth(dir, "--peak 150 --location 2 --samples 4096", "CANAL"),
                            Synth(dir, "--peak 150 --location 3 --samples 2048", "DRUM")};
  const std::string out = CliOk("hazard --json -j 2 --model " + Quoted(kTestModel) + " " +
                                Quoted(files[0]) + " " + Quoted(files[1]) + " " + Quoted(files[2]));
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3u) << out;
  for (std::size_t f = 0; f < 3; ++f) {
    SCOPED_TRACE(files[f]);
    const std::string& json = lines[f];
    const std::string samples = f == 2 ? "2048" : "4096";
    EXPECT_EQ(JsonField(json, "file"), "\"" + files[f].string() + "\"");
    EXPECT_EQ(JsonField(json, "mic_location"), FormatInteger(static_cast<long long>(f) + 1));
    EXPECT_EQ(JsonField(json, "samples"), samples);
    EXPECT_EQ(JsonField(json, "model_file"), "\"" + kTestModel.lexically_normal().string() + "\"");
    EXPECT_EQ(JsonField(json, "model_sha256"), "\"" + Sha256HexOfFile(kTestModel) + "\"");
    for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
      const std::size_t at = json.find(std::string("\"") + ListenerName(listener) + "\": {");
      ASSERT_NE(at, std::string::npos) << json;
      const float aru = static_cast<float>(ParseLeadingNumber(JsonField(json, "aru", at)));
      // Parallel runs on session copies give exactly the sequential result.
      EXPECT_EQ(aru, InProcessHazard(files[f], listener)) << json;
      EXPECT_EQ(JsonField(json, "aru_text", at), "\"" + HazardText(aru) + "\"");
      EXPECT_EQ(JsonField(json, "allowed_text", at), "\"" + AllowedExposuresText(aru) + "\"");
      EXPECT_EQ(JsonField(json, "fft_length", at), samples);
      const double worst = ParseLeadingNumber(JsonField(json, "worst_section", at));
      EXPECT_TRUE(worst >= 1.0 && worst <= 23.0) << worst;
      const std::size_t list = json.find("\"section_hazard\": [", at);
      ASSERT_NE(list, std::string::npos);
      const std::string places = json.substr(list, json.find(']', list) - list);
      EXPECT_EQ(std::count(places.begin(), places.end(), ','), 22) << places;
    }
    // Both listeners ran: the place table holds the unwarned one.
    EXPECT_TRUE(fs::exists(fs::path(files[f]).replace_extension(".HAZ")));
  }
}

TEST(CliHazard, OneListenerCsvAndBadFilesReportedWithoutStoppingTheOthers) {
  TempDir dir;
  const std::string d = dir.path().string();
  Synth(dir, "--peak 140 --samples 2048", "GOOD");
  // A waveform whose microphone location is not 1 to 4.
  std::string bad = ReadWholeFile(dir / "GOOD.KRV");
  const std::size_t row3 = bad.find("Microphone relative to ear \t");
  const std::size_t cell = bad.find('\t', row3) + 1;
  bad.replace(cell, bad.find(' ', cell) - cell, "7");
  dir.Write("BAD.KRV", bad);
  std::string out;
  EXPECT_EQ(Cli("hazard --csv --unwarned --model " + Quoted(kTestModel) + " " +
                    Quoted(dir / "BAD.KRV") + " " + Quoted(dir / "GOOD.KRV") + " " +
                    Quoted(dir / "NONE.KRV") + " " + Quoted(dir / "day.flac"),
                &out),
            1);
  EXPECT_NE(out.find("korva-cli: " + d + "/BAD.KRV: " + kBadLocationMessage), std::string::npos)
      << out;
  EXPECT_NE(out.find(d + "/NONE.KRV: no such file"), std::string::npos) << out;
  // A missing file is named as given, not as the KRV file it would stand for.
  EXPECT_NE(out.find(d + "/day.flac: no such file"), std::string::npos) << out;
  EXPECT_EQ(out.find("DAY.KRV"), std::string::npos) << out;
  EXPECT_NE(out.find("file,listener,samples,mic_location,aru,aru_text,allowed,worst_section,"
                     "fft_length\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(d + "/GOOD.KRV,unwarned,2048,1,"), std::string::npos) << out;
  EXPECT_EQ(out.find(",warned,"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "BAD.HAZ"));
}

TEST(CliHazard, FindsTheModelThroughManFigAndRefusesBadUsage) {
  TempDir dir;
  const fs::path shot = Synth(dir, "--peak 150 --samples 2048", "SHOT");
  dir.Write("EARTEST.TXT", ReadWholeFile(kTestModel));
  dir.Write("Man.Fig", "EARTEST.TXT\r\ntest parameters\r\n");
  // Man.Fig in the current folder names the parameter file.
  std::string out;
  ASSERT_EQ(
      testing::Shell(
          "cd " + Quoted(dir.path()) + " && " + KORVA_CLI_PATH + " hazard --warned SHOT.KRV", &out),
      0)
      << out;
  EXPECT_NE(out.find("SHOT.KRV: 2048 samples, microphone location 1 (free field)"),
            std::string::npos)
      << out;
  EXPECT_NE(
      out.find("  warned    " + HazardText(InProcessHazard(shot, Listener::Warned)) + " A.R.U."),
      std::string::npos)
      << out;
  // A parameter file that is not one: exit 1 with the file and line named.
  dir.Write("BROKEN.TXT", "1.0\n2.0\n");
  EXPECT_EQ(Cli("hazard --model " + Quoted(dir / "BROKEN.TXT") + " " + Quoted(shot), &out), 1);
  EXPECT_NE(out.find("BROKEN.TXT: line 3: missing"), std::string::npos) << out;
  for (const std::string& usage :
       {"--json --csv " + Quoted(shot), std::string(), "-j 0 " + Quoted(shot)}) {
    EXPECT_EQ(Cli("hazard " + usage, &out), 2) << usage;
  }
}

TEST(CliHazard, CtrlCStopsTheRunWithStatus130AndLeavesNoTableOrResult) {
  TempDir dir;
  // Long enough to be mid-run when the signal comes (seconds of work).
  const fs::path shot = Synth(dir, "--peak 165 --samples 1048576", "LONG");
  const std::string out_file = (dir / "out.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string model = kTestModel.string();
  const std::string file = shot.string();
  std::vector<std::string> args = {KORVA_CLI_PATH, "hazard", "--model", model, file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, KORVA_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(ReadWholeFile(out_file), "");  // no partial result table
  // Only the waveform and the captured output: no .HAZ, whole or half-written.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"LONG.KRV", "out.txt"}));
}

// Memory follows the samples: a hazard run of 65,536 samples fits in an
// address space of 600 MB, as cluster schedulers limit it with ulimit -v.
TEST(CliHazard, ALongWaveformRunsWithinASmallAddressSpace) {
  TempDir dir;
  const fs::path file = dir / "FRIED160.KRV";
  fs::copy_file(fs::path(KORVA_SOURCE_DATA_DIR) / "examples" / "FRIED160.KRV", file);
  std::string out;
  ASSERT_EQ(testing::Shell("prlimit --as=629145600 " + std::string(KORVA_CLI_PATH) +
                               " hazard --warned -j 1 " + Quoted(file),
                           &out),
            0)
      << out;
  EXPECT_NE(out.find(" A.R.U.  allowed exposures "), std::string::npos) << out;
}

}  // namespace
}  // namespace korva
