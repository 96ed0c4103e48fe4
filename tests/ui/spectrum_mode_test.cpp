// The Leq300ms spectrum mode: the exit entry on the menu bar, the disabled
// pop-up items, the drawing in the upper half and the ".TOB" table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <filesystem>
#include <optional>
#include <string>

#include "core/common/files.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

QStringList BarCaptions(const ui::MainWindow& window) {
  QStringList captions;
  for (QAction* action : window.menuBar()->actions()) captions << action->text();
  return captions;
}

bool AnyPopupItemEnabled(const ui::MainWindow& window) {
  for (QAction* item : window.workspace().PopupItems()) {
    if (item->isEnabled()) return true;
  }
  return false;
}

TEST_F(WindowTest, SpectrumModeDrawsWritesTheTableAndLeavesByItsOwnEntry) {
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  window_->RememberPicture();  // the snapshot the exit restores
  const QImage before = window_->canvas().Image().copy();
  const QStringList bar = BarCaptions(*window_);
  ASSERT_EQ(bar.size(), 3);

  window_->findChild<QAction*>("Leq300msspectrum1")->trigger();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_EQ(BarCaptions(*window_), bar + QStringList{"[Exit Leq300 Spectrum]"});
  EXPECT_FALSE(AnyPopupItemEnabled(*window_));
  EXPECT_EQ(window_->edit().Cursor().Task(), ui::CursorTask::kSpectrumInterval);
  EXPECT_EQ(window_->session().SelLast, 4095);

  const QImage& image = window_->canvas().Image();
  const int half = image.height() / 2;
  EXPECT_GT(CountColour(image, 0x0000FFu, 0, half), 100);  // narrow-band trace
  EXPECT_GT(CountColour(image, 0x008000u, 0, half), 50);   // band trace
  EXPECT_FALSE(window_->StringGrid1()->isVisible());
  SaveCanvas("korva-window-spectrum.png");

  const fs::path table = work_.path() / "SHOT.TOB";
  ASSERT_TRUE(fs::exists(table));
  const std::string text = ReadWholeFile(table);
  EXPECT_EQ(text.rfind("Leq300ms: steady 1/3 octave-band sound pressure levels", 0), 0u);
  EXPECT_NE(text.find("\r\n1000.00\t"), std::string::npos);

  // Across the spectrum the status bar reads the level of the band under the
  // mouse, the same as the table's.
  const std::size_t row = text.find("\r\n1000.00\t");
  const double table_level = std::stod(text.substr(row + 10));
  std::optional<double> read_level;
  for (int x = 0; x < image.width() && !read_level; ++x) {
    window_->view().Hovered(QPoint(x, half / 2));
    const QString message = window_->statusBar()->currentMessage();
    const qsizetype at = message.indexOf("(1/3 octave 1000 Hz: ");
    if (at >= 0) read_level = message.mid(at + 21).section(' ', 0, 0).toDouble();
  }
  ASSERT_TRUE(read_level.has_value());
  SaveCanvas("spectrum-readout.png");
  EXPECT_NEAR(*read_level, table_level, 0.005);

  window_->findChild<QAction*>("CancelLeq300")->trigger();
  EXPECT_EQ(BarCaptions(*window_), bar);
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::SpectrumExitMessage("SHOT"));
  EXPECT_NE(Informed()[0].find("named SHOT containing"), std::string::npos);
  EXPECT_EQ(window_->canvas().Image(), before);
  EXPECT_TRUE(window_->StringGrid1()->isVisible());
  EXPECT_FALSE(AnyPopupItemEnabled(*window_));  // until the next Open

  // After Open the items return, and a second spectrum adds one entry only.
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  EXPECT_TRUE(AnyPopupItemEnabled(*window_));
  window_->analysis().ShowSpectrum();
  Settle();
  window_->analysis().ShowSpectrum();
  Settle();
  EXPECT_EQ(BarCaptions(*window_).count("[Exit Leq300 Spectrum]"), 1);
}

TEST_F(WindowTest, AfterTheSpectrumTaperLinesShowTheShortIntervalReadout) {
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  window_->analysis().ShowSpectrum();
  Settle();
  window_->analysis().ExitSpectrum();
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  // Taper leaves the task as the spectrum set it.
  window_->edit().StartTaper();
  QWidget* canvas = &window_->canvas();
  const QPointF at(window_->edit().Cursor().X2(),
                   window_->workspace().picture().CursorPlot().top + 20);
  QMouseEvent press(QEvent::MouseButtonPress, at, canvas->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(canvas, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, canvas->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(canvas, &release);
  Settle();
  auto cell = [this](int column, int row) {
    return window_->StringGrid1()->item(row, column)->text().toStdString();
  };
  EXPECT_EQ(cell(2, 6), "dB");
  EXPECT_EQ(cell(2, 7).rfind("dB over time interval of ", 0), 0u) << cell(2, 7);
  EXPECT_EQ(cell(2, 8), "joules/m^2");
  EXPECT_FALSE(cell(1, 8).empty());
  window_->findChild<QPushButton*>("Button6")->click();
  EXPECT_FALSE(window_->edit().Cursor().Active());
}

TEST_F(WindowTest, LeavingTheSpectrumKeepsTheMovieEntriesOfAHazardRun) {
  OpenTestFile("SHOT.KRV", 2048, 2000.0);
  window_->analysis().RunUnwarned();
  Settle();
  ASSERT_EQ(window_->movie().Items().size(), 2u);
  const QStringList bar = BarCaptions(*window_);
  ASSERT_EQ(bar.size(), 5);
  window_->analysis().ShowSpectrum();
  Settle();
  EXPECT_EQ(BarCaptions(*window_).size(), 6);
  window_->analysis().ExitSpectrum();
  EXPECT_EQ(BarCaptions(*window_), bar);
  EXPECT_EQ(window_->movie().Items().size(), 2u);
}

TEST_F(WindowTest, AnImportedWaveformEntersTheModeWithoutASpectrum) {
  chooser_.Choose(work_.Write("plain.txt", "1\r\n5\r\n-3\r\n2\r\n"));
  prompter_.Choice(Answer::kYes).Text("1");
  window_->file().ImportWaveform();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  const QImage before = window_->canvas().Image().copy();
  window_->analysis().ShowSpectrum();
  EXPECT_NE(window_->analysis().ExitSpectrumItem(), nullptr);
  EXPECT_FALSE(AnyPopupItemEnabled(*window_));
  EXPECT_TRUE(Informed().empty());
  EXPECT_EQ(window_->canvas().Image(), before);
  for (const auto& entry : fs::directory_iterator(work_.path())) {
    EXPECT_NE(entry.path().extension(), ".TOB") << entry.path();
  }
}

}  // namespace
}  // namespace korva::testing
