// Nothing lost in the window: Undo and Redo of every edit, the unsaved-work
// question wherever the waveform would be set aside, and saves that write
// what the file should hold.
#include "ui/history.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/metrics/interval_metrics.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

// What a step must give back exactly: every sample's bits, the rate and
// every grid cell as the widget shows it.
struct Snapshot {
  std::vector<std::uint32_t> bits;
  float rate = 0.0f;
  std::vector<std::string> cells;
  bool operator==(const Snapshot&) const = default;
};

// The sample lines of a KRV file, as numbers, and its header lines.
struct KrvLines {
  std::vector<std::string> header;
  std::vector<double> samples;
};

KrvLines ReadKrvLines(const fs::path& file) {
  KrvLines lines;
  const std::string text = ReadWholeFile(file);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find('\t') != std::string::npos) {
      lines.header.push_back(line);
    } else if (!line.empty()) {
      lines.samples.push_back(std::stod(line));
    }
    start = end + 2;
  }
  return lines;
}

// The samples of a file saved untouched are those it was read with, in the
// five digits a KRV file keeps: the silence before the pulse stays exactly
// zero (the analysis dither would fill it) and no sample is added or cut.
void ExpectSameSamples(const std::vector<double>& saved, const std::vector<double>& original) {
  ASSERT_EQ(saved.size(), original.size());
  for (std::size_t i = 0; i < saved.size(); ++i) {
    ASSERT_NEAR(saved[i], original[i], 5e-5 * std::abs(original[i])) << "sample " << i;
  }
}

class HistoryTest : public WindowTest {
 protected:
  Snapshot Take() const {
    Snapshot s;
    const Session& session = window_->session();
    for (std::int32_t k = 0; k <= session.LastSample; ++k) {
      s.bits.push_back(std::bit_cast<std::uint32_t>(session.Pressure[k]));
    }
    s.rate = session.SampleRate;
    const QTableWidget* grid = window_->StringGrid1();
    for (int row = 0; row < grid->rowCount(); ++row) {
      for (int column = 0; column < grid->columnCount(); ++column) {
        const QTableWidgetItem* item = grid->item(row, column);
        s.cells.push_back(item == nullptr ? "" : item->text().toStdString());
      }
    }
    return s;
  }
  QAction* Action(const char* name) const { return window_->findChild<QAction*>(name); }
  void Click(const char* button) { window_->findChild<QPushButton*>(button)->click(); }
  // Types `text` into a header cell and leaves it, as Enter does.
  void Type(int column, int row, const std::string& text) {
    window_->StringGrid1()->item(row, column)->setText(QString::fromStdString(text));
    window_->document().pending.Mark(column, row);
    window_->workspace().grid().ProcessPendingEdits();
  }
  std::string Title() const { return window_->windowTitle().toStdString(); }
};

TEST_F(HistoryTest, EveryEditIsUndoneAndRedoneByteForByteAndNamed) {
  OpenTestFile("BLAST.KRV", 4096);
  const Snapshot opened = Take();
  EXPECT_FALSE(Action("Undo1")->isEnabled());
  EXPECT_EQ(Title(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: BLAST");

  struct Edit {
    const char* step;
    std::function<void()> run;
  };
  const std::vector<Edit> edits = {
      // First, while the quiet stretch it measures still holds the dither.
      {"Set Baseline",
       [&] {
         window_->edit().StartSetBaseline();
         Click("Button3");
         Click("Button4");
       }},
      {"Multiply by 2",
       [&] {
         prompter_.Text("2");
         window_->edit().CalibrateWaveform(0);
       }},
      {"Taper Ends",
       [&] {
         window_->edit().StartTaper();
         Click("Button6");
       }},
      {"Establish Start",
       [&] {
         window_->edit().StartEstablishStart();
         Click("Button5");
       }},
      {"Select Segment",
       [&] {
         window_->edit().StartSelectSegment();
         Click("Button2");
       }},
      {"Resample",
       [&] {
         prompter_.Confirm(true).Text("100000");
         window_->edit().ResampleWaveform();
         Settle();
       }},
      {"Number of Samples", [&] { Type(1, 4, "1000"); }},
      {"Sampling Rate", [&] { Type(1, 2, "96000"); }},
      {"Typing in the header", [&] { Type(2, 25, "note"); }},
  };
  std::vector<Snapshot> states{opened};
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.step);
    edit.run();
    ASSERT_TRUE(Errors().empty()) << Errors().front();
    const Snapshot after = Take();
    ASSERT_NE(after, states.back());
    EXPECT_EQ(Action("Undo1")->text().toStdString(), std::string("&Undo ") + edit.step);
    EXPECT_EQ(Title().front(), '*');

    window_->history().Undo();
    EXPECT_EQ(Take(), states.back());
    EXPECT_EQ(Action("Redo1")->text().toStdString(), std::string("&Redo ") + edit.step);
    window_->history().Redo();
    EXPECT_EQ(Take(), after);
    states.push_back(after);
  }
  // All the way back: the file as opened, nothing to save.
  while (Action("Undo1")->isEnabled()) window_->history().Undo();
  EXPECT_EQ(Take(), opened);
  EXPECT_FALSE(window_->document().Modified());
  EXPECT_EQ(Title(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: BLAST");
  // A new edit drops what Redo could have made again.
  prompter_.Text("3");
  window_->edit().CalibrateWaveform(0);
  EXPECT_FALSE(Action("Redo1")->isEnabled());
  EXPECT_TRUE(prompter_.AllAnswersUsed());

  // Analyses that only write their result rows, and cancelled edits, are no steps.
  const std::size_t steps = window_->document().history().UndoCount();
  window_->edit().StartSelectSegment();
  EXPECT_FALSE(Action("Undo1")->isEnabled());  // not under an armed edit
  window_->edit().CancelEdit();
  window_->analysis().StartStatistics();
  window_->findChild<QPushButton*>("Button12")->click();
  EXPECT_EQ(window_->document().history().UndoCount(), steps);
}

TEST(History, KeepsItsStepsWithinTheLimitDroppingTheOldest) {
  // Steps of 8 MiB each: the byte limit, not the step count, drops them.
  Session session(1 << 22);
  session.Pressure.Fill(0, (1 << 21) - 1, 1.0f);
  session.LastSample = (1 << 21) - 1;
  ui::History history;
  history.Reset();
  for (int step = 0; step < 40; ++step) {
    history.Begin(session);
    session.Pressure[step] = 2.0f;
    EXPECT_TRUE(history.End(session, "step"));
  }
  EXPECT_LE(history.Bytes(), ui::kHistoryBytes);
  EXPECT_LT(history.UndoCount(), 40u);
  EXPECT_GT(history.UndoCount(), 20u);
  // The state the file holds has gone from the history: Undo cannot reach
  // it, so the waveform stays modified however far back it goes.
  while (history.Undo(session)) {
  }
  EXPECT_TRUE(history.Modified());
  EXPECT_EQ(session.Pressure[0], 2.0f);
}

TEST_F(HistoryTest, UnsavedWorkIsAskedAboutAndCancelKeepsEverything) {
  const fs::path file = OpenTestFile("BLAST.KRV", 4096);
  prompter_.Text("2");
  window_->edit().CalibrateWaveform(0);
  const Snapshot edited = Take();
  const std::size_t dialogs = chooser_.shown().size();

  // Open, Import, a recording, a recent file and closing: Cancel leaves all
  // as it was.
  const std::vector<std::function<void()>> set_aside = {
      [&] { window_->file().OpenWaveform(); }, [&] { window_->file().ImportWaveform(); },
      [&] { window_->file().OpenRecording(); }, [&] { window_->file().OpenFile(file); },
      [&] { window_->close(); }};
  for (const auto& command : set_aside) {
    prompter_.Choice(Answer::kCancel);
    command();
    Settle();
    EXPECT_EQ(prompter_.asked().back().title, "Unsaved changes");
    EXPECT_EQ(prompter_.asked().back().question,
              "BLAST has changes that are not saved.\r\nSave them first?");
  }
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(chooser_.shown().size(), dialogs);
  EXPECT_EQ(Take(), edited);

  // Discard, then Cancel in the import dialog: the waveform stays on show.
  prompter_.Choice(Answer::kNo);
  chooser_.Choose(std::nullopt);
  window_->file().ImportWaveform();
  Settle();
  EXPECT_EQ(Take(), edited);
  EXPECT_TRUE(window_->StringGrid1()->isVisible());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());

  // Save writes the edits to the file and lets the window close.
  prompter_.Choice(Answer::kYes);
  EXPECT_TRUE(window_->close());
  const KrvLines saved = ReadKrvLines(file);
  ASSERT_EQ(saved.samples.size(), 4096u);
  const float doubled = std::bit_cast<float>(edited.bits[400]);
  EXPECT_NEAR(saved.samples[400], doubled, 5e-5 * std::abs(doubled));  // five digits
  EXPECT_TRUE(prompter_.AllAnswersUsed());
}

TEST_F(HistoryTest, SavesWriteWhatTheFileHoldsWhereSaveAsChose) {
  // 4,100 samples read as 4,096 and dithered: untouched, they save as read.
  const fs::path file = OpenTestFile("BLAST.KRV", 4100);
  const KrvLines original = ReadKrvLines(file);
  window_->file().SaveWaveform();
  Settle();
  const KrvLines saved = ReadKrvLines(file);
  ExpectSameSamples(saved.samples, original.samples);
  EXPECT_EQ(saved.header[4].substr(0, saved.header[4].find('\t')), "Number of Samples ");
  EXPECT_NE(saved.header[4].find("\t4100 \t"), std::string::npos) << saved.header[4];

  // Save As, an edit, then Save: the same file, the same header rows, each
  // counting the samples that follow it; no third file.
  const fs::path copy = work_.path() / "COPY.KRV";
  chooser_.Choose(copy);
  window_->file().SaveWaveformAs();
  Settle();
  const KrvLines as_saved = ReadKrvLines(copy);
  ExpectSameSamples(as_saved.samples, original.samples);
  EXPECT_EQ(Title(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: COPY");
  prompter_.Text("2");
  window_->edit().CalibrateWaveform(0);
  window_->file().SaveWaveform();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const KrvLines resaved = ReadKrvLines(copy);
  EXPECT_EQ(resaved.header.size(), as_saved.header.size());
  EXPECT_EQ(resaved.samples.size(), 4096u);
  EXPECT_NE(resaved.header[4].find("\t4096 \t"), std::string::npos) << resaved.header[4];
  // Doubled, with the dither of the analysis now part of the edit (five of
  // its standard deviations, peak / 2^17, doubled).
  EXPECT_NEAR(resaved.samples[250], 2.0 * original.samples[250], 10.0 * 2000.0 / 131072.0);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(work_.path())) files.push_back(entry.path());
  EXPECT_EQ(files.size(), 2u);
  EXPECT_FALSE(window_->document().Modified());
}

TEST_F(HistoryTest, ATruncatedFileOpensWithAWarningNamingBothCounts) {
  std::string text = TestKrvText("CUT", 4100, 2000.0);
  // The header says 8,192 samples; 4,100 follow.
  const std::size_t count = text.find("4100");
  ASSERT_NE(count, std::string::npos);
  text.replace(count, 4, "8192");
  chooser_.Choose(work_.Write("CUT.KRV", text));
  window_->file().OpenWaveform();
  Settle();
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_NE(
      Informed().front().find("CUT.KRV: the header gives 8192 samples but only 4100 were read"),
      std::string::npos)
      << Informed().front();
  EXPECT_EQ(window_->session().LastSample, 4095);
}

TEST_F(HistoryTest, ADropIsTakenAsACopy) {
  const fs::path file = work_.Write("DROP.KRV", TestKrvText("DROPPED", 4096, 2000.0));
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &drop);
  Settle();
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  EXPECT_EQ(Title(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: DROP");
  EXPECT_TRUE(fs::exists(file));
  // A drag that may only be moved is not taken.
  QDragEnterEvent move_only(QPoint(10, 10), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  move_only.ignore();
  QApplication::sendEvent(window_.get(), &move_only);
  EXPECT_FALSE(move_only.isAccepted());
}

TEST_F(HistoryTest, StatisticsMeasuresTheIntervalItNamesAndTheGridRefusesAnUnusableRate) {
  OpenTestFile("BLAST.KRV", 4096);
  window_->analysis().StartStatistics();
  const PlotRect plot = window_->workspace().picture().CursorPlot();
  ui::EditController& edit = window_->edit();
  // The right line brought in by an odd number of pixels.
  const int y = plot.top + 10;
  const int x = edit.Cursor().X2() - 117;
  edit.Press(Qt::LeftButton, {edit.Cursor().X2(), y});
  edit.Move({x, y});
  edit.Release({x, y});
  Settle();
  const Session& session = window_->session();
  const std::string named = window_->StringGrid1()->item(8, 2)->text().toStdString();
  // "... over time interval of D msec starting at S msec. ..."
  const auto number_after = [&](const std::string& words) {
    return std::stod(named.substr(named.find(words) + words.size()));
  };
  const double d_ms = number_after("interval of ");
  const double s_ms = number_after("starting at ");
  const double dt_ms = session.SampleInterval * 1000.0;
  const auto first = static_cast<std::int32_t>(std::lround(s_ms / dt_ms));
  const auto last = first + static_cast<std::int32_t>(std::lround(d_ms / dt_ms));
  const IntervalResults measured = IntervalMetrics(session.Pressure.Range(0, session.LastSample),
                                                   session.SampleInterval, first, last);
  EXPECT_EQ(window_->StringGrid1()->item(8, 1)->text().toStdString(),
            FormatFixed(*measured.LAeqInterval, 3))
      << named;
  // Cancel takes the figures back, and the descriptor table with them.
  const auto* table = window_->findChild<QWidget*>("Descriptors1");
  EXPECT_TRUE(table->isVisible());
  window_->edit().CancelEdit();
  EXPECT_FALSE(table->isVisible());
  EXPECT_EQ(window_->StringGrid1()->item(8, 1)->text(), "");
  // Done without moving a line leaves the figures of the lines where they stand.
  window_->analysis().StartStatistics();
  Click("Button12");
  EXPECT_NE(window_->StringGrid1()->item(8, 2)->text().toStdString().find(" msec starting at "),
            std::string::npos)
      << window_->StringGrid1()->item(8, 2)->text().toStdString();
  EXPECT_FALSE(window_->StringGrid1()->item(8, 1)->text().isEmpty());

  Type(1, 2, "1");
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(
      Errors().front().rfind("Sampling rate 1 refused: the ear model analyses rates from ", 0), 0u)
      << Errors().front();
  EXPECT_EQ(window_->session().SampleRate, 200000.0f);
  EXPECT_EQ(window_->StringGrid1()->item(2, 1)->text(), "200000");
}

}  // namespace
}  // namespace korva::testing

namespace korva::testing {
namespace {

TEST_F(HistoryTest, NoTwoCommandsShareAKey) {
  // Qt runs neither of two actions bound to the same key: both would be dead.
  std::map<QString, QString> owner;
  for (const QAction* action : window_->findChildren<QAction*>()) {
    for (const QKeySequence& keys : action->shortcuts()) {
      const auto [at, fresh] = owner.emplace(keys.toString(), action->objectName());
      EXPECT_TRUE(fresh) << keys.toString().toStdString() << ": " << at->second.toStdString()
                         << " and " << action->objectName().toStdString();
    }
  }
  EXPECT_EQ(owner.count("Ctrl+S"), 1u);
  EXPECT_EQ(owner.count("Ctrl+Z"), 1u);
}

}  // namespace
}  // namespace korva::testing
