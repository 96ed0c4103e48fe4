// The main window: the frame (menus, the header grid over the canvas, the
// read-out, the progress bar with Cancel, the status bar) and the feature
// controllers wired to it and to the document:
//   Workspace            what the controllers share (ui/workspace.h): the
//                        Document, its views, the command runner, the locks;
//   FileController       Open, Import, Open recent, Save, Save As;
//   EditController       the pop-up edits on the red cursor lines;
//   AnalysisController   the hazard runs, Statistics, the Leq300ms spectrum;
//   MovieController      the movie chain a hazard run leaves, Save movie;
//   ProtectorController  the protector command and the overlay;
//   ViewController       zoom, read-outs, clipboard copies, Export picture;
//   ReportController     Export report;
//   HistoryController    Edit > Undo and Redo;
//   ShotsController      the Shots panel of a recording opened, its series.
// A new feature is one more controller, wired here.
#pragma once

#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>

#include "core/common/prompter.h"
#include "ui/analysis_controller.h"
#include "ui/edit_controller.h"
#include "ui/file_controller.h"
#include "ui/history_controller.h"
#include "ui/movie_controller.h"
#include "ui/protector_controller.h"
#include "ui/qt_prompter.h"
#include "ui/report_controller.h"
#include "ui/shots_controller.h"
#include "ui/view_controller.h"
#include "ui/workspace.h"

namespace korva::ui {

inline constexpr const char* kApplicationTitle = "KORVA Ver 1.0";
inline constexpr const char* kSplashPicture = "EarModel.jpg";
inline constexpr const char* kHelpPicture = "Image5.jpg";
inline constexpr const char* kModelConfiguration = "Man.Fig";
inline constexpr const char* kQuitQuestion = "A computation is running. Stop it and quit?";
extern const char* const kHelpText;
// Below this size the grid and the plot are no longer readable.
inline constexpr int kMinimumWidth = 800;
inline constexpr int kMinimumHeight = 600;

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

  Workspace& workspace() { return *workspace_; }
  const Workspace& workspace() const { return *workspace_; }
  Document& document() { return workspace_->document(); }
  Session& session() { return workspace_->session(); }
  Canvas& canvas() { return *canvas_; }
  bool Busy() const { return workspace_->Busy(); }

  FileController& file() { return *file_; }
  EditController& edit() { return *edit_; }
  AnalysisController& analysis() { return *analysis_; }
  MovieController& movie() { return *movie_; }
  ProtectorController& protector() { return *protector_; }
  ViewController& view() { return *view_; }
  ReportController& report() { return *report_; }
  HistoryController& history() { return *history_; }
  ShotsController& shots() { return *shots_; }

  QMenu* PopupMenu1() const { return popup_menu_; }
  QMenu* Analyze1() const { return analyze_menu_; }
  QTableWidget* StringGrid1() const { return grid_; }
  QLineEdit* Edit1() const { return edit1_; }
  QProgressBar* ProgressBar1() const { return progress_bar_; }
  QPushButton* CancelButton() const { return cancel_button_; }

 public slots:
  void ShowHelp();
  // The pop-up menu opens: the picture is kept for the commands that start
  // from the window as it was.
  void RememberPicture();
  // Esc: stops the running computation, else abandons the armed edit.
  // True when there was something to stop.
  bool CancelRunningOrEdit();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The movie's keys, and Home for the whole view.
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildFrame();
  void BuildMenus();
  // Keyboard shortcuts and tool tips of the menu items, in one place so that
  // no two items share a key.
  void AddShortcutsAndTips();
  void ConnectCanvas();
  void LoadModelConfiguration();
  QImage LoadPicture(const char* name) const;
  void LayoutReadouts();
  void ShowPopup(const QPoint& position);

  Canvas* canvas_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  QMenu* popup_menu_ = nullptr;
  QMenu* analyze_menu_ = nullptr;
  Workspace* workspace_ = nullptr;
  MovieController* movie_ = nullptr;
  EditController* edit_ = nullptr;
  FileController* file_ = nullptr;
  AnalysisController* analysis_ = nullptr;
  ProtectorController* protector_ = nullptr;
  ViewController* view_ = nullptr;
  ReportController* report_ = nullptr;
  HistoryController* history_ = nullptr;
  ShotsController* shots_ = nullptr;
  bool close_pending_ = false;
};

}  // namespace korva::ui
