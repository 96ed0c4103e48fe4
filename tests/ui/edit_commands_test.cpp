// The pop-up edit commands driven with the mouse on the canvas: arming, the
// nearer-line rule, the XOR lines, the read-outs and the Done buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "core/common/numbers.h"
#include "core/metrics/edits.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

class EditTest : public WindowTest {
 protected:
  void Send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, int x) {
    QWidget* canvas = &window_->canvas();
    const PlotRect plot = window_->workspace().picture().CursorPlot();
    const QPointF at(x, plot.top + plot.height / 2);
    QMouseEvent event(type, at, canvas->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
  }
  void Press(int x, Qt::MouseButton button = Qt::LeftButton) {
    Send(QEvent::MouseButtonPress, button, button, x);
  }
  void Move(int x) { Send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, x); }
  // A release may start the interval metrics on the worker: it waits for them.
  void Release(int x) {
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, x);
    Settle();
  }
  // Press on `from`, drag through `to` and let go there.
  void Drag(int from, int to) {  // in two steps, as a quick hand would
    Press(from);
    Move((from + to) / 2);
    Move(to);
    Release(to);
  }
  std::string Cell(int column, int row) const {
    return window_->StringGrid1()->item(row, column)->text().toStdString();
  }
  int X1() const { return window_->edit().Cursor().X1(); }
  int X2() const { return window_->edit().Cursor().X2(); }
  bool RedColumn(int x) const {
    const PlotRect plot = window_->workspace().picture().CursorPlot();
    const QImage& image = window_->canvas().Image();
    return (image.pixel(x, plot.top + plot.height / 3) & 0xFFFFFFu) == 0xFF0000u;
  }
  std::vector<float> Samples() const {
    const Session& s = window_->session();
    std::vector<float> out;
    for (std::int32_t k = 0; k <= s.LastSample; ++k) out.push_back(s.Pressure[k]);
    return out;
  }
  // A KRV of `count` samples at 200 kHz of a 1 kHz sine of 1 Pa RMS plus `offset`.
  void OpenTone(const std::string& name, int count, double offset) {
    std::string text =
        "PARAMETER \tVALUE \tCOMMENT \r\nTitle for waveform plot \t \tTONE \r\n"
        "Sampling rate \t200000 \tsamples/sec \r\nMicrophone relative to ear \t1 \t \r\n"
        "Number of Samples \t" +
        FormatInteger(count) + " \t \r\n";
    for (int i = 0; i < count; ++i) {
      const double p = offset + std::sqrt(2.0) * std::sin(2 * std::numbers::pi * 1000 * i * 5e-6);
      text += FormatShortest(p) + "\r\n";
    }
    chooser_.Choose(work_.Write(name, text));
    window_->file().OpenWaveform();
    Settle();
    ASSERT_TRUE(Informed().empty()) << Informed().front();
  }
};

TEST_F(EditTest, SelectSegmentFollowsTheNearerLineAndCutsBetweenThem) {
  OpenTestFile("BLAST.KRV", 4096);
  const std::vector<float> original = Samples();
  const PlotRect plot = window_->workspace().picture().CursorPlot();
  window_->edit().StartSelectSegment();
  auto* done = window_->findChild<QPushButton*>("Button2");
  ASSERT_TRUE(done->isVisible());
  EXPECT_FALSE(window_->workspace().PopupOn());
  EXPECT_TRUE(window_->edit().Cursor().Active());
  // Loading or saving under an armed edit would lose it: locked until Done.
  EXPECT_FALSE(window_->findChild<QAction*>("OpenKRVwaveform1")->isEnabled());
  EXPECT_FALSE(window_->findChild<QAction*>("SaveKRVwaveform1")->isEnabled());
  const int x1 = plot.left + static_cast<int>(std::nearbyint(0.05 * plot.width));
  const int x2 = plot.left + plot.width - static_cast<int>(std::nearbyint(0.05 * plot.width));
  ASSERT_EQ(X1(), x1);
  ASSERT_EQ(X2(), x2);
  EXPECT_TRUE(RedColumn(x1));
  EXPECT_TRUE(RedColumn(x2));

  // Exactly midway the first line wins; a press moves it without a drag.
  if ((x2 - x1) % 2 != 0) Drag(x2, x2 + 1);
  const int right = X2();
  const int mid = (x1 + right) / 2;
  ASSERT_EQ(mid - x1, right - mid);
  Press(mid);
  Release(mid);
  EXPECT_EQ(X1(), mid);
  EXPECT_EQ(X2(), right);
  EXPECT_FALSE(RedColumn(x1));
  EXPECT_TRUE(RedColumn(mid));

  // The line pressed on follows the drag however far the mouse jumps (the
  // other line is nearer to the drag's second event); past the other line
  // it pushes that one on, so the lines never swap and the count stays
  // positive.
  Drag(mid, right + 20);
  EXPECT_EQ(X1(), right);
  EXPECT_EQ(X2(), right + 20);
  EXPECT_EQ(Cell(1, 4),
            FormatInteger(SampleAtX(4095, right + 20, plot) - SampleAtX(4095, right, plot) + 1));
  Press(right);
  Move(mid);
  Release(mid);
  EXPECT_EQ(X1(), mid);
  EXPECT_EQ(X2(), right + 20);

  // The first line dragged left of the plot counts as the plot's left edge.
  Drag(mid, 3);
  EXPECT_EQ(X1(), 3);
  EXPECT_EQ(Cell(1, 4), FormatInteger(SampleAtX(4095, right + 20, plot) + 1));
  const std::int32_t i1 = SampleAtX(4095, right + 20, plot);
  done->click();
  EXPECT_FALSE(done->isVisible());
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->edit().Cursor().Active());
  EXPECT_TRUE(window_->findChild<QAction*>("OpenKRVwaveform1")->isEnabled());
  EXPECT_EQ(window_->session().LastSample, i1);
  EXPECT_EQ(Cell(1, 4), FormatInteger(i1 + 1));
  EXPECT_EQ(window_->session().Pressure[i1], original[static_cast<std::size_t>(i1)]);
  EXPECT_FALSE(RedColumn(right + 20));

  // With no command armed the mouse changes nothing.
  const QImage before = window_->canvas().Image().copy();
  Drag(plot.left + 100, plot.left + 300);
  EXPECT_EQ(window_->canvas().Image(), before);

  // The nearer-line rule never lets one line onto the other, but two lines
  // past the right edge both mean the last sample: one sample is kept.
  window_->edit().StartSelectSegment();
  const int beyond = window_->width() + 50;
  Drag(X2(), beyond);
  Press(X1());
  for (int x = X1() + 1; x < beyond; ++x) Move(x);
  Release(beyond - 1);
  ASSERT_EQ(X1(), beyond - 1);
  const float expected = window_->session().Pressure[window_->session().LastSample];
  done->click();
  EXPECT_EQ(window_->session().LastSample, 0);
  EXPECT_EQ(Cell(1, 4), "1");
  EXPECT_EQ(window_->session().Pressure[0], expected);
}

TEST_F(EditTest, XorLinesEraseThemselvesBitForBit) {
  OpenTestFile("BLAST.KRV", 4096);
  const QImage plain = window_->canvas().Image().copy();
  window_->edit().StartSelectSegment();
  const QImage armed = window_->canvas().Image().copy();
  EXPECT_NE(armed, plain);
  const int x1 = X1();
  // Over the trace, the axes and back: every step erases the previous line.
  Press(x1);
  for (int x = x1; x < x1 + 400; x += 37) Move(x);
  Move(x1);
  Release(x1);
  EXPECT_EQ(window_->canvas().Image(), armed);
  window_->canvas().XorLine({X1(), 0}, {X1(), 0}, Qt::red);  // a pixel above the plot
  window_->canvas().XorLine({X1(), 0}, {X1(), 0}, Qt::red);
  SaveCanvas("korva-window-select-segment.png");
  const PlotRect plot = window_->workspace().picture().CursorPlot();
  for (int x : {X1(), X2()}) {
    window_->canvas().XorLine({x, plot.top + plot.height - 1}, {x, plot.top + 1}, Qt::red);
  }
  EXPECT_EQ(window_->canvas().Image(), plain);
}

TEST_F(EditTest, EstablishStartReadsTheLevelAndMovesTheOnsetToFiveMilliseconds) {
  OpenTestFile("BLAST.KRV", 4096, 2000.0);
  window_->edit().StartEstablishStart();
  EXPECT_EQ(Cell(0, 8), "Establish start level");
  EXPECT_EQ(Cell(2, 8), "dB at 5.0 msec");
  const PlotRect plot = window_->workspace().picture().CursorPlot();
  EXPECT_GT(X2(), plot.left + plot.width);  // only the first line shows
  EXPECT_TRUE(window_->findChild<QPushButton*>("Button5")->isVisible());
  SaveCanvas("korva-window-establish-start.png");
  const int onset_x = X1();

  Press(onset_x);
  Move(onset_x + 30);
  const std::string dragged = Cell(2, 8);
  EXPECT_EQ(dragged.rfind("dB at ", 0), 0u) << dragged;
  EXPECT_EQ(dragged.substr(dragged.size() - 6), " msec.") << dragged;
  EXPECT_NE(dragged.find('.'), dragged.size() - 1);
  Move(onset_x);
  Release(onset_x);

  window_->findChild<QPushButton*>("Button5")->click();
  EXPECT_EQ(Cell(2, 8), "dB at 5.0 msec.");
  const Session& s = window_->session();
  EXPECT_EQ(Cell(1, 4), FormatInteger(s.LastSample + 1));
  // The pulse began at 1 ms (sample 200); now its first strong sample is near 5 ms.
  std::int32_t first = -1;
  for (std::int32_t k = 0; k <= s.LastSample && first < 0; ++k) {
    if (std::fabs(s.Pressure[k]) >= 2000.0f / 50) first = k;
  }
  EXPECT_NEAR(first, 1000, 2);
  EXPECT_EQ(s.LastSample, 4095 + 800 + (first - 1000));
}

TEST_F(EditTest, StatisticsShowsTheIntervalLevelsAndRestoresTheWaveform) {
  OpenTone("TONE.KRV", 4096, 0.0);
  const std::vector<float> original = Samples();
  window_->analysis().StartStatistics();
  EXPECT_EQ(Cell(0, 8), "LAeq and Leq");
  Press(X1());
  Move(X1() + 1);
  // The peak read-out while moving: 1.414 Pa is 97.0 dB.
  EXPECT_NEAR(std::stod(Cell(1, 7)), 97.0, 0.05);
  EXPECT_EQ(Cell(2, 7).rfind("dB at ", 0), 0u);
  EXPECT_EQ(Cell(2, 7).substr(Cell(2, 7).size() - 13), " milliseconds");
  Release(X1() + 1);
  EXPECT_NEAR(std::stod(Cell(1, 8)), 94.0, 0.2);
  const std::string d8 = Cell(2, 8);
  EXPECT_EQ(d8.rfind("dB equivalent A-wt level over time interval of ", 0), 0u) << d8;
  EXPECT_NE(d8.find(" msec starting at "), std::string::npos);
  const std::string leq = " msec.  Leq = equivalent Unweighted level = ";
  const std::size_t at = d8.find(leq);
  ASSERT_NE(at, std::string::npos) << d8;
  EXPECT_NEAR(std::stod(d8.substr(at + leq.size())), 94.0, 0.2);
  EXPECT_EQ(d8.substr(d8.size() - 4), " dB.");
  EXPECT_EQ(Cell(2, 9), "dB equivalent A-wt level over 8 hours.");
  EXPECT_EQ(Cell(2, 10), "allowed number of rounds based on A-weighted energy.");
  EXPECT_EQ(Cell(2, 11), "joules/m^2.");
  // Beside them, the descriptors of the same interval: a sine of 1 Pa RMS
  // peaks at 97.0 dB, 3.01 dB above its RMS, with a kurtosis of 1.5.
  QTableWidget* table = window_->analysis().Descriptors();
  ASSERT_TRUE(table->isVisible());
  const auto value = [table](const char* name) {
    for (int row = 0; row < table->rowCount(); ++row) {
      if (table->item(row, 0)->text() == name) return table->item(row, 1)->text().toDouble();
    }
    ADD_FAILURE() << "no row " << name;
    return 0.0;
  };
  EXPECT_NEAR(value("Peak level"), 97.0, 0.05);
  EXPECT_NEAR(value("Crest factor"), 3.01, 0.05);
  EXPECT_NEAR(value("Kurtosis"), 1.5, 0.02);
  // Copy takes the rows as tab-separated lines, ready for a spreadsheet.
  table->actions().front()->trigger();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.startsWith("Peak level\t")) << copied.toStdString();
  EXPECT_EQ(copied.count('\n'), table->rowCount());
  SaveCanvas("korva-window-statistics.png");

  // A line dragged past the right edge means the last sample, not beyond.
  Drag(X2(), window_->width() + 200);
  EXPECT_EQ(window_->session().SelLast, 4095);

  window_->findChild<QPushButton*>("Button12")->click();
  EXPECT_FALSE(window_->edit().Cursor().Active());
  EXPECT_FALSE(table->isVisible());
  EXPECT_EQ(Samples(), original);
  EXPECT_EQ(Cell(1, 4), "4096");
}

TEST_F(EditTest, SetBaselineAfterStatisticsSubtractsOneMeanFromTheWholeWaveform) {
  OpenTone("OFFSET.KRV", 4096, 0.5);
  const std::vector<float> original = Samples();
  window_->analysis().StartStatistics();
  window_->findChild<QPushButton*>("Button12")->click();

  window_->edit().StartSetBaseline();
  window_->findChild<QPushButton*>("Button3")->click();
  ASSERT_TRUE(window_->findChild<QPushButton*>("Button4")->isVisible());
  EXPECT_LT(window_->session().LastSample, 4095);  // the enlarged view
  // A release in the enlarged view runs the Statistics read-out once more.
  Press(X1());
  Release(X1());
  window_->findChild<QPushButton*>("Button4")->click();
  const std::vector<float> result = Samples();
  ASSERT_EQ(result.size(), original.size());
  const float shift = result[0] - original[0];
  EXPECT_GT(shift, -0.7f);
  EXPECT_LT(shift, -0.3f);
  for (std::size_t k = 0; k < result.size(); ++k) {
    ASSERT_NEAR(result[k] - original[k], shift, 1e-4) << "sample " << k;
  }
}

TEST_F(EditTest, TaperCalibrationAndResampleAskWithTheirLabels) {
  OpenTestFile("BLAST.KRV", 4096);
  // Taper with the second line on the right edge: no fade-out, no NaN.
  window_->edit().StartTaper();
  const float last_before = window_->session().Pressure[4095];
  Drag(X2(), window_->width() + 50);
  window_->findChild<QPushButton*>("Button6")->click();
  EXPECT_EQ(window_->session().Pressure[4095], last_before);
  EXPECT_EQ(window_->session().Pressure[0], 0.0f);

  prompter_.Text("5000");
  window_->edit().CalibrateWaveform(7);
  EXPECT_EQ(prompter_.asked().back().question.rfind("Pascals from 0", 0), 0u);
  EXPECT_NEAR(window_->session().PeakPressure, 5000.0f, 0.5f);
  EXPECT_TRUE(window_->workspace().PopupOn());

  prompter_.Confirm(false);
  window_->edit().ResampleWaveform();
  Settle();
  EXPECT_EQ(prompter_.asked().back().question,
            "Sample rate = 200000 samples/sec. Change sample rate?");
  EXPECT_EQ(window_->session().LastSample, 4095);
  prompter_.Confirm(true).Text("100000");
  window_->edit().ResampleWaveform();
  Settle();
  EXPECT_EQ(prompter_.asked().back().question.rfind("Sample rate in samples/sec from 0.1", 0), 0u);
  EXPECT_EQ(window_->session().LastSample, 2047);
  EXPECT_EQ(Cell(1, 4), "2048");
  EXPECT_EQ(Cell(1, 2), "100000");
  EXPECT_TRUE(prompter_.AllAnswersUsed());
}

}  // namespace
}  // namespace korva::testing
