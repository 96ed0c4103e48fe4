// End-to-end runs of "korva-cli shots" and "korva-cli report --shots" on
// synthetic range recordings written by sox.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"
#include "tests/support/range_recording.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliOk;
using testing::JsonField;
using testing::Quoted;
using testing::RangeRecording;
using testing::TempDir;

const std::string kModel =
    "--model " + Quoted(fs::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt") + " ";
const std::string kScale = "--scale " + FormatShortest(testing::kRecordingFullScalePa) + " ";

// Three shots with echoes in noise over a DC offset; short windows keep the
// runs quick.
RangeRecording ThreeShots() {
  RangeRecording r;
  r.rate = 50000.0;
  r.duration_s = 3.0;
  r.noise_db = 80.0;
  r.offset_pa = 2.0;
  r.shots = {{0.5, 150.0, 0.0005, 1.0, {{0.012, -8.0}}},
             {1.5, 160.0, 0.001, 1.0, {{0.007, -6.0}, {0.02, -12.0}}},
             {2.3, 145.0, 0.0003, 1.0, {}}};
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

double Number(const std::string& json, const std::string& key) {
  return ParseLeadingNumber(JsonField(json, key));
}

// The listener objects of a row, as text: equal text is equal numbers.
std::string Listener(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": {");
  if (at == std::string::npos) return "<missing " + key + ">";
  return json.substr(at, json.find('}', at) - at);
}

// The shots are listed as JSON lines and CSV rows; the files --out writes
// give 'hazard' exactly what 'report --shots' gives for the same shots, and
// the report counts the shots as one day's series.
TEST(CliShots, ListsTheShotsAndTheirFilesGiveWhatReportShotsGives) {
  TempDir dir;
  const RangeRecording range = ThreeShots();
  const fs::path recording = dir / "day.wav";
  testing::WriteRecordingFile(range, recording);

  const std::vector<std::string> json =
      Lines(CliOk("shots --json --post 30 " + kScale + Quoted(recording)));
  ASSERT_EQ(json.size(), 4u) << json.back();
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(json[k]);
    EXPECT_EQ(Number(json[k], "shot"), double(k + 1));
    EXPECT_NEAR(Number(json[k], "time_s"), range.shots[k].onset_s, 1e-4);
    EXPECT_NEAR(Number(json[k], "peak_db"), range.shots[k].peak_db, 0.5);
    EXPECT_EQ(Number(json[k], "channel"), 0.0);
    const double first = Number(json[k], "first_sample");
    EXPECT_NEAR(first, (range.shots[k].onset_s - 0.005) * range.rate, 2.0);
    EXPECT_NEAR(Number(json[k], "samples"), 0.035 * range.rate, 2.0);
  }
  EXPECT_EQ(JsonField(json[3], "summary"), "true");
  EXPECT_EQ(Number(json[3], "shots"), 3.0);
  EXPECT_NEAR(Number(json[3], "background_db"), 80.0, 3.0);

  const fs::path out = dir / "cut";
  const std::vector<std::string> csv = Lines(CliOk("shots --csv --post 30 --mic 2 --out " +
                                                   Quoted(out) + " " + kScale + Quoted(recording)));
  // The levels go to stderr, joined here after the table.
  ASSERT_GE(csv.size(), 4u);
  EXPECT_EQ(csv[0], "shot,time_s,first_sample,samples,peak_db,peak_pa,channel,file");
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_EQ(std::count(csv[k].begin(), csv[k].end(), ','), 7) << csv[k];
    EXPECT_NE(csv[k].find("day-shot00" + std::to_string(k) + ".KRV"), std::string::npos) << csv[k];
  }
  EXPECT_EQ(testing::FileCount(out), 3u) << "no temporary file left";

  const std::string report =
      CliOk("report --json --shots --post 30 --mic 2 " + kModel + kScale + Quoted(recording));
  const std::vector<std::string> rows = Lines(report);
  ASSERT_EQ(rows.size(), 4u) << report;
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(rows[k]);
    EXPECT_EQ(Number(rows[k], "shot"), double(k + 1));
    EXPECT_NEAR(Number(rows[k], "time_s"), Number(json[k], "time_s"), 5e-4);
    EXPECT_EQ(Number(rows[k], "mic_location"), 2.0);
    const fs::path file = out / ("day-shot00" + std::to_string(k + 1) + ".KRV");
    const std::string alone = CliOk("hazard --json " + kModel + Quoted(file));
    EXPECT_EQ(Listener(rows[k], "warned"), Listener(alone, "warned"));
    EXPECT_EQ(Listener(rows[k], "unwarned"), Listener(alone, "unwarned"));
  }
  EXPECT_EQ(Number(rows[3], "shots"), 3.0);
  EXPECT_EQ(Number(rows[3], "failed"), 0.0);
}

// No impulse: exit 1 naming the levels that were looked for; a day of loud
// noise alone is judged against its own background and gives no shots.
TEST(CliShots, ARecordingWithoutShotsExitsOneWithTheLevels) {
  TempDir dir;
  for (const double noise_db : {90.0, 125.0}) {
    RangeRecording quiet = ThreeShots();
    quiet.shots.clear();
    quiet.noise_db = noise_db;
    const fs::path recording = dir / "quiet.wav";
    testing::WriteRecordingFile(quiet, recording);
    std::string out;
    EXPECT_EQ(Cli("shots " + kScale + Quoted(recording), &out), 1) << out;
    SCOPED_TRACE(out);
    EXPECT_NE(out.find("quiet.wav"), std::string::npos);
    EXPECT_NE(out.find("no shot found: the largest pressure is"), std::string::npos);
    EXPECT_NE(out.find("background"), std::string::npos);
    EXPECT_NE(out.find("threshold"), std::string::npos);
  }
  std::string out;
  EXPECT_EQ(Cli("shots --mic 2 " + kScale + Quoted(dir / "quiet.wav"), &out), 2) << out;
}

// The page shows the recording's overview with one mark per shot before
// the shots' own pages, and pictures for as many shots as asked.
TEST(CliShots, ReportPageMarksEveryShotOnTheOverview) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli draws no pages in this build";
  TempDir dir;
  const fs::path recording = dir / "day.wav";
  testing::WriteRecordingFile(ThreeShots(), recording);
  const fs::path html = dir / "day.html";
  CliOk("report --shots --post 30 --pictures 1 --html " + Quoted(html) + " " + kModel + kScale +
        Quoted(recording));
  const std::string page = ReadWholeFile(html);
  std::size_t marks = 0;
  for (std::size_t at = 0; (at = page.find("<area ", at)) != std::string::npos; ++at) ++marks;
  EXPECT_EQ(marks, 3u);
  EXPECT_LT(page.find("Recording "), page.find("day.wav shot 1 at 0.500 s"));
  for (const char* title : {"shot 1", "shot 2", "shot 3"}) {
    EXPECT_NE(page.find(std::string("alt=\"") + title + "\""), std::string::npos) << title;
  }
  const fs::path checker = fs::path(KORVA_TEST_DATA_DIR) / ".." / "cli" / "check_report_html.py";
  std::string out;
  EXPECT_EQ(testing::RunShell("/usr/bin/python3 " + Quoted(checker) + " " + Quoted(html), &out), 0)
      << out;
  // The loudest shot alone has a section with pictures.
  EXPECT_EQ(page.find("id=\"shot-"), page.rfind("id=\"shot-"));
  EXPECT_NE(page.find("id=\"shot-2\""), std::string::npos);
}

}  // namespace
}  // namespace korva
