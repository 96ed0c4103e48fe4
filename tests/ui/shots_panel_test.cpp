// The Shots panel: what Open recording finds in the recording, a shot opened
// as its KRV file opens, and the series analysed and reported as the driver
// and the report pages make it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <limits>
#include <span>
#include <vector>

#include "core/analysis/series.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/recording/shot_files.h"
#include "core/waveform/waveform.h"
#include "tests/support/range_recording.h"
#include "tests/ui/window_fixture.h"
#include "ui/recording_dialog.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

// Three shots with echoes in noise over a recorder's DC offset, at a rate
// that keeps the hazard runs short.
RangeRecording ThreeShots(double noise_db = 80.0) {
  RangeRecording r;
  r.rate = 50000.0;
  r.duration_s = 3.0;
  r.noise_db = noise_db;
  r.offset_pa = 2.0;
  r.shots = {{0.5, 150.0, 0.0005, 1.0, {{0.012, -8.0}}},
             {1.5, 160.0, 0.001, 1.0, {{0.007, -6.0}, {0.02, -12.0}}},
             {2.3, 145.0, 0.0003, 1.0, {}}};
  return r;
}

class ShotsPanelTest : public WindowTest {
 protected:
  // Writes the recording and opens it with Open recording, scaled to pascals.
  fs::path OpenRecording(const RangeRecording& recording) {
    const fs::path file = work_.path() / "day.wav";
    WriteRecordingFile(recording, file);
    chooser_.Choose(file);
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<ui::RecordingDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->findChild<QComboBox*>("Calibration")->setCurrentIndex(ui::RecordingDialog::kScale);
      dialog->findChild<QLineEdit*>("Scale")->setText(
          QString::fromStdString(FormatShortest(kRecordingFullScalePa)));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    window_->file().OpenRecording();
    Settle();  // the open, then the search
    return file;
  }

  // What the core finds with the detector's defaults in the whole channel.
  static RecordingShots CoreShots(const fs::path& file) {
    ShotSearch search;
    search.recording.calibration.scale = kRecordingFullScalePa;
    NoProgress quiet;
    return FindRecordingShots(file, search, quiet);
  }

  ui::ShotsController& Shots() { return window_->shots(); }

  std::vector<float> Samples() {
    const Session& session = window_->session();
    const std::span<const float> s = std::as_const(session.Pressure).Range(0, session.LastSample);
    return {s.begin(), s.end()};
  }

  void Click(QWidget& widget, QPoint at, QEvent::Type type = QEvent::MouseButtonPress) {
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
    PumpEvents();
  }
};

TEST_F(ShotsPanelTest, ListsTheDetectorsShotsAndARowAndAMarkSelectTheSameShot) {
  const fs::path file = OpenRecording(ThreeShots());
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  ASSERT_TRUE(Shots().Dock().isVisible());
  const RecordingShots core = CoreShots(file);
  ASSERT_EQ(core.shots.size(), 3u);
  QTableWidget& table = Shots().ShotTable();
  ASSERT_EQ(table.rowCount(), 3);
  for (int k = 0; k < 3; ++k) {
    const Shot& shot = core.shots[static_cast<std::size_t>(k)];
    EXPECT_EQ(table.item(k, 0)->text().toInt(), shot.number);
    EXPECT_EQ(table.item(k, 1)->text().toStdString(), FormatFixed(shot.time_s, 3));
    EXPECT_EQ(table.item(k, 2)->text().toStdString(), FormatFixed(shot.peak_db, 2));
  }
  EXPECT_TRUE(Shots().Dock().findChild<QPushButton*>("AnalyzeAllShots")->isEnabled());
  SaveCanvas("shots-panel.png");

  // A mark's click selects its row; a row's selection marks its shot.
  ui::ShotsOverview& overview = Shots().Overview();
  for (int k : {1, 2, 0}) {
    const QRect area = overview.MarkArea(k);
    ASSERT_FALSE(area.isNull()) << k;
    Click(overview, area.center());
    EXPECT_EQ(Shots().Selected(), k);
    EXPECT_EQ(table.currentRow(), k);
  }
  table.setCurrentCell(2, 1);
  PumpEvents();
  EXPECT_EQ(overview.Selected(), 2);
  Click(overview, {2, 2});  // no mark there: the selection stays
  EXPECT_EQ(Shots().Selected(), 2);
}

TEST_F(ShotsPanelTest, AnOpenedShotIsTheWaveformItsWrittenFileOpensTo) {
  const fs::path file = OpenRecording(ThreeShots());
  const RecordingShots core = CoreShots(file);
  ASSERT_EQ(core.shots.size(), 3u);
  fs::create_directory(work_.path() / "out");
  const fs::path written = WriteShotFile(core.source, core.shots[1], work_.path() / "out");
  NoProgress quiet;
  const Waveform expected = ReadWaveform(written, quiet);

  // The shot before it, opened and run, leaves a movie; a double click on
  // the next mark opens that shot and closes the movie.
  Shots().OpenShot(0);
  Settle();
  window_->analysis().RunWarned();
  Settle();
  ASSERT_TRUE(window_->session().MovieAvailable);
  ui::ShotsOverview& overview = Shots().Overview();
  Click(overview, overview.MarkArea(1).center(), QEvent::MouseButtonDblClick);
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const Session& session = window_->session();
  EXPECT_EQ(Samples(), expected.samples);
  EXPECT_FALSE(session.MovieAvailable);
  EXPECT_EQ(session.SampleRate, expected.SampleRate);
  EXPECT_EQ(session.MicLocation, expected.MicLocation);
  EXPECT_EQ(session.WaveformTitle, ShotTitle(core.source, core.shots[1]));
  for (int row = 0; row <= 4; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(session.Grid.Cell(column, row), expected.Grid.Cell(column, row)) << row;
    }
  }
  // A new history, nothing to save; Save waits for Save As to name a file.
  EXPECT_FALSE(window_->document().Modified());
  EXPECT_FALSE(window_->findChild<QAction*>("SaveKRVwaveform1")->isEnabled());
  EXPECT_TRUE(window_->findChild<QAction*>("SaveKRVwaveformas1")->isEnabled());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_EQ(window_->document().chosen_file, file.parent_path() / "day-shot002.KRV");
}

TEST_F(ShotsPanelTest, AnalyzeAllShotsGivesTheDriversRowsCancelKeepsAllAndTheReportHasTheSeries) {
  const fs::path file = OpenRecording(ThreeShots());
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::vector<float> before = Samples();
  Shots().SelectShot(1);

  Shots().AnalyzeAllShots();
  CancelOnceWorking();
  EXPECT_TRUE(Shots().Series().empty());
  EXPECT_EQ(Shots().SeriesTable().rowCount(), 0);
  EXPECT_EQ(Shots().ShotTable().rowCount(), 3);
  EXPECT_EQ(Shots().Selected(), 1);
  EXPECT_EQ(Samples(), before);
  EXPECT_FALSE(Shots().SeriesShown());

  Shots().AnalyzeAllShots();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  AnalysisOptions options;
  options.model_file = window_->workspace().ModelFileForRun();
  ThreadPool pool(2);
  options.pool = &pool;
  NoProgress quiet;
  const std::vector<ShotReport> driver =
      AnalyzeShots(file.string(), CoreShots(file), options, quiet);
  const std::vector<ShotReport>& rows = Shots().Series();
  ASSERT_EQ(rows.size(), driver.size());
  QTableWidget& table = Shots().SeriesTable();
  ASSERT_EQ(table.rowCount(), static_cast<int>(rows.size()) + 1);
  for (std::size_t k = 0; k < rows.size(); ++k) {
    SCOPED_TRACE(ShotName(driver[k]));
    ASSERT_FALSE(rows[k].failed()) << rows[k].error;
    EXPECT_EQ(rows[k].shot, driver[k].shot);
    EXPECT_EQ(rows[k].time_s, driver[k].time_s);
    EXPECT_EQ(rows[k].descriptors.peak_db, driver[k].descriptors.peak_db);
    for (std::size_t listener : {0u, 1u}) {
      ASSERT_TRUE(rows[k].hazard[listener] && driver[k].hazard[listener]);
      EXPECT_EQ(rows[k].hazard[listener]->cochlea.TotalHazardARU,
                driver[k].hazard[listener]->cochlea.TotalHazardARU);
    }
    const int row = static_cast<int>(k);
    EXPECT_EQ(table.item(row, 3)->text().toStdString(),
              driver[k].Run(Listener::Warned)->HazardText);
    EXPECT_EQ(table.item(row, 6)->text().toStdString(),
              driver[k].Run(Listener::Unwarned)->AllowedText);
  }
  const ShotSummary summary = SummariseShots(driver);
  EXPECT_EQ(table.item(3, 3)->text().toStdString(),
            HazardText(static_cast<float>(summary.day_aru[0])));
  // The series' row of the selected shot is selected too.
  EXPECT_EQ(table.currentRow(), 1);

  // Export report writes the series: its overview has a mark per shot.
  ASSERT_TRUE(Shots().SeriesShown());
  chooser_.Choose(work_.path() / "day.html");
  window_->report().ExportReport();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::string html = ReadWholeFile(work_.path() / "day.html");
  std::size_t marks = 0;
  for (std::size_t at = html.find("<area "); at != std::string::npos;
       at = html.find("<area ", at + 1)) {
    ++marks;
  }
  EXPECT_EQ(marks, 3u);
  for (const char* shot : {"day.wav shot 1 at", "day.wav shot 3 at"}) {
    EXPECT_NE(html.find(shot), std::string::npos) << shot;
  }
}

TEST_F(ShotsPanelTest, ARecordingWithoutShotsSaysSoWithTheLevels) {
  RangeRecording quiet = ThreeShots();
  quiet.shots.clear();
  const fs::path file = OpenRecording(quiet);
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const QString status = Shots().Status().text();
  EXPECT_TRUE(status.contains(QString::fromStdString(NoShotsText(CoreShots(file).summary))))
      << status.toStdString();
  EXPECT_EQ(Shots().ShotTable().rowCount(), 0);
  EXPECT_FALSE(Shots().Dock().findChild<QPushButton*>("AnalyzeAllShots")->isEnabled());
}

}  // namespace
}  // namespace korva::testing
