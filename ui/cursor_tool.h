// The two red cursor lines of the edit commands, standing on the pressure
// plot: where they are, which one the mouse moves, what the read-outs are for.
// The lines are XOR lines on the canvas, so drawing one twice erases it; the
// window draws them again whenever it redraws the picture beneath them.
#pragma once

#include <Qt>

#include "core/metrics/edits.h"
#include "ui/canvas.h"

namespace korva::ui {

// What the lines are measuring, which decides the read-outs while they move
// and when they are let go.
enum class CursorTask {
  kNone,              // no read-out
  kSelectSegment,     // the number of samples between the lines
  kEstablishStart,    // the level under the first line
  kStatistics,        // the peak between the lines; the interval metrics on release
  kSpectrumInterval,  // the interval metrics on release, after the Leq300ms spectrum
  kProtector,         // the protector menu was opened: no read-out
};

class CursorTool {
 public:
  explicit CursorTool(Canvas& canvas) : canvas_(canvas) {}

  // The pixel rectangle of the plot. When it changes (the window was
  // resized), the lines keep their place relative to it.
  const PlotRect& Plot() const { return plot_; }
  void SetPlot(const PlotRect& plot);

  // Set by the command that arms the lines and kept after it; Set Baseline
  // and Taper Ends keep the task set last, so their lines show its read-outs.
  CursorTask Task() const { return task_; }
  void SetTask(CursorTask task) { task_ = task; }

  bool Active() const { return active_; }
  bool Dragging() const { return dragging_; }
  int X1() const { return x1_; }
  int X2() const { return x2_; }
  CursorPair Lines() const { return {x1_, x2_}; }

  // Draws both lines at `lines`; from now on the mouse moves them.
  void Arm(CursorPair lines);
  // Inactive, parked at the edges of the plot (not drawn).
  void Park();
  // Draws the lines over a picture that has just been drawn again.
  void DrawLines();

  // A press with the left button moves the nearer line there (the first
  // line when both are as near) and starts a drag; other buttons move
  // nothing, then or on their release.
  void Press(Qt::MouseButton button, int x);
  // While dragging, the line the press moved follows; past the other line it
  // pushes that one on. True when a line moved.
  bool Move(int x);
  // Ends a drag; true when there was one (a read-out is due).
  bool Release(int x);

 private:
  void DrawLine(int x);
  int& NearerLine(int x);
  int& Dragged() { return dragged_second_ ? x2_ : x1_; }
  void MoveLine(int& line, int x);
  void Follow(int x);

  Canvas& canvas_;
  PlotRect plot_;
  CursorTask task_ = CursorTask::kNone;
  int x1_ = 0;
  int x2_ = 0;
  bool active_ = false;
  bool dragged_second_ = false;  // the drag moves x2_, else x1_
  bool dragging_ = false;
};

}  // namespace korva::ui
