#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenuBar>
#include <QStatusBar>
#include <cmath>

#include "core/common/data_dir.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/cochlea.h"
#include "core/model/ear_model.h"
#include "render/recipes.h"

namespace korva::ui {

const char* const kHelpText =
    "KORVA judges the hearing hazard of one impulse from its pressure waveform.\n\n"
    "File: Open KRV waveform (Ctrl+O) opens a waveform to analyse. Import waveform (Ctrl+I) "
    "and Open recording... read WAV, FLAC, text or raw files; save them with Save KRV "
    "waveform as (Ctrl+Shift+S) to analyse them. Save (Ctrl+S) writes where the waveform was "
    "opened or last saved as. A file dropped on the window opens too. Export picture... "
    "(Ctrl+E), Export report... (Ctrl+Shift+E), the clipboard copies, Save movie... and Exit "
    "(Ctrl+Q) are there as well.\n\n"
    "Edit: Undo (Ctrl+Z) and Redo (Ctrl+Shift+Z) every change to the waveform or its header.\n\n"
    "Analyze: the ear model for a warned (Ctrl+R) or an unwarned (Ctrl+Shift+R) listener. The "
    "hazard in A.R.U. and the allowed exposures go to the grid; the items then added at the "
    "right of the menu bar show the stapes displacement, the unwrapped cochlea and the hazard "
    "animation (Enter pauses, Home replays, End stops, Up and Down pace it, + and - change the "
    "step, Left and Right move while paused).\n\n"
    "The grid: type into a cell (or double-click it) and press Enter to change the header.\n\n"
    "The plot: a right click gives the edits, Statistics, the Leq300ms spectrum, Resample and "
    "the hearing protectors; an edit's red lines follow the left button, Done applies it, "
    "Cancel or Esc abandons it. Ctrl+wheel zooms the plot, the wheel pans, a rectangle dragged "
    "with the middle button (or Shift and the left) zooms to it, Home or a double click shows "
    "it whole.\n\n"
    "Long commands show a progress bar with Cancel (or Esc); a cancelled command changes "
    "nothing.\n\n"
    "Files: the .HAZ place table, the .TOB band table and protected waveforms are written next "
    "to the waveform analysed; the protector table and TOB.txt are changed in a copy in "
    "~/.local/share/korva. The status bar names every file written.";

namespace {

namespace fs = std::filesystem;

}  // namespace

MainWindow::MainWindow(Prompter& prompter, FileChooser& chooser, WindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle(kWindowCaption);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  setAcceptDrops(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  BuildFrame();

  workspace_ =
      new Workspace(prompter, chooser, std::move(options),
                    WindowFrame{*canvas_, *grid_, *statusBar(), *edit1_, *progress_bar_}, this);
  movie_ = new MovieController(*workspace_, *menuBar(), this);
  edit_ = new EditController(*workspace_, this);
  file_ = new FileController(*workspace_, *movie_, *this, this);
  analysis_ = new AnalysisController(*workspace_, *edit_, *movie_, *menuBar(), this);
  protector_ = new ProtectorController(*workspace_, *edit_, *movie_, this);
  view_ = new ViewController(*workspace_, *edit_, *analysis_, *movie_, this);
  report_ = new ReportController(*workspace_, this);
  history_ = new HistoryController(*workspace_, this);
  shots_ = new ShotsController(*workspace_, *file_, *this, this);
  report_->SetSeriesReport([this] {
    if (!shots_->SeriesShown()) return false;
    shots_->ExportSeriesReport();
    return true;
  });
  BuildMenus();
  AddShortcutsAndTips();
  ConnectCanvas();
  connect(file_, &FileController::LayoutChanged, this, &MainWindow::LayoutReadouts);
  connect(analysis_, &AnalysisController::DescriptorsToggled, this, &MainWindow::LayoutReadouts);

  // The progress bar with its Cancel while a computation runs.
  CommandRunner& runner = workspace_->runner();
  connect(cancel_button_, &QPushButton::clicked, &runner, &CommandRunner::Cancel);
  connect(&runner, &CommandRunner::Started, this, [this] {
    progress_bar_->setValue(0);
    progress_bar_->show();
    cancel_button_->show();
    cancel_button_->raise();
  });
  connect(&runner, &CommandRunner::Ended, cancel_button_, &QWidget::hide);
  connect(&runner, &CommandRunner::ProgressChanged, this,
          [this](int permille) { progress_bar_->setValue(permille * kProgressSteps / 1000); });
  connect(&runner, &CommandRunner::Finished, this, [this](const QString& name, bool succeeded) {
    if (!workspace_->ProgressBarKept()) progress_bar_->hide();
    if (!succeeded && workspace_->runner().CancelRequested()) {
      workspace_->ShowStatus(name + ": cancelled", kStatusMilliseconds);
    }
  });
  // A close asked for while a command ran happens once it is over.
  connect(workspace_, &Workspace::Idle, this, [this] {
    if (!close_pending_) return;
    close_pending_ = false;
    close();
  });

  const fs::path start = workspace_->options().open_dir.empty() ? CurrentFolder().value_or(".")
                                                                : workspace_->options().open_dir;
  Document& document = workspace_->document();
  document.start_folder = start;
  document.open_folder = start;
  document.output_folder = start;
}

MainWindow::~MainWindow() {
  QCoreApplication::instance()->removeEventFilter(this);
  movie_->Player().Stop();
}

void MainWindow::BuildFrame() {
  canvas_ = new Canvas;
  canvas_->setObjectName("Canvas");
  setCentralWidget(canvas_);
  statusBar()->setObjectName("StatusBar1");

  grid_ = new QTableWidget(HeaderGrid::kRows, HeaderGrid::kColumns, canvas_);
  grid_->setObjectName("StringGrid1");
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->hide();
  grid_->installEventFilter(this);

  edit1_ = new QLineEdit(canvas_);
  edit1_->setObjectName("Edit1");
  edit1_->setReadOnly(true);
  edit1_->installEventFilter(this);
  edit1_->hide();

  progress_bar_ = new QProgressBar(canvas_);
  progress_bar_->setObjectName("ProgressBar1");
  progress_bar_->setRange(0, kProgressSteps);
  progress_bar_->setValue(0);
  progress_bar_->setTextVisible(false);
  progress_bar_->hide();
  cancel_button_ = new QPushButton("Cancel", canvas_);
  cancel_button_->setObjectName("CancelButton");
  cancel_button_->hide();

  // Esc reaches the window whichever widget has the focus (the menu bar
  // keeps it after a menu was closed), but only when no menu or dialog is
  // open: those take it for themselves.
  QCoreApplication::instance()->installEventFilter(this);
}

void MainWindow::BuildMenus() {
  menuBar()->setNativeMenuBar(false);
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("File1");
  file_->AddOpenItem(*file);
  protector_->AddOverlayItem(*file);
  file_->AddImportItems(*file);
  shots_->AddFileItems(*file);
  file->addSeparator();
  file_->AddSaveItems(*file);
  report_->AddFileItems(*file);
  file->addSeparator();
  view_->AddFileItems(*file);
  movie_->AddFileItems(*file);
  file->addSeparator();
  QAction* exit = file->addAction("&Exit");
  exit->setObjectName("Exit1");
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->setObjectName("Edit1");
  history_->AddEditItems(*edit);

  analyze_menu_ = menuBar()->addMenu("&Analyze");
  analyze_menu_->setObjectName("Analyze1");
  analysis_->AddAnalyzeItems(*analyze_menu_);
  QAction* help = menuBar()->addAction("&Help");
  help->setObjectName("Help1");
  connect(help, &QAction::triggered, this, &MainWindow::ShowHelp);

  // The pop-up menu; its nine top items are enabled and disabled together.
  popup_menu_ = new QMenu(this);
  popup_menu_->setObjectName("PopupMenu1");
  connect(popup_menu_, &QMenu::aboutToShow, this, &MainWindow::RememberPicture);
  std::vector<QAction*> items = edit_->AddPopupItems(*popup_menu_);
  for (QAction* item : analysis_->AddPopupItems(*popup_menu_)) items.push_back(item);
  items.push_back(edit_->AddResampleItem(*popup_menu_));
  items.push_back(protector_->AddPopupItems(*popup_menu_));
  std::array<QAction*, 9> nine{};
  std::copy_n(items.begin(), nine.size(), nine.begin());
  workspace_->SetPopupItems(nine);
  popup_menu_->addSeparator();
  view_->AddPopupItems(*popup_menu_);
}

void MainWindow::AddShortcutsAndTips() {
  struct Item {
    const char* name;
    QKeySequence keys;
    const char* tip;
  };
  const Item items[] = {
      {"OpenKRVwaveform1", QKeySequence::Open, "Open a KRV waveform file for analysis"},
      {"OverlayKRVWaveform1", {}, "Draw a second KRV waveform over the one shown"},
      {"Importwaveform1", QKeySequence(Qt::CTRL | Qt::Key_I),
       "Read a sound file or a text file of samples; save it as KRV to analyse it"},
      {"SaveKRVwaveform1", QKeySequence::Save, "Write the waveform back to its KRV file"},
      {"SaveKRVwaveformas1", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
       "Write the waveform to a new KRV file, which Save then writes to"},
      {"ExportReport1", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
       "Write the hazards, metrics and pictures as an HTML page or a PDF"},
      {"ExportPicture1", QKeySequence(Qt::CTRL | Qt::Key_E),
       "Write the plot as PNG, SVG or PDF, chosen by the name's suffix"},
      {"Exit1", QKeySequence::Quit, "Close the window (unsaved changes are asked about)"},
      {"Undo1", {}, "Take back the last change to the waveform or its header"},
      {"Redo1", {}, "Make again the change Undo took back"},
      {"NoProtectorWarned1", QKeySequence(Qt::CTRL | Qt::Key_R),
       "Run the ear model for a listener warned of the impulse"},
      {"NoProtectorUnWarned1", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
       "Run the ear model for a listener taken by surprise"},
  };
  for (const Item& item : items) {
    auto* action = findChild<QAction*>(item.name);
    if (action == nullptr) continue;
    if (!item.keys.isEmpty()) action->setShortcut(item.keys);
    action->setToolTip(item.tip);
  }
  for (QMenu* menu : menuBar()->findChildren<QMenu*>()) menu->setToolTipsVisible(true);
}

void MainWindow::ConnectCanvas() {
  // A press is the zoom rectangle's, else the cursor lines'; it also takes
  // the protector's help picture away.
  connect(canvas_, &Canvas::Pressed, this,
          [this](Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers modifiers) {
            if (Busy() || view_->StartZoomBand(button, at, modifiers)) return;
            edit_->Press(button, at);
            protector_->EndHelp();
          });
  connect(canvas_, &Canvas::Moved, this, [this](QPoint at) {
    if (!Busy() && !view_->MoveZoomBand(at)) edit_->Move(at);
  });
  connect(canvas_, &Canvas::Released, this, [this](Qt::MouseButton, QPoint at) {
    if (!Busy() && !view_->EndZoomBand(at)) edit_->Release(at);
  });
  connect(canvas_, &Canvas::Wheeled, view_, &ViewController::Wheeled);
  connect(canvas_, &Canvas::Hovered, view_, &ViewController::Hovered);
  connect(canvas_, &Canvas::DoubleClicked, view_, &ViewController::DoubleClicked);
  connect(canvas_, &Canvas::Resized, this, [this] {
    LayoutReadouts();
    workspace_->picture().Redraw();
  });
  connect(canvas_, &QWidget::customContextMenuRequested, this, &MainWindow::ShowPopup);
}

// --- Start-up -------------------------------------------------------------------

void MainWindow::LoadModelConfiguration() {
  // Man.Fig names the ear-model parameter file; both must be readable and
  // the parameters usable before the window offers any command.
  const fs::path data_dir = workspace_->options().data_dir;
  fs::path model;
  try {
    model = ChooseModelFile({}, data_dir);
  } catch (const Error& e) {
    throw StartupError(
        workspace_->FileErrorText(workspace_->DataFile(kModelConfiguration), e.what()));
  }
  try {
    workspace_->grid().SetMinimumRate(MinimumSampleRate(LoadEarModel(model).params));
  } catch (const Error& e) {
    throw StartupError(workspace_->FileErrorText(model, e.what()));
  }
  workspace_->SetModelFile(model);
}

QImage MainWindow::LoadPicture(const char* name) const {
  const fs::path path = workspace_->DataFile(name);
  QImageReader reader(QString::fromStdString(path.string()));
  QImage picture = reader.read();
  if (picture.isNull()) {
    throw StartupError(WithFile(path.string(), reader.errorString().toStdString()));
  }
  return picture;
}

void MainWindow::FormCreate() {
  LoadModelConfiguration();
  workspace_->SetPopupOn(false);
  Document& document = workspace_->document();
  Session& session = document.session;
  session.WaveformLoaded = false;
  session.ImportedWaveform = false;
  session.MovieAvailable = false;
  const Workspace::WaveformCommands& commands = workspace_->Commands();
  for (QAction* action :
       {commands.analyze, commands.overlay, commands.save, commands.save_as, commands.save_wav}) {
    action->setEnabled(false);
  }
  const QImage splash = LoadPicture(kSplashPicture);
  protector_->SetHelpPicture(LoadPicture(kHelpPicture));
  document.picture.background = render::Splash(splash, kApplicationTitle);
  document.Changed(Document::kPicture);
  document.SaveForm();
  session.ClearPlotFirst = true;
  session.StartupDir = workspace_->options().data_dir.string();
  session.WaveformDir = document.open_folder.string();
  protector_->LoadProtectorItems();
}

// --- The frame ------------------------------------------------------------------

void MainWindow::LayoutReadouts() {
  const int w = canvas_->ClientWidth();
  const int h = canvas_->ClientHeight();
  // The grid stops short of the plot's top label, which is centred on the
  // top edge of the plot.
  const int label_room = QFontMetrics(render::PlotFont(w, h)).height() / 2 + 2;
  const int grid_height = std::max(1, RoundToInt(0.5 * h) - label_room);
  // The descriptor table, when shown, takes the right of the band from the
  // grid's last column.
  QTableWidget* descriptors = analysis_->Descriptors();
  const int table_width = descriptors->isHidden() ? 0 : RoundToInt(0.25 * w);
  grid_->setGeometry(0, 0, w - table_width, grid_height);
  descriptors->setGeometry(w - table_width, 0, table_width, grid_height);
  const double widths[2][3] = {{0.3, 0.1, 0.56}, {0.2, 0.1, 0.66}};
  for (int column = 0; column < 3; ++column) {
    grid_->setColumnWidth(column, RoundToInt(widths[file_->ImportLayout() ? 1 : 0][column] * w) -
                                      (column == 2 ? table_width : 0));
  }
  const int bar_height = RoundToInt(0.03 * h);
  const int bar_width = RoundToInt(0.2 * w);
  const int top = h - RoundToInt(1.25 * bar_height);
  progress_bar_->setGeometry(0, top, bar_width, bar_height);
  const int cancel_width = cancel_button_->sizeHint().width();
  cancel_button_->setGeometry(bar_width + 4, top, cancel_width, bar_height);
  edit1_->setGeometry(std::max(RoundToInt(1.1 * bar_width), bar_width + cancel_width + 12), top,
                      RoundToInt(0.75 * bar_width), bar_height);
}

void MainWindow::ShowHelp() {
  workspace_->Run("Help", [this] {
    workspace_->prompter().Inform("KORVA Help", kHelpText);
    workspace_->document().RestoreForm();
  });
}

void MainWindow::RememberPicture() {
  if (Busy()) return;
  workspace_->document().SaveForm();
}

void MainWindow::ShowPopup(const QPoint& position) {
  if (!workspace_->PopupOn() || Busy()) return;
  popup_menu_->popup(canvas_->mapToGlobal(position));
}

// --- Keys, close, drops -----------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      QApplication::activePopupWidget() == nullptr &&
      QApplication::activeModalWidget() == nullptr && menuBar()->activeAction() == nullptr) {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (widget != nullptr && widget->window() == this && CancelRunningOrEdit()) return true;
  }
  // The movie's keys reach it whichever control has the focus; the read-out
  // would otherwise take Home and End for its own cursor.
  if ((watched == grid_ || watched == edit1_) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (movie_->Player().Key(key)) return true;
    if (watched == grid_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      workspace_->grid().CellEntered();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (movie_->Player().Key(event->key())) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Home && view_->Zoomed()) {
    view_->ZoomToFit();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool MainWindow::CancelRunningOrEdit() {
  CommandRunner& runner = workspace_->runner();
  if (runner.Working()) {
    runner.Cancel();
    return true;
  }
  if (edit_->Cursor().Active() && !runner.Busy()) {
    edit_->CancelEdit();
    return true;
  }
  return false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  CommandRunner& runner = workspace_->runner();
  if (runner.Working()) {
    // Asked once; the window closes when the computation has stopped.
    if (close_pending_ || workspace_->prompter().AskOkCancel("Quit", kQuitQuestion)) {
      close_pending_ = true;
      runner.Cancel();
      // The computation stops at its next checkpoint, which may take a
      // moment: say so rather than look stuck.
      workspace_->ShowStatus("Stopping the computation; the window closes when it has stopped");
      setCursor(Qt::BusyCursor);
    }
    event->ignore();
    return;
  }
  // A short command is showing a dialog: the window closes after it.
  if (runner.Busy()) {
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (testAttribute(Qt::WA_SetCursor)) {
    unsetCursor();  // the computation a close waited for has stopped
    workspace_->ShowStatus({});
  }
  if (!file_->MaySetAside()) {
    event->ignore();
    return;
  }
  movie_->Player().Stop();
  workspace_->WindowClosed();
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  file_->DragEnter(*event);
}

void MainWindow::dropEvent(QDropEvent* event) {
  file_->Drop(*event);
}

void MainWindow::OpenArguments(const QStringList& arguments) {
  for (const QString& argument : arguments) {
    if (argument.isEmpty() || argument.startsWith('-')) continue;
    file_->OpenFile(fs::path(argument.toStdString()));
    return;
  }
}

}  // namespace korva::ui
