// The criteria in the window: Statistics' descriptor table judges the
// interval, and File > "Export report..." carries the verdict with the ear
// model under the protectors chosen for the report.
#include <gtest/gtest.h>

#include <QTableWidget>
#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "tests/ui/window_fixture.h"
#include "ui/protector_choice_dialog.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

using VerdictTest = WindowTest;

// The value column of the descriptor table's row `name`.
std::string Value(const QTableWidget& table, const char* name) {
  for (int row = 0; row < table.rowCount(); ++row) {
    if (table.item(row, 0)->text() == name) return table.item(row, 1)->text().toStdString();
  }
  return "<no row " + std::string(name) + ">";
}

TEST_F(VerdictTest, StatisticsJudgesTheIntervalOfAFreeFieldWaveformOnly) {
  // 2000 Pa: a 160 dB peak.
  OpenTestFile("BLAST.KRV", 4100, 2000.0);
  window_->analysis().StartStatistics();
  emit window_->edit().LinesReleased(ui::CursorTask::kStatistics);
  Settle();
  const QTableWidget& table = *window_->analysis().Descriptors();
  EXPECT_EQ(Value(table, "EU peak tier"), "limit");
  EXPECT_EQ(Value(table, "OSHA peak"), "exceeded");
  EXPECT_EQ(Value(table, "DoD peak"), "exceeded");
  EXPECT_GT(std::stod(Value(table, "1474E LIAeq8hr")), 40.0);
  EXPECT_GT(std::stod(Value(table, "NIOSH dose")), 0.0);
  SaveCanvas("korva-window-statistics-criteria.png");
  window_->analysis().EndStatistics();
  Settle();

  // Recorded at the eardrum: nothing to compare with free-field limits.
  OpenTestFile("DRUM.KRV", 4100, 2000.0, 3);
  window_->analysis().StartStatistics();
  emit window_->edit().LinesReleased(ui::CursorTask::kStatistics);
  Settle();
  EXPECT_EQ(Value(table, "Criteria"), "left out");
  EXPECT_EQ(Value(table, "EU peak tier"), "<no row EU peak tier>");
}

TEST_F(VerdictTest, TheReportCarriesTheVerdictUnderTheProtectorsChosenForIt) {
  ui::ProtectorChoiceDialog dialog({"FOAM PLUG", "EARMUFF"}, {"EARMUFF"});
  ASSERT_EQ(dialog.List()->count(), 2);
  EXPECT_EQ(dialog.Chosen(), std::vector<std::string>{"EARMUFF"});
  dialog.List()->item(0)->setCheckState(Qt::Checked);
  dialog.List()->item(1)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(dialog.Chosen(), std::vector<std::string>{"FOAM PLUG"});

  const std::string table_before = ReadWholeFile(data_ / "HPD Atten.txt");
  window_->report().SetReportProtectors({"FOAM PLUG"});
  OpenTestFile("SHOT.KRV");
  const fs::path page = work_ / "shot.html";
  chooser_.Choose(page);
  window_->report().ExportReport();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::string html = ReadWholeFile(page);
  const std::size_t verdict = html.find("<h2>Verdict</h2>");
  ASSERT_NE(verdict, std::string::npos);
  EXPECT_NE(html.find("Limiting: ", verdict), std::string::npos);
  EXPECT_NE(html.find("With FOAM PLUG: ", verdict), std::string::npos);
  EXPECT_NE(html.find("<td class=\"name\">FOAM PLUG</td>", verdict), std::string::npos);
  EXPECT_NE(html.find("alt=\"Allowed shots per day", verdict), std::string::npos);
  // The prediction neither rewrites the table nor leaves a protected file.
  EXPECT_EQ(ReadWholeFile(data_ / "HPD Atten.txt"), table_before);
  EXPECT_FALSE(fs::exists(work_ / "SHOT_FOAM PLUG_90.KRV"));

  // A protector gone from the table refuses the report before the dialog.
  window_->report().SetReportProtectors({"GONE"});
  const std::size_t dialogs = chooser_.shown().size();
  window_->report().ExportReport();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors().front().find("no default-mode protector named \"GONE\""), std::string::npos)
      << Errors().front();
  EXPECT_EQ(chooser_.shown().size(), dialogs);
}

}  // namespace
}  // namespace korva::testing
