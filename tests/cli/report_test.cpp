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

// The fields of a CSV line, quotes taken off.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
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
  const auto count = [](const std::string& line) { return CsvFields(line).size(); };
  for (const std::string& line : lines) EXPECT_EQ(count(line), count(lines[0])) << line;
  EXPECT_EQ(lines[0].rfind("file,samples,rate,mic_location,", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(",warned_aru,warned_aru_text,warned_allowed,"), std::string::npos);
  // The series' own criteria follow the shots' columns.
  EXPECT_TRUE(lines[0].ends_with(
      ",error,criteria_eu_lex8h_db,criteria_eu_lex8h_tier,criteria_limiting,summary"))
      << lines[0];
  EXPECT_TRUE(lines[2].rfind(series.bad.string() + ",,", 0) == 0) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(",")) << lines[2];
  EXPECT_TRUE(lines[7].ends_with(",all in one day")) << lines[7];
}

// The key paths of each JSON line of `out` ("criteria.mil1474e.allowed"), one
// line of them per JSON line, by an independent parser.
std::vector<std::string> KeyPaths(const std::string& out) {
  const std::string script =
      "import json,sys\n"
      "def paths(o, p=''):\n"
      "    for k, v in o.items():\n"
      "        yield from paths(v, p + k + '.') if isinstance(v, dict) else [p + k]\n"
      "for line in sys.stdin:\n"
      "    if line.startswith('{'): print(' '.join(paths(json.loads(line))))\n";
  TempDir dir;
  const fs::path json = dir.Write("out.json", out);
  const fs::path py = dir.Write("paths.py", script);
  std::string keys;
  EXPECT_EQ(testing::RunShell("/usr/bin/python3 " + Quoted(py) + " < " + Quoted(json), &keys), 0);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = keys.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(" " + keys.substr(start, end - start) + " ");
  }
  return lines;
}

// The criteria and the verdict, with a protector, in the three outputs: the
// keys of the issue, the CSV flattened by the same rule, the text's sentence
// at the top of the summary; the protector table is read, never written.
TEST(CliReport, CriteriaProtectorsAndTheVerdictInJsonCsvAndText) {
  const Series series;
  const fs::path table = fs::path(KORVA_SOURCE_DATA_DIR) / "HPD Atten.txt";
  const std::string table_bytes = ReadWholeFile(table);
  const std::string args = "report -j 2 --protector earmuff --table " + Quoted(table) + " " +
                           kModel + Quoted(series.loud) + " ";
  const std::string json = CliOk(args + "--json");
  const std::vector<std::string> keys = KeyPaths(json);
  ASSERT_EQ(keys.size(), 2u) << json;
  for (const char* key :
       {"criteria.eu_peak_tier", "criteria.osha_peak_exceeded", "criteria.dod_unprotected_exceeded",
        "criteria.niosh_dose_percent", "criteria.mil1474e.a_duration_corrected_ms",
        "criteria.mil1474e.correction_db", "criteria.mil1474e.liaeq8hr_db",
        "criteria.mil1474e.liaeq8hr_uncorrected_db", "criteria.mil1474e.allowed",
        "criteria.mil1474e.dose_percent", "protected.EARMUFF.warned_aru",
        "protected.EARMUFF.unwarned_aru", "protected.EARMUFF.warned_allowed",
        "protected.EARMUFF.unwarned_allowed", "protected.EARMUFF.eardrum_peak_db"}) {
    EXPECT_NE(keys[0].find(std::string(" ") + key + " "), std::string::npos) << key;
  }
  for (const char* key :
       {"criteria.eu_lex8h_db", "criteria.eu_lex8h_tier", "criteria.niosh_dose_percent",
        "criteria.mil1474e.liaeq8hr_db", "criteria.mil1474e.allowed", "criteria.limiting",
        "protected.EARMUFF.unwarned_allowed", "verdict", "protector_note"}) {
    EXPECT_NE(keys[1].find(std::string(" ") + key + " "), std::string::npos) << key;
  }
  const std::vector<std::string> rows = Lines(json, '{');
  EXPECT_EQ(JsonField(rows[0], "eu_peak_tier"), "\"limit\"");
  EXPECT_EQ(JsonField(rows[0], "osha_peak_exceeded"), "true");
  EXPECT_NE(rows[1].find("\"limiting\": \"Limiting: EU exposure limit value (LCpeak "),
            std::string::npos)
      << rows[1];
  EXPECT_NE(rows[1].find("With EARMUFF: "), std::string::npos) << rows[1];
  // The protected hazard is lower than the free field's.
  EXPECT_LT(Number(Object(rows[0], "EARMUFF"), "unwarned_aru"),
            Number(Object(rows[0], "unwarned"), "aru"));

  const std::string csv = CliOk(args + "--csv");
  std::vector<std::vector<std::string>> table_rows;
  for (std::size_t start = 0, end; (end = csv.find('\n', start)) != std::string::npos;
       start = end + 1) {
    table_rows.push_back(CsvFields(csv.substr(start, end - start)));
  }
  ASSERT_EQ(table_rows.size(), 1u + 1u + 4u) << csv;
  const std::vector<std::string>& header = table_rows[0];
  const auto column = [&](const std::string& name) {
    const auto at = std::find(header.begin(), header.end(), name);
    EXPECT_NE(at, header.end()) << name;
    return static_cast<std::size_t>(at - header.begin());
  };
  for (const auto& row : table_rows) EXPECT_EQ(row.size(), header.size());
  EXPECT_EQ(table_rows[1][column("criteria_eu_peak_tier")], "limit");
  EXPECT_EQ(table_rows[1][column("protected_EARMUFF_unwarned_aru")],
            JsonField(Object(rows[0], "EARMUFF"), "unwarned_aru"));
  EXPECT_EQ(table_rows[5].back(), "all in one day");
  EXPECT_EQ(table_rows[5][column("criteria_limiting")].rfind("Limiting: EU exposure limit", 0), 0u);
  EXPECT_TRUE(table_rows[1][column("criteria_limiting")].empty());

  const std::string text = CliOk(args);
  const std::size_t summary = text.find("summary: 1 file, 0 failed\n  Limiting: EU exposure");
  EXPECT_NE(summary, std::string::npos) << text;
  EXPECT_NE(text.find("under EARMUFF"), std::string::npos) << text;
  EXPECT_NE(text.find("exceeded at the first shot", summary), std::string::npos) << text;
  EXPECT_NE(text.find("are not recomputed", summary), std::string::npos) << text;
  // The verdict's table keeps its last column in place whatever the widths
  // of the cells before it.
  const std::size_t header_at = text.find("    criterion ", summary);
  ASSERT_NE(header_at, std::string::npos) << text;
  const std::size_t last_column = text.find("allowed shots a day", header_at) - header_at;
  int rows_seen = 0;
  for (std::size_t at = text.find('\n', header_at) + 1; text.compare(at, 4, "    ") == 0;
       at = text.find('\n', at) + 1, ++rows_seen) {
    EXPECT_EQ(text[at + last_column - 1], ' ') << text.substr(at, text.find('\n', at) - at);
    EXPECT_NE(text[at + last_column], ' ') << text.substr(at, text.find('\n', at) - at);
  }
  EXPECT_EQ(rows_seen, 10) << text;

  EXPECT_EQ(ReadWholeFile(table), table_bytes);
  std::string out;
  EXPECT_EQ(Cli(args + "--protector CHEWING_GUM", &out), 1);
  EXPECT_NE(out.find("no default-mode protector named \"CHEWING_GUM\""), std::string::npos) << out;
  EXPECT_EQ(Cli(args + "--protectors all", &out), 2) << out;
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
  // ... and the verdict's chart.
  EXPECT_EQ(out, "pictures: 9\n");
  const std::string page = ReadWholeFile(html);
  const std::size_t verdict = page.find("<h2>Verdict</h2>");
  EXPECT_LT(verdict, page.find("<h2>Summary</h2>"));
  EXPECT_NE(page.find("Limiting: EU exposure limit value (LCpeak 15", verdict), std::string::npos);
  EXPECT_NE(page.find("<th>Allowed shots a day</th>", verdict), std::string::npos);
  EXPECT_NE(page.find("exceeded at the first shot", verdict), std::string::npos);
  EXPECT_NE(page.find("alt=\"Allowed shots per day by criterion and protector\"", verdict),
            std::string::npos);
  EXPECT_NE(page.find("<h2>Criteria of each shot</h2>"), std::string::npos);
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
  EXPECT_NE(out.find("Allowed shots per day"), std::string::npos) << out;

  // A page that cannot be written is known before any work is done.
  EXPECT_EQ(Cli("report " + kModel + "--html " + Quoted(series.dir / "no" / "r.html") + " " +
                    Quoted(series.loud),
                &out),
            1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
}

}  // namespace
}  // namespace korva
