// End-to-end runs of "korva-cli report" on KRV files written by "korva-cli synth".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliOk;
using testing::JsonField;
using testing::Quoted;
using testing::TempDir;

const std::string kModel =
    "--model " + Quoted(fs::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt") + " ";

// Two shots and, between them, a file that is no waveform.
struct Series {
  TempDir dir;
  fs::path loud, bad, quiet;
  std::string files;

  Series() {
    loud = dir / "LOUD.KRV";
    quiet = dir / "QUIET.KRV";
    bad = dir.Write("BAD.KRV", "not a waveform\n");
    CliOk("synth --peak 160 --samples 4096 " + Quoted(loud));
    CliOk("synth --peak 150 --a-duration 0.5 --samples 4096 " + Quoted(quiet));
    files = Quoted(loud) + " " + Quoted(bad) + " " + Quoted(quiet);
  }
};

std::vector<std::string> Lines(const std::string& text, char first) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    if (end > start && text[start] == first) lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

double Number(const std::string& json, const std::string& key, std::size_t from = 0) {
  return ParseLeadingNumber(JsonField(json, key, from));
}

// The text of the object under "KEY": {...} (objects without nested braces).
std::string Object(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": {");
  if (at == std::string::npos) return "<missing " + key + ">";
  const std::size_t open = json.find('{', at);
  return json.substr(open, json.find('}', open) - open + 1);
}

double EnergyMean(const std::vector<double>& levels) {
  double sum = 0.0;
  for (const double level : levels) sum += std::pow(10.0, level / 10.0);
  return 10.0 * std::log10(sum / static_cast<double>(levels.size()));
}

TEST(CliReport, JsonRowsCarryTheHazardCommandsRunsAndTheSummaryAddsThemUp) {
  const Series series;
  std::string out;
  EXPECT_EQ(Cli("report --json -j 2 " + kModel + series.files, &out), 1) << out;
  // The bad file is named on stderr and as an error row in its place.
  EXPECT_NE(out.find("korva-cli: " + series.bad.string()), std::string::npos) << out;
  const std::vector<std::string> rows = Lines(out, '{');
  ASSERT_EQ(rows.size(), 4u) << out;
  EXPECT_EQ(JsonField(rows[1], "file"), "\"" + series.bad.string() + "\"");
  EXPECT_NE(rows[1].find("\"error\": \""), std::string::npos) << rows[1];
  EXPECT_EQ(rows[1].find("peak_db"), std::string::npos) << rows[1];

  // Each listener's object is exactly what "hazard --json" prints.
  const std::string hazard =
      CliOk("hazard --json " + kModel + Quoted(series.loud) + " " + Quoted(series.quiet));
  const std::vector<std::string> runs = Lines(hazard, '{');
  ASSERT_EQ(runs.size(), 2u) << hazard;
  const std::string shots[] = {rows[0], rows[2]};
  for (std::size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(Object(shots[k], "warned"), Object(runs[k], "warned"));
    EXPECT_EQ(Object(shots[k], "unwarned"), Object(runs[k], "unwarned"));
    EXPECT_EQ(JsonField(shots[k], "rate"), "200000");
    EXPECT_EQ(JsonField(shots[k], "mic_location"), "1");
  }
  EXPECT_NEAR(Number(rows[0], "peak_db"), 160.0 - 0.0206, 0.01);
  EXPECT_NEAR(Number(rows[2], "a_duration_ms"), 0.5, 0.02);

  // The summary: counts, energy means and maxima, least allowed, one day.
  const std::string& summary = rows[3];
  EXPECT_EQ(JsonField(summary, "summary"), "true");
  EXPECT_EQ(JsonField(summary, "files"), "3");
  EXPECT_EQ(JsonField(summary, "failed"), "1");
  std::string sum;
  testing::RunShell("sha256sum " + Quoted(fs::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt"),
                    &sum);
  EXPECT_EQ(JsonField(summary, "model_sha256"), "\"" + sum.substr(0, 64) + "\"");
  for (const std::string key : {"peak_db", "lae_db", "LAeq8hr"}) {
    SCOPED_TRACE(key);
    const double a = Number(shots[0], key);
    const double b = Number(shots[1], key);
    EXPECT_NEAR(Number(summary, key + "_energy_mean"), EnergyMean({a, b}), 1e-9);
    EXPECT_EQ(Number(summary, key + "_max"), std::max(a, b));
  }
  EXPECT_NEAR(Number(summary, "day_LAeq8hr"),
              EnergyMean({Number(shots[0], "LAeq8hr"), Number(shots[1], "LAeq8hr")}) +
                  10.0 * std::log10(2.0),
              1e-9);
  for (const std::string listener : {"warned", "unwarned"}) {
    SCOPED_TRACE(listener);
    const double a = Number(Object(shots[0], listener), "aru");
    const double b = Number(Object(shots[1], listener), "aru");
    EXPECT_NEAR(Number(summary, listener + "_day_aru"), a + b, 1e-6 * (a + b));
    EXPECT_NEAR(Number(summary, listener + "_day_allowed"), 500.0 / (a + b), 1e-6 * 500 / (a + b));
    EXPECT_NEAR(Number(summary, listener + "_least_allowed"), 500.0 / std::max(a, b),
                1e-6 * 500 / std::max(a, b));
    EXPECT_EQ(JsonField(summary, listener + "_least_allowed_file"),
              "\"" + series.loud.string() + "\"");
  }
}

TEST(CliReport, CsvKeepsOneColumnLayoutForShotsErrorsAndSummaryRows) {
  const Series series;
  std::string out;
  EXPECT_EQ(testing::RunShell(std::string(KORVA_CLI_PATH) + " report --csv " + kModel +
                                  series.files + " 2>/dev/null",
                              &out),
            1)
      << out;
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 1u + 3u + 4u) << out;
  const auto count = [](const std::string& line) {
    return std::count(line.begin(), line.end(), ',');
  };
  for (const std::string& line : lines) EXPECT_EQ(count(line), count(lines[0])) << line;
  EXPECT_EQ(lines[0].rfind("file,shot,time_s,samples,rate,mic_location,", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(",warned_aru,warned_aru_text,warned_allowed,"), std::string::npos);
  EXPECT_TRUE(lines[0].ends_with(",error,summary")) << lines[0];
  EXPECT_TRUE(lines[2].rfind(series.bad.string() + ",,", 0) == 0) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(",")) << lines[2];
  EXPECT_TRUE(lines[7].ends_with(",all in one day")) << lines[7];
}

TEST(CliReport, IntervalMovesTheDescriptorsAndAnIntervalOffTheWaveformIsAnErrorRow) {
  const Series series;
  // The impulse stands at 5 ms; from 4 ms on it is 1 ms into the interval.
  const std::string row = CliOk("report --json --from 4 --to 15 " + kModel + Quoted(series.loud));
  EXPECT_NEAR(Number(row, "from_ms"), 4.0, 1e-6);
  EXPECT_NEAR(Number(row, "to_ms"), 15.0, 1e-6);
  EXPECT_NEAR(Number(row, "peak_time_ms"), 1.0, 1e-6);
  std::string out;
  EXPECT_EQ(Cli("report --json --from 50 --to 60 " + kModel + Quoted(series.loud), &out), 1);
  EXPECT_NE(out.find("\"error\": \"the interval lies outside the waveform"), std::string::npos)
      << out;
}

// The pages are drawn with Qt: a build without the window refuses them.
#ifdef KORVA_CLI_DRAWS
constexpr bool kDraws = true;
#else
constexpr bool kDraws = false;
#endif

TEST(CliReport, PagesStandAloneAndThePdfIsA4WithPageNumbers) {
  const Series series;
  const fs::path html = series.dir / "report.html";
  const fs::path pdf = series.dir / "report.pdf";
  std::string out;
  const int status =
      testing::RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                            std::string(KORVA_CLI_PATH) + " report " + kModel + "--html " +
                            Quoted(html) + " --pdf " + Quoted(pdf) + " " + series.files + " 2>&1",
                        &out);
  if (!kDraws) {
    EXPECT_EQ(status, 2) << out;
    EXPECT_FALSE(fs::exists(html) || fs::exists(pdf));
    return;
  }
  EXPECT_EQ(status, 1) << out;  // the bad file, reported in the pages too

  // Every picture of both shots (interval, close-up, spectrum, places) is an
  // embedded PNG that decodes; nothing refers outside the page.
  const fs::path checker = fs::path(KORVA_TEST_DATA_DIR) / ".." / "cli" / "check_report_html.py";
  out.clear();
  EXPECT_EQ(testing::RunShell("/usr/bin/python3 " + Quoted(checker) + " " + Quoted(html), &out), 0)
      << out;
  EXPECT_EQ(out, "pictures: 8\n");
  const std::string page = ReadWholeFile(html);
  EXPECT_NE(page.find("not a KRV waveform file"), std::string::npos);
  EXPECT_NE(page.find("QUIET.KRV"), std::string::npos);
  EXPECT_NE(page.find("test_ear_model.txt (SHA-256 "), std::string::npos);

  out.clear();
  ASSERT_EQ(testing::RunShell("pdfinfo " + Quoted(pdf), &out), 0) << out;
  EXPECT_NE(out.find("(A4)"), std::string::npos) << out;
  const int pages = static_cast<int>(ParseLeadingNumber(out.substr(out.find("Pages:") + 6)));
  EXPECT_GE(pages, 4) << out;
  out.clear();
  ASSERT_EQ(testing::RunShell("pdftotext -f 1 -l 1 " + Quoted(pdf) + " -", &out), 0);
  EXPECT_NE(out.find("page 1 of " + FormatInteger(pages)), std::string::npos) << out;
  EXPECT_NE(out.find("LOUD.KRV"), std::string::npos) << out;

  // A page that cannot be written is known before any work is done.
  EXPECT_EQ(Cli("report " + kModel + "--html " + Quoted(series.dir / "no" / "r.html") + " " +
                    Quoted(series.loud),
                &out),
            1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
}

}  // namespace
}  // namespace korva
