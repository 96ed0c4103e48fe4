// The window side of the pop-up edit commands: arming the red cursor lines,
// the Done and Cancel buttons, the mouse on the plot with its read-outs, and
// the calibration and resample prompts. The operations themselves are core
// code; this file only moves lines, asks and redraws.
#include <QPainter>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/metrics/interval_metrics.h"
#include "ui/main_window.h"

namespace korva::ui {

namespace {

int RoundToInt(double value) {
  return static_cast<int>(std::nearbyint(value));
}

}  // namespace

QPushButton* MainWindow::DoneButton(const char* name) const {
  for (QPushButton* button : done_buttons_) {
    if (button->objectName() == name) return button;
  }
  return nullptr;
}

void MainWindow::LockForArmedEdit(bool armed) {
  // While an edit holds a shortened view or a backup of the waveform, a
  // command that loads, saves or analyses it would act on the wrong data, and
  // Done would then copy the old backup over the new waveform.
  if (armed) {
    if (!locked_actions_.empty()) return;
    for (QAction* action :
         {open_action_, overlay_action_, import_action_, recent_menu_->menuAction(), save_action_,
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

void MainWindow::BeginEdit() {
  // Set Baseline arms twice; Cancel goes back to before the first.
  if (!before_edit_) before_edit_ = EditUndo{document_.session, picture_, cursor_.Task()};
}

void MainWindow::ArmCursors(CursorPair lines, QPushButton* button) {
  popup_on_ = false;
  cursor_.SetPlot(CursorPlot());
  cursor_.Arm(lines);
  canvas_->update();
  if (armed_button_ != nullptr && armed_button_ != button) armed_button_->hide();
  armed_button_ = button;
  PlaceEditButtons();
  LockForArmedEdit(true);
}

void MainWindow::PlaceEditButtons() {
  if (armed_button_ == nullptr) return;
  // On the plot, at its top: the grid's rows stay readable above it.
  const PlotRect plot = CursorPlot();
  armed_button_->adjustSize();
  cancel_edit_button_->adjustSize();
  const int x = plot.left + RoundToInt(0.4 * plot.width);
  const int y = plot.top + 4;
  armed_button_->move(x, y);
  cancel_edit_button_->move(x + armed_button_->width() + 8, y);
  for (QPushButton* button : {armed_button_, cancel_edit_button_}) {
    button->show();
    button->raise();
  }
}

void MainWindow::FinishCursors() {
  cursor_.Park();
  for (QPushButton* button : {armed_button_, cancel_edit_button_}) {
    if (button != nullptr) button->hide();
  }
  armed_button_ = nullptr;
  popup_on_ = true;
  before_edit_.reset();
  HideDescriptors();
  LockForArmedEdit(false);
  RefreshGrid();
  PressureTimePlot();
}

void MainWindow::FinishEdit(const QString& name, const std::function<void()>& operation) {
  Run(name, [this, &operation] {
    try {
      operation();
    } catch (...) {
      // The lines go and the result is drawn before the message.
      FinishCursors();
      throw;
    }
    FinishCursors();
  });
}

void MainWindow::CancelEditClick() {
  Run("Cancel", [this] {
    if (!cursor_.Active()) return;
    if (before_edit_) {
      document_.session = std::move(before_edit_->session);
      picture_ = std::move(before_edit_->picture);
      cursor_.SetTask(before_edit_->task);
      before_edit_.reset();
    }
    cursor_.Park();
    for (QPushButton* button : {armed_button_, cancel_edit_button_}) {
      if (button != nullptr) button->hide();
    }
    armed_button_ = nullptr;
    popup_on_ = true;
    LockForArmedEdit(false);
    RefreshGrid();
    Redraw();
  });
}

// --- The commands -----------------------------------------------------------

void MainWindow::SelectSegment1Click() {
  Run("Select Segment", [this] {
    BeginEdit();
    cursor_.SetTask(CursorTask::kSelectSegment);
    ArmCursors(SelectSegmentCursors(CursorPlot()), DoneButton("Button2"));
  });
}

void MainWindow::Button2Click() {
  FinishEdit("Select Segment",
             [this] { SelectSegment(document_.session, cursor_.Lines(), SamplePlot()); });
}

void MainWindow::SetBaselineClick() {
  Run("Set Baseline", [this] {
    BeginEdit();
    ArmCursors(SetBaselineCursors(CursorPlot()), DoneButton("Button3"));
  });
}

void MainWindow::Button3Click() {
  Run("Set Baseline", [this] {
    try {
      saved_last_sample_ =
          ExpandBaselineSelection(document_.session, cursor_.Lines(), SamplePlot());
    } catch (...) {
      FinishCursors();
      throw;
    }
    // The selection now fills the plot; the second stage picks the quiet
    // stretch on it without leaving the cursor mode.
    cursor_.Park();
    PressureTimePlot();
    ArmCursors(SelectSegmentCursors(CursorPlot()), DoneButton("Button4"));
  });
}

void MainWindow::Button4Click() {
  FinishEdit("Set Baseline", [this] {
    ApplyBaseline(document_.session, saved_last_sample_, cursor_.Lines(), SamplePlot());
  });
}

void MainWindow::EstablishStartClick() {
  Run("Establish Start", [this] {
    BeginEdit();
    cursor_.SetTask(CursorTask::kEstablishStart);
    start_view_ = BeginEstablishStart(document_.session);
    PressureTimePlot();
    // A red cross where the onset was found.
    picture_.lower.push_back([ms = start_view_.marker_ms, kpa = start_view_.marker_kpa](
                                 Surface& image, PlotState& state) {
      float x = ms, y = kpa;
      const plot::ScreenPoint cross = plot::WorldToScreen(state.frames[0], x, y);
      SurfacePainter paint(image);
      QPainter& painter = *paint;
      painter.setPen(QPen(QColor(255, 0, 0), 0));
      painter.drawLine(cross.x - 10, cross.y, cross.x + 10, cross.y);
      painter.drawLine(cross.x, cross.y - 10, cross.x, cross.y + 10);
    });
    Redraw();
    float ms = start_view_.marker_ms;
    float kpa = start_view_.marker_kpa;
    const plot::ScreenPoint cross = plot::WorldToScreen(plot_.frames[0], ms, kpa);
    const PlotRect plot = CursorPlot();
    // The second line stands right of the plot: only the first one counts.
    ArmCursors({cross.x, plot.left + RoundToInt(2.1 * plot.width)}, DoneButton("Button5"));
    ShowStartLevel(document_.session, cursor_.X1(), plot, false);
    RefreshGrid();
  });
}

void MainWindow::Button5Click() {
  FinishEdit("Establish Start", [this] {
    FinishEstablishStart(document_.session, start_view_, cursor_.X1(), SamplePlot());
  });
}

void MainWindow::ApplyTaper1Click() {
  Run("Taper Ends", [this] {
    BeginEdit();
    ArmCursors(TaperCursors(CursorPlot(), plot_.frames[0]), DoneButton("Button6"));
  });
}

void MainWindow::Button6Click() {
  FinishEdit("Taper Ends", [this] { TaperEnds(document_.session, cursor_.Lines(), SamplePlot()); });
}

void MainWindow::Stats1Click() {
  Run("Statistics", [this] {
    BeginEdit();
    saved_last_sample_ = BeginStatistics(document_.session);
    cursor_.SetTask(CursorTask::kStatistics);
    RefreshGrid();
    ArmCursors(StatisticsCursors(CursorPlot()), DoneButton("Button12"));
  });
}

void MainWindow::Button12Click() {
  FinishEdit("Statistics", [this] { FinishStatistics(document_.session, saved_last_sample_); });
}

void MainWindow::CalibrateClick(int cal_unit) {
  Run("Calibrate", [this, cal_unit] {
    Calibrate(document_.session, prompter_, cal_unit);
    PressureTimePlot();
    popup_on_ = true;
  });
}

void MainWindow::Resample1Click() {
  if (runner_.Busy()) return;
  auto work = std::make_shared<Session>(document_.session);
  Start("Resample", [this, work](CommandRunner::Worker& worker) -> CommandRunner::Commit {
    if (!Resample(*work, worker.prompter)) return {};
    return [this, work] {
      document_.session = std::move(*work);
      RefreshGrid();
      PressureTimePlot();
    };
  });
}

// --- The mouse ----------------------------------------------------------------

void MainWindow::FormMouseDown(Qt::MouseButton button, QPoint position,
                               Qt::KeyboardModifiers modifiers) {
  if (runner_.Busy()) return;
  if (StartZoomBand(button, position, modifiers)) return;
  cursor_.Press(button, position.x());
  // The protector help picture stays until the next press on the window;
  // then the picture and the grid it covered come back.
  if (help_showing_) {
    help_showing_ = false;
    RestoreForm();
    if (grid_before_help_) grid_->show();
  }
}

void MainWindow::FormMouseMove(QPoint position) {
  if (runner_.Busy() || MoveZoomBand(position)) return;
  if (cursor_.Move(position.x())) ShowMoveReadout();
}

void MainWindow::FormMouseUp(Qt::MouseButton, QPoint position) {
  if (runner_.Busy() || EndZoomBand(position)) return;
  if (cursor_.Release(position.x())) ShowReleaseReadout();
}

void MainWindow::ShowMoveReadout() {
  Session& session = document_.session;
  const PlotRect plot = SamplePlot();
  switch (cursor_.Task()) {
    case CursorTask::kSelectSegment: {
      // Unordered on purpose: a line dragged across the other shows how far.
      const std::int32_t i0 = SampleAtX(session.LastSample, cursor_.X1(), plot);
      const std::int32_t i1 = SampleAtX(session.LastSample, cursor_.X2(), plot);
      session.Grid.Cell(1, 4) = FormatInteger(std::int64_t{i1} - i0 + 1);
      break;
    }
    case CursorTask::kEstablishStart:
      ShowStartLevel(session, cursor_.X1(), plot, true);
      break;
    case CursorTask::kStatistics:
      ShowPeakReadout(session, cursor_.X1(), cursor_.X2(), plot);
      break;
    default:
      return;
  }
  RefreshGrid();
}

void MainWindow::ShowReleaseReadout() {
  const CursorTask task = cursor_.Task();
  if (task != CursorTask::kStatistics && task != CursorTask::kSpectrumInterval) return;
  const Session& session = document_.session;
  const PlotRect plot = SamplePlot();
  const Selection range = ReadoutSelection(session.LastSample, cursor_.X1(), cursor_.X2(), plot);
  const std::int32_t length =
      ReadoutLengthSamples(session.LastSample, cursor_.X1(), cursor_.X2(), plot);
  const auto samples = session.Pressure.Range(0, session.LastSample);
  auto waveform = std::make_shared<const std::vector<float>>(samples.begin(), samples.end());
  const float dt = session.SampleInterval;
  // Long intervals take a while: the metrics run on the worker.
  Start("Statistics",
        [this, waveform, dt, range, length, task](CommandRunner::Worker&) -> CommandRunner::Commit {
          const IntervalResults results = IntervalMetrics(*waveform, dt, range.first, range.last);
          std::optional<ImpulseDescriptors> descriptors;
          std::string missing;
          if (task == CursorTask::kStatistics) {
            try {
              descriptors =
                  DescribeImpulse(std::span(*waveform).subspan(
                                      static_cast<std::size_t>(range.first),
                                      static_cast<std::size_t>(range.last - range.first) + 1),
                                  dt);
            } catch (const Error& e) {
              missing = e.what();
            }
          }
          return [this, results, descriptors, missing, dt, range, length, task] {
            Session& s = document_.session;
            s.SelFirst = range.first;
            s.SelLast = range.last;
            if (task == CursorTask::kStatistics) {
              ShowStatisticsReadout(s.Grid, results, range.first, length, dt);
              ShowDescriptors(descriptors, missing, range.first * double{dt} * 1000.0);
            } else {
              ShowSpectrumIntervalReadout(s.Grid, results, range.first, length, dt);
            }
            RefreshGrid();
          };
        });
}

}  // namespace korva::ui
