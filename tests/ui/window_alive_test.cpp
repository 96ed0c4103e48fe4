// The window stays alive and keeps the user's data: a hazard run in the
// background with Cancel, refusals instead of queued input, redrawing at any
// size, abandoning edits, opening files from outside, and telling what was
// written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <functional>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/header_cells.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

std::vector<float> Samples(const Session& s) {
  std::vector<float> out;
  for (std::int32_t k = 0; k <= s.LastSample; ++k) out.push_back(s.Pressure[k]);
  return out;
}

std::vector<std::string> Folder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

QString Status(const ui::MainWindow& window) {
  return window.statusBar()->currentMessage();
}

class AliveTest : public WindowTest {
 protected:
  // Lets the event loop run for `ms` milliseconds.
  static void RunFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  void Key(int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(window_->StringGrid1(), &press);
  }
  void Drag(int from, int to) {
    QWidget* canvas = &window_->canvas();
    const PlotRect plot = window_->workspace().picture().CursorPlot();
    auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, int x) {
      const QPointF at(x, plot.top + plot.height / 2);
      QMouseEvent event(type, at, canvas->mapToGlobal(at), button, held, Qt::NoModifier);
      QApplication::sendEvent(canvas, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, from);
    send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, to);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, to);
    Settle();
  }
  std::vector<std::string> GridTexts() const {
    std::vector<std::string> texts;
    const QTableWidget* grid = window_->StringGrid1();
    for (int row = 0; row < grid->rowCount(); ++row) {
      for (int column = 0; column < grid->columnCount(); ++column) {
        const QTableWidgetItem* item = grid->item(row, column);
        texts.push_back(item ? item->text().toStdString() : std::string());
      }
    }
    return texts;
  }
  // Starts a warned run on a long, loud waveform and waits until it is computing.
  void StartLongRun() {
    OpenTestFile("LONG.KRV", 1 << 18, 20000.0);
    ASSERT_TRUE(Informed().empty()) << Informed().front();
    window_->analysis().RunWarned();
    RunFor(200);
    ASSERT_TRUE(window_->workspace().runner().Working());
  }
};

TEST_F(AliveTest, ACancelledHazardRunLeavesSessionGridPictureAndFilesAsTheyWere) {
  OpenTestFile("LONG.KRV", 1 << 18, 20000.0);
  const std::vector<float> samples = Samples(window_->session());
  const std::vector<std::string> grid = GridTexts();
  const QImage picture = window_->canvas().Image().copy();
  const std::vector<std::string> files = Folder(work_.path());
  const std::size_t dialogs = chooser_.shown().size();

  bool timer_fired = false;
  QTimer::singleShot(50, window_.get(), [&timer_fired] { timer_fired = true; });
  window_->analysis().RunWarned();
  RunFor(300);
  ASSERT_TRUE(window_->workspace().runner().Working());
  // The event loop runs; the commands that would conflict are disabled and a
  // trigger meanwhile is refused, not kept for later.
  EXPECT_TRUE(timer_fired);
  EXPECT_TRUE(window_->CancelButton()->isVisible());
  QAction* open = window_->findChild<QAction*>("OpenKRVwaveform1");
  EXPECT_FALSE(open->isEnabled());
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_TRUE(window_->findChild<QAction*>("Copyscreentoclipboard1")->isEnabled());
  open->trigger();
  window_->analysis().RunUnwarned();
  window_->analysis().ShowSpectrum();

  Key(Qt::Key_Escape);
  Settle();
  EXPECT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_EQ(chooser_.shown().size(), dialogs);
  EXPECT_EQ(Samples(window_->session()), samples);
  EXPECT_EQ(GridTexts(), grid);
  EXPECT_EQ(window_->canvas().Image(), picture);
  EXPECT_EQ(Folder(work_.path()), files);
  EXPECT_FALSE(window_->document().last_run.has_value());
  EXPECT_TRUE(window_->movie().Items().empty());
  EXPECT_EQ(window_->analysis().ExitSpectrumItem(), nullptr);
  EXPECT_TRUE(open->isEnabled());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->CancelButton()->isVisible());
  EXPECT_TRUE(Status(*window_).endsWith("cancelled")) << Status(*window_).toStdString();
}

TEST_F(AliveTest, ClosingDuringARunAsksAndStopsItOnlyWhenTheUserAgrees) {
  StartLongRun();
  prompter_.Confirm(false);
  window_->close();
  RunFor(100);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->workspace().runner().Working());
  ASSERT_FALSE(prompter_.asked().empty());
  EXPECT_EQ(prompter_.asked().back().question, ui::kQuitQuestion);

  prompter_.Confirm(true);
  window_->close();
  Settle();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(window_->document().last_run.has_value());
  EXPECT_FALSE(fs::exists(work_ / "LONG.HAZ"));
}

TEST_F(AliveTest, ALocationThatIsNoWholeNumberIsRefusedBeforeTheEditedWaveformIsTouched) {
  OpenTestFile("BLAST.KRV", 4096);
  prompter_.Text("5000");
  window_->edit().CalibrateWaveform(7);  // an edit since the opening
  const std::vector<float> edited = Samples(window_->session());
  ASSERT_NE(edited, std::vector<float>(edited.size(), 0.0f));
  // Typed into the cell without the grid's own check running.
  window_->StringGrid1()->item(3, 1)->setText("2.5");
  window_->analysis().RunWarned();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], kBadLocationMessage);
  EXPECT_EQ(Samples(window_->session()), edited);
  EXPECT_EQ(window_->session().Grid.Cell(1, 3), "2.5");
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
}

TEST_F(AliveTest, TheCanvasIsDrawnAgainWholeAtEverySize) {
  OpenTestFile("BLAST.KRV", 4096);
  window_->analysis().RunWarned();
  Settle();
  auto count_in_plot = [this](QRgb colour) {
    const QImage& image = window_->canvas().Image();
    const PlotRect plot = window_->workspace().picture().CursorPlot();
    int count = 0;
    for (int y = plot.top; y < plot.top + plot.height; ++y) {
      for (int x = plot.left; x < plot.left + plot.width; ++x) {
        if ((image.pixel(x, y) & 0xFFFFFFu) == colour) ++count;
      }
    }
    return count;
  };
  EXPECT_GT(count_in_plot(0x0000FFu), 200);
  EXPECT_GT(count_in_plot(0x00AAAAu), 100);  // the reflex curve
  for (const QSize size : {QSize(820, 620), QSize(1200, 900)}) {
    window_->resize(size);
    PumpEvents();
    SCOPED_TRACE(window_->canvas().Image().width());
    EXPECT_EQ(window_->canvas().Image().size(), window_->canvas().size());
    EXPECT_GT(count_in_plot(0x0000FFu), 200);
    EXPECT_GT(count_in_plot(0x00AAAAu), 100);
  }
  SaveCanvas("korva-window-resized.png");
}

TEST_F(AliveTest, EscOrCancelAbandonsAnyArmedEditLeavingEverythingAsItWas) {
  OpenTestFile("BLAST.KRV", 4096);
  const std::vector<float> samples = Samples(window_->session());
  const std::vector<std::string> grid = GridTexts();
  const QImage picture = window_->canvas().Image().copy();
  const std::pair<const char*, std::function<void()>> edits[] = {
      {"Select Segment", [this] { window_->edit().StartSelectSegment(); }},
      {"Set Baseline", [this] { window_->edit().StartSetBaseline(); }},
      {"Establish Start", [this] { window_->edit().StartEstablishStart(); }},
      {"Taper Ends", [this] { window_->edit().StartTaper(); }},
      {"Statistics", [this] { window_->analysis().StartStatistics(); }}};
  bool by_key = true;
  for (const auto& [name, arm] : edits) {
    SCOPED_TRACE(name);
    arm();
    ASSERT_TRUE(window_->edit().Cursor().Active());
    ASSERT_TRUE(window_->findChild<QPushButton*>("CancelEdit")->isVisible());
    // Set Baseline's first stage has changed the view when it is abandoned.
    if (std::string(name) == "Set Baseline") window_->edit().ExpandBaselineView();
    Drag(window_->edit().Cursor().X1(), window_->edit().Cursor().X1() + 40);
    if (by_key) {
      Key(Qt::Key_Escape);
    } else {
      window_->findChild<QPushButton*>("CancelEdit")->click();
    }
    by_key = !by_key;
    EXPECT_FALSE(window_->edit().Cursor().Active());
    EXPECT_EQ(Samples(window_->session()), samples);
    EXPECT_EQ(GridTexts(), grid);
    EXPECT_EQ(window_->canvas().Image(), picture);
    EXPECT_TRUE(window_->workspace().PopupOn());
    EXPECT_TRUE(window_->findChild<QAction*>("OpenKRVwaveform1")->isEnabled());
  }
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST_F(AliveTest, EveryEditLeavesTheCountAndRateCellsEqualToTheSession) {
  OpenTestFile("BLAST.KRV", 4096);
  auto check = [this](const char* after) {
    SCOPED_TRACE(after);
    const Session& s = window_->session();
    const QTableWidget* grid = window_->StringGrid1();
    EXPECT_EQ(grid->item(4, 1)->text().toStdString(), FormatInteger(s.LastSample + 1));
    EXPECT_EQ(CellNumber(grid->item(2, 1)->text().toStdString()),
              std::optional<double>(s.SampleRate));
  };
  // Each edit with a drag under the Select Segment read-out, which writes
  // the count of the lines into the count cell while they move.
  window_->edit().StartSelectSegment();
  Drag(window_->edit().Cursor().X1(), window_->edit().Cursor().X1() + 30);
  window_->edit().CutToSegment();
  check("Select Segment");
  window_->edit().StartSetBaseline();
  window_->edit().ExpandBaselineView();
  Drag(window_->edit().Cursor().X1(), window_->edit().Cursor().X1() + 30);
  window_->edit().SubtractBaseline();
  check("Set Baseline");
  window_->edit().StartTaper();
  Drag(window_->edit().Cursor().X1(), window_->edit().Cursor().X1() + 30);
  window_->edit().ApplyTaper();
  check("Taper Ends");
  window_->edit().StartEstablishStart();
  window_->edit().ShiftToStart();
  check("Establish Start");
  window_->analysis().StartStatistics();
  window_->analysis().EndStatistics();
  check("Statistics");
  prompter_.Text("2");
  window_->edit().CalibrateWaveform(0);
  check("Calibrate");
  prompter_.Confirm(true).Text("100000");
  window_->edit().ResampleWaveform();
  Settle();
  check("Resample");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST_F(AliveTest, FilesFromTheCommandLineDropsAndTheRecentList) {
  const fs::path krv = work_.Write("SHOT.KRV", TestKrvText("SHOT", 2048, 2000.0));
  window_->OpenArguments({QString::fromStdString(krv.string())});
  Settle();
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: SHOT");
  EXPECT_TRUE(window_->session().WaveformLoaded);

  // A recording is imported, here dropped on the window.
  const fs::path text = work_.Write("rec.txt", "1\r\n5\r\n-3\r\n2\r\n");
  prompter_.Choice(Answer::kYes).Text("1");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(text.string()))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &drop);
  Settle();
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD IMPORTING FILE: rec.txt");
  EXPECT_EQ(window_->session().LastSample, 3);

  // Newest first, kept between runs, at most eight; a recent item opens again.
  ASSERT_EQ(window_->file().RecentFiles(), (QStringList{QString::fromStdString(text.string()),
                                                        QString::fromStdString(krv.string())}));
  const QList<QAction*> items = window_->file().RecentMenu()->actions();
  ASSERT_EQ(items.size(), 2);
  items.back()->trigger();
  Settle();
  EXPECT_TRUE(window_->session().WaveformLoaded);
  EXPECT_EQ(window_->file().RecentFiles().front().toStdString(), krv.string());
  for (int i = 0; i < 10; ++i) {
    window_->OpenArguments({QString::fromStdString(
        work_.Write("S" + FormatInteger(i) + ".KRV", TestKrvText("S", 512, 100.0)).string())});
    Settle();
  }
  EXPECT_EQ(window_->file().RecentFiles().size(), ui::kRecentFiles);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST_F(AliveTest, TheStatusBarNamesEveryFileWritten) {
  fs::create_directories(data_.path() / "Dat" / "Hearing Protectors");
  const fs::path file = OpenTestFile("SHOT.KRV", 4096);
  auto shows = [this](const fs::path& written) {
    const QString message = Status(*window_);
    EXPECT_TRUE(message.contains("Saved " + QString::fromStdString(written.string())))
        << message.toStdString() << " lacks " << written;
    EXPECT_TRUE(fs::exists(written)) << written;
  };
  window_->analysis().RunWarned();
  Settle();
  shows(work_ / "SHOT.HAZ");
  window_->analysis().ShowSpectrum();
  Settle();
  shows(work_ / "SHOT.TOB");
  window_->analysis().ExitSpectrum();
  OpenTestFile("SHOT.KRV", 4096);
  window_->protector().ProtectorItems().front()->trigger();
  Settle();
  shows(work_ / "SHOT_FOAM PLUG_90.KRV");
  shows(data_ / "HPD Atten.txt");
  chooser_.Choose(std::nullopt);
  window_->protector().OverlayWaveform();
  Settle();
  shows(data_ / "Dat" / "Hearing Protectors" / "TOB.txt");
  OpenTestFile("SHOT.KRV", 4096);
  window_->file().SaveWaveform();
  Settle();
  shows(file);
  chooser_.Choose(work_ / "COPY.KRV");
  window_->file().SaveWaveformAs();
  Settle();
  shows(work_ / "COPY.KRV");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST_F(AliveTest, SaveAsProposesTheFolderTheUserWorksIn) {
  TempDir recordings;
  TempDir elsewhere;
  const fs::path text = recordings.Write("rec.txt", "1\r\n5\r\n-3\r\n2\r\n");
  auto import = [&] {
    chooser_.Choose(text);
    prompter_.Choice(Answer::kYes).Text("1");
    window_->file().ImportWaveform();
    Settle();
  };
  auto proposed = [&] {
    chooser_.Choose(std::nullopt);
    window_->file().SaveWaveformAs();
    Settle();
    return chooser_.shown().back().directory.toStdString();
  };
  // Nothing opened or saved yet: the start folder, not the recording's.
  import();
  EXPECT_EQ(proposed(), work_.path().string());
  // The opened KRV file's folder; after a save elsewhere, that folder.
  const fs::path krv = elsewhere.Write("SHOT.KRV", TestKrvText("SHOT", 512, 100.0));
  chooser_.Choose(krv);
  window_->file().OpenWaveform();
  Settle();
  EXPECT_EQ(proposed(), elsewhere.path().string());
  import();
  EXPECT_EQ(proposed(), elsewhere.path().string());
}

TEST_F(AliveTest, CopyScreenTakesTheClientAreaWithTheGrid) {
  OpenTestFile("BLAST.KRV", 4096);
  window_->view().CopyScreen();
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), window_->canvas().size());
  QTableWidget* grid = window_->StringGrid1();
  const QImage drawn = grid->grab().toImage().convertToFormat(copied.format());
  EXPECT_EQ(copied.copy(grid->geometry()), drawn);
}

}  // namespace
}  // namespace korva::testing
