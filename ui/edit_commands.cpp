// The window side of the pop-up edit commands: arming the red cursor lines,
// the Done buttons, the mouse on the plot with its read-outs, the calibration
// and resample prompts, and the Leq300ms spectrum mode. The operations
// themselves are core code; this file only moves lines, asks and redraws.
#include <QCoreApplication>
#include <QMenuBar>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/metrics/interval_metrics.h"
#include "core/metrics/leq300.h"
#include "ui/main_window.h"

namespace korva::ui {

namespace {

namespace fs = std::filesystem;

int RoundToInt(double value) {
  return static_cast<int>(std::nearbyint(value));
}

const QColor kCursorColour(255, 0, 0);

}  // namespace

void MainWindow::ConnectEditCommands() {
  auto on = [this](const char* name, void (MainWindow::*slot)()) {
    connect(findChild<QAction*>(name), &QAction::triggered, this, slot);
  };
  on("SelectSegment1", &MainWindow::SelectSegment1Click);
  on("SetBaseline", &MainWindow::SetBaselineClick);
  on("EstablishStart", &MainWindow::EstablishStartClick);
  on("ApplyTaper1", &MainWindow::ApplyTaper1Click);
  on("Stats1", &MainWindow::Stats1Click);
  on("Leq300msspectrum1", &MainWindow::Leq300msspectrum1Click);
  on("Resample1", &MainWindow::Resample1Click);
  const char* const units[] = {"Multiplydatabykeyboardinput1",
                               "Atm1",
                               "Bar1",
                               "PeakPressureLeveldB1",
                               "DynesCm21",
                               "millibarorhPa1",
                               "KiloPascals1",
                               "Pascals1",
                               "PSI1"};
  for (int unit = 0; unit < 9; ++unit) {
    connect(findChild<QAction*>(units[unit]), &QAction::triggered, this,
            [this, unit] { CalibrateClick(unit); });
  }
  const std::pair<const char*, void (MainWindow::*)()> buttons[] = {
      {"Button2", &MainWindow::Button2Click}, {"Button3", &MainWindow::Button3Click},
      {"Button4", &MainWindow::Button4Click}, {"Button5", &MainWindow::Button5Click},
      {"Button6", &MainWindow::Button6Click}, {"Button12", &MainWindow::Button12Click}};
  for (const auto& [name, slot] : buttons) {
    connect(DoneButton(name), &QPushButton::clicked, this, slot);
  }
}

QPushButton* MainWindow::DoneButton(const char* name) const {
  for (QPushButton* button : done_buttons_) {
    if (button->objectName() == name) return button;
  }
  return nullptr;
}

PlotRect MainWindow::CursorPlot() const {
  const plot::Layout& layout = plot_.layout;
  return PlotRect{layout.PlotLeft, layout.PlotTop, layout.PlotWidth, layout.PlotHeight};
}

void MainWindow::DrawCursorLine(int x) {
  const PlotRect plot = CursorPlot();
  canvas_->XorLine(QPoint(x, plot.top + plot.height - 1), QPoint(x, plot.top + 1), kCursorColour);
}

void MainWindow::LockForArmedEdit(bool armed) {
  // While an edit holds a shortened view or a backup of the waveform, a
  // command that loads, saves or analyses it would act on the wrong data, and
  // Done would then copy the old backup over the new waveform.
  if (armed) {
    if (!locked_actions_.empty()) return;
    for (QAction* action : {open_action_, overlay_action_, import_action_, save_action_,
                            save_as_action_, save_wav_action_, analyze_menu_->menuAction()}) {
      locked_actions_.emplace_back(action, action->isEnabled());
      action->setEnabled(false);
    }
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  } else {
    for (const auto& [action, enabled] : locked_actions_) action->setEnabled(enabled);
    locked_actions_.clear();
    grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
  }
}

void MainWindow::ArmCursors(CursorPair lines, QPushButton* button) {
  cursor_.CursorX1 = lines.x1;
  cursor_.CursorX2 = lines.x2;
  DrawCursorLine(cursor_.CursorX1);
  DrawCursorLine(cursor_.CursorX2);
  popup_on_ = false;
  cursor_.CursorsActive = true;
  cursor_.Dragging = false;
  const PlotRect plot = CursorPlot();
  button->adjustSize();
  button->move(plot.left + RoundToInt(0.4 * plot.width), RoundToInt(1.05 * plot.height));
  button->show();
  button->raise();
  armed_button_ = button;
  LockForArmedEdit(true);
}

void MainWindow::FinishCursors() {
  const CursorPair parked = ParkedCursors(CursorPlot());
  cursor_.CursorX1 = parked.x1;
  cursor_.CursorX2 = parked.x2;
  if (armed_button_ != nullptr) armed_button_->hide();
  armed_button_ = nullptr;
  popup_on_ = true;
  cursor_.CursorsActive = false;
  cursor_.Dragging = false;
  LockForArmedEdit(false);
  RefreshGrid();
  PressureTimePlot();
}

// --- The commands -----------------------------------------------------------

void MainWindow::SelectSegment1Click() {
  RunCommand([this] {
    cursor_.CursorTask = 1;
    ArmCursors(SelectSegmentCursors(CursorPlot()), DoneButton("Button2"));
  });
}

void MainWindow::Button2Click() {
  RunCommand([this] {
    try {
      SelectSegment(session_, {cursor_.CursorX1, cursor_.CursorX2}, CursorPlot());
    } catch (const Error&) {
      FinishCursors();
      throw;
    }
    FinishCursors();
  });
}

void MainWindow::SetBaselineClick() {
  RunCommand([this] { ArmCursors(SetBaselineCursors(CursorPlot()), DoneButton("Button3")); });
}

void MainWindow::Button3Click() {
  RunCommand([this] {
    try {
      saved_last_sample_ =
          ExpandBaselineSelection(session_, {cursor_.CursorX1, cursor_.CursorX2}, CursorPlot());
    } catch (const Error&) {
      FinishCursors();
      throw;
    }
    // The selection now fills the plot; the second stage picks the quiet
    // stretch on it without leaving the cursor mode.
    armed_button_->hide();
    PressureTimePlot();
    ArmCursors(SelectSegmentCursors(CursorPlot()), DoneButton("Button4"));
  });
}

void MainWindow::Button4Click() {
  RunCommand([this] {
    try {
      ApplyBaseline(session_, saved_last_sample_, {cursor_.CursorX1, cursor_.CursorX2},
                    CursorPlot());
    } catch (const Error&) {
      FinishCursors();
      throw;
    }
    FinishCursors();
  });
}

void MainWindow::EstablishStartClick() {
  RunCommand([this] {
    cursor_.CursorTask = 4;
    start_view_ = BeginEstablishStart(session_);
    PressureTimePlot();
    float ms = start_view_.marker_ms;
    float kpa = start_view_.marker_kpa;
    const plot::ScreenPoint cross = plot::WorldToScreen(plot_.frames[0], ms, kpa);
    {
      CanvasPainter painter(*canvas_);
      painter.setPen(QPen(kCursorColour, 0));
      painter.drawLine(cross.x - 10, cross.y, cross.x + 10, cross.y);
      painter.drawLine(cross.x, cross.y - 10, cross.x, cross.y + 10);
    }
    const PlotRect plot = CursorPlot();
    // The second line stands right of the plot: only the first one counts.
    ArmCursors({cross.x, plot.left + RoundToInt(2.1 * plot.width)}, DoneButton("Button5"));
    ShowStartLevel(session_, cursor_.CursorX1, plot, false);
    RefreshGrid();
  });
}

void MainWindow::Button5Click() {
  RunCommand([this] {
    try {
      FinishEstablishStart(session_, start_view_, cursor_.CursorX1, CursorPlot());
    } catch (const Error&) {
      // The full length is back; show it before the message.
      FinishCursors();
      throw;
    }
    FinishCursors();
  });
}

void MainWindow::ApplyTaper1Click() {
  RunCommand(
      [this] { ArmCursors(TaperCursors(CursorPlot(), plot_.frames[0]), DoneButton("Button6")); });
}

void MainWindow::Button6Click() {
  RunCommand([this] {
    try {
      TaperEnds(session_, {cursor_.CursorX1, cursor_.CursorX2}, CursorPlot());
    } catch (const Error&) {
      FinishCursors();
      throw;
    }
    FinishCursors();
  });
}

void MainWindow::Stats1Click() {
  RunCommand([this] {
    saved_last_sample_ = BeginStatistics(session_);
    cursor_.CursorTask = 6;
    RefreshGrid();
    ArmCursors(StatisticsCursors(CursorPlot()), DoneButton("Button12"));
  });
}

void MainWindow::Button12Click() {
  RunCommand([this] {
    FinishStatistics(session_, saved_last_sample_);
    FinishCursors();
  });
}

void MainWindow::CalibrateClick(int cal_unit) {
  RunCommand([this, cal_unit] {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Calibrate(session_, prompter_, cal_unit);
    PressureTimePlot();
    popup_on_ = true;
    cursor_.CursorsActive = false;
  });
}

void MainWindow::Resample1Click() {
  RunCommand([this] {
    if (!Resample(session_, prompter_)) return;
    RefreshGrid();
    PressureTimePlot();
  });
}

// --- The mouse ----------------------------------------------------------------

void MainWindow::MoveNearerLine(int x) {
  const int d1 = std::abs(x - cursor_.CursorX1);
  const int d2 = std::abs(x - cursor_.CursorX2);
  int& line = d2 < d1 ? cursor_.CursorX2 : cursor_.CursorX1;
  if (line == x) return;
  DrawCursorLine(line);
  DrawCursorLine(x);
  line = x;
}

void MainWindow::FormMouseDown(Qt::MouseButton button, QPoint position) {
  if (busy_) return;
  if (cursor_.CursorsActive) {
    cursor_.Dragging = true;
    cursor_.DragButton = button;
    if (button == Qt::LeftButton) MoveNearerLine(position.x());
  }
  // The protector help picture stays until the next press on the window.
  if (help_showing_) {
    canvas_->RestoreForm();
    help_showing_ = false;
  }
}

void MainWindow::FormMouseMove(QPoint position) {
  if (busy_ || !cursor_.CursorsActive || !cursor_.Dragging) return;
  MoveNearerLine(position.x());
  ShowMoveReadout();
}

void MainWindow::FormMouseUp(Qt::MouseButton, QPoint position) {
  if (busy_ || !cursor_.CursorsActive) return;
  // Normally the line already stands at x; after a press with another button
  // and no move it is moved here, so that the picture shows where it is.
  if (cursor_.Dragging) MoveNearerLine(position.x());
  cursor_.Dragging = false;
  try {
    ShowReleaseReadout();
  } catch (const Error& e) {
    ShowError(e.what());
  }
}

void MainWindow::ShowMoveReadout() {
  const PlotRect plot = CursorPlot();
  const std::int32_t last = session_.LastSample;
  switch (cursor_.CursorTask) {
    case 1: {
      // Unordered on purpose: a line dragged across the other shows how far.
      const std::int32_t i0 = SampleAtX(last, cursor_.CursorX1, plot);
      const std::int32_t i1 = SampleAtX(last, cursor_.CursorX2, plot);
      session_.Grid.Cell(1, 4) = FormatInteger(std::int64_t{i1} - i0 + 1);
      break;
    }
    case 4:
      ShowStartLevel(session_, cursor_.CursorX1, plot, true);
      break;
    case 6: {
      const Selection range = ReadoutSelection(last, cursor_.CursorX1, cursor_.CursorX2, plot);
      std::int32_t peak_index = range.first;
      float peak = -1.0f;
      for (std::int32_t k = range.first; k <= range.last; ++k) {
        const float value = std::fabs(session_.Pressure[k]);
        if (value > peak) {
          peak = value;
          peak_index = k;
        }
      }
      const double level = 20.0 * std::log10(double{peak} + 0.000001) + 94.0;
      const double ms = double{session_.SampleInterval} * peak_index * 1000.0;
      session_.Grid.Cell(1, 7) = FormatFixed(level, 3);
      session_.Grid.Cell(2, 7) = "dB at " + FormatFixed(ms, 1) + " milliseconds";
      break;
    }
    default:
      return;
  }
  RefreshGrid();
}

void MainWindow::ShowReleaseReadout() {
  const int task = cursor_.CursorTask;
  if (task != 6 && task != 7) return;
  const PlotRect plot = CursorPlot();
  const std::int32_t last = session_.LastSample;
  const Selection range = ReadoutSelection(last, cursor_.CursorX1, cursor_.CursorX2, plot);
  session_.SelFirst = range.first;
  session_.SelLast = range.last;
  const IntervalResults results = IntervalMetrics(session_);
  const std::int32_t length = ReadoutLengthSamples(last, cursor_.CursorX1, cursor_.CursorX2, plot);
  if (task == 6) {
    ShowStatisticsReadout(session_.Grid, results, range.first, length, session_.SampleInterval);
  } else {
    ShowSpectrumIntervalReadout(session_.Grid, results, range.first, length,
                                session_.SampleInterval);
  }
  RefreshGrid();
}

}  // namespace korva::ui
