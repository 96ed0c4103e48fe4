// The pop-up edits and the red cursor lines they stand on: Select Segment,
// Set Baseline, Calibrate, Establish Start, Taper Ends and Resample; the Done
// buttons that finish them and the Cancel that abandons any of them; the
// mouse moving the lines, with the read-outs while they move. Other cursor
// commands (Statistics, the spectrum's interval) arm the same lines through
// BeginEdit, ArmCursors and FinishEdit, and hear when the lines are let go.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPushButton>
#include <functional>
#include <optional>
#include <vector>

#include "core/metrics/edits.h"
#include "render/picture.h"
#include "ui/cursor_tool.h"
#include "ui/workspace.h"

namespace korva::ui {

class EditController : public QObject {
  Q_OBJECT

 public:
  explicit EditController(Workspace& workspace, QObject* parent = nullptr);

  // Select Segment, Set Baseline, Calibrate, Establish Start and Taper Ends
  // added to the pop-up menu (returned, for enabling them together), and,
  // further down, Resample.
  std::vector<QAction*> AddPopupItems(QMenu& popup);
  QAction* AddResampleItem(QMenu& popup);

  const CursorTool& Cursor() const { return cursor_; }
  CursorTool& Cursor() { return cursor_; }
  // The Done button named `name`, null when there is none.
  QPushButton* DoneButton(const char* name) const;
  // A Done button for another controller's cursor command.
  QPushButton* AddDoneButton(const char* name, const char* caption);
  // The Done button of the armed edit, or null when no edit is armed.
  QPushButton* ArmedButton() const { return armed_button_; }

  // Keeps what an armed edit may change, for its Cancel (once per edit).
  void BeginEdit();
  // Arms the lines with `button` (and Cancel) shown on the plot, turns the
  // pop-up off and locks the commands that would pull the waveform from
  // under the edit.
  void ArmCursors(CursorPair lines, QPushButton* button);
  // An edit's Done: `operation` changes the session; whatever happens the
  // lines are put away and the result drawn.
  void FinishEdit(const QString& name, const std::function<void()>& operation);

  // The mouse on the plot (client pixels): the left button moves the nearer line.
  void Press(Qt::MouseButton button, QPoint position);
  void Move(QPoint position);
  void Release(QPoint position);

 public slots:
  void StartSelectSegment();
  // Done: the waveform cut to the samples between the lines.
  void CutToSegment();
  void StartSetBaseline();
  // The selection fills the plot for picking the quiet stretch.
  void ExpandBaselineView();
  // Done: the mean of the quiet stretch subtracted from the waveform.
  void SubtractBaseline();
  void StartEstablishStart();
  // Done: the waveform shifted so that it starts at the line.
  void ShiftToStart();
  void StartTaper();
  // Done: the ends faded out beyond the lines.
  void ApplyTaper();
  // Calibration, unit 0 (keyboard factor) to 8 (P.S.I.).
  void CalibrateWaveform(int cal_unit);
  void ResampleWaveform();
  // Abandons the armed edit: the waveform, the grid and the picture as
  // before it.
  void CancelEdit();

 signals:
  // The lines were let go after a drag under this task's read-out.
  void LinesReleased(CursorTask task);
  // An edit's Done put the lines away.
  void EditFinished();

 private:
  // Parks the lines, hides the buttons, unlocks, pop-up on, plots the result.
  void FinishCursors();
  void PutAwayLines();
  void PlaceButtons();
  void ShowMoveReadout();

  Workspace& workspace_;
  CursorTool cursor_;
  std::vector<QPushButton*> done_buttons_;
  QPushButton* armed_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  // What the armed edit may change, as it was when the edit began.
  struct EditUndo {
    Session session;
    render::Picture picture;
    CursorTask task;
  };
  std::optional<EditUndo> before_edit_;
  std::int32_t saved_last_sample_ = 0;
  EstablishStartView start_view_;
};

}  // namespace korva::ui
