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
#include "render/recipes.h"
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
            picture_.upper = {
                OverlaySpectra(result, document_.spectrum_range,
                               ToQColor(plot::OverlayTraceColour(plot_.TraceCount - 1)))};
            Redraw();
            SaveForm();
            ShowWritten({result->table});
            document_.last_overlay = *result;
          };
        });
}

}  // namespace korva::ui
