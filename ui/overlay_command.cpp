// "Overlay KRV waveform": the second recording drawn over the first, the two
// narrow-band spectra above, and one line of band differences appended to
// the noise-reduction table.
#include <QMenuBar>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/plot/log_axes.h"
#include "core/plot/pressure_plot.h"
#include "core/protection/overlay.h"
#include "ui/main_window.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

float LargestLevel(const OverlayResult& result, bool second) {
  const BinEnergies& bins = second ? result.second_bins : result.first_bins;
  const BandEnergies& bands = second ? result.second_bands : result.first_bands;
  float largest = bins.largest;
  for (const float e : bands.energy) largest = std::max(largest, e);
  return largest > 0.0f ? static_cast<float>(10.0 * std::log10(double{largest})) : 0.0f;
}

// One narrow-band curve from bin 1 to half - 1 in `colour`.
void DrawBins(QPainter& painter, const plot::Frame& frame, const BinEnergies& bins, QColor colour) {
  QPolygon curve;
  for (std::int32_t k = 1; k < bins.half; ++k) {
    const double p = bins.P[static_cast<std::size_t>(k)];
    if (!(p > 0.0)) continue;  // no level to draw for an empty bin
    float x = static_cast<float>(std::log10(k * bins.df));
    float y = static_cast<float>(10.0 * std::log10(p));
    const plot::ScreenPoint s = plot::WorldToScreen(frame, x, y);
    curve.append(QPoint(s.x, s.y));
  }
  painter.setPen(QPen(colour, 0));
  if (curve.size() > 1) painter.drawPolyline(curve);
}

// Both narrow-band spectra over the upper band on the overlay's range: the
// second recording in the colour of its trace, the first in blue.
void DrawOverlaySpectra(Surface& image, const OverlayResult& result,
                        const std::array<float, 4>& range, QColor second_colour) {
  const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
  const auto [x_min, x_max, y_min, y_max] = range;
  const plot::Frame frame =
      plot::FrameOver(layout, x_min, x_max > x_min ? x_max : x_min + 1.0f, y_min, y_max);
  const plot::AxesStyle axes =
      plot::LevelAxesStyle(layout, plot::NiceStep((y_max - y_min) / 30.0f));
  SurfacePainter paint(image);
  QPainter& painter = *paint;
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
  painter.setFont(PlotFont(image.width(), image.height()));
  PlotLogAxes(painter,
              plot::PlanLogAxes(frame, layout, axes, kSpectrumCaption, kSpectrumUnitsCaption));
  DrawBins(painter, frame, result.second_bins, second_colour);
  DrawBins(painter, frame, result.first_bins, ToQColor(plot::kBlue));
}

}  // namespace

void MainWindow::OverlayKRVWaveform1Click() {
  if (runner_.Busy() || document_.session.LastSample < 1) return;
  const QString name = "Overlay KRV waveform";
  std::optional<fs::path> chosen;
  fs::path table;
  const bool ran = Run(name, [this, &chosen, &table] {
    if (document_.session.MovieAvailable) CloseMovie();
    chosen = chooser_.ChooseOpenFile(KrvOpenDialog());
    table = DataFileForWriting(options_.data_dir, kNoiseReductionTablePath);
  });
  if (!ran) return;

  // Cancel compares the first waveform with itself; the session that holds
  // it is not touched then.
  auto work = std::make_shared<Session>(document_.session);
  auto dither = std::make_shared<Lcg>(document_.protector_state.dither);
  const fs::path second = chosen ? *chosen : document_.chosen_file;
  const bool replace = chosen.has_value();
  Start(name,
        [this, work, dither, second, table,
         replace](CommandRunner::Worker& worker) -> CommandRunner::Commit {
          auto result = std::make_shared<const OverlayResult>(
              OverlayKRVWaveform(*work, *dither, second, table, worker.progress));
          return [this, work, dither, result, replace] {
            // The picture before the first overlay is the one to come back to.
            if (document_.session.ClearPlotFirst) SaveForm();
            document_.protector_state.dither = *dither;
            grid_->hide();
            if (replace) {
              document_.session = std::move(*work);
              document_.session.ClearPlotFirst = false;
              popup_on_ = false;
              analyze_menu_->menuAction()->setEnabled(true);
              save_action_->setEnabled(false);
              save_as_action_->setEnabled(false);
              RestoreForm();
              PressureTimePlot();
            }
            document_.session.ClearPlotFirst = false;
            if (document_.new_spectrum_scale) {
              const float top = std::max(LargestLevel(*result, false), LargestLevel(*result, true));
              document_.spectrum_range = {
                  static_cast<float>(std::log10(result->first_bins.df)),
                  static_cast<float>(std::log10(result->first_bins.nyquist)), top - 90.0f, top};
              document_.new_spectrum_scale = false;
            }
            picture_.upper = {[result, range = document_.spectrum_range,
                               colour = ToQColor(plot::OverlayTraceColour(plot_.TraceCount - 1))](
                                  Surface& image, PlotState&) {
              DrawOverlaySpectra(image, *result, range, colour);
            }};
            Redraw();
            SaveForm();
            ShowWritten({result->table});
            document_.last_overlay = *result;
          };
        });
}

}  // namespace korva::ui
