// The analyses of the opened waveform: the hazard runs of the Analyze menu
// (warned and unwarned listener), Statistics (the interval read-outs in the
// grid and the impulse descriptors beside it, on the edits' cursor lines)
// and the Leq300ms spectrum mode with its interval read-out. Each analysis
// is called in one place here.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPushButton>
#include <QTableWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/metrics/impulse_descriptors.h"
#include "core/metrics/leq300.h"
#include "ui/cursor_tool.h"
#include "ui/edit_controller.h"
#include "ui/movie_controller.h"
#include "ui/workspace.h"

namespace korva::ui {

// The message shown on leaving the spectrum mode.
std::string SpectrumExitMessage(const std::string& base_name);

class AnalysisController : public QObject {
  Q_OBJECT

 public:
  AnalysisController(Workspace& workspace, EditController& edits, MovieController& movie,
                     QMenuBar& bar, QObject* parent = nullptr);

  void AddAnalyzeItems(QMenu& analyze);
  // Statistics and Leq300ms spectrum, enabled with the edits.
  std::vector<QAction*> AddPopupItems(QMenu& popup);

  // The impulse descriptors of the interval Statistics reads out, beside the
  // grid while Statistics runs.
  QTableWidget* Descriptors() const { return descriptors_; }
  // "[Exit Leq300 Spectrum]" on the menu bar while in spectrum mode.
  QAction* ExitSpectrumItem() const { return exit_spectrum_item_; }
  // The spectrum the spectrum mode shows, or null.
  const Leq300msSpectrum* ShownSpectrum() const { return shown_spectrum_.get(); }

 public slots:
  void RunWarned() { RunHazard(true); }
  void RunUnwarned() { RunHazard(false); }
  void StartStatistics();
  // Done: the waveform as before Statistics, the descriptors put away.
  void EndStatistics();
  void ShowSpectrum();
  void ExitSpectrum();

 signals:
  // The descriptor table was shown or put away: the grid beside it makes room.
  void DescriptorsToggled();

 private:
  void RunHazard(bool warned);
  // The interval between the lines read out when they are let go.
  void ReadOutInterval(CursorTask task);
  // Fills the descriptor table (times from the waveform's first sample:
  // the interval starts `origin_ms` in) or says why there are none.
  void ShowDescriptors(const std::optional<ImpulseDescriptors>& descriptors,
                       const std::string& missing, double origin_ms);
  void HideDescriptors();
  // The selected rows of the descriptor table (all when none is selected)
  // to the clipboard, tab-separated: name, value, unit.
  void CopyDescriptors();

  Workspace& workspace_;
  EditController& edits_;
  MovieController& movie_;
  QMenuBar& bar_;
  QPushButton* statistics_done_ = nullptr;
  QTableWidget* descriptors_ = nullptr;
  std::int32_t saved_last_sample_ = 0;
  QAction* exit_spectrum_item_ = nullptr;
  // The spectrum the status bar reads out while in the spectrum mode.
  std::shared_ptr<const Leq300msSpectrum> shown_spectrum_;
};

}  // namespace korva::ui
