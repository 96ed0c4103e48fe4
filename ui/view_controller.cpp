#include "ui/view_controller.h"

#include <QClipboard>
#include <QGuiApplication>
#include <cmath>
#include <vector>

#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "render/picture_export.h"
#include "ui/file_controller.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

constexpr double kWheelNotch = 120.0;
// One notch of the wheel: a tenth of the view, or a zoom by this factor.
constexpr double kPanPerNotch = 0.1;
constexpr double kZoomPerNotch = 0.8;

render::PressureView WholeWaveform(const Session& session) {
  return {session.StartTime, session.EndTime, session.MinPressure, session.PeakPressure};
}

}  // namespace

ViewController::ViewController(Workspace& workspace, EditController& edits,
                               AnalysisController& analysis, MovieController& movie,
                               QObject* parent)
    : QObject(parent), workspace_(workspace), edits_(edits), analysis_(analysis), movie_(movie) {}

void ViewController::AddFileItems(QMenu& file) {
  const std::tuple<const char*, const char*, void (ViewController::*)()> items[] = {
      {"Copy screen to clipboard", "Copyscreentoclipboard1", &ViewController::CopyScreen},
      {"Copy waveform to clipboard", "CopyWaveformToClipboard1", &ViewController::CopyWaveform},
      {"Copy spectrum to clipboard", "Copyospectrumtoclipboard1", &ViewController::CopySpectrum},
      {"Export picture...", "ExportPicture1", &ViewController::ExportPicture}};
  for (const auto& [caption, name, slot] : items) {
    QAction* action = file.addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
  }
}

void ViewController::AddPopupItems(QMenu& popup) {
  QAction* fit = popup.addAction("Zoom to fit\tHome");
  fit->setObjectName("ZoomToFit1");
  connect(fit, &QAction::triggered, this, &ViewController::ZoomToFit);
}

// --- Zoom and pan ---------------------------------------------------------------

const std::optional<render::PressureView>& ViewController::Zoom() const {
  return workspace_.picture().State().view;
}

const std::optional<render::SpectrumView>& ViewController::SpectrumZoom() const {
  return workspace_.picture().State().spectrum_view;
}

void ViewController::SetZoom(std::optional<render::PressureView> view) {
  render::PlotState& state = workspace_.picture().State();
  if (state.view == view) return;
  state.view = view;
  workspace_.picture().Redraw();
}

void ViewController::SetSpectrumZoom(std::optional<render::SpectrumView> view) {
  render::PlotState& state = workspace_.picture().State();
  if (state.spectrum_view == view) return;
  state.spectrum_view = view;
  workspace_.picture().Redraw();
}

bool ViewController::PressurePlotShown() const {
  const PictureView& picture = workspace_.picture();
  return workspace_.document().session.LastSample >= 0 && picture.State().frame2_set &&
         !picture.HelpPictureShowing() && !movie_.Showing() &&
         !workspace_.document().picture.lower.empty();
}

const plot::Frame* ViewController::ViewFrameAt(QPoint position) const {
  const render::PlotState& state = workspace_.picture().State();
  if (PressurePlotShown()) return &state.frames[0];
  const bool movie_shown =
      movie_.AnimationShown() && !workspace_.picture().HelpPictureShowing() && state.frame2_set;
  if (movie_shown && render::BoxOf(state.frames[1]).contains(position)) return &state.frames[1];
  return nullptr;
}

bool ViewController::OverSpectrum(QPoint position) const {
  if (analysis_.ExitSpectrumItem() == nullptr || analysis_.ShownSpectrum() == nullptr) return false;
  const QImage& image = workspace_.canvas().Image();
  const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
  return QRect(layout.PlotLeft, layout.PlotTop, layout.PlotWidth + 1, layout.PlotHeight + 1)
      .contains(position);
}

plot::Frame ViewController::ShownSpectrumFrame() const {
  const QImage& image = workspace_.canvas().Image();
  return render::SpectrumFrame(*analysis_.ShownSpectrum(), SpectrumZoom(), image.width(),
                               image.height());
}

void ViewController::ZoomToFit() {
  SetSpectrumZoom(std::nullopt);
  SetZoom(std::nullopt);
}

void ViewController::Wheeled(QPoint position, QPoint angle_delta, Qt::KeyboardModifiers modifiers) {
  if (workspace_.Busy()) return;
  const double notches = angle_delta.y() / kWheelNotch;
  if (notches == 0.0) return;
  if (OverSpectrum(position)) {
    // Zoomed and panned along the frequency axis, in decades.
    const render::SpectrumView whole = render::WholeSpectrum(*analysis_.ShownSpectrum());
    const render::SpectrumView current = SpectrumZoom().value_or(whole);
    if (modifiers & Qt::ControlModifier) {
      const render::SpectrumView zoomed = render::ZoomedInFrequency(
          current, whole, ShownSpectrumFrame(), position.x(), std::pow(kZoomPerNotch, notches));
      SetSpectrumZoom(zoomed == whole ? std::nullopt : std::optional(zoomed));
    } else if (SpectrumZoom()) {
      SetSpectrumZoom(render::PannedInFrequency(current, whole, -notches * kPanPerNotch));
    }
    return;
  }
  const plot::Frame* frame = ViewFrameAt(position);
  if (frame == nullptr) return;
  const Session& session = workspace_.document().session;
  const render::PressureView whole = WholeWaveform(session);
  const render::PressureView current = Zoom().value_or(whole);
  if (modifiers & Qt::ControlModifier) {
    // Wheel away from the user zooms in, as in most programs.
    const render::PressureView zoomed =
        render::ZoomedInTime(current, whole, *frame, position.x(), std::pow(kZoomPerNotch, notches),
                             session.SampleInterval);
    SetZoom(zoomed == whole ? std::nullopt : std::optional(zoomed));
  } else if (Zoom()) {
    SetZoom(render::PannedInTime(current, whole, -notches * kPanPerNotch));
  }
}

bool ViewController::StartZoomBand(Qt::MouseButton button, QPoint position,
                                   Qt::KeyboardModifiers modifiers) {
  const bool wanted =
      button == Qt::MiddleButton || (button == Qt::LeftButton && (modifiers & Qt::ShiftModifier));
  if (!wanted || (ReadoutAt(position).isEmpty() && !OverSpectrum(position))) return false;
  if (zoom_band_ == nullptr) {
    zoom_band_ = new QRubberBand(QRubberBand::Rectangle, &workspace_.canvas());
  }
  zoom_from_ = position;
  zoom_band_->setGeometry(QRect(position, QSize()));
  zoom_band_->show();
  return true;
}

bool ViewController::MoveZoomBand(QPoint position) {
  if (zoom_band_ == nullptr || !zoom_band_->isVisible()) return false;
  zoom_band_->setGeometry(QRect(zoom_from_, position).normalized());
  return true;
}

bool ViewController::EndZoomBand(QPoint position) {
  if (zoom_band_ == nullptr || !zoom_band_->isVisible()) return false;
  zoom_band_->hide();
  const QRect area(zoom_from_, position);
  if (OverSpectrum(zoom_from_)) {
    if (const std::optional<render::SpectrumView> view = render::SpectrumViewOfRectangle(
            ShownSpectrumFrame(), area, render::WholeSpectrum(*analysis_.ShownSpectrum()))) {
      SetSpectrumZoom(view);
    }
    return true;
  }
  const plot::Frame* frame = ViewFrameAt(zoom_from_);
  if (frame == nullptr) return true;
  const Session& session = workspace_.document().session;
  if (const std::optional<render::PressureView> view =
          render::ViewOfRectangle(*frame, area, WholeWaveform(session), session.SampleInterval)) {
    SetZoom(view);
  }
  return true;
}

void ViewController::DoubleClicked(Qt::MouseButton button, QPoint position) {
  if (button != Qt::LeftButton || workspace_.Busy()) return;
  // Over the spectrum only the spectrum is shown whole again.
  if (OverSpectrum(position)) {
    SetSpectrumZoom(std::nullopt);
  } else if (!edits_.Cursor().Active()) {
    SetZoom(std::nullopt);
  }
}

// --- Read-outs --------------------------------------------------------------------

QString ViewController::ReadoutAt(QPoint position) const {
  const plot::Frame* frame = ViewFrameAt(position);
  if (frame == nullptr || !render::BoxOf(*frame).contains(position)) return {};
  const Session& session = workspace_.document().session;
  const render::WorldPoint at = render::ScreenToWorld(*frame, position);
  const std::int32_t i =
      render::SampleAtTime(at.ms, session.StartTime, session.SampleInterval, session.LastSample);
  const double ms = 1000.0 * (session.StartTime + static_cast<double>(i) * session.SampleInterval);
  const double pa = session.Pressure[i];
  // A pressure that rounds to zero is shown without a sign, and a sample of
  // exactly zero has no level to show.
  std::string pa_text = FormatFixed(pa, 1);
  if (pa_text == "-0.0") pa_text.erase(0, 1);
  std::string text = FormatFixed(ms, 3) + " ms   " + pa_text + " Pa   ";
  if (pa != 0.0) text += FormatFixed(LevelDb(pa), 1) + " dB   ";
  text += "(sample " + FormatInteger(i) + ")";
  return QString::fromStdString(text);
}

void ViewController::Hovered(QPoint position) {
  if (workspace_.Busy()) return;
  QString text = ReadoutAt(position);
  if (text.isEmpty()) text = movie_.CochleaReadout(position);
  if (text.isEmpty() && analysis_.ExitSpectrumItem() != nullptr && analysis_.ShownSpectrum()) {
    const QImage& image = workspace_.canvas().Image();
    text = render::SpectrumReadoutAt(*analysis_.ShownSpectrum(), SpectrumZoom(), image.width(),
                                     image.height(), position);
  }
  if (!text.isEmpty()) workspace_.ShowStatus(text);
}

// --- Copies and exports -----------------------------------------------------------

void ViewController::CopyScreen() {
  // What the user sees of the client area: the picture with the grid, the
  // read-outs and the buttons standing on it.
  workspace_.Run(
      "Copy screen to clipboard",
      [this] { QGuiApplication::clipboard()->setImage(workspace_.canvas().grab().toImage()); },
      Workspace::MovieEffect::kKeepsPlaying);
}

void ViewController::CopyWaveform() {
  const int half = workspace_.canvas().Image().height() / 2;
  CopyCanvasRows(half, half);
}

void ViewController::CopySpectrum() {
  // The grid stands over the upper half while a waveform's header is shown:
  // there is no spectrum under it to copy.
  if (workspace_.grid().Widget().isVisible()) {
    workspace_.ShowStatus(
        "No spectrum is shown: the grid covers the upper half of the window; nothing was copied",
        kStatusMilliseconds);
    return;
  }
  CopyCanvasRows(0, workspace_.canvas().Image().height() / 2);
}

void ViewController::CopyCanvasRows(int top, int height) {
  // A copy draws nothing, so a playing movie goes on: this is how a user
  // captures one of its frames.
  workspace_.Run(
      "Copy to clipboard",
      [this, top, height] {
        const QImage& image = workspace_.canvas().Image();
        QGuiApplication::clipboard()->setImage(image.copy(0, top, image.width(), height));
      },
      Workspace::MovieEffect::kKeepsPlaying);
}

void ViewController::ExportPicture() {
  // Drawn again from the picture's description, so nothing on the screen
  // changes and a playing movie goes on.
  workspace_.Run(
      "Export picture",
      [this] {
        const Document& document = workspace_.document();
        FileDialogRequest dialog;
        dialog.title = "Export picture";
        dialog.filters =
            QStringList{"PNG picture (*.png)", "SVG drawing (*.svg)", "PDF document (*.pdf)"};
        dialog.directory = QString::fromStdString(document.SaveAsFolder().string());
        dialog.default_suffix = "png";
        dialog.proposed_name = document.chosen_file.empty()
                                   ? QString("picture.png")
                                   : Latin1(NameToFirstDot(document.chosen_file) + ".png");
        const std::optional<fs::path> chosen = workspace_.chooser().ChooseSaveFile(dialog);
        if (!chosen) return;
        const std::optional<render::PictureFormat> format = render::PictureFormatOfFile(*chosen);
        if (!format) {
          throw Error(chosen->filename().string() +
                      ": the name must end in .png, .svg or .pdf, which says the format");
        }
        // What the plot area shows: the lower band where the grid covers
        // the upper one, else the whole client area.
        const Canvas& canvas = workspace_.canvas();
        const QSize window(canvas.ClientWidth(), canvas.ClientHeight());
        QSize client = window;
        if (*format == render::PictureFormat::kPng) {
          const std::string proposed =
              std::to_string(window.width()) + "x" + std::to_string(window.height());
          const std::string answer = workspace_.prompter().AskText(
              "Export picture",
              "Size of the window to draw, in pixels (width x height):", proposed);
          const std::optional<QSize> size = render::PictureSizeNamed(answer);
          if (!size) {
            throw Error("\"" + answer + "\" is no size: give width x height, each 16 to 8192");
          }
          client = *size;
        }
        render::PictureExport what;
        what.picture = &document.picture;
        what.state = workspace_.picture().State();
        what.client = client;
        what.shown = workspace_.grid().Widget().isVisible()
                         ? QRect(0, client.height() / 2, client.width(),
                                 client.height() - client.height() / 2)
                         : QRect(QPoint(0, 0), client);
        what.title = document.session.WaveformTitle;
        render::ExportPicture(what, *format, *chosen);
        workspace_.ShowWritten({*chosen});
      },
      Workspace::MovieEffect::kKeepsPlaying);
}

}  // namespace korva::ui
