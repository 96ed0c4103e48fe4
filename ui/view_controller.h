// Looking at the pictures: zoom and pan of the pressure plot (also as it
// stands below the movie) and of the spectrum, which change only the view,
// never the samples or the edit state; the read-outs in the status bar under
// the mouse; the clipboard copies and File > Export picture.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QRubberBand>
#include <optional>

#include "render/plot_view.h"
#include "ui/analysis_controller.h"
#include "ui/edit_controller.h"
#include "ui/movie_controller.h"
#include "ui/workspace.h"

namespace korva::ui {

class ViewController : public QObject {
  Q_OBJECT

 public:
  ViewController(Workspace& workspace, EditController& edits, AnalysisController& analysis,
                 MovieController& movie, QObject* parent = nullptr);

  // The clipboard copies and Export picture.
  void AddFileItems(QMenu& file);
  void AddPopupItems(QMenu& popup);

  // The zoomed part of the pressure plot; none when it shows everything.
  const std::optional<render::PressureView>& Zoom() const;
  void SetZoom(std::optional<render::PressureView> view);
  // The zoomed part of the spectrum; none when it shows all of it.
  const std::optional<render::SpectrumView>& SpectrumZoom() const;
  void SetSpectrumZoom(std::optional<render::SpectrumView> view);
  bool Zoomed() const { return Zoom() || SpectrumZoom(); }
  // "t ms  p Pa  L dB" of the sample under `position`, empty off the plot.
  QString ReadoutAt(QPoint position) const;

  // The mouse (client pixels). A rectangle dragged with the middle button,
  // or with Shift and the left one, zooms to it: each of these is true when
  // the event was the rectangle's.
  bool StartZoomBand(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers);
  bool MoveZoomBand(QPoint position);
  bool EndZoomBand(QPoint position);
  // The wheel pans in time, with Ctrl it zooms around the mouse; a double
  // click shows everything again.
  void Wheeled(QPoint position, QPoint angle_delta, Qt::KeyboardModifiers modifiers);
  void DoubleClicked(Qt::MouseButton button, QPoint position);
  void Hovered(QPoint position);

 public slots:
  void ZoomToFit();
  void CopyScreen();
  void CopyWaveform();
  void CopySpectrum();
  void ExportPicture();

 private:
  // Whether the pressure plot stands in the lower band (no movie picture,
  // no help picture), where zoom and read-outs apply.
  bool PressurePlotShown() const;
  // The frame zoom, pan and the sample read-out act on at `position`: the
  // pressure plot's, or that of the waveform below the movie when the mouse
  // is over it; none where neither applies.
  const plot::Frame* ViewFrameAt(QPoint position) const;
  // Whether `position` is over the spectrum's plot (in spectrum mode).
  bool OverSpectrum(QPoint position) const;
  plot::Frame ShownSpectrumFrame() const;
  // Rows top..top+height-1 of the canvas to the clipboard.
  void CopyCanvasRows(int top, int height);

  Workspace& workspace_;
  EditController& edits_;
  AnalysisController& analysis_;
  MovieController& movie_;
  QRubberBand* zoom_band_ = nullptr;
  QPoint zoom_from_;
};

}  // namespace korva::ui
