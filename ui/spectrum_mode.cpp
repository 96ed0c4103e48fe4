// The Leq300ms spectrum mode: the spectrum over the upper half of the window,
// the ".TOB" table, and the menu-bar entry that leaves the mode.
#include <QMenuBar>
#include <filesystem>
#include <memory>

#include "core/metrics/leq300.h"
#include "ui/main_window.h"

namespace korva::ui {

std::string SpectrumExitMessage(const std::string& base_name) {
  return "A text file was just created in this folder named " + base_name +
         " containing 1/3 octave-band 300 msec equivalent energy levels for this waveform.  "
         "Also the Right-Click Pop-Up Menu is disabled. To re-enable the Pop-Up Menu, either "
         "return to the File | Open KRV waveform or File | Import waveform Pull-Down menu or "
         "Analyze Pull-Down Menu.";
}

void MainWindow::Leq300msspectrum1Click() {
  if (runner_.Busy()) return;
  const QString name = "Leq300ms spectrum";
  // The mode starts whatever the waveform: one exit entry, items disabled.
  auto enter_mode = [this] {
    if (exit_spectrum_item_ == nullptr) {
      exit_spectrum_item_ = menuBar()->addAction("[Exit Leq300 Spectrum]");
      exit_spectrum_item_->setObjectName("CancelLeq300");
      connect(exit_spectrum_item_, &QAction::triggered, this, &MainWindow::CancelLeq300Click);
    }
    SetPopupItemsEnabled(false);
  };
  const Session& session = document_.session;
  if (session.ImportedWaveform || session.LastSample < 1 ||
      session.LastSample >= kMaxSpectrumSamples) {
    Run(name, enter_mode);
    return;
  }
  auto work = std::make_shared<Session>(session);
  Start(name,
        [this, work, enter_mode,
         folder = document_.output_folder](CommandRunner::Worker&) -> CommandRunner::Commit {
          auto run = std::make_shared<const Leq300msRun>(RunLeq300msSpectrum(*work, folder));
          return [this, work, run, enter_mode] {
            document_.session = std::move(*work);
            enter_mode();
            cursor_.SetTask(CursorTask::kSpectrumInterval);
            // The read-out grid would cover the spectrum; it returns on leaving.
            grid_->hide();
            const bool clear = document_.new_spectrum_scale;
            Layer layer = [run, title = document_.session.WaveformTitle, clear](Surface& image,
                                                                                PlotState& state) {
              DrawLeq300msSpectrum(image, run->spectrum, title, clear, state.spectrum_view);
            };
            if (clear) picture_.upper.clear();
            picture_.upper.push_back(std::move(layer));
            shown_spectrum_ = std::shared_ptr<const Leq300msSpectrum>(run, &run->spectrum);
            plot_.spectrum_view.reset();
            document_.new_spectrum_scale = false;
            Redraw();
            ShowWritten({run->tob_file});
          };
        });
}

void MainWindow::CancelLeq300Click() {
  Run("[Exit Leq300 Spectrum]", [this] {
    // Only the entry this mode added goes; movie entries stay with the movie.
    if (exit_spectrum_item_ != nullptr) {
      menuBar()->removeAction(exit_spectrum_item_);
      exit_spectrum_item_->deleteLater();
      exit_spectrum_item_ = nullptr;
    }
    shown_spectrum_.reset();
    plot_.spectrum_view.reset();
    prompter_.Inform("Information", SpectrumExitMessage(document_.session.BaseName));
    RestoreForm();
    if (document_.session.LastSample >= 0) grid_->show();
  });
}

}  // namespace korva::ui
