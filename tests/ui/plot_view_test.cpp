// Zoom and pan on the pressure plot: a view only (the waveform and the grid
// stay as they are), edits in a zoomed view act on the samples under their
// lines, and the status bar reads out the sample under the mouse.
#include "render/plot_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/common/files.h"
#include "core/metrics/edits.h"
#include "core/plot/log_axes.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

class ViewTest : public WindowTest {
 protected:
  QPoint PlotCentre() const {
    const PlotRect plot = window_->workspace().picture().CursorPlot();
    return {plot.left + plot.width / 2, plot.top + plot.height / 2};
  }
  void Wheel(QPoint at, int notches, Qt::KeyboardModifiers modifiers) {
    QWidget* canvas = &window_->canvas();
    QWheelEvent event(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &event);
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QWidget* canvas = &window_->canvas();
    QMouseEvent event(type, at, canvas->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
  }
  std::vector<float> Samples() const {
    const Session& s = window_->session();
    std::vector<float> out;
    for (std::int32_t k = 0; k <= s.LastSample; ++k) out.push_back(s.Pressure[k]);
    return out;
  }
  std::vector<std::string> Cells() const {
    std::vector<std::string> cells;
    const auto* grid = window_->StringGrid1();
    for (int r = 0; r < grid->rowCount(); ++r) {
      for (int c = 0; c < grid->columnCount(); ++c) {
        cells.push_back(grid->item(r, c) ? grid->item(r, c)->text().toStdString() : "");
      }
    }
    return cells;
  }
  // The view of samples first..last of the 200 kHz test waveform.
  static render::PressureView SampleView(int first, int last, const Session& s) {
    return {first * 5e-6f, last * 5e-6f, s.MinPressure, s.PeakPressure};
  }
};

TEST_F(ViewTest, ZoomAndPanChangeOnlyTheView) {
  OpenTestFile("BLAST.KRV", 4100, 2000.0);
  const std::vector<float> samples = Samples();
  const std::vector<std::string> cells = Cells();
  const QImage whole = window_->canvas().Image().copy();
  const PlotRect plot = window_->workspace().picture().CursorPlot();

  // Ctrl+wheel zooms around the mouse; the plain wheel pans in time.
  Wheel(PlotCentre(), 3, Qt::ControlModifier);
  ASSERT_TRUE(window_->view().Zoom());
  const render::PressureView zoomed = *window_->view().Zoom();
  const float whole_width = window_->session().EndTime - window_->session().StartTime;
  EXPECT_NEAR(zoomed.end_time - zoomed.start_time, whole_width * 0.512f, whole_width * 1e-3f);
  EXPECT_NE(window_->canvas().Image(), whole);
  Wheel(PlotCentre(), -2, Qt::NoModifier);  // towards the user: later
  ASSERT_TRUE(window_->view().Zoom());
  EXPECT_GT(window_->view().Zoom()->start_time, zoomed.start_time);
  Wheel(PlotCentre(), 50, Qt::NoModifier);  // far earlier: stops at the start
  EXPECT_EQ(window_->view().Zoom()->start_time, window_->session().StartTime);

  // A rectangle dragged with the middle button zooms to it in both axes.
  const QPoint from(plot.left + plot.width / 4, plot.top + 10);
  const QPoint to(plot.left + plot.width / 2, plot.top + plot.height / 2);
  Mouse(QEvent::MouseButtonPress, from, Qt::MiddleButton, Qt::MiddleButton);
  Mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::MiddleButton);
  Mouse(QEvent::MouseButtonRelease, to, Qt::MiddleButton, Qt::NoButton);
  ASSERT_TRUE(window_->view().Zoom());
  EXPECT_LT(window_->view().Zoom()->peak_pressure, window_->session().PeakPressure);
  EXPECT_FALSE(window_->edit().Cursor().Active());

  // Home shows everything again, as it was drawn before.
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &home);
  EXPECT_FALSE(window_->view().Zoom());
  EXPECT_EQ(window_->canvas().Image(), whole);

  Wheel(PlotCentre(), 1, Qt::ControlModifier);
  Mouse(QEvent::MouseButtonDblClick, PlotCentre(), Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(window_->view().Zoom());

  EXPECT_EQ(Samples(), samples);
  EXPECT_EQ(Cells(), cells);
}

TEST_F(ViewTest, SelectSegmentInAZoomedViewCutsTheSamplesUnderItsLines) {
  OpenTestFile("BLAST.KRV", 4100, 2000.0);
  const std::vector<float> samples = Samples();
  window_->view().SetZoom(SampleView(1000, 2000, window_->session()));
  window_->edit().StartSelectSegment();
  // The lines stand 5 % inside the plot: over samples 1050 and 1950.
  window_->findChild<QPushButton*>("Button2")->click();
  Settle();
  const std::vector<float> cut = Samples();
  ASSERT_NEAR(static_cast<double>(cut.size()), 901.0, 2.0);
  const auto first = std::find(samples.begin(), samples.end(), cut.front()) - samples.begin();
  EXPECT_NEAR(static_cast<double>(first), 1050.0, 1.0);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), samples.begin() + first));
  // The cut waveform is a new plot: shown whole.
  EXPECT_FALSE(window_->view().Zoom());
}

TEST_F(ViewTest, TheReadoutNamesTheSampleUnderTheMouse) {
  OpenTestFile("BLAST.KRV", 4100, 2000.0);
  window_->view().SetZoom(SampleView(190, 210, window_->session()));
  const plot::Frame frame = window_->workspace().picture().State().frames[0];
  float ms = 1.0f, kpa = 0.0f;  // the pulse's peak, sample 200
  const plot::ScreenPoint peak = plot::WorldToScreen(frame, ms, kpa);
  EXPECT_EQ(window_->view().ReadoutAt({peak.x, peak.y}).toStdString(),
            "1.000 ms   2000.0 Pa   160.0 dB   (sample 200)");
  const PlotRect plot = window_->workspace().picture().CursorPlot();
  EXPECT_TRUE(window_->view().ReadoutAt({plot.left - 5, peak.y}).isEmpty());
}

TEST_F(ViewTest, SpectrumZoomChangesOnlyTheViewAndItsReadoutStaysExact) {
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  window_->analysis().ShowSpectrum();
  Settle();
  const std::vector<float> samples = Samples();
  const std::vector<std::string> cells = Cells();
  const QImage whole = window_->canvas().Image().copy();
  const int width = whole.width();
  const int height = whole.height();
  const plot::Layout layout = plot::SpectrumBandLayout(width, height);
  // Screen x of frequency 10^decade in `view`.
  auto x_of = [&](double decade, const render::SpectrumView& view) {
    return static_cast<int>(std::lround(
        layout.PlotLeft + (decade - view.x_min) / (view.x_max - view.x_min) * layout.PlotWidth));
  };
  const render::SpectrumView all = render::WholeSpectrum(*window_->analysis().ShownSpectrum());
  const QPoint middle(x_of(3.0, all), layout.PlotHeight / 2);  // over 1 kHz

  // Ctrl+wheel over the spectrum zooms its frequencies around the mouse;
  // the pressure plot keeps its view.
  Wheel(middle, 10, Qt::ControlModifier);
  ASSERT_TRUE(window_->view().SpectrumZoom());
  const render::SpectrumView view = *window_->view().SpectrumZoom();
  EXPECT_NEAR(view.x_max - view.x_min, (all.x_max - all.x_min) * std::pow(0.8, 10), 1e-4);
  EXPECT_NEAR(x_of(3.0, view), middle.x(), 1);
  EXPECT_EQ(view.y_max, all.y_max);
  EXPECT_FALSE(window_->view().Zoom());

  // The read-out of the 1 kHz band in the zoomed view is the table's.
  const std::string table = ReadWholeFile(work_.path() / "SHOT.TOB");
  const double table_level = std::stod(table.substr(table.find("\r\n1000.00\t") + 10));
  window_->view().Hovered(middle);
  const QString text = window_->statusBar()->currentMessage();
  const qsizetype at = text.indexOf("(1/3 octave 1000 Hz: ");
  ASSERT_GE(at, 0) << text.toStdString();
  EXPECT_NEAR(text.mid(at + 21).section(' ', 0, 0).toDouble(), table_level, 0.005);
  // The narrow-band bin nearest 1 kHz (bins 48.8 Hz apart): 976.6 Hz.
  EXPECT_EQ(text.section(' ', 0, 0).toStdString(), "976.6");

  Wheel(middle, -1, Qt::NoModifier);  // pans to higher frequencies
  EXPECT_GT(window_->view().SpectrumZoom()->x_min, view.x_min);

  // A middle-button rectangle zooms in level too; a double click over the
  // spectrum shows it whole, Home everything.
  Mouse(QEvent::MouseButtonPress, {middle.x() - 50, 20}, Qt::MiddleButton, Qt::MiddleButton);
  Mouse(QEvent::MouseMove, {middle.x() + 50, middle.y()}, Qt::NoButton, Qt::MiddleButton);
  Mouse(QEvent::MouseButtonRelease, {middle.x() + 50, middle.y()}, Qt::MiddleButton, Qt::NoButton);
  EXPECT_LT(window_->view().SpectrumZoom()->y_max - window_->view().SpectrumZoom()->y_min,
            view.y_max - view.y_min);
  SaveCanvas("spectrum-zoomed.png");
  Mouse(QEvent::MouseButtonDblClick, middle, Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(window_->view().SpectrumZoom());
  EXPECT_EQ(window_->canvas().Image(), whole);
  Wheel(middle, 3, Qt::ControlModifier);
  Wheel(PlotCentre(), 3, Qt::ControlModifier);
  ASSERT_TRUE(window_->view().Zoom());
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &home);
  EXPECT_FALSE(window_->view().SpectrumZoom());
  EXPECT_FALSE(window_->view().Zoom());
  EXPECT_EQ(window_->canvas().Image(), whole);

  EXPECT_EQ(Samples(), samples);
  EXPECT_EQ(Cells(), cells);
  EXPECT_EQ(ReadWholeFile(work_.path() / "SHOT.TOB"), table);
}

}  // namespace
}  // namespace korva::testing
