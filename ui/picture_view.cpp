#include "ui/picture_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "render/recipes.h"

namespace korva::ui {

PictureView::PictureView(Document& document, Canvas& canvas, QObject* parent)
    : QObject(parent), document_(document), canvas_(canvas) {
  connect(&document_, &Document::PictureChanged, this, &PictureView::Refresh);
}

void PictureView::Refresh() {
  if (preview_ || drawn_ != document_.PictureRevision()) Redraw();
}

const render::PlotState& PictureView::Current() {
  if (!preview_ && drawn_ != document_.PictureRevision()) Redraw();
  return state_;
}

PlotRect PictureView::CursorPlotOf(const render::PlotState& state) {
  const plot::Layout& layout = state.layout;
  return PlotRect{layout.PlotLeft, layout.PlotTop, layout.PlotWidth, layout.PlotHeight};
}

PlotRect PictureView::SamplePlot() {
  const PlotRect shown = CursorPlot();
  if (!state_.view) return shown;
  // Where the waveform's first and last samples would stand at this zoom.
  const plot::Frame& frame = state_.frames[0];
  const Session& session = document_.session;
  const double from = shown.left + (1000.0 * session.StartTime - frame.PlotXMin) * frame.XScale;
  const double to = shown.left + (1000.0 * session.EndTime - frame.PlotXMin) * frame.XScale;
  return PlotRect{static_cast<int>(std::lround(from)), shown.top,
                  std::max(1, static_cast<int>(std::lround(to - from))), shown.height};
}

void PictureView::Redraw() {
  canvas_.FollowWidgetSize();
  render::Surface surface(canvas_.Image());
  if (preview_) {
    preview_->Render(surface, state_, UpperCovered());
    drawn_.reset();
  } else {
    document_.picture.Render(surface, state_, UpperCovered());
    drawn_ = document_.PictureRevision();
  }
  if (help_) {
    canvas_.StretchPicture(*help_);
  } else {
    emit Redrawn();
  }
  canvas_.update();
}

void PictureView::PlotWaveform() {
  canvas_.FollowWidgetSize();
  std::optional<render::PressurePlotInput> plot = render::NextPressurePlot(
      document_.session, state_, canvas_.ClientWidth(), canvas_.ClientHeight());
  if (!plot) return;
  if (plot->fresh_axes) document_.picture.lower.clear();
  document_.picture.lower.push_back(render::PressurePlot(std::move(*plot)));
  document_.Changed(Document::kPicture);
}

void PictureView::ShowPreview(render::Picture preview) {
  preview_ = std::move(preview);
  Redraw();
}

void PictureView::EndPreview() {
  preview_.reset();
  Redraw();
}

void PictureView::CoverUpperBandWith(QWidget& cover) {
  cover_ = &cover;
  cover.installEventFilter(this);
}

bool PictureView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cover_ &&
      (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
    Redraw();
  }
  return QObject::eventFilter(watched, event);
}

void PictureView::ShowHelpPicture(const QImage& picture) {
  help_ = picture;
  Redraw();
}

void PictureView::HideHelpPicture() {
  help_.reset();
  Redraw();
}

}  // namespace korva::ui
