// The main window: menus, pop-up menu, header grid, read-outs and the canvas,
// with one slot per command named after its menu item. Commands are thin:
// gather inputs, call the core, show the result. While a command that lets
// the window repaint is running, no other command can start and a close
// request waits for it to end.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <array>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/metrics/edits.h"
#include "core/metrics/leq300.h"
#include "core/model/hazard.h"
#include "core/protection/overlay.h"
#include "core/protection/protect_command.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/session.h"
#include "ui/canvas.h"
#include "ui/hazard_movie.h"
#include "ui/plot_painter.h"
#include "ui/qt_prompter.h"

namespace korva::ui {

inline constexpr const char* kWindowCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS";
inline constexpr const char* kOpenCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS OF: ";
inline constexpr const char* kImportCaption = "KORVA INTENSE SOUND HAZARD IMPORTING FILE: ";
inline constexpr const char* kApplicationTitle = "KORVA Ver 1.0";
inline constexpr const char* kSplashText = "KORVA Ver 2.1";
inline constexpr const char* kSplashPicture = "EarModel.jpg";
inline constexpr const char* kHelpPicture = "Image5.jpg";
inline constexpr const char* kModelConfiguration = "Man.Fig";
extern const char* const kHelpText;
extern const char* const kMovieClosingMessage;
// The message shown on leaving the spectrum mode.
std::string SpectrumExitMessage(const std::string& base_name);
// The progress bar runs over this many steps of the middle-ear model.
inline constexpr int kProgressSteps = 23;

struct WindowOptions {
  // The folder of "Man.Fig", the ear-model file, the pictures and the
  // protector table.
  std::filesystem::path data_dir;
  // Capacity of the session's sample arrays.
  std::int32_t sample_capacity = DefaultSampleCapacity();
  // Initial folder of the open dialog; the current folder when empty.
  std::filesystem::path open_dir;
};

// Start-up cannot go on: a data file is missing or unreadable.
class StartupError : public Error {
 public:
  using Error::Error;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(Prompter& prompter, FileChooser& chooser, WindowOptions options,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence: data files, pictures, splash and first snapshot.
  // Call once the window is shown. Throws StartupError naming the file.
  void FormCreate();

  Session& session() { return session_; }
  const Session& session() const { return session_; }
  Canvas& canvas() { return *canvas_; }
  PlotState& plot_state() { return plot_; }
  QMenu* PopupMenu1() const { return popup_menu_; }
  QMenu* Analyze1() const { return analyze_menu_; }
  QTableWidget* StringGrid1() const { return grid_; }
  QLineEdit* Edit1() const { return edit1_; }
  QProgressBar* ProgressBar1() const { return progress_bar_; }
  // The nine pop-up items that commands enable and disable together.
  const std::array<QAction*, 9>& PopupItems() const { return popup_items_; }
  // Whether a right click opens the pop-up menu.
  bool PopupEnabled() const { return popup_on_; }
  bool Busy() const { return busy_; }
  bool HelpPictureShowing() const { return help_showing_; }
  // The movie items on the menu bar after a hazard run (none otherwise).
  std::vector<QAction*> MovieItems() const;
  // Protector items under "DEFAULT MODE" after "HELP".
  const std::vector<QAction*>& ProtectorItems() const { return protector_items_; }

  // The last successful hazard run (movie buffer, place hazards, timing).
  const std::optional<HazardRunResult>& LastHazardRun() const { return last_run_; }
  HazardMovie& Movie() { return *movie_; }
  // The last overlay comparison that ran to its end.
  const std::optional<OverlayResult>& LastOverlay() const { return last_overlay_; }
  // The last protector command that ran to its end.
  const std::optional<ProtectResult>& LastProtection() const { return last_protection_; }
  // The ear-model parameter file named by Man.Fig.
  const std::filesystem::path& ModelFile() const { return model_file_; }

  // Redraws the pressure-time plot of the session (lower half).
  void PressureTimePlot();

  // The red cursor lines of the edit commands and what they are doing.
  struct CursorState {
    int CursorX1 = 0;
    int CursorX2 = 0;
    bool CursorsActive = false;
    int CursorTask = 0;
    bool Dragging = false;
    Qt::MouseButton DragButton = Qt::NoButton;
  };
  const CursorState& Cursors() const { return cursor_; }
  // The pixel rectangle of the pressure plot the lines stand on.
  PlotRect CursorPlot() const;
  // The Done button showing, or null when no edit is armed.
  QPushButton* ArmedButton() const { return armed_button_; }
  // "[Exit Leq300 Spectrum]" on the menu bar while in spectrum mode.
  QAction* ExitSpectrumItem() const { return exit_spectrum_item_; }

 public slots:
  void OpenKRVwaveform1Click();
  void Importwaveform1Click();
  void SaveKRVwaveform1Click();
  void SaveKRVwaveformas1Click();
  void SaveWAVwaveform1Click();
  void Copyscreentoclipboard1Click();
  void CopyWaveformToClipboard1Click();
  void Copyospectrumtoclipboard1Click();
  void Exit1Click();
  void Help1Click();
  void Help2Click();
  void ApplyEarProtector1Click();
  void NoProtectorWarned1Click();
  void NoProtectorUnWarned1Click();
  void CancelMovieClick();
  void PopupMenu1Popup();
  // Compares the loaded waveform with a second KRV file of the same event.
  void OverlayKRVWaveform1Click();
  // The movie chain on the menu bar after a hazard run.
  void AnimateClick();
  void UnwrapCochleaClick();
  void MovieStartClick();
  // The protector command for record `record_index` of the protector table.
  void GetHPDData(int record_index);

  // Pop-up edit commands and the Done buttons that finish them.
  void SelectSegment1Click();
  void Button2Click();
  void SetBaselineClick();
  void Button3Click();
  void Button4Click();
  void EstablishStartClick();
  void Button5Click();
  void ApplyTaper1Click();
  void Button6Click();
  void Stats1Click();
  void Button12Click();
  // Calibration, CalUnit 0 (keyboard factor) to 8 (P.S.I.).
  void CalibrateClick(int cal_unit);
  void Resample1Click();
  void Leq300msspectrum1Click();
  void CancelLeq300Click();

  // The mouse on the plot; x and y in client pixels.
  void FormMouseDown(Qt::MouseButton button, QPoint position);
  void FormMouseMove(QPoint position);
  void FormMouseUp(Qt::MouseButton button, QPoint position);
  // Header grid: selecting a cell processes the pending edits and makes the
  // new cell pending; Enter processes them too.
  void StringGrid1SelectCell(int column, int row);
  void StringGrid1KeyDown();

 signals:
  // "Stapes Displacement]" was chosen: the movie chain takes over.
  void AnimateRequested();
  // A running movie must stop (the movie items are being removed).
  void MovieCancelled();
  // A protector item under "DEFAULT MODE" was chosen (its record number).
  void ProtectorChosen(int record_index);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The movie's keys (FormKeyDown).
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class WindowProgress;
  friend class WindowProgress;

  void BuildMenus();
  void BuildControls();
  void LoadModelConfiguration();
  void LoadPictures();
  void LoadProtectorItems();
  void DrawSplash();

  // Whether a command may run while the movie plays. Its frames are XOR
  // drawings over the picture they started on, so a command that draws ends
  // the movie first (as if it had reached its last frame).
  enum class MovieEffect { kEndsIt, kKeepsPlaying };
  // Runs a command unless another is running; reports errors in a box.
  template <class Body>
  void RunCommand(Body&& body, MovieEffect movie = MovieEffect::kEndsIt);
  void ShowError(const std::string& message);
  void ShowFileError(const std::filesystem::path& file, const std::string& message);
  // The message naming `file` once; thrown as StartupError at start-up.
  void ShowFileErrorText(const std::filesystem::path& file, const std::string& message,
                         bool at_startup);

  void SetPopupItemsEnabled(bool enabled);
  void LayoutReadouts(bool import_layout);
  void RefreshGrid();
  void ProcessPendingEdits();
  void GridCellChanged(int row, int column);
  void RunHazard(bool warned);
  void AddMovieItems();
  // Ends the previous run's movie: items removed, closing message, snapshot back.
  void CloseMovie();
  void RemoveMovieItems();
  // The dialog that picks a KRV file to open or to overlay.
  FileDialogRequest KrvOpenDialog() const;
  // Rows top..top+height-1 of the canvas to the clipboard.
  void CopyCanvasRows(int top, int height);
  // The waveform below the movie, read against the worst place's hazard.
  void DrawMoviePressurePlot();
  // Replaces the last movie item by `caption`, which runs `step`.
  void ReplaceNextMovieItem(const char* caption, const char* name, void (MainWindow::*step)());
  void ConnectEditCommands();
  QPushButton* DoneButton(const char* name) const;
  // Draws both lines, shows `button` above the plot, turns the pop-up off
  // and locks the commands that would pull the waveform from under the edit.
  void ArmCursors(CursorPair lines, QPushButton* button);
  // Parks the lines, hides the button, unlocks, pop-up on, redraws.
  void FinishCursors();
  void DrawCursorLine(int x);
  void MoveNearerLine(int x);
  void ShowMoveReadout();
  void ShowReleaseReadout();
  void LockForArmedEdit(bool armed);
  void DrawSpectrum(const Leq300msSpectrum& spectrum);
  void ShowPopup(const QPoint& position);
  std::filesystem::path DataFile(const std::string& name) const;

  Prompter& prompter_;
  FileChooser& chooser_;
  WindowOptions options_;
  Session session_;
  PlotState plot_;

  Canvas* canvas_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  std::vector<QPushButton*> done_buttons_;
  QPushButton* armed_button_ = nullptr;
  CursorState cursor_;
  std::int32_t saved_last_sample_ = 0;
  EstablishStartView start_view_;
  // Enabled states kept while an armed edit locks the file and analysis commands.
  std::vector<std::pair<QAction*, bool>> locked_actions_;
  QAction* exit_spectrum_item_ = nullptr;
  bool new_spectrum_scale_ = true;

  QMenu* file_menu_ = nullptr;
  QMenu* analyze_menu_ = nullptr;
  QAction* open_action_ = nullptr;
  QAction* overlay_action_ = nullptr;
  QAction* import_action_ = nullptr;
  QAction* save_action_ = nullptr;
  QAction* save_as_action_ = nullptr;
  QAction* save_wav_action_ = nullptr;
  QAction* warned_action_ = nullptr;
  QAction* unwarned_action_ = nullptr;
  QMenu* popup_menu_ = nullptr;
  QMenu* default_mode_menu_ = nullptr;
  std::array<QAction*, 9> popup_items_{};
  std::vector<QAction*> protector_items_;
  QAction* movie_cancel_item_ = nullptr;
  QAction* movie_next_item_ = nullptr;

  QImage splash_picture_;
  QImage help_picture_;
  std::filesystem::path model_file_;
  std::optional<HazardRunResult> last_run_;
  // Circuit values, power law and dither stream carried between protector commands.
  ProtectorCommandState protector_state_;
  HazardMovie* movie_ = nullptr;
  std::optional<OverlayResult> last_overlay_;
  // The spectrum range of the overlay (x from, x to, y from, y to), kept
  // while no new waveform asks for a new scale.
  std::array<float, 4> spectrum_range_{};
  std::optional<ProtectResult> last_protection_;
  PendingGridEdits pending_;
  std::filesystem::path open_dir_;
  std::filesystem::path last_open_choice_;

  bool popup_on_ = false;
  bool place_next_dialog_ = true;  // the next open dialog is centred, nearly full height
  bool busy_ = false;
  bool close_pending_ = false;
  bool help_showing_ = false;
  bool filling_grid_ = false;
};

// Progress of a core computation on the progress bar; the window repaints
// at most every 20 ms meanwhile.
class MainWindow::WindowProgress final : public ProgressSink {
 public:
  explicit WindowProgress(MainWindow& window) : window_(window) { clock_.start(); }
  void Report(long long done, long long total) override {
    if (total > 0) {
      const long long value = done * kProgressSteps / total;
      window_.progress_bar_->setValue(
          static_cast<int>(std::clamp<long long>(value, 0, kProgressSteps)));
    }
    if (clock_.elapsed() >= 20) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      clock_.restart();
    }
  }

 private:
  MainWindow& window_;
  QElapsedTimer clock_;
};

template <class Body>
inline void MainWindow::RunCommand(Body&& body, MovieEffect movie) {
  if (busy_) return;
  if (movie == MovieEffect::kEndsIt) movie_->Stop();
  busy_ = true;
  try {
    body();
  } catch (const Error& e) {
    ShowError(e.what());
  } catch (const std::bad_alloc&) {
    ShowError("Not enough memory for this command");
  }
  busy_ = false;
  if (close_pending_) {
    close_pending_ = false;
    close();
  }
}

}  // namespace korva::ui
