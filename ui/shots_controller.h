// The Shots panel: after File > Open recording, the shots of the channel
// opened, found over the whole recording with the detector's defaults and
// listed beside the recording's overview (a row and a mark select the same
// shot). A shot opens as the current waveform exactly as the KRV file
// `korva-cli shots --out` writes for it opens; "Analyze all shots" runs the
// series on the command runner's worker and shows one row per shot and the
// series' summary; File > Export report then writes the series' report.
#pragma once

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QObject>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/recording/recording_shots.h"
#include "ui/file_controller.h"
#include "ui/shots_overview.h"
#include "ui/workspace.h"

namespace korva::ui {

class ShotsController : public QObject {
  Q_OBJECT

 public:
  // The panel is docked at the bottom of `window`, hidden until a recording
  // is opened.
  ShotsController(Workspace& workspace, FileController& file, QMainWindow& window,
                  QObject* parent = nullptr);

  // File > "Shots panel": shows or hides the panel.
  void AddFileItems(QMenu& file);

  QDockWidget& Dock() { return *dock_; }
  QTableWidget& ShotTable() { return *shot_table_; }
  QTableWidget& SeriesTable() { return *series_table_; }
  ShotsOverview& Overview() { return *overview_; }
  QLabel& Status() { return *status_; }
  // The search shown, when one finished.
  const RecordingShots* Found() const { return found_.get(); }
  // The rows of the last "Analyze all shots" of that search, in shot order.
  const std::vector<ShotReport>& Series() const { return series_; }
  // The index of the selected shot in Found()->shots; -1 for none.
  int Selected() const { return overview_->Selected(); }
  // A series is shown and the window shows its recording or one of its
  // shots: File > Export report writes the series.
  bool SeriesShown() const;

 public slots:
  // Searches `request`'s channel of `file`, the whole recording.
  void FindShots(const std::filesystem::path& file, const korva::RecordingRequest& request);
  void SelectShot(int index);
  // Opens the shot as the current waveform (unsaved work asked about first).
  void OpenShot(int index);
  void OpenSelectedShot() { OpenShot(Selected()); }
  void AnalyzeAllShots();
  // Export report's series: asks for the file and writes the report of the
  // series shown (HTML, or PDF by the name).
  void ExportSeriesReport();

 private:
  void BuildPanel(QMainWindow& window);
  void ShowFound();
  void ShowSeries();
  void ShowButtons();
  // True, with a word in the status bar, while an edit is armed.
  bool Refused();

  Workspace& workspace_;
  FileController& file_;
  QMainWindow& window_;
  QDockWidget* dock_ = nullptr;
  QLabel* status_ = nullptr;
  QSplitter* split_ = nullptr;
  ShotsOverview* overview_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTableWidget* shot_table_ = nullptr;
  QTableWidget* series_table_ = nullptr;
  QLabel* verdict_ = nullptr;
  QPushButton* search_button_ = nullptr;
  QPushButton* open_button_ = nullptr;
  QPushButton* analyze_button_ = nullptr;

  // What the search after an Open recording is to read, until the runner
  // is free to start it.
  struct Search {
    std::filesystem::path file;
    ShotSearch search;
  };
  std::optional<Search> pending_;
  std::optional<Search> last_;  // the search shown or last tried
  std::shared_ptr<const RecordingShots> found_;
  std::vector<ShotReport> series_;
};

}  // namespace korva::ui
