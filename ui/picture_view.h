// The canvas as a view of the document's picture: drawn again whenever the
// picture changes, the window is resized or the zoom moves, at the canvas's
// size, keeping the frames the picture set for the mouse and the edits.
// While a computation runs, a command may show a preview of its result in
// place of the document's picture; the protector help picture covers
// everything until the next press.
#pragma once

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "core/metrics/edits.h"
#include "render/picture.h"
#include "render/plot_painter.h"
#include "ui/canvas.h"
#include "ui/document.h"

namespace korva::ui {

class PictureView : public QObject {
  Q_OBJECT

 public:
  PictureView(Document& document, Canvas& canvas, QObject* parent = nullptr);

  Canvas& canvas() { return canvas_; }
  // The frames and layout of the picture last drawn, the zoom and the trace count.
  render::PlotState& State() { return state_; }
  const render::PlotState& State() const { return state_; }
  // The same for the picture as it stands now: drawn first when it changed.
  const render::PlotState& Current();
  // The pixel rectangle of the pressure plot the cursor lines stand on, as
  // the picture stands now.
  PlotRect CursorPlot() { return CursorPlotOf(Current()); }
  static PlotRect CursorPlotOf(const render::PlotState& state);
  // The rectangle the whole waveform would fill at the current zoom: the
  // edits find the sample under a line with it (CursorPlot when unzoomed).
  PlotRect SamplePlot();

  // Draws the picture again now, whole.
  void Redraw();

  // The session's waveform added to the document's picture: a fresh plot
  // replaces the lower band, an overlay trace goes over it.
  void PlotWaveform();

  // `preview` shown in place of the document's picture until EndPreview.
  void ShowPreview(render::Picture preview);
  void EndPreview();

  // `cover` (the header grid) hides the upper band while it is shown: the
  // picture is drawn again without the upper band whenever it shows or hides.
  void CoverUpperBandWith(QWidget& cover);

  void ShowHelpPicture(const QImage& picture);
  void HideHelpPicture();
  bool HelpPictureShowing() const { return help_.has_value(); }

 signals:
  // The plot was drawn (no help picture over it): what stands over the
  // picture (the cursor lines) goes on now.
  void Redrawn();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refresh();
  bool UpperCovered() const { return cover_ != nullptr && !cover_->isHidden(); }

  Document& document_;
  Canvas& canvas_;
  render::PlotState state_;
  std::optional<render::Picture> preview_;
  std::optional<QImage> help_;
  QWidget* cover_ = nullptr;
  // The revision of the document's picture on the canvas; none after a
  // preview or a help picture.
  std::optional<std::uint64_t> drawn_;
};

}  // namespace korva::ui
