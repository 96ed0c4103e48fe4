#include "ui/cursor_tool.h"

#include <cmath>
#include <cstdlib>

namespace korva::ui {
namespace {

const QColor kCursorColour(255, 0, 0);

}  // namespace

void CursorTool::SetPlot(const PlotRect& plot) {
  if (active_ && plot_.width > 0 && (plot.left != plot_.left || plot.width != plot_.width)) {
    const auto map = [&](int x) {
      const double fraction = static_cast<double>(x - plot_.left) / plot_.width;
      return plot.left + static_cast<int>(std::nearbyint(fraction * plot.width));
    };
    x1_ = map(x1_);
    x2_ = map(x2_);
  }
  plot_ = plot;
}

void CursorTool::DrawLine(int x) {
  canvas_.XorLine(QPoint(x, plot_.top + plot_.height - 1), QPoint(x, plot_.top + 1), kCursorColour);
}

void CursorTool::Arm(CursorPair lines) {
  x1_ = lines.x1;
  x2_ = lines.x2;
  active_ = true;
  dragging_ = false;
  DrawLines();
}

void CursorTool::Park() {
  const CursorPair parked = ParkedCursors(plot_);
  x1_ = parked.x1;
  x2_ = parked.x2;
  active_ = false;
  dragging_ = false;
}

void CursorTool::DrawLines() {
  if (!active_) return;
  DrawLine(x1_);
  DrawLine(x2_);
}

int& CursorTool::NearerLine(int x) {
  return std::abs(x - x2_) < std::abs(x - x1_) ? x2_ : x1_;
}

void CursorTool::MoveLine(int& line, int x) {
  if (line == x) return;
  DrawLine(line);
  DrawLine(x);
  line = x;
}

void CursorTool::Press(Qt::MouseButton button, int x) {
  if (!active_ || button != Qt::LeftButton) return;
  dragging_ = true;
  // The line the press picked is the one the drag moves, however far the
  // mouse jumps between two of its events.
  dragged_second_ = &NearerLine(x) == &x2_;
  MoveLine(Dragged(), x);
}

void CursorTool::Follow(int x) {
  const int other = dragged_second_ ? x1_ : x2_;
  if (dragged_second_ ? x < other : x > other) {
    // Past the other line the drag pushes it on: the lines meet and the
    // other one follows, so that they never swap.
    MoveLine(Dragged(), other);
    dragged_second_ = !dragged_second_;
  }
  MoveLine(Dragged(), x);
}

bool CursorTool::Move(int x) {
  if (!active_ || !dragging_) return false;
  Follow(x);
  return true;
}

bool CursorTool::Release(int x) {
  if (!active_ || !dragging_) return false;
  Follow(x);
  dragging_ = false;
  return true;
}

}  // namespace korva::ui
