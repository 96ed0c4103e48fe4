// File > "Export report...": the page of the opened waveform with the hazard
// of both listeners, taking the runs already made, and nothing written when
// the export is cancelled.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QRegularExpression>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::size_t FileCount(const fs::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

using ReportTest = WindowTest;

TEST_F(ReportTest, ThePageHoldsBothHazardsTakingTheRunAlreadyMadeAndThePdfOpens) {
  OpenTestFile("SHOT.KRV");
  window_->analysis().RunWarned();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  // The warned run is taken as it stands: marked, it shows on the page.
  ASSERT_TRUE(window_->document().runs[0].has_value());
  ASSERT_FALSE(window_->document().runs[1].has_value());
  window_->document().runs[0]->run.HazardText = "123.4";

  const fs::path page = work_ / "shot.html";
  chooser_.Choose(page);
  window_->report().ExportReport();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  ASSERT_EQ(chooser_.shown().back().title, "Export report");
  const std::string html = ReadFile(page);
  EXPECT_NE(html.find("<td>123.4</td>"), std::string::npos);
  // The unwarned run was made for the page, and is kept for the next one.
  ASSERT_TRUE(window_->document().runs[1].has_value());
  const std::string unwarned = window_->document().runs[1]->run.HazardText;
  EXPECT_NE(html.find("<td>" + unwarned + "</td>"), std::string::npos) << unwarned;

  // Self-contained: every picture is an embedded PNG that decodes.
  const QString text = QString::fromStdString(html);
  EXPECT_FALSE(text.contains(QRegularExpression("(src|href)=\"(?!data:)")));
  int pictures = 0;
  const QRegularExpression png("data:image/png;base64,([A-Za-z0-9+/=]+)");
  for (auto match = png.globalMatch(text); match.hasNext(); ++pictures) {
    const QByteArray bytes = QByteArray::fromBase64(match.next().captured(1).toLatin1());
    EXPECT_FALSE(QImage::fromData(bytes, "PNG").isNull()) << "picture " << pictures;
  }
  EXPECT_GE(pictures, 3);

  const fs::path pdf = work_ / "shot.pdf";
  chooser_.Choose(pdf);
  window_->report().ExportReport();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::string document = ReadFile(pdf);
  EXPECT_EQ(document.substr(0, 5), "%PDF-");
  EXPECT_NE(document.find("%%EOF", document.size() - 16), std::string::npos);
}

TEST_F(ReportTest, RunsMadeSideBySideForThePageEqualThoseOfTheAnalyzeMenu) {
  OpenTestFile("SHOT.KRV");
  chooser_.Choose(work_ / "both.html");
  window_->report().ExportReport();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  ASSERT_TRUE(window_->document().runs[0] && window_->document().runs[1]);
  const double warned = window_->document().runs[0]->run.cochlea.TotalHazardARU;
  const double unwarned = window_->document().runs[1]->run.cochlea.TotalHazardARU;
  EXPECT_GT(unwarned, warned);

  window_->analysis().RunWarned();
  Settle();
  window_->analysis().RunUnwarned();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(window_->document().runs[0]->run.cochlea.TotalHazardARU, warned);
  EXPECT_EQ(window_->document().runs[1]->run.cochlea.TotalHazardARU, unwarned);
}

TEST_F(ReportTest, ACancelledExportWritesNothingAndARefusalComesBeforeTheDialog) {
  OpenTestFile("LONG.KRV", 1 << 18, 20000.0);
  const std::size_t files = FileCount(work_.path());
  chooser_.Choose(work_ / "long.html");
  window_->report().ExportReport();
  CancelOnceWorking();
  EXPECT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(FileCount(work_.path()), files);
  EXPECT_FALSE(window_->document().runs[0].has_value());

  // A microphone location the model cannot take refuses the report at once.
  window_->session().Grid.Cell(1, 3) = "7";
  const std::size_t dialogs = chooser_.shown().size();
  window_->report().ExportReport();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(chooser_.shown().size(), dialogs);
}

}  // namespace
}  // namespace korva::testing
