// "Overlay KRV waveform": the second recording drawn over the first, the two
// narrow-band spectra above, and one line of band differences appended to
// the noise-reduction table.
#include <QMenuBar>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <filesystem>

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

}  // namespace

void MainWindow::OverlayKRVWaveform1Click() {
  RunCommand([this] {
    if (session_.LastSample < 1) return;
    grid_->hide();
    if (session_.ClearPlotFirst) {
      canvas_->SaveForm();
      session_.ClearPlotFirst = false;
    }
    if (session_.MovieAvailable) CloseMovie();

    const std::optional<fs::path> chosen = chooser_.ChooseOpenFile(KrvOpenDialog());
    const fs::path table = DataFileForWriting(options_.data_dir, kNoiseReductionTablePath);

    WindowProgress progress(*this);  // the window repaints while a long file is read
    OverlayResult result;
    if (chosen) {
      result = OverlayKRVWaveform(session_, protector_state_.dither, *chosen, table, progress);
      popup_on_ = false;
      analyze_menu_->menuAction()->setEnabled(true);
      save_action_->setEnabled(false);
      save_as_action_->setEnabled(false);
      canvas_->RestoreForm();
      PressureTimePlot();
    } else {
      // Cancel compares the first waveform with itself; the session that
      // holds it is not touched.
      Session copy = session_;
      result =
          OverlayKRVWaveform(copy, protector_state_.dither, last_open_choice_, table, progress);
    }

    if (new_spectrum_scale_) {
      const float top = std::max(LargestLevel(result, false), LargestLevel(result, true));
      spectrum_range_ = {static_cast<float>(std::log10(result.first_bins.df)),
                         static_cast<float>(std::log10(result.first_bins.nyquist)), top - 90.0f,
                         top};
      new_spectrum_scale_ = false;
    }
    QImage& image = canvas_->Image();
    const plot::Layout layout = plot::SpectrumBandLayout(image.width(), image.height());
    const auto [x_min, x_max, y_min, y_max] = spectrum_range_;
    const plot::Frame frame =
        plot::FrameOver(layout, x_min, x_max > x_min ? x_max : x_min + 1.0f, y_min, y_max);
    const plot::AxesStyle axes =
        plot::LevelAxesStyle(layout, plot::NiceStep((y_max - y_min) / 30.0f));
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing, false);
      painter.fillRect(QRect(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight), Qt::white);
      painter.setFont(PlotFont(image.width(), image.height()));
      PlotLogAxes(painter,
                  plot::PlanLogAxes(frame, layout, axes, kSpectrumCaption, kSpectrumUnitsCaption));
      DrawBins(painter, frame, result.second_bins,
               ToQColor(plot::OverlayTraceColour(plot_.TraceCount - 1)));
      DrawBins(painter, frame, result.first_bins, ToQColor(plot::kBlue));
    }
    canvas_->update();
    canvas_->SaveForm();
    session_.ClearPlotFirst = false;
    last_overlay_ = std::move(result);
  });
}

}  // namespace korva::ui
