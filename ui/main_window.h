// The main window: menus, pop-up menu, header grid, read-outs, status bar
// and the canvas, with one slot per command named after its menu item.
//
// The window is split by responsibility:
//   Document       what the commands work on (ui/document.h);
//   CommandRunner  runs each command, long ones on a worker thread, and
//                  reports their errors (ui/command_runner.h);
//   CursorTool     the red cursor lines of the edit commands (ui/cursor_tool.h);
//   Picture        what the canvas shows, as steps that draw it again at any
//                  size (ui/picture.h);
// and this class, which wires menus to commands and commands to the rest.
// Commands are thin: gather inputs, call the core (on the runner), show the
// result. Their bodies live in file_commands.cpp, analysis_commands.cpp,
// edit_commands.cpp, spectrum_mode.cpp and overlay_command.cpp.
#pragma once

#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRubberBand>
#include <QStringList>
#include <QTableWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/pool.h"
#include "core/common/prompter.h"
#include "core/metrics/edits.h"
#include "core/metrics/impulse_descriptors.h"
#include "core/metrics/leq300.h"
#include "core/model/hazard.h"
#include "core/protection/overlay.h"
#include "core/protection/protect_command.h"
#include "core/waveform/session.h"
#include "render/picture.h"
#include "render/plot_painter.h"
#include "ui/canvas.h"
#include "ui/command_runner.h"
#include "ui/cursor_tool.h"
#include "ui/document.h"
#include "ui/hazard_movie.h"
#include "ui/qt_prompter.h"

namespace korva::ui {

using namespace korva::render;

inline constexpr const char* kWindowCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS";
inline constexpr const char* kOpenCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS OF: ";
inline constexpr const char* kImportCaption = "KORVA INTENSE SOUND HAZARD IMPORTING FILE: ";
inline constexpr const char* kApplicationTitle = "KORVA Ver 1.0";
inline constexpr const char* kSplashText = "KORVA Ver 2.1";
inline constexpr const char* kSplashPicture = "EarModel.jpg";
inline constexpr const char* kHelpPicture = "Image5.jpg";
inline constexpr const char* kModelConfiguration = "Man.Fig";
inline constexpr const char* kQuitQuestion = "A computation is running. Stop it and quit?";
extern const char* const kHelpText;
extern const char* const kMovieClosingMessage;
// The message shown on leaving the spectrum mode.
std::string SpectrumExitMessage(const std::string& base_name);
// The progress bar runs over this many steps.
inline constexpr int kProgressSteps = 23;
// How long the status bar keeps the names of the files written (ms).
inline constexpr int kStatusMilliseconds = 10000;
// How many recently opened files the File menu offers.
inline constexpr int kRecentFiles = 8;
// Below this size the grid and the plot are no longer readable.
inline constexpr int kMinimumWidth = 800;
inline constexpr int kMinimumHeight = 600;

struct WindowOptions {
  // The folder of "Man.Fig", the ear-model file, the pictures and the
  // protector table.
  std::filesystem::path data_dir;
  // Capacity of the session's sample arrays.
  std::int32_t sample_capacity = DefaultSampleCapacity();
  // Initial folder of the open dialog; the current folder when empty.
  std::filesystem::path open_dir;
  // Where the recent files are kept; the user's KORVA settings when empty.
  std::filesystem::path settings_file;
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

  // The start-up sequence: data files, pictures, splash. Call once the
  // window is shown. Throws StartupError naming the file.
  void FormCreate();
  // Opens the files named on the command line ("korva FILE"): a KRV file
  // as by Open, anything else as by Import. `arguments` are the program's
  // arguments without its name.
  void OpenArguments(const QStringList& arguments);

  Document& document() { return document_; }
  Session& session() { return document_.session; }
  const Session& session() const { return document_.session; }
  Canvas& canvas() { return *canvas_; }
  PlotState& plot_state() { return plot_; }
  CommandRunner& Runner() { return runner_; }
  const CursorTool& Cursor() const { return cursor_; }
  QMenu* PopupMenu1() const { return popup_menu_; }
  QMenu* Analyze1() const { return analyze_menu_; }
  QMenu* RecentFiles1() const { return recent_menu_; }
  QTableWidget* StringGrid1() const { return grid_; }
  // The impulse descriptors of the interval Statistics reads out, beside the
  // grid while Statistics runs.
  QTableWidget* Descriptors1() const { return descriptors_; }
  QLineEdit* Edit1() const { return edit1_; }
  QProgressBar* ProgressBar1() const { return progress_bar_; }
  QPushButton* CancelButton() const { return cancel_button_; }
  // The nine pop-up items that commands enable and disable together.
  const std::array<QAction*, 9>& PopupItems() const { return popup_items_; }
  // Whether a right click opens the pop-up menu.
  bool PopupEnabled() const { return popup_on_; }
  bool Busy() const { return runner_.Busy(); }
  bool HelpPictureShowing() const { return help_showing_; }
  // The movie items on the menu bar after a hazard run (none otherwise).
  std::vector<QAction*> MovieItems() const;
  // Protector items under "DEFAULT MODE" after "HELP".
  const std::vector<QAction*>& ProtectorItems() const { return protector_items_; }
  // The files the File menu offers to open again, newest first.
  QStringList RecentFiles() const;

  const std::optional<HazardRunResult>& LastHazardRun() const { return document_.last_run; }
  HazardMovie& Movie() { return *movie_; }
  const std::optional<OverlayResult>& LastOverlay() const { return document_.last_overlay; }
  const std::optional<ProtectResult>& LastProtection() const { return document_.last_protection; }
  // The ear-model parameter file named by Man.Fig.
  const std::filesystem::path& ModelFile() const { return model_file_; }

  // The pixel rectangle of the pressure plot the cursor lines stand on.
  PlotRect CursorPlot() const;
  // The rectangle the whole waveform would fill at the current zoom: the
  // edits find the sample under a line with it (CursorPlot when unzoomed).
  PlotRect SamplePlot() const;
  // The zoomed part of the pressure plot; none when it shows everything.
  const std::optional<PressureView>& View() const { return plot_.view; }
  void SetView(std::optional<PressureView> view);
  // "t ms  p Pa  L dB" of the sample under `position`, empty off the plot.
  QString ReadoutAt(QPoint position) const;
  // The zoomed part of the spectrum; none when it shows all of it.
  const std::optional<SpectrumView>& ShownSpectrumView() const { return plot_.spectrum_view; }
  // The spectrum the spectrum mode shows, or null.
  const Leq300msSpectrum* ShownSpectrum() const { return shown_spectrum_.get(); }
  void SetSpectrumView(std::optional<SpectrumView> view);
  // The Done button of the armed edit, or null when no edit is armed.
  QPushButton* ArmedButton() const { return armed_button_; }
  // "[Exit Leq300 Spectrum]" on the menu bar while in spectrum mode.
  QAction* ExitSpectrumItem() const { return exit_spectrum_item_; }

 public slots:
  void OpenKRVwaveform1Click();
  void Importwaveform1Click();
  void SaveKRVwaveform1Click();
  void SaveKRVwaveformas1Click();
  void SaveWAVwaveform1Click();
  // The report of the opened waveform: an HTML page, or a PDF document when
  // the name chosen ends in ".pdf", with the hazard of both listeners.
  void ExportReport1Click();
  void Copyscreentoclipboard1Click();
  void CopyWaveformToClipboard1Click();
  void Copyospectrumtoclipboard1Click();
  void ExportPicture1Click();
  void SaveMovie1Click();
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
  // Abandons the armed edit: the waveform and the grid as before it.
  void CancelEditClick();
  // Calibration, CalUnit 0 (keyboard factor) to 8 (P.S.I.).
  void CalibrateClick(int cal_unit);
  void Resample1Click();
  void Leq300msspectrum1Click();
  void CancelLeq300Click();

  // Opens `file` as Open does (a KRV file) or as Import does (anything
  // else), without a file dialog: the command line, drops, recent files.
  void OpenFile(const std::filesystem::path& file);
  // Esc: stops the running computation, else abandons the armed edit.
  // True when there was something to stop.
  bool EscapeClick();

  // The mouse on the plot; x and y in client pixels.
  void FormMouseDown(Qt::MouseButton button, QPoint position,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  void FormMouseMove(QPoint position);
  void FormMouseUp(Qt::MouseButton button, QPoint position);
  // Looking closer: the wheel pans in time, with Ctrl it zooms around the
  // mouse; a double click or "Zoom to fit" shows everything again.
  void CanvasWheeled(QPoint position, QPoint angle_delta, Qt::KeyboardModifiers modifiers);
  void CanvasHovered(QPoint position);
  void CanvasDoubleClicked(Qt::MouseButton button, QPoint position);
  void ZoomToFitClick();
  // Header grid: selecting a cell processes the pending edits and makes the
  // new cell pending; Enter processes them too.
  void StringGrid1SelectCell(int column, int row);
  void StringGrid1KeyDown();

 signals:
  // A protector item under "DEFAULT MODE" was chosen (its record number).
  void ProtectorChosen(int record_index);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The movie's keys (FormKeyDown).
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  using Slot = void (MainWindow::*)();

  void BuildMenus();
  void BuildControls();
  QAction* AddCommand(QMenu* menu, const char* caption, const char* name, Slot slot);
  void LoadModelConfiguration();
  void LoadPictures();
  void LoadProtectorItems();

  // Short commands run at once; long ones on the runner's worker (Start).
  // A command that draws ends a playing movie first: its frames are drawn
  // over the picture they started on.
  enum class MovieEffect { kEndsIt, kKeepsPlaying };
  bool Run(const QString& name, const std::function<void()>& body,
           MovieEffect movie = MovieEffect::kEndsIt);
  bool Start(const QString& name, CommandRunner::Work work, std::function<void()> abandon = {});
  // The commands that cannot run beside a computation are disabled while it
  // runs, and come back as they were.
  void LockWhileWorking(bool working);
  void ShowProgress(int permille);
  void CommandFinished(const QString& name, bool succeeded);
  void ShowError(const std::string& message);
  void ShowFileError(const std::filesystem::path& file, const std::string& message);
  // The message naming `file` once.
  std::string FileErrorText(const std::filesystem::path& file, const std::string& message) const;
  // "Saved PATH" in the status bar for each file written.
  void ShowWritten(const std::vector<std::filesystem::path>& files);

  // The picture: drawn again whole (after a resize, to erase transient
  // drawings), kept as the snapshot commands restore (SaveForm, RestoreForm).
  void Redraw();
  void SaveForm();
  void RestoreForm();
  void Relayout();
  // The session's pressure plot: a fresh plot replaces the lower band, an
  // overlay trace is added to it.
  void PressureTimePlot();
  void DrawSpectrum(const std::shared_ptr<const Leq300msSpectrum>& spectrum);

  void SetPopupItemsEnabled(bool enabled);
  void LayoutReadouts();
  void RefreshGrid();
  void ProcessPendingEdits();
  void GridCellChanged(int row, int column);
  void RunHazard(bool warned);
  // Keeps a run that succeeded for the report (document_.runs).
  void KeepRun(const HazardRunResult& run);
  void AddMovieItems();
  // Ends the previous run's movie: items removed, closing message, snapshot back.
  void CloseMovie();
  void RemoveMovieItems();
  void AddMovieStepMenu();
  // Replaces the last movie item by `caption`, which runs `step`.
  void ReplaceNextMovieItem(const char* caption, const char* name, Slot step);
  // The dialog that picks a KRV file to open or to overlay.
  FileDialogRequest KrvOpenDialog() const;
  // Open and Import once a file is chosen.
  void OpenChosen(const std::filesystem::path& chosen);
  void ImportChosen(const std::filesystem::path& chosen);
  // After Save and Save As wrote `written` from `saved`.
  void CommitSave(Session saved, const std::filesystem::path& written);
  // The session's waveform read against the worst place's hazard of the last run.
  Layer MoviePressurePlot() const;
  void RememberRecent(const std::filesystem::path& file);
  void FillRecentMenu();
  // Rows top..top+height-1 of the canvas to the clipboard.
  void CopyCanvasRows(int top, int height);

  QPushButton* DoneButton(const char* name) const;
  // Keeps what an armed edit may change, for its Cancel (once per edit).
  void BeginEdit();
  // Arms the lines with `button` (and Cancel) shown on the plot, turns the
  // pop-up off and locks the commands that would pull the waveform from
  // under the edit. The first arming keeps the session for Cancel.
  void ArmCursors(CursorPair lines, QPushButton* button);
  // Parks the lines, hides the buttons, unlocks, pop-up on, redraws.
  void FinishCursors();
  // An edit's Done: `operation` changes the session; whatever happens the
  // lines are put away and the result drawn.
  void FinishEdit(const QString& name, const std::function<void()>& operation);
  void PlaceEditButtons();
  void ShowMoveReadout();
  void ShowReleaseReadout();
  // Fills the descriptor table (times from the waveform's first sample:
  // the interval starts `origin_ms` in) or says why there are none.
  void ShowDescriptors(const std::optional<ImpulseDescriptors>& descriptors,
                       const std::string& missing, double origin_ms);
  void HideDescriptors();
  // The selected rows of the descriptor table (all when none is selected)
  // to the clipboard, tab-separated: name, value, unit.
  void CopyDescriptors();
  void LockForArmedEdit(bool armed);
  void ShowPopup(const QPoint& position);
  std::filesystem::path DataFile(const std::string& name) const;

  Prompter& prompter_;
  FileChooser& chooser_;
  WindowOptions options_;
  Document document_;
  // The hazard runs' cochlear places, and the runs a report makes side by
  // side, spread over the cores; declared before the runner, whose worker
  // uses it, so that it outlives the worker.
  ThreadPool pool_{CoreCount()};
  CommandRunner runner_;
  PlotState plot_;
  Picture picture_;
  Picture saved_picture_;

  Canvas* canvas_ = nullptr;
  CursorTool cursor_;
  QTableWidget* grid_ = nullptr;
  QTableWidget* descriptors_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  std::vector<QPushButton*> done_buttons_;
  QPushButton* armed_button_ = nullptr;
  QPushButton* cancel_edit_button_ = nullptr;
  // What the armed edit may change, as it was when the edit began.
  struct EditUndo {
    Session session;
    Picture picture;
    CursorTask task;
  };
  std::optional<EditUndo> before_edit_;
  std::int32_t saved_last_sample_ = 0;
  EstablishStartView start_view_;
  // Enabled states kept while an armed edit or a computation locks commands.
  std::vector<std::pair<QAction*, bool>> locked_actions_;
  std::vector<std::pair<QAction*, bool>> working_actions_;
  QAction* exit_spectrum_item_ = nullptr;
  bool import_layout_ = false;

  QMenu* file_menu_ = nullptr;
  QMenu* analyze_menu_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QAction* open_action_ = nullptr;
  QAction* overlay_action_ = nullptr;
  QAction* import_action_ = nullptr;
  QAction* save_action_ = nullptr;
  QAction* save_as_action_ = nullptr;
  QAction* save_wav_action_ = nullptr;
  QAction* export_report_action_ = nullptr;
  QMenu* popup_menu_ = nullptr;
  QMenu* default_mode_menu_ = nullptr;
  std::array<QAction*, 9> popup_items_{};
  std::vector<QAction*> protector_items_;
  QAction* movie_cancel_item_ = nullptr;
  QAction* movie_next_item_ = nullptr;
  // The movie's samples per frame while it plays, checked on the current one.
  QMenu* movie_step_menu_ = nullptr;
  // The spectrum the status bar reads out while in the spectrum mode.
  std::shared_ptr<const Leq300msSpectrum> shown_spectrum_;

  QImage splash_picture_;
  QImage help_picture_;
  std::filesystem::path model_file_;
  HazardMovie* movie_ = nullptr;

  bool popup_on_ = false;
  bool place_next_dialog_ = true;  // the next open dialog is centred, nearly full height
  bool close_pending_ = false;
  bool closed_ = false;
  bool help_showing_ = false;
  // The grid was showing before the help picture hid it.
  bool grid_before_help_ = false;
  // What the movie's pictures replaced, brought back when it is cancelled.
  struct BeforeMovie {
    Picture picture;
    bool grid = false;
  };
  std::optional<BeforeMovie> before_movie_;
  // Which place hazards the movie's upper picture shows, for the read-out:
  // none (the stapes), the run's (the unwrapped cochlea) or the movie's.
  enum class CochleaShown { kNone, kRun, kMovie };
  CochleaShown cochlea_shown_ = CochleaShown::kNone;
  QString CochleaReadout(QPoint position) const;
  // Whether the pressure plot stands in the lower band (no movie picture,
  // no help picture), where zoom and read-outs apply.
  bool PressurePlotShown() const;
  // The frame zoom, pan and the sample read-out act on at `position`: the
  // pressure plot's, or that of the waveform below the movie when the mouse
  // is over it; none where neither applies.
  const plot::Frame* ViewFrameAt(QPoint position) const;
  // Whether `position` is over the spectrum's plot (in spectrum mode).
  bool OverSpectrum(QPoint position) const;
  plot::Frame ShownSpectrumFrame() const;
  // A rectangle being dragged out for a zoom (middle button, or Shift with
  // the left one).
  QRubberBand* zoom_band_ = nullptr;
  QPoint zoom_from_;
  // Each true when the press, move or release was the zoom rectangle's.
  bool StartZoomBand(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers);
  bool MoveZoomBand(QPoint position);
  bool EndZoomBand(QPoint position);
  bool filling_grid_ = false;
  // The progress bar stays, full, after a hazard run.
  bool keep_progress_bar_ = false;
};

}  // namespace korva::ui
