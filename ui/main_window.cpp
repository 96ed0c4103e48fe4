#include "ui/main_window.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <cmath>

#include "core/common/data_dir.h"
#include "core/common/files.h"
#include "core/model/ear_model.h"
#include "core/protection/hpd_table.h"
#include "core/waveform/grid_edit.h"
#include "render/recipes.h"

namespace korva::ui {

const char* const kHelpText =
    "Edit the waveform header with a left click on each text block. The right mouse button "
    "gives waveform edit options.  The left mouse button controls the nearest red cursor line.  "
    "The center DONE button completes each edit action.  Click Analyze to compute unwarned or "
    "warned hazard.  This creates an Animate option to show graphs and a movie of the hazard.  "
    "The movie has a MVI file extension with an store and recall option by File|Movie.";

const char* const kMovieClosingMessage =
    "The hazard analysis ends here with the Right-Click Pop-Up Menu disabled. To re-enable the "
    "Pop-Up Menu, return to the File | Open KRV waveform or File | Import waveform Pull-Down "
    "menu. To analyze a different warned response, return to the Analyze Pull-Down Menu.";

namespace {

namespace fs = std::filesystem;

constexpr const char* kRecentKey = "recent_files";

int RoundToInt(double value) {
  return static_cast<int>(std::nearbyint(value));
}

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Grid cells hold 8-bit text; TAB, CR and LF would break the KRV line format.
std::string CellText(const QString& text) {
  std::string cell = text.toLatin1().toStdString();
  for (char& c : cell) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return cell;
}

}  // namespace

MainWindow::MainWindow(Prompter& prompter, FileChooser& chooser, WindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      prompter_(prompter),
      chooser_(chooser),
      options_(std::move(options)),
      document_(options_.sample_capacity),
      runner_(prompter_),
      canvas_(new Canvas),
      cursor_(*canvas_) {
  setObjectName("Form1");
  setWindowTitle(kWindowCaption);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  setAcceptDrops(true);
  canvas_->setObjectName("Canvas");
  setCentralWidget(canvas_);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  statusBar()->setObjectName("StatusBar1");
  BuildMenus();
  BuildControls();
  connect(canvas_, &Canvas::Pressed, this, &MainWindow::FormMouseDown);
  connect(canvas_, &Canvas::Moved, this, &MainWindow::FormMouseMove);
  connect(canvas_, &Canvas::Released, this, &MainWindow::FormMouseUp);
  connect(canvas_, &Canvas::Wheeled, this, &MainWindow::CanvasWheeled);
  connect(canvas_, &Canvas::Hovered, this, &MainWindow::CanvasHovered);
  connect(canvas_, &Canvas::DoubleClicked, this, &MainWindow::CanvasDoubleClicked);
  connect(canvas_, &Canvas::Resized, this, &MainWindow::Relayout);
  connect(canvas_, &QWidget::customContextMenuRequested, this, &MainWindow::ShowPopup);
  connect(this, &MainWindow::ProtectorChosen, this, &MainWindow::GetHPDData);

  movie_ = new HazardMovie(canvas_->Image(), this);
  connect(movie_, &HazardMovie::FrameDrawn, canvas_, qOverload<>(&QWidget::update));
  // A replay starts from a clean lower plot: the whole picture is drawn again.
  connect(movie_, &HazardMovie::ReplayRequested, this, &MainWindow::Redraw);

  connect(&runner_, &CommandRunner::Started, this, [this] { LockWhileWorking(true); });
  connect(&runner_, &CommandRunner::Ended, this, [this] { LockWhileWorking(false); });
  connect(&runner_, &CommandRunner::ProgressChanged, this, &MainWindow::ShowProgress);
  connect(&runner_, &CommandRunner::Finished, this, &MainWindow::CommandFinished);

  const fs::path start =
      options_.open_dir.empty() ? CurrentFolder().value_or(".") : options_.open_dir;
  document_.start_folder = start;
  document_.open_folder = start;
  document_.output_folder = start;
}

MainWindow::~MainWindow() {
  QCoreApplication::instance()->removeEventFilter(this);
  movie_->Stop();
}

QAction* MainWindow::AddCommand(QMenu* menu, const char* caption, const char* name, Slot slot) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
  return action;
}

void MainWindow::BuildMenus() {
  menuBar()->setNativeMenuBar(false);
  file_menu_ = menuBar()->addMenu("&File");
  file_menu_->setObjectName("File1");
  open_action_ = AddCommand(file_menu_, "Open KRV waveform", "OpenKRVwaveform1",
                            &MainWindow::OpenKRVwaveform1Click);
  overlay_action_ = AddCommand(file_menu_, "Overlay KRV waveform", "OverlayKRVWaveform1",
                               &MainWindow::OverlayKRVWaveform1Click);
  import_action_ = AddCommand(file_menu_, "Import waveform", "Importwaveform1",
                              &MainWindow::Importwaveform1Click);
  recent_menu_ = file_menu_->addMenu("Open &recent");
  recent_menu_->setObjectName("RecentFiles1");
  file_menu_->addSeparator();
  save_action_ = AddCommand(file_menu_, "Save KRV waveform", "SaveKRVwaveform1",
                            &MainWindow::SaveKRVwaveform1Click);
  save_as_action_ = AddCommand(file_menu_, "Save KRV waveform as", "SaveKRVwaveformas1",
                               &MainWindow::SaveKRVwaveformas1Click);
  save_wav_action_ = AddCommand(file_menu_, "Save WAV waveform", "SaveWAVwaveform1",
                                &MainWindow::SaveWAVwaveform1Click);
  export_report_action_ =
      AddCommand(file_menu_, "Export report...", "ExportReport1", &MainWindow::ExportReport1Click);
  file_menu_->addSeparator();
  AddCommand(file_menu_, "Copy screen to clipboard", "Copyscreentoclipboard1",
             &MainWindow::Copyscreentoclipboard1Click);
  AddCommand(file_menu_, "Copy waveform to clipboard", "CopyWaveformToClipboard1",
             &MainWindow::CopyWaveformToClipboard1Click);
  AddCommand(file_menu_, "Copy spectrum to clipboard", "Copyospectrumtoclipboard1",
             &MainWindow::Copyospectrumtoclipboard1Click);
  AddCommand(file_menu_, "Export picture...", "ExportPicture1", &MainWindow::ExportPicture1Click);
  AddCommand(file_menu_, "Save movie...", "SaveMovie1", &MainWindow::SaveMovie1Click);
  file_menu_->addSeparator();
  AddCommand(file_menu_, "&Exit", "Exit1", &MainWindow::Exit1Click);

  analyze_menu_ = menuBar()->addMenu("&Analyze");
  analyze_menu_->setObjectName("Analyze1");
  AddCommand(analyze_menu_, "ARU(W) Auditory Risk Units, Warned", "NoProtectorWarned1",
             &MainWindow::NoProtectorWarned1Click);
  AddCommand(analyze_menu_, "ARU(U) Auditory Risk Units, Unwarned", "NoProtectorUnWarned1",
             &MainWindow::NoProtectorUnWarned1Click);
  QAction* help = menuBar()->addAction("&Help");
  help->setObjectName("Help1");
  connect(help, &QAction::triggered, this, &MainWindow::Help1Click);

  // The pop-up menu; its nine top items are enabled and disabled together.
  popup_menu_ = new QMenu(this);
  popup_menu_->setObjectName("PopupMenu1");
  connect(popup_menu_, &QMenu::aboutToShow, this, &MainWindow::PopupMenu1Popup);
  popup_items_[0] = AddCommand(popup_menu_, "Select &Segment", "SelectSegment1",
                               &MainWindow::SelectSegment1Click);
  popup_items_[1] =
      AddCommand(popup_menu_, "Set &Baseline", "SetBaseline", &MainWindow::SetBaselineClick);
  QMenu* calibrate = popup_menu_->addMenu("&Calibrate");
  calibrate->setObjectName("Calibrate1");
  popup_items_[2] = calibrate->menuAction();
  QMenu* known_peak = nullptr;
  const std::pair<const char*, const char*> units[] = {
      {"&Multiply data by keyboard input", "Multiplydatabykeyboardinput1"},
      {"&Atm", "Atm1"},
      {"&Bar", "Bar1"},
      {"Peak Pressure &Level dB", "PeakPressureLeveldB1"},
      {"&Dynes/Cm^2", "DynesCm21"},
      {"&millibar or hPa", "millibarorhPa1"},
      {"&KiloPascals", "KiloPascals1"},
      {"&Pascals", "Pascals1"},
      {"P.&S.I", "PSI1"}};
  for (int unit = 0; unit < static_cast<int>(std::size(units)); ++unit) {
    if (unit == 1) {
      known_peak = calibrate->addMenu("&Adjust to known peak pressure");
      known_peak->setObjectName("Adjusttoknownpeakpressure1");
    }
    QAction* item = AddCommand(unit == 0 ? calibrate : known_peak, units[unit].first,
                               units[unit].second, nullptr);
    connect(item, &QAction::triggered, this, [this, unit] { CalibrateClick(unit); });
  }
  popup_items_[3] = AddCommand(popup_menu_, "&Establish Start", "EstablishStart",
                               &MainWindow::EstablishStartClick);
  popup_items_[4] =
      AddCommand(popup_menu_, "&Taper Ends", "ApplyTaper1", &MainWindow::ApplyTaper1Click);
  popup_items_[5] = AddCommand(popup_menu_, "St&atistics", "Stats1", &MainWindow::Stats1Click);
  popup_items_[6] = AddCommand(popup_menu_, "Leq300ms spectrum", "Leq300msspectrum1",
                               &MainWindow::Leq300msspectrum1Click);
  popup_items_[7] = AddCommand(popup_menu_, "&Resample", "Resample1", &MainWindow::Resample1Click);
  QMenu* protection = popup_menu_->addMenu("APPLY HEARING PROTECTION");
  protection->setObjectName("ApplyEarProtector1");
  popup_items_[8] = protection->menuAction();
  connect(protection, &QMenu::aboutToShow, this, &MainWindow::ApplyEarProtector1Click);
  default_mode_menu_ = protection->addMenu("DEFAULT MODE");
  default_mode_menu_->setObjectName("DefaultMode1");
  AddCommand(default_mode_menu_, "HELP", "Help2", &MainWindow::Help2Click);
  // Kept visible but never enabled: nothing under it can be chosen.
  QMenu* power_user = protection->addMenu("POWER USER MODE");
  power_user->setObjectName("PowerUserMode1");
  for (const auto& [caption, name] :
       {std::pair{"PLUG", "PLUG1"}, std::pair{"MUFF", "MUFF1"},
        std::pair{"PLUG + MUFF", "PLUGMUFF1"}, std::pair{"OTHER", "OTHER1"}}) {
    AddCommand(power_user, caption, name, nullptr);
  }
  power_user->menuAction()->setEnabled(false);
  popup_menu_->addSeparator();
  AddCommand(popup_menu_, "Zoom to fit\tHome", "ZoomToFit1", &MainWindow::ZoomToFitClick);
  FillRecentMenu();
}

void MainWindow::BuildControls() {
  grid_ = new QTableWidget(HeaderGrid::kRows, HeaderGrid::kColumns, canvas_);
  grid_->setObjectName("StringGrid1");
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->hide();
  connect(grid_, &QTableWidget::cellChanged, this, &MainWindow::GridCellChanged);
  connect(grid_, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { StringGrid1SelectCell(column, row); });
  grid_->installEventFilter(this);
  // Enter inside a cell editor reaches the delegate, not the grid: the
  // editor's text has been committed when it asks to close.
  connect(grid_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
            if (hint == QAbstractItemDelegate::SubmitModelCache) StringGrid1KeyDown();
          });

  descriptors_ = new QTableWidget(0, 3, canvas_);
  descriptors_->setObjectName("Descriptors1");
  descriptors_->setHorizontalHeaderLabels({"Descriptor", "Value", "Unit"});
  descriptors_->verticalHeader()->hide();
  // Compact rows, so that all of them show in the band; the names take
  // what the values and units leave.
  descriptors_->verticalHeader()->setDefaultSectionSize(descriptors_->fontMetrics().height() + 6);
  descriptors_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  descriptors_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  descriptors_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  descriptors_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  descriptors_->setSelectionBehavior(QAbstractItemView::SelectRows);
  descriptors_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction("Copy", descriptors_);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &MainWindow::CopyDescriptors);
  descriptors_->addAction(copy);
  descriptors_->hide();

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
  connect(cancel_button_, &QPushButton::clicked, &runner_, &CommandRunner::Cancel);

  // The Done buttons of the edit commands, hidden until a command arms them,
  // and the Cancel that abandons any of them.
  const std::pair<const char*, const char*> buttons[] = {
      {"Button2", "&Done"},    {"Button3", "&Expand Selection"},
      {"Button4", "&Select "}, {"Button5", "&Done"},
      {"Button6", "&Done"},    {"Button12", "&Done"}};
  const Slot handlers[] = {&MainWindow::Button2Click, &MainWindow::Button3Click,
                           &MainWindow::Button4Click, &MainWindow::Button5Click,
                           &MainWindow::Button6Click, &MainWindow::Button12Click};
  for (std::size_t i = 0; i < std::size(buttons); ++i) {
    auto* button = new QPushButton(buttons[i].second, canvas_);
    button->setObjectName(buttons[i].first);
    button->hide();
    connect(button, &QPushButton::clicked, this, handlers[i]);
    done_buttons_.push_back(button);
  }
  cancel_edit_button_ = new QPushButton("Cancel", canvas_);
  cancel_edit_button_->setObjectName("CancelEdit");
  cancel_edit_button_->hide();
  connect(cancel_edit_button_, &QPushButton::clicked, this, &MainWindow::CancelEditClick);

  // Esc reaches the window whichever widget has the focus (the menu bar
  // keeps it after a menu was closed), but only when no menu or dialog is
  // open: those take it for themselves.
  QCoreApplication::instance()->installEventFilter(this);
}

fs::path MainWindow::DataFile(const std::string& name) const {
  if (auto found = FindCaseInsensitive(options_.data_dir, name)) return *found;
  return options_.data_dir / name;
}

void MainWindow::LoadModelConfiguration() {
  // Man.Fig names the ear-model parameter file; both must be readable and
  // the parameters usable before the window offers any command.
  fs::path model;
  try {
    model = ModelFileFromManFig(options_.data_dir);
  } catch (const Error& e) {
    throw StartupError(FileErrorText(DataFile(kModelConfiguration), e.what()));
  }
  try {
    LoadEarModel(model);
  } catch (const Error& e) {
    throw StartupError(FileErrorText(model, e.what()));
  }
  model_file_ = model;
}

void MainWindow::LoadPictures() {
  auto load = [this](const char* name) {
    const fs::path path = DataFile(name);
    QImageReader reader(QString::fromStdString(path.string()));
    QImage picture = reader.read();
    if (picture.isNull()) {
      throw StartupError(WithFile(path.string(), reader.errorString().toStdString()));
    }
    return picture;
  };
  splash_picture_ = load(kSplashPicture);
  help_picture_ = load(kHelpPicture);
}

void MainWindow::FormCreate() {
  LoadModelConfiguration();
  popup_on_ = false;
  Session& session = document_.session;
  session.WaveformLoaded = false;
  session.ImportedWaveform = false;
  session.MovieAvailable = false;
  analyze_menu_->menuAction()->setEnabled(false);
  overlay_action_->setEnabled(false);
  save_action_->setEnabled(false);
  save_as_action_->setEnabled(false);
  save_wav_action_->setEnabled(false);
  LoadPictures();
  picture_.background = Splash(splash_picture_, kSplashText);
  Redraw();
  SaveForm();
  session.ClearPlotFirst = true;
  session.StartupDir = options_.data_dir.string();
  session.WaveformDir = document_.open_folder.string();
  LoadProtectorItems();
}

// --- Running commands -------------------------------------------------------

bool MainWindow::Run(const QString& name, const std::function<void()>& body, MovieEffect movie) {
  if (runner_.Busy()) return false;
  if (movie == MovieEffect::kEndsIt) movie_->Stop();
  const bool ran = runner_.Run(name, body);
  if (close_pending_ && !runner_.Busy()) {
    close_pending_ = false;
    close();
  }
  return ran;
}

bool MainWindow::Start(const QString& name, CommandRunner::Work work,
                       std::function<void()> abandon) {
  // A command whose dialog was open when the window was closed goes no further.
  if (closed_) return false;
  movie_->Stop();
  return runner_.Start(name, std::move(work), std::move(abandon));
}

void MainWindow::LockWhileWorking(bool working) {
  if (working) {
    std::vector<QAction*> actions = {
        open_action_,          overlay_action_,    import_action_,   recent_menu_->menuAction(),
        save_action_,          save_as_action_,    save_wav_action_, analyze_menu_->menuAction(),
        export_report_action_, movie_cancel_item_, movie_next_item_, exit_spectrum_item_};
    for (QAction* action : actions) {
      if (action == nullptr) continue;
      working_actions_.emplace_back(action, action->isEnabled());
      action->setEnabled(false);
    }
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (QPushButton* button : {armed_button_, cancel_edit_button_}) {
      if (button != nullptr) button->setEnabled(false);
    }
    keep_progress_bar_ = false;
    progress_bar_->setValue(0);
    progress_bar_->show();
    cancel_button_->show();
    cancel_button_->raise();
  } else {
    for (const auto& [action, enabled] : working_actions_) action->setEnabled(enabled);
    working_actions_.clear();
    for (QPushButton* button : {armed_button_, cancel_edit_button_}) {
      if (button != nullptr) button->setEnabled(true);
    }
    if (locked_actions_.empty()) {
      grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    }
    cancel_button_->hide();
  }
}

void MainWindow::ShowProgress(int permille) {
  progress_bar_->setValue(permille * kProgressSteps / 1000);
}

void MainWindow::CommandFinished(const QString& name, bool succeeded) {
  if (!keep_progress_bar_) progress_bar_->hide();
  if (!succeeded && runner_.CancelRequested()) {
    statusBar()->showMessage(name + ": cancelled", kStatusMilliseconds);
  }
  if (close_pending_) {
    close_pending_ = false;
    close();
  }
}

void MainWindow::ShowError(const std::string& message) {
  prompter_.ShowError("Error", message);
}

std::string MainWindow::FileErrorText(const fs::path& file, const std::string& message) const {
  // Core messages usually name the file already; name it once.
  const std::string name = file.filename().string();
  return message.find(name) == std::string::npos ? WithFile(file.string(), message) : message;
}

void MainWindow::ShowFileError(const fs::path& file, const std::string& message) {
  ShowError(FileErrorText(file, message));
}

void MainWindow::ShowWritten(const std::vector<fs::path>& files) {
  QStringList written;
  for (const fs::path& file : files) {
    if (!file.empty()) written << "Saved " + QString::fromStdString(file.string());
  }
  if (!written.isEmpty()) statusBar()->showMessage(written.join("; "), kStatusMilliseconds);
}

// --- The picture ------------------------------------------------------------

void MainWindow::Redraw() {
  canvas_->FollowWidgetSize();
  Surface canvas(canvas_->Image());
  picture_.Render(canvas, plot_);
  if (help_showing_) {
    canvas_->StretchPicture(help_picture_);
  } else {
    cursor_.SetPlot(CursorPlot());
    cursor_.DrawLines();
  }
  canvas_->update();
}

void MainWindow::SaveForm() {
  saved_picture_ = picture_;
}

void MainWindow::RestoreForm() {
  picture_ = saved_picture_;
  Redraw();
}

void MainWindow::Relayout() {
  LayoutReadouts();
  Redraw();
  PlaceEditButtons();
}

void MainWindow::PressureTimePlot() {
  canvas_->FollowWidgetSize();
  std::optional<PressurePlotInput> plot =
      NextPressurePlot(document_.session, plot_, canvas_->ClientWidth(), canvas_->ClientHeight());
  if (!plot) return;
  const bool fresh = plot->fresh_axes;
  Layer layer = [plot = std::move(*plot)](Surface& image, PlotState& state) {
    DrawPressurePlot(image, plot, state);
  };
  if (fresh) picture_.lower.clear();
  picture_.lower.push_back(std::move(layer));
  Redraw();
}

PlotRect MainWindow::CursorPlot() const {
  const plot::Layout& layout = plot_.layout;
  return PlotRect{layout.PlotLeft, layout.PlotTop, layout.PlotWidth, layout.PlotHeight};
}

void MainWindow::SetPopupItemsEnabled(bool enabled) {
  for (QAction* item : popup_items_) item->setEnabled(enabled);
}

void MainWindow::LayoutReadouts() {
  const int w = canvas_->ClientWidth();
  const int h = canvas_->ClientHeight();
  // The grid stops short of the plot's top label, which is centred on the
  // top edge of the plot.
  const int label_room = QFontMetrics(PlotFont(w, h)).height() / 2 + 2;
  const int grid_height = std::max(1, RoundToInt(0.5 * h) - label_room);
  // The descriptor table, when shown, takes the right of the band from the
  // grid's last column.
  const int table_width = descriptors_->isHidden() ? 0 : RoundToInt(0.25 * w);
  grid_->setGeometry(0, 0, w - table_width, grid_height);
  descriptors_->setGeometry(w - table_width, 0, table_width, grid_height);
  const double widths[2][3] = {{0.3, 0.1, 0.56}, {0.2, 0.1, 0.66}};
  for (int column = 0; column < 3; ++column) {
    grid_->setColumnWidth(column, RoundToInt(widths[import_layout_ ? 1 : 0][column] * w) -
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

// --- The grid -----------------------------------------------------------------

void MainWindow::RefreshGrid() {
  filling_grid_ = true;
  for (int row = 0; row < HeaderGrid::kRows; ++row) {
    for (int column = 0; column < HeaderGrid::kColumns; ++column) {
      const QString text = Latin1(document_.session.Grid.Cell(column, row));
      QTableWidgetItem* item = grid_->item(row, column);
      if (item == nullptr) {
        grid_->setItem(row, column, new QTableWidgetItem(text));
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  }
  filling_grid_ = false;
}

void MainWindow::GridCellChanged(int row, int column) {
  if (filling_grid_ || runner_.Busy()) return;
  const QTableWidgetItem* item = grid_->item(row, column);
  if (item == nullptr) return;
  document_.session.Grid.Cell(column, row) = CellText(item->text());
}

void MainWindow::StringGrid1SelectCell(int column, int row) {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  if (column >= 0 && row >= 0) document_.pending.Mark(column, row);
}

void MainWindow::StringGrid1KeyDown() {
  if (runner_.Busy()) return;
  const int row = grid_->currentRow();
  const int column = grid_->currentColumn();
  if (column >= 0 && row >= 0) document_.pending.Mark(column, row);
  ProcessPendingEdits();
}

void MainWindow::ProcessPendingEdits() {
  if (!document_.pending.Any()) return;
  GridEditResult result;
  std::string failure;
  try {
    result = ProcessCell(document_.session, document_.pending);
  } catch (const Error& e) {
    failure = e.what();
  }
  RefreshGrid();
  if (result.redraw) PressureTimePlot();
  for (const std::string& refusal : result.refusals) prompter_.ShowError("Header grid", refusal);
  if (!failure.empty()) ShowError(failure);
}

// --- Keys, close, drops -----------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      QApplication::activePopupWidget() == nullptr &&
      QApplication::activeModalWidget() == nullptr) {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (widget != nullptr && widget->window() == this && EscapeClick()) return true;
  }
  // The movie's keys reach it whichever control has the focus; the read-out
  // would otherwise take Home and End for its own cursor.
  if ((watched == grid_ || watched == edit1_) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (movie_->Key(key)) return true;
    if (watched == grid_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) StringGrid1KeyDown();
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (movie_->Key(event->key())) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Home && (View() || ShownSpectrumView())) {
    ZoomToFitClick();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool MainWindow::EscapeClick() {
  if (runner_.Working()) {
    runner_.Cancel();
    return true;
  }
  if (cursor_.Active() && !runner_.Busy()) {
    CancelEditClick();
    return true;
  }
  return false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (runner_.Working()) {
    // Asked once; the window closes when the computation has stopped.
    if (close_pending_ || prompter_.AskOkCancel("Quit", kQuitQuestion)) {
      close_pending_ = true;
      runner_.Cancel();
    }
    event->ignore();
    return;
  }
  // A short command is showing a dialog: the window closes after it.
  if (runner_.Busy()) {
    close_pending_ = true;
    event->ignore();
    return;
  }
  movie_->Stop();
  closed_ = true;
  event->accept();
}

void MainWindow::Exit1Click() {
  close();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data->hasUrls() && !data->urls().isEmpty() && data->urls().front().isLocalFile()) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  OpenFile(fs::path(urls.front().toLocalFile().toStdString()));
}

void MainWindow::OpenArguments(const QStringList& arguments) {
  for (const QString& argument : arguments) {
    if (argument.isEmpty() || argument.startsWith('-')) continue;
    OpenFile(fs::path(argument.toStdString()));
    return;
  }
}

// --- Recent files -------------------------------------------------------------

namespace {

std::unique_ptr<QSettings> OpenSettings(const fs::path& file) {
  if (file.empty()) return std::make_unique<QSettings>("KORVA", "korva");
  return std::make_unique<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

}  // namespace

QStringList MainWindow::RecentFiles() const {
  return OpenSettings(options_.settings_file)->value(kRecentKey).toStringList();
}

void MainWindow::RememberRecent(const fs::path& file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file, ec);
  const QString path = QString::fromStdString((ec ? file : absolute).lexically_normal().string());
  QStringList recent = RecentFiles();
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentFiles) recent.removeLast();
  OpenSettings(options_.settings_file)->setValue(kRecentKey, recent);
  FillRecentMenu();
}

void MainWindow::FillRecentMenu() {
  recent_menu_->clear();
  const QStringList recent = RecentFiles();
  for (const QString& path : recent) {
    QAction* item = recent_menu_->addAction(path);
    connect(item, &QAction::triggered, this, [this, path] { OpenFile(path.toStdString()); });
  }
  recent_menu_->menuAction()->setEnabled(!recent.isEmpty());
}

// --- Help, pop-up, protector items ----------------------------------------

void MainWindow::Help1Click() {
  Run("Help", [this] {
    prompter_.Inform("Information", kHelpText);
    RestoreForm();
  });
}

void MainWindow::Help2Click() {
  Run("HELP", [this] {
    grid_before_help_ = grid_->isVisible();
    grid_->hide();
    RestoreForm();
    help_showing_ = true;
    Redraw();
  });
}

void MainWindow::ApplyEarProtector1Click() {
  if (runner_.Busy()) return;
  // A movie frame drawn over the snapshot brought back would be out of step.
  movie_->Stop();
  // A task without read-outs: Set Baseline and Taper, which keep the last
  // task, show none after this.
  cursor_.SetTask(CursorTask::kProtector);
  RestoreForm();
  grid_->show();
}

void MainWindow::PopupMenu1Popup() {
  if (runner_.Busy()) return;
  SaveForm();
}

void MainWindow::ShowPopup(const QPoint& position) {
  if (!popup_on_ || runner_.Busy()) return;
  popup_menu_->popup(canvas_->mapToGlobal(position));
}

void MainWindow::LoadProtectorItems() {
  const fs::path path = DataFileForReading(options_.data_dir, kProtectorTableName);
  ProtectorTable table;
  try {
    table = ReadProtectorTable(path);
  } catch (const Error& e) {
    throw StartupError(FileErrorText(path, e.what()));
  }
  for (const int index : table.DefaultModeItems()) {
    const ProtectorRecord& record = table.records[static_cast<std::size_t>(index)];
    QAction* item = default_mode_menu_->addAction(Latin1(record.name));
    item->setData(index);
    connect(item, &QAction::triggered, this, [this, index] { emit ProtectorChosen(index); });
    protector_items_.push_back(item);
  }
}

}  // namespace korva::ui
