// The Leq300ms spectrum mode: the spectrum over the upper half of the window,
// the ".TOB" table, and the menu-bar entry that leaves the mode.
#include <QCoreApplication>
#include <QMenuBar>
#include <filesystem>

#include "core/common/error.h"
#include "core/common/files.h"
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
  RunCommand([this] {
    // The mode starts whatever the waveform: one exit entry, items disabled.
    if (exit_spectrum_item_ == nullptr) {
      exit_spectrum_item_ = menuBar()->addAction("[Exit Leq300 Spectrum]");
      exit_spectrum_item_->setObjectName("CancelLeq300");
      connect(exit_spectrum_item_, &QAction::triggered, this, &MainWindow::CancelLeq300Click);
    }
    SetPopupItemsEnabled(false);
    if (session_.ImportedWaveform || session_.LastSample < 1 ||
        session_.LastSample >= kMaxSpectrumSamples) {
      return;
    }
    const Leq300msRun run = RunLeq300msSpectrum(session_, CurrentFolder().value_or("."));
    cursor_.CursorTask = 7;
    canvas_->FollowWidgetSize();
    // The read-out grid would cover the spectrum; it returns on leaving.
    grid_->hide();
    DrawLeq300msSpectrum(canvas_->Image(), run.spectrum, session_.WaveformTitle,
                         new_spectrum_scale_);
    new_spectrum_scale_ = false;
    canvas_->update();
  });
}

void MainWindow::CancelLeq300Click() {
  RunCommand([this] {
    // Only the entry this mode added goes; movie entries stay with the movie.
    if (exit_spectrum_item_ != nullptr) {
      menuBar()->removeAction(exit_spectrum_item_);
      exit_spectrum_item_->deleteLater();
      exit_spectrum_item_ = nullptr;
    }
    prompter_.Inform("Information", SpectrumExitMessage(session_.BaseName));
    canvas_->RestoreForm();
    if (session_.LastSample >= 0) grid_->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  });
}

}  // namespace korva::ui
