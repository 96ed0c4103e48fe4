// Looking closer at the pressure plot (also as it stands below the movie) and
// the spectrum: zoom and pan change only the view (the plot state's ranges),
// never the samples or the edit state; the status bar reads out the sample
// under the mouse, or the spectrum's level.
#include <QStatusBar>
#include <cmath>
#include <vector>

#include "core/common/numbers.h"
#include "ui/main_window.h"

namespace korva::ui {
namespace {

constexpr double kWheelNotch = 120.0;
// One notch of the wheel: a tenth of the view, or a zoom by this factor.
constexpr double kPanPerNotch = 0.1;
constexpr double kZoomPerNotch = 0.8;
constexpr double kReferencePa = 20e-6;

PressureView WholeWaveform(const Session& session) {
  return {session.StartTime, session.EndTime, session.MinPressure, session.PeakPressure};
}

}  // namespace

bool MainWindow::PressurePlotShown() const {
  return document_.session.LastSample >= 0 && plot_.frame2_set && !help_showing_ &&
         !before_movie_ && !picture_.lower.empty();
}

const plot::Frame* MainWindow::ViewFrameAt(QPoint position) const {
  if (PressurePlotShown()) return &plot_.frames[0];
  const bool movie_shown =
      before_movie_ && !help_showing_ && cochlea_shown_ == CochleaShown::kMovie && plot_.frame2_set;
  if (movie_shown && BoxOf(plot_.frames[1]).contains(position)) return &plot_.frames[1];
  return nullptr;
}

PlotRect MainWindow::SamplePlot() const {
  const PlotRect shown = CursorPlot();
  if (!plot_.view) return shown;
  // Where the waveform's first and last samples would stand at this zoom.
  const plot::Frame& frame = plot_.frames[0];
  const Session& session = document_.session;
  const double from = shown.left + (1000.0 * session.StartTime - frame.PlotXMin) * frame.XScale;
  const double to = shown.left + (1000.0 * session.EndTime - frame.PlotXMin) * frame.XScale;
  return PlotRect{static_cast<int>(std::lround(from)), shown.top,
                  std::max(1, static_cast<int>(std::lround(to - from))), shown.height};
}

void MainWindow::SetView(std::optional<PressureView> view) {
  if (plot_.view == view) return;
  plot_.view = view;
  Redraw();
}

void MainWindow::SetSpectrumView(std::optional<SpectrumView> view) {
  if (plot_.spectrum_view == view) return;
  plot_.spectrum_view = view;
  Redraw();
}

bool MainWindow::OverSpectrum(QPoint position) const {
  if (exit_spectrum_item_ == nullptr || !shown_spectrum_) return false;
  const plot::Layout layout =
      plot::SpectrumBandLayout(canvas_->Image().width(), canvas_->Image().height());
  return QRect(layout.PlotLeft, layout.PlotTop, layout.PlotWidth + 1, layout.PlotHeight + 1)
      .contains(position);
}

plot::Frame MainWindow::ShownSpectrumFrame() const {
  return SpectrumFrame(*shown_spectrum_, plot_.spectrum_view, canvas_->Image().width(),
                       canvas_->Image().height());
}

void MainWindow::ZoomToFitClick() {
  SetSpectrumView(std::nullopt);
  SetView(std::nullopt);
}

void MainWindow::CanvasWheeled(QPoint position, QPoint angle_delta,
                               Qt::KeyboardModifiers modifiers) {
  if (runner_.Busy()) return;
  const double notches = angle_delta.y() / kWheelNotch;
  if (notches == 0.0) return;
  if (OverSpectrum(position)) {
    // Zoomed and panned along the frequency axis, in decades.
    const SpectrumView whole = WholeSpectrum(*shown_spectrum_);
    const SpectrumView current = plot_.spectrum_view.value_or(whole);
    if (modifiers & Qt::ControlModifier) {
      const SpectrumView zoomed = ZoomedInFrequency(current, whole, ShownSpectrumFrame(),
                                                    position.x(), std::pow(kZoomPerNotch, notches));
      SetSpectrumView(zoomed == whole ? std::nullopt : std::optional(zoomed));
    } else if (plot_.spectrum_view) {
      SetSpectrumView(PannedInFrequency(current, whole, -notches * kPanPerNotch));
    }
    return;
  }
  const plot::Frame* frame = ViewFrameAt(position);
  if (frame == nullptr) return;
  const Session& session = document_.session;
  const PressureView whole = WholeWaveform(session);
  const PressureView current = plot_.view.value_or(whole);
  if (modifiers & Qt::ControlModifier) {
    // Wheel away from the user zooms in, as in most programs.
    const PressureView zoomed =
        ZoomedInTime(current, whole, *frame, position.x(), std::pow(kZoomPerNotch, notches),
                     session.SampleInterval);
    SetView(zoomed == whole ? std::nullopt : std::optional(zoomed));
  } else if (plot_.view) {
    SetView(PannedInTime(current, whole, -notches * kPanPerNotch));
  }
}

bool MainWindow::StartZoomBand(Qt::MouseButton button, QPoint position,
                               Qt::KeyboardModifiers modifiers) {
  const bool wanted =
      button == Qt::MiddleButton || (button == Qt::LeftButton && (modifiers & Qt::ShiftModifier));
  if (!wanted || (ReadoutAt(position).isEmpty() && !OverSpectrum(position))) return false;
  if (zoom_band_ == nullptr) zoom_band_ = new QRubberBand(QRubberBand::Rectangle, canvas_);
  zoom_from_ = position;
  zoom_band_->setGeometry(QRect(position, QSize()));
  zoom_band_->show();
  return true;
}

bool MainWindow::MoveZoomBand(QPoint position) {
  if (zoom_band_ == nullptr || !zoom_band_->isVisible()) return false;
  zoom_band_->setGeometry(QRect(zoom_from_, position).normalized());
  return true;
}

bool MainWindow::EndZoomBand(QPoint position) {
  if (zoom_band_ == nullptr || !zoom_band_->isVisible()) return false;
  zoom_band_->hide();
  const QRect area(zoom_from_, position);
  if (OverSpectrum(zoom_from_)) {
    if (const std::optional<SpectrumView> view =
            SpectrumViewOfRectangle(ShownSpectrumFrame(), area, WholeSpectrum(*shown_spectrum_))) {
      SetSpectrumView(view);
    }
    return true;
  }
  const plot::Frame* frame = ViewFrameAt(zoom_from_);
  if (frame == nullptr) return true;
  const Session& session = document_.session;
  if (const std::optional<PressureView> view =
          ViewOfRectangle(*frame, area, WholeWaveform(session), session.SampleInterval)) {
    SetView(view);
  }
  return true;
}

void MainWindow::CanvasDoubleClicked(Qt::MouseButton button, QPoint position) {
  if (button != Qt::LeftButton || runner_.Busy()) return;
  // Over the spectrum only the spectrum is shown whole again.
  if (OverSpectrum(position)) {
    SetSpectrumView(std::nullopt);
  } else if (!cursor_.Active()) {
    SetView(std::nullopt);
  }
}

QString MainWindow::ReadoutAt(QPoint position) const {
  const plot::Frame* frame = ViewFrameAt(position);
  if (frame == nullptr || !BoxOf(*frame).contains(position)) return {};
  const Session& session = document_.session;
  const WorldPoint at = ScreenToWorld(*frame, position);
  const std::int32_t i =
      SampleAtTime(at.ms, session.StartTime, session.SampleInterval, session.LastSample);
  const double ms = 1000.0 * (session.StartTime + static_cast<double>(i) * session.SampleInterval);
  const double pa = session.Pressure[i];
  std::string text = FormatFixed(ms, 3) + " ms   " + FormatFixed(pa, 1) + " Pa   ";
  text += pa == 0.0 ? std::string("-inf dB")
                    : FormatFixed(20.0 * std::log10(std::fabs(pa) / kReferencePa), 1) + " dB";
  text += "   (sample " + FormatInteger(i) + ")";
  return QString::fromStdString(text);
}

QString MainWindow::CochleaReadout(QPoint position) const {
  const std::optional<HazardRunResult>& run = document_.last_run;
  if (!before_movie_ || help_showing_ || cochlea_shown_ == CochleaShown::kNone || !run ||
      !run->movie) {
    return {};
  }
  std::vector<float> hazard;
  if (cochlea_shown_ == CochleaShown::kMovie) {
    hazard = movie_->PlaceHazard();
  } else {
    for (int c = 1; c <= run->cochlea.Places; ++c) hazard.push_back(run->movie->At(1, c + 2));
  }
  const QImage& image = canvas_->Image();
  return CochleaReadoutAt(run->parameters, hazard, image.width(), image.height(), position);
}

void MainWindow::CanvasHovered(QPoint position) {
  if (runner_.Busy()) return;
  QString text = ReadoutAt(position);
  if (text.isEmpty()) text = CochleaReadout(position);
  if (text.isEmpty() && exit_spectrum_item_ != nullptr && shown_spectrum_) {
    const QImage& image = canvas_->Image();
    text = SpectrumReadoutAt(*shown_spectrum_, plot_.spectrum_view, image.width(), image.height(),
                             position);
  }
  if (!text.isEmpty()) statusBar()->showMessage(text);
}

}  // namespace korva::ui
