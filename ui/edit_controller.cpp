// The edits' operations are core code; this controller only moves the
// lines, asks and says what changed.
#include "ui/edit_controller.h"

#include <cmath>
#include <memory>
#include <utility>

#include "core/common/numbers.h"
#include "core/metrics/interval_metrics.h"
#include "render/recipes.h"

namespace korva::ui {
namespace {

constexpr unsigned kEverything = Document::kWaveform | Document::kHeader | Document::kPicture;

}  // namespace

EditController::EditController(Workspace& workspace, QObject* parent)
    : QObject(parent), workspace_(workspace), cursor_(workspace.canvas()) {
  // The Done buttons of the edits, hidden until a command arms them.
  const std::pair<const char*, const char*> buttons[] = {{"Button2", "&Done"},
                                                         {"Button3", "&Expand Selection"},
                                                         {"Button4", "&Select "},
                                                         {"Button5", "&Done"},
                                                         {"Button6", "&Done"}};
  const std::function<void()> handlers[] = {
      [this] { CutToSegment(); }, [this] { ExpandBaselineView(); }, [this] { SubtractBaseline(); },
      [this] { ShiftToStart(); }, [this] { ApplyTaper(); }};
  for (std::size_t i = 0; i < std::size(buttons); ++i) {
    connect(AddDoneButton(buttons[i].first, buttons[i].second), &QPushButton::clicked, this,
            handlers[i]);
  }
  // The lines stand over the picture: drawn again whenever it is.
  connect(&workspace_.picture(), &PictureView::Redrawn, this, [this] {
    cursor_.SetPlot(PictureView::CursorPlotOf(workspace_.picture().State()));
    cursor_.DrawLines();
    PlaceButtons();
  });
  connect(&workspace_, &Workspace::WorkingChanged, this, [this](bool working) {
    for (QPushButton* button : {armed_button_, cancel_button_}) {
      if (button != nullptr) button->setEnabled(!working);
    }
  });
}

QPushButton* EditController::AddDoneButton(const char* name, const char* caption) {
  // Made before the Cancel that abandons any of them, which stays on top.
  auto* button = new QPushButton(caption, &workspace_.canvas());
  button->setObjectName(name);
  button->hide();
  done_buttons_.push_back(button);
  if (cancel_button_ == nullptr) {
    cancel_button_ = new QPushButton("Cancel", &workspace_.canvas());
    cancel_button_->setObjectName("CancelEdit");
    cancel_button_->hide();
    connect(cancel_button_, &QPushButton::clicked, this, &EditController::CancelEdit);
  }
  return button;
}

QPushButton* EditController::DoneButton(const char* name) const {
  for (QPushButton* button : done_buttons_) {
    if (button->objectName() == name) return button;
  }
  return nullptr;
}

std::vector<QAction*> EditController::AddPopupItems(QMenu& popup) {
  std::vector<QAction*> items;
  auto add = [&](QMenu& menu, const char* caption, const char* name, auto slot) {
    QAction* action = menu.addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  items.push_back(
      add(popup, "Select &Segment", "SelectSegment1", &EditController::StartSelectSegment));
  items.push_back(add(popup, "Set &Baseline", "SetBaseline", &EditController::StartSetBaseline));
  QMenu* calibrate = popup.addMenu("&Calibrate");
  calibrate->setObjectName("Calibrate1");
  items.push_back(calibrate->menuAction());
  QMenu* known_peak = nullptr;
  const std::pair<const char*, const char*> units[] = {
      {"&Multiply data by keyboard input", "Multiplydatabykeyboardinput1"},
      {"&Atm", "Atm1"},
      {"&Bar", "Bar1"},
      {"Peak Pressure &Level dB", "PeakPressureLeveldB1"},
      {"&Dynes/Cm^2", "DynesCm21"},
      {"&millibar or hPa", "millibarorhPa1"},
      {"&KiloPascals", "KiloPascals1"},
      {"&Pascals", "Pascals1"},
      {"P.&S.I", "PSI1"}};
  for (int unit = 0; unit < static_cast<int>(std::size(units)); ++unit) {
    if (unit == 1) {
      known_peak = calibrate->addMenu("&Adjust to known peak pressure");
      known_peak->setObjectName("Adjusttoknownpeakpressure1");
    }
    QAction* item = (unit == 0 ? calibrate : known_peak)->addAction(units[unit].first);
    item->setObjectName(units[unit].second);
    connect(item, &QAction::triggered, this, [this, unit] { CalibrateWaveform(unit); });
  }
  items.push_back(
      add(popup, "&Establish Start", "EstablishStart", &EditController::StartEstablishStart));
  items.push_back(add(popup, "&Taper Ends", "ApplyTaper1", &EditController::StartTaper));
  return items;
}

QAction* EditController::AddResampleItem(QMenu& popup) {
  QAction* action = popup.addAction("&Resample");
  action->setObjectName("Resample1");
  connect(action, &QAction::triggered, this, &EditController::ResampleWaveform);
  return action;
}

// --- Arming and finishing ---------------------------------------------------

void EditController::BeginEdit() {
  // Set Baseline arms twice; Cancel goes back to before the first.
  if (!before_edit_) {
    const Document& document = workspace_.document();
    before_edit_ = EditUndo{document.session, document.picture, cursor_.Task()};
  }
}

void EditController::ArmCursors(CursorPair lines, QPushButton* button) {
  workspace_.SetPopupOn(false);
  cursor_.SetPlot(workspace_.picture().CursorPlot());
  cursor_.Arm(lines);
  workspace_.canvas().update();
  if (armed_button_ != nullptr && armed_button_ != button) armed_button_->hide();
  armed_button_ = button;
  PlaceButtons();
  workspace_.LockForEdit(true);
}

void EditController::PlaceButtons() {
  if (armed_button_ == nullptr) return;
  // On the plot, at its top: the grid's rows stay readable above it.
  const PlotRect plot = PictureView::CursorPlotOf(workspace_.picture().State());
  armed_button_->adjustSize();
  cancel_button_->adjustSize();
  const int x = plot.left + RoundToInt(0.4 * plot.width);
  const int y = plot.top + 4;
  armed_button_->move(x, y);
  cancel_button_->move(x + armed_button_->width() + 8, y);
  for (QPushButton* button : {armed_button_, cancel_button_}) {
    button->show();
    button->raise();
  }
}

void EditController::PutAwayLines() {
  cursor_.Park();
  for (QPushButton* button : {armed_button_, cancel_button_}) {
    if (button != nullptr) button->hide();
  }
  armed_button_ = nullptr;
  workspace_.SetPopupOn(true);
  workspace_.LockForEdit(false);
}

void EditController::FinishCursors() {
  PutAwayLines();
  before_edit_.reset();
  emit EditFinished();
  workspace_.document().Changed(kEverything);
  workspace_.picture().PlotWaveform();
}

void EditController::FinishEdit(const QString& name, const std::function<void()>& operation) {
  workspace_.Run(name, [this, &operation] {
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

void EditController::CancelEdit() {
  workspace_.Run("Cancel", [this] {
    if (!cursor_.Active()) return;
    Document& document = workspace_.document();
    if (before_edit_) {
      document.session = std::move(before_edit_->session);
      document.picture = std::move(before_edit_->picture);
      cursor_.SetTask(before_edit_->task);
      before_edit_.reset();
    }
    PutAwayLines();
    // Drawn again whole, which also takes the lines off the picture.
    document.Changed(kEverything);
  });
}

// --- The commands -----------------------------------------------------------

void EditController::StartSelectSegment() {
  workspace_.Run("Select Segment", [this] {
    BeginEdit();
    cursor_.SetTask(CursorTask::kSelectSegment);
    ArmCursors(SelectSegmentCursors(workspace_.picture().CursorPlot()), DoneButton("Button2"));
  });
}

void EditController::CutToSegment() {
  FinishEdit("Select Segment", [this] {
    SelectSegment(workspace_.session(), cursor_.Lines(), workspace_.picture().SamplePlot());
  });
}

void EditController::StartSetBaseline() {
  workspace_.Run("Set Baseline", [this] {
    BeginEdit();
    ArmCursors(SetBaselineCursors(workspace_.picture().CursorPlot()), DoneButton("Button3"));
  });
}

void EditController::ExpandBaselineView() {
  workspace_.Run("Set Baseline", [this] {
    try {
      saved_last_sample_ = ExpandBaselineSelection(workspace_.session(), cursor_.Lines(),
                                                   workspace_.picture().SamplePlot());
    } catch (...) {
      FinishCursors();
      throw;
    }
    // The selection now fills the plot; the second stage picks the quiet
    // stretch on it without leaving the cursor mode.
    cursor_.Park();
    workspace_.document().Changed(Document::kWaveform);
    workspace_.picture().PlotWaveform();
    ArmCursors(SelectSegmentCursors(workspace_.picture().CursorPlot()), DoneButton("Button4"));
  });
}

void EditController::SubtractBaseline() {
  FinishEdit("Set Baseline", [this] {
    ApplyBaseline(workspace_.session(), saved_last_sample_, cursor_.Lines(),
                  workspace_.picture().SamplePlot());
  });
}

void EditController::StartEstablishStart() {
  workspace_.Run("Establish Start", [this] {
    BeginEdit();
    cursor_.SetTask(CursorTask::kEstablishStart);
    Session& session = workspace_.session();
    start_view_ = BeginEstablishStart(session);
    PictureView& picture = workspace_.picture();
    picture.PlotWaveform();
    // A red cross where the onset was found.
    workspace_.document().picture.lower.push_back(
        render::OnsetMark(start_view_.marker_ms, start_view_.marker_kpa));
    workspace_.document().Changed(kEverything);
    float ms = start_view_.marker_ms;
    float kpa = start_view_.marker_kpa;
    const plot::ScreenPoint cross = plot::WorldToScreen(picture.Current().frames[0], ms, kpa);
    const PlotRect plot = picture.CursorPlot();
    // The second line stands right of the plot: only the first one counts.
    ArmCursors({cross.x, plot.left + RoundToInt(2.1 * plot.width)}, DoneButton("Button5"));
    ShowStartLevel(session, cursor_.X1(), plot, false);
  });
}

void EditController::ShiftToStart() {
  FinishEdit("Establish Start", [this] {
    FinishEstablishStart(workspace_.session(), start_view_, cursor_.X1(),
                         workspace_.picture().SamplePlot());
  });
}

void EditController::StartTaper() {
  workspace_.Run("Taper Ends", [this] {
    BeginEdit();
    PictureView& picture = workspace_.picture();
    ArmCursors(TaperCursors(picture.CursorPlot(), picture.Current().frames[0]),
               DoneButton("Button6"));
  });
}

void EditController::ApplyTaper() {
  FinishEdit("Taper Ends", [this] {
    TaperEnds(workspace_.session(), cursor_.Lines(), workspace_.picture().SamplePlot());
  });
}

void EditController::CalibrateWaveform(int cal_unit) {
  workspace_.Run("Calibrate", [this, cal_unit] {
    Calibrate(workspace_.session(), workspace_.prompter(), cal_unit);
    workspace_.document().Changed(Document::kWaveform);
    workspace_.picture().PlotWaveform();
    workspace_.SetPopupOn(true);
  });
}

void EditController::ResampleWaveform() {
  if (workspace_.Busy()) return;
  auto work = std::make_shared<Session>(workspace_.session());
  workspace_.Start("Resample",
                   [this, work](CommandRunner::Worker& worker) -> CommandRunner::Commit {
                     if (!Resample(*work, worker.prompter)) return {};
                     return [this, work] {
                       workspace_.session() = std::move(*work);
                       workspace_.document().Changed(Document::kWaveform | Document::kHeader);
                       workspace_.picture().PlotWaveform();
                     };
                   });
}

// --- The mouse ----------------------------------------------------------------

void EditController::Press(Qt::MouseButton button, QPoint position) {
  cursor_.Press(button, position.x());
}

void EditController::Move(QPoint position) {
  if (cursor_.Move(position.x())) ShowMoveReadout();
}

void EditController::Release(QPoint position) {
  if (!cursor_.Release(position.x())) return;
  const CursorTask task = cursor_.Task();
  if (task == CursorTask::kStatistics || task == CursorTask::kSpectrumInterval) {
    emit LinesReleased(task);
  }
}

void EditController::ShowMoveReadout() {
  Session& session = workspace_.session();
  const PlotRect plot = workspace_.picture().SamplePlot();
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
  workspace_.document().Changed(Document::kHeader);
}

}  // namespace korva::ui
