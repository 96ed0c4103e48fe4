#include "ui/main_window.h"

#include <QAbstractItemDelegate>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenuBar>
#include <algorithm>
#include <cmath>
#include <new>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/protection/hpd_table.h"
#include "core/protection/protect_command.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/import.h"
#include "core/waveform/krv.h"
#include "ui/protector_plot.h"

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

// The name part of `path` up to its first "." (a leading dot is kept).
std::string NameToFirstDot(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.find('.', 1);
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

// Moves the progress bar and lets the window repaint, but lets no user input
// through: a click cannot start a second command in the middle of this one.

MainWindow::MainWindow(Prompter& prompter, FileChooser& chooser, WindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      prompter_(prompter),
      chooser_(chooser),
      options_(std::move(options)),
      session_(options_.sample_capacity) {
  setObjectName("Form1");
  setWindowTitle(kWindowCaption);
  canvas_ = new Canvas(this);
  canvas_->setObjectName("Canvas");
  setCentralWidget(canvas_);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  BuildMenus();
  BuildControls();
  connect(canvas_, &Canvas::Pressed, this, &MainWindow::FormMouseDown);
  connect(canvas_, &Canvas::Moved, this, &MainWindow::FormMouseMove);
  connect(canvas_, &Canvas::Released, this, &MainWindow::FormMouseUp);
  ConnectEditCommands();
  connect(this, &MainWindow::ProtectorChosen, this, &MainWindow::GetHPDData);
  connect(overlay_action_, &QAction::triggered, this, &MainWindow::OverlayKRVWaveform1Click);
  movie_ = new HazardMovie(canvas_->Image(), this);
  connect(this, &MainWindow::AnimateRequested, this, &MainWindow::AnimateClick);
  connect(this, &MainWindow::MovieCancelled, movie_, &HazardMovie::Stop);
  connect(movie_, &HazardMovie::FrameDrawn, canvas_, qOverload<>(&QWidget::update));
  connect(movie_, &HazardMovie::ReplayRequested, this, &MainWindow::DrawMoviePressurePlot);
  connect(canvas_, &QWidget::customContextMenuRequested, this, &MainWindow::ShowPopup);
  open_dir_ = options_.open_dir.empty() ? CurrentFolder().value_or(".") : options_.open_dir;
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenus() {
  menuBar()->setNativeMenuBar(false);
  file_menu_ = menuBar()->addMenu("&File");
  file_menu_->setObjectName("File1");
  auto add = [this](QMenu* menu, const char* caption, const char* name) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
  };
  open_action_ = add(file_menu_, "Open KRV waveform", "OpenKRVwaveform1");
  overlay_action_ = add(file_menu_, "Overlay KRV waveform", "OverlayKRVWaveform1");
  import_action_ = add(file_menu_, "Import waveform", "Importwaveform1");
  file_menu_->addSeparator();
  save_action_ = add(file_menu_, "Save KRV waveform", "SaveKRVwaveform1");
  save_as_action_ = add(file_menu_, "Save KRV waveform as", "SaveKRVwaveformas1");
  save_wav_action_ = add(file_menu_, "Save WAV waveform", "SaveWAVwaveform1");
  file_menu_->addSeparator();
  QAction* copy_screen = add(file_menu_, "Copy screen to clipboard", "Copyscreentoclipboard1");
  QAction* copy_waveform =
      add(file_menu_, "Copy waveform to clipboard", "CopyWaveformToClipboard1");
  QAction* copy_spectrum =
      add(file_menu_, "Copy spectrum to clipboard", "Copyospectrumtoclipboard1");
  file_menu_->addSeparator();
  QAction* exit = add(file_menu_, "&Exit", "Exit1");

  analyze_menu_ = menuBar()->addMenu("&Analyze");
  analyze_menu_->setObjectName("Analyze1");
  warned_action_ = add(analyze_menu_, "ARU(W) Auditory Risk Units, Warned", "NoProtectorWarned1");
  unwarned_action_ =
      add(analyze_menu_, "ARU(U) Auditory Risk Units, Unwarned", "NoProtectorUnWarned1");
  QAction* help = menuBar()->addAction("&Help");
  help->setObjectName("Help1");

  connect(open_action_, &QAction::triggered, this, &MainWindow::OpenKRVwaveform1Click);
  connect(import_action_, &QAction::triggered, this, &MainWindow::Importwaveform1Click);
  connect(save_action_, &QAction::triggered, this, &MainWindow::SaveKRVwaveform1Click);
  connect(save_as_action_, &QAction::triggered, this, &MainWindow::SaveKRVwaveformas1Click);
  connect(save_wav_action_, &QAction::triggered, this, &MainWindow::SaveWAVwaveform1Click);
  connect(copy_screen, &QAction::triggered, this, &MainWindow::Copyscreentoclipboard1Click);
  connect(copy_waveform, &QAction::triggered, this, &MainWindow::CopyWaveformToClipboard1Click);
  connect(copy_spectrum, &QAction::triggered, this, &MainWindow::Copyospectrumtoclipboard1Click);
  connect(exit, &QAction::triggered, this, &MainWindow::Exit1Click);
  connect(warned_action_, &QAction::triggered, this, &MainWindow::NoProtectorWarned1Click);
  connect(unwarned_action_, &QAction::triggered, this, &MainWindow::NoProtectorUnWarned1Click);
  connect(help, &QAction::triggered, this, &MainWindow::Help1Click);

  // The pop-up menu; its nine top items are enabled and disabled together.
  popup_menu_ = new QMenu(this);
  popup_menu_->setObjectName("PopupMenu1");
  connect(popup_menu_, &QMenu::aboutToShow, this, &MainWindow::PopupMenu1Popup);
  popup_items_[0] = add(popup_menu_, "Select &Segment", "SelectSegment1");
  popup_items_[1] = add(popup_menu_, "Set &Baseline", "SetBaseline");
  QMenu* calibrate = popup_menu_->addMenu("&Calibrate");
  calibrate->setObjectName("Calibrate1");
  popup_items_[2] = calibrate->menuAction();
  add(calibrate, "&Multiply data by keyboard input", "Multiplydatabykeyboardinput1");
  QMenu* known_peak = calibrate->addMenu("&Adjust to known peak pressure");
  known_peak->setObjectName("Adjusttoknownpeakpressure1");
  add(known_peak, "&Atm", "Atm1");
  add(known_peak, "&Bar", "Bar1");
  add(known_peak, "Peak Pressure &Level dB", "PeakPressureLeveldB1");
  add(known_peak, "&Dynes/Cm^2", "DynesCm21");
  add(known_peak, "&millibar or hPa", "millibarorhPa1");
  add(known_peak, "&KiloPascals", "KiloPascals1");
  add(known_peak, "&Pascals", "Pascals1");
  add(known_peak, "P.&S.I", "PSI1");
  popup_items_[3] = add(popup_menu_, "&Establish Start", "EstablishStart");
  popup_items_[4] = add(popup_menu_, "&Taper Ends", "ApplyTaper1");
  popup_items_[5] = add(popup_menu_, "St&atistics", "Stats1");
  popup_items_[6] = add(popup_menu_, "Leq300ms spectrum", "Leq300msspectrum1");
  popup_items_[7] = add(popup_menu_, "&Resample", "Resample1");
  QMenu* protection = popup_menu_->addMenu("APPLY HEARING PROTECTION");
  protection->setObjectName("ApplyEarProtector1");
  popup_items_[8] = protection->menuAction();
  connect(protection, &QMenu::aboutToShow, this, &MainWindow::ApplyEarProtector1Click);
  default_mode_menu_ = protection->addMenu("DEFAULT MODE");
  default_mode_menu_->setObjectName("DefaultMode1");
  QAction* help2 = add(default_mode_menu_, "HELP", "Help2");
  connect(help2, &QAction::triggered, this, &MainWindow::Help2Click);
  // Kept visible but never enabled: nothing under it can be chosen.
  QMenu* power_user = protection->addMenu("POWER USER MODE");
  power_user->setObjectName("PowerUserMode1");
  add(power_user, "PLUG", "PLUG1");
  add(power_user, "MUFF", "MUFF1");
  add(power_user, "PLUG + MUFF", "PLUGMUFF1");
  add(power_user, "OTHER", "OTHER1");
  power_user->menuAction()->setEnabled(false);
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

  // The Done buttons of the edit commands, hidden until a command arms them.
  const std::pair<const char*, const char*> buttons[] = {
      {"Button2", "&Done"},    {"Button3", "&Expand Selection"},
      {"Button4", "&Select "}, {"Button5", "&Done"},
      {"Button6", "&Done"},    {"Button12", "&Done"}};
  for (const auto& [name, caption] : buttons) {
    auto* button = new QPushButton(caption, canvas_);
    button->setObjectName(name);
    button->hide();
    done_buttons_.push_back(button);
  }
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
    ShowFileErrorText(DataFile(kModelConfiguration), e.what(), true);
  }
  try {
    LoadEarModel(model);
  } catch (const Error& e) {
    ShowFileErrorText(model, e.what(), true);
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

void MainWindow::DrawSplash() {
  canvas_->StretchPicture(splash_picture_);
  CanvasPainter painter(*canvas_);
  QFont font(QFontDatabase::families().contains("Times New Roman") ? "Times New Roman"
                                                                   : "Liberation Serif");
  font.setStyleHint(QFont::Serif);
  font.setBold(true);
  font.setPixelSize(plot::PointsToPixels(32));
  painter.setFont(font);
  painter.setPen(Qt::red);
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(kSplashText);
  const int height = metrics.height();
  const int left = canvas_->ClientWidth() / 2 - width / 2;
  const int top = RoundToInt(0.075 * canvas_->ClientHeight()) - height / 2;
  painter.drawText(QRect(left, top, width + 1, height), Qt::AlignLeft | Qt::AlignTop, kSplashText);
}

void MainWindow::FormCreate() {
  canvas_->FollowWidgetSize();
  LoadModelConfiguration();
  popup_on_ = false;
  session_.WaveformLoaded = false;
  session_.ImportedWaveform = false;
  session_.MovieAvailable = false;
  analyze_menu_->menuAction()->setEnabled(false);
  overlay_action_->setEnabled(false);
  save_action_->setEnabled(false);
  save_as_action_->setEnabled(false);
  save_wav_action_->setEnabled(false);
  LoadPictures();
  DrawSplash();
  canvas_->SaveForm();
  session_.ClearPlotFirst = true;
  session_.StartupDir = options_.data_dir.string();
  session_.WaveformDir = open_dir_.string();
  LoadProtectorItems();
}

void MainWindow::ShowError(const std::string& message) {
  prompter_.Inform("Error", message);
}

void MainWindow::ShowFileError(const fs::path& file, const std::string& message) {
  ShowFileErrorText(file, message, false);
}

void MainWindow::ShowFileErrorText(const fs::path& file, const std::string& message,
                                   bool at_startup) {
  // Core messages usually name the file already; name it once.
  const std::string name = file.filename().string();
  const std::string text =
      message.find(name) == std::string::npos ? WithFile(file.string(), message) : message;
  if (at_startup) throw StartupError(text);
  ShowError(text);
}

void MainWindow::SetPopupItemsEnabled(bool enabled) {
  for (QAction* item : popup_items_) item->setEnabled(enabled);
}

void MainWindow::LayoutReadouts(bool import_layout) {
  const int w = canvas_->ClientWidth();
  const int h = canvas_->ClientHeight();
  grid_->setGeometry(0, 0, w, RoundToInt(0.5 * h));
  const double widths[2][3] = {{0.3, 0.1, 0.56}, {0.2, 0.1, 0.66}};
  for (int column = 0; column < 3; ++column) {
    grid_->setColumnWidth(column, RoundToInt(widths[import_layout ? 1 : 0][column] * w));
  }
  const int bar_height = RoundToInt(0.03 * h);
  const int bar_width = RoundToInt(0.2 * w);
  const int top = h - RoundToInt(1.25 * bar_height);
  progress_bar_->setGeometry(0, top, bar_width, bar_height);
  progress_bar_->setValue(0);
  edit1_->setGeometry(RoundToInt(1.1 * bar_width), top, RoundToInt(0.75 * bar_width), bar_height);
}

void MainWindow::RefreshGrid() {
  filling_grid_ = true;
  for (int row = 0; row < HeaderGrid::kRows; ++row) {
    for (int column = 0; column < HeaderGrid::kColumns; ++column) {
      const QString text = Latin1(session_.Grid.Cell(column, row));
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
  if (filling_grid_ || busy_) return;
  const QTableWidgetItem* item = grid_->item(row, column);
  if (item == nullptr) return;
  session_.Grid.Cell(column, row) = CellText(item->text());
}

void MainWindow::StringGrid1SelectCell(int column, int row) {
  if (busy_) return;
  ProcessPendingEdits();
  if (column >= 0 && row >= 0) pending_.Mark(column, row);
}

void MainWindow::StringGrid1KeyDown() {
  if (busy_) return;
  const int row = grid_->currentRow();
  const int column = grid_->currentColumn();
  if (column >= 0 && row >= 0) pending_.Mark(column, row);
  ProcessPendingEdits();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The movie's keys reach it whichever control has the focus; the read-out
  // would otherwise take Home and End for its own cursor.
  if ((watched == grid_ || watched == edit1_) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (movie_->Key(key)) return true;
    if (watched == grid_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) StringGrid1KeyDown();
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ProcessPendingEdits() {
  if (!pending_.Any()) return;
  GridEditResult result;
  std::string failure;
  try {
    result = ProcessCell(session_, pending_);
  } catch (const Error& e) {
    failure = e.what();
  }
  RefreshGrid();
  if (result.redraw) PressureTimePlot();
  for (const std::string& refusal : result.refusals) prompter_.Inform("Information", refusal);
  if (!failure.empty()) ShowError(failure);
}

void MainWindow::PressureTimePlot() {
  canvas_->FollowWidgetSize();
  ui::PressureTimePlot(canvas_->Image(), session_, plot_);
  canvas_->update();
}

void MainWindow::OpenKRVwaveform1Click() {
  RunCommand([this] {
    SetPopupItemsEnabled(true);
    canvas_->RestoreForm();
    if (session_.MovieAvailable) CloseMovie();
    place_next_dialog_ = true;
    const std::optional<fs::path> chosen = chooser_.ChooseOpenFile(KrvOpenDialog());
    place_next_dialog_ = false;
    canvas_->RestoreForm();
    if (!chosen) return;
    // Relative names in later commands resolve against the chosen folder.
    QDir::setCurrent(QString::fromStdString(chosen->parent_path().string()));
    WindowProgress progress(*this);
    try {
      OpenWaveform(session_, *chosen, progress);
    } catch (const Error& e) {
      ShowFileError(*chosen, e.what());
      return;
    }
    popup_on_ = true;
    plot_.TraceCount = 1;
    new_spectrum_scale_ = true;
    pending_ = {};
    last_open_choice_ = *chosen;
    setWindowTitle(QString(kOpenCaption) + Latin1(session_.BaseName));
    LayoutReadouts(false);
    RefreshGrid();
    grid_->show();
    progress_bar_->hide();
    edit1_->hide();
    PressureTimePlot();
    analyze_menu_->menuAction()->setEnabled(true);
    overlay_action_->setEnabled(true);
    save_action_->setEnabled(true);
    save_as_action_->setEnabled(true);
    save_wav_action_->setEnabled(true);
    open_dir_ = session_.WaveformDir;
    canvas_->SaveForm();
  });
}

FileDialogRequest MainWindow::KrvOpenDialog() const {
  FileDialogRequest dialog;
  dialog.title = "Korva Files";
  dialog.filters = QStringList{"Prepared waveforms (*.KRV *.krv)", "All Files (*)"};
  dialog.directory = QString::fromStdString(open_dir_.string());
  // Centred and nearly full height, as a timer placed it on Windows.
  dialog.place_centred = true;
  return dialog;
}

void MainWindow::Importwaveform1Click() {
  RunCommand([this] {
    SetPopupItemsEnabled(true);
    if (session_.MovieAvailable) CloseMovie();
    FileDialogRequest dialog;
    dialog.title = "Korva Files";
    dialog.filters = QStringList{"All files (*)", "WAV files (*.WAV *.wav)"};
    dialog.directory = QString::fromStdString(open_dir_.string());
    // Only Open places its dialog, and the very first dialog after start-up.
    dialog.place_centred = place_next_dialog_;
    const std::optional<fs::path> chosen = chooser_.ChooseOpenFile(dialog);
    place_next_dialog_ = false;
    if (!chosen) return;
    // The next dialog starts in the folder of this recording.
    open_dir_ = chosen->parent_path();
    QDir::setCurrent(QString::fromStdString(chosen->parent_path().string()));
    WindowProgress progress(*this);
    ImportOutcome outcome;
    try {
      outcome = ImportWaveform(session_, *chosen, prompter_, progress);
    } catch (const Error& e) {
      ShowFileError(*chosen, e.what());
      return;
    }
    if (outcome == ImportOutcome::kCancelled) return;
    plot_.TraceCount = 1;
    new_spectrum_scale_ = true;
    pending_ = {};
    session_.ClearPlotFirst = true;
    last_open_choice_ = *chosen;
    LayoutReadouts(true);
    RefreshGrid();
    grid_->show();
    setWindowTitle(QString(kImportCaption) + Latin1(session_.DataFileName));
    popup_on_ = true;
    analyze_menu_->menuAction()->setEnabled(false);
    save_action_->setEnabled(false);
    save_as_action_->setEnabled(true);
    // A foreign recording has no KRV file to compare against.
    overlay_action_->setEnabled(false);
    PressureTimePlot();
  });
}

void MainWindow::SaveKRVwaveform1Click() {
  if (!busy_) ProcessPendingEdits();
  RunCommand([this] {
    const fs::path target = WaveformPath(session_);
    try {
      SaveKrv(session_);
    } catch (const Error& e) {
      ShowFileError(target, e.what());
      return;
    }
    canvas_->ClearCanvas();
    grid_->hide();
    analyze_menu_->menuAction()->setEnabled(false);
    progress_bar_->hide();
  });
}

void MainWindow::SaveKRVwaveformas1Click() {
  if (!busy_) ProcessPendingEdits();
  RunCommand([this] {
    if (session_.LastSample >= kMaxSaveAsSamples) {
      prompter_.Inform("Information",
                       "Waveforms longer than 1,048,576 samples cannot be saved with Save As.");
      return;
    }
    FileDialogRequest dialog;
    dialog.title = "Save As";
    dialog.filters = QStringList{"Auditorialy hazardous waveforms (*.KRV *.krv)"};
    dialog.directory = Latin1(session_.WaveformDir);
    dialog.default_suffix = "KRV";
    dialog.proposed_name =
        last_open_choice_.empty() ? QString() : Latin1(NameToFirstDot(last_open_choice_) + ".KRV");
    std::optional<fs::path> chosen = chooser_.ChooseSaveFile(dialog);
    if (chosen) {
      // The name written is cut at its first "."; when that differs from the
      // name the dialog confirmed, ask again before replacing another file.
      const fs::path written = chosen->parent_path() / (NameToFirstDot(*chosen) + ".KRV");
      const fs::path existing = ResolveCaseInsensitive(written);
      if (written.filename() != chosen->filename() && PathExists(existing) &&
          !prompter_.AskOkCancel(
              "Confirm", existing.string() + " already exists.\r\nDo you want to replace it?")) {
        chosen.reset();
      }
    }
    if (!chosen) {
      analyze_menu_->menuAction()->setEnabled(false);
      progress_bar_->hide();
      return;
    }
    try {
      SaveKrvAs(session_, *chosen);
    } catch (const Error& e) {
      ShowFileError(*chosen, e.what());
      return;
    }
    session_.WaveformDir = chosen->parent_path().string();
    canvas_->ClearCanvas();
    grid_->hide();
    analyze_menu_->menuAction()->setEnabled(false);
    progress_bar_->hide();
  });
}

void MainWindow::SaveWAVwaveform1Click() {
  RunCommand([this] {
    // A save that silently wrote nothing could be taken for a saved file.
    prompter_.Inform("Information", "Saving WAV files is not available.");
  });
}

void MainWindow::Copyscreentoclipboard1Click() {
  CopyCanvasRows(0, canvas_->Image().height());
}

void MainWindow::CopyWaveformToClipboard1Click() {
  const int half = canvas_->Image().height() / 2;
  CopyCanvasRows(half, half);
}

void MainWindow::Copyospectrumtoclipboard1Click() {
  CopyCanvasRows(0, canvas_->Image().height() / 2);
}

void MainWindow::CopyCanvasRows(int top, int height) {
  // A copy draws nothing, so a playing movie goes on: this is how a user
  // captures one of its frames.
  RunCommand(
      [this, top, height] {
        const QImage& image = canvas_->Image();
        QGuiApplication::clipboard()->setImage(image.copy(0, top, image.width(), height));
      },
      MovieEffect::kKeepsPlaying);
}

void MainWindow::Exit1Click() {
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The running command uses the session; the window closes when it ends.
  if (busy_) {
    close_pending_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void MainWindow::Help1Click() {
  RunCommand([this] {
    prompter_.Inform("Information", kHelpText);
    canvas_->RestoreForm();
  });
}

void MainWindow::Help2Click() {
  RunCommand([this] {
    grid_->hide();
    canvas_->RestoreForm();
    canvas_->StretchPicture(help_picture_);
    help_showing_ = true;
  });
}

void MainWindow::ApplyEarProtector1Click() {
  if (busy_) return;
  // A movie frame drawn over the snapshot brought back would be out of step.
  movie_->Stop();
  // A task without read-outs: Set Baseline and Taper, which keep the last
  // task, show none after this.
  cursor_.CursorTask = 8;
  canvas_->RestoreForm();
  grid_->show();
}

void MainWindow::PopupMenu1Popup() {
  if (busy_) return;
  canvas_->SaveForm();
}

void MainWindow::ShowPopup(const QPoint& position) {
  if (!popup_on_ || busy_) return;
  popup_menu_->popup(canvas_->mapToGlobal(position));
}

std::vector<QAction*> MainWindow::MovieItems() const {
  std::vector<QAction*> items;
  if (movie_cancel_item_) items.push_back(movie_cancel_item_);
  if (movie_next_item_) items.push_back(movie_next_item_);
  return items;
}

void MainWindow::AddMovieItems() {
  RemoveMovieItems();
  movie_cancel_item_ = menuBar()->addAction("Movie[Cancel ,");
  movie_cancel_item_->setObjectName("MovieCancel");
  movie_next_item_ = menuBar()->addAction("Stapes Displacement]");
  movie_next_item_->setObjectName("Animate");
  connect(movie_cancel_item_, &QAction::triggered, this, &MainWindow::CancelMovieClick);
  connect(movie_next_item_, &QAction::triggered, this, &MainWindow::AnimateRequested);
}

void MainWindow::RemoveMovieItems() {
  // Removed by the pointers kept when they were added, never by counting the
  // bar; deleted later because the click being handled may be one of them.
  for (QAction** item : {&movie_cancel_item_, &movie_next_item_}) {
    if (*item == nullptr) continue;
    menuBar()->removeAction(*item);
    (*item)->deleteLater();
    *item = nullptr;
  }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (movie_->Key(event->key())) {
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::ReplaceNextMovieItem(const char* caption, const char* name,
                                      void (MainWindow::*step)()) {
  if (movie_next_item_ != nullptr) {
    menuBar()->removeAction(movie_next_item_);
    movie_next_item_->deleteLater();
  }
  movie_next_item_ = menuBar()->addAction(caption);
  movie_next_item_->setObjectName(name);
  connect(movie_next_item_, &QAction::triggered, this, step);
}

void MainWindow::AnimateClick() {
  RunCommand([this] {
    if (!last_run_ || !last_run_->movie || movie_next_item_ == nullptr) return;
    progress_bar_->hide();
    grid_->hide();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const std::int32_t last_frame =
        LastMovieFrame(session_.LastSample, last_run_->cochlea.FftLength);
    PlotStDispTime(canvas_->Image(), *last_run_->movie, last_frame, session_.SampleInterval,
                   session_.StartTime);
    canvas_->update();
    ReplaceNextMovieItem("Unwrap Cochlea]", "UnwrapCochlea", &MainWindow::UnwrapCochleaClick);
  });
}

void MainWindow::UnwrapCochleaClick() {
  RunCommand([this] {
    if (!last_run_ || !last_run_->movie || movie_next_item_ == nullptr) return;
    // The movie replays the run with the parameters the run used.
    const EarModelParameters& params = last_run_->parameters;
    const MovieBuffer& movie = *last_run_->movie;
    const int places = last_run_->cochlea.Places;
    const auto frames = PlotBMDispSpace(canvas_->Image(), params, ScanEnvelope(movie, places));
    plot_.frames[2] = frames[1];
    DrawEnvelope(canvas_->Image(), frames, movie, params, places);
    DrawMoviePressurePlot();
    ReplaceNextMovieItem("Hazard Animation]", "HazardAnimation", &MainWindow::MovieStartClick);
  });
}

void MainWindow::MovieStartClick() {
  RunCommand([this] {
    if (!last_run_ || !last_run_->movie || movie_next_item_ == nullptr) return;
    RemoveMovieItems();
    movie_cancel_item_ = menuBar()->addAction("Movie[Cancel]");
    movie_cancel_item_->setObjectName("MovieCancel");
    connect(movie_cancel_item_, &QAction::triggered, this, &MainWindow::CancelMovieClick);

    MovieInput input;
    input.movie = last_run_->movie;
    input.params = last_run_->parameters;
    input.places = last_run_->cochlea.Places;
    input.worst_section = last_run_->cochlea.WorstSection;
    input.last_frame = LastMovieFrame(session_.LastSample, last_run_->cochlea.FftLength);
    input.dt = session_.SampleInterval;
    const auto pressure = session_.Pressure.Range(0, input.last_frame);
    input.pressure.assign(pressure.begin(), pressure.end());
    DrawMoviePressurePlot();
    movie_->Start(std::move(input), plot_.frames[1], plot_.frames[3]);
    canvas_->update();
  });
}

void MainWindow::DrawMoviePressurePlot() {
  if (!last_run_ || !last_run_->movie) return;
  const Envelope envelope = ScanEnvelope(*last_run_->movie, last_run_->cochlea.Places);
  PressureTimePlot2(canvas_->Image(), session_, plot_, envelope.max_hazard);
  canvas_->update();
}

void MainWindow::CancelMovieClick() {
  RunCommand([this] { CloseMovie(); });
}

void MainWindow::CloseMovie() {
  emit MovieCancelled();
  RemoveMovieItems();
  edit1_->hide();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  prompter_.Inform("Information", kMovieClosingMessage);
  session_.MovieAvailable = false;
  canvas_->RestoreForm();
  // The restored picture shows the pressure plot of frame 1, not the
  // two-range plot of the movie: an overlay trace must use its axes.
  plot_.frames[1] = plot_.frames[0];
}

void MainWindow::LoadProtectorItems() {
  const fs::path path = DataFileForReading(options_.data_dir, kProtectorTableName);
  ProtectorTable table;
  try {
    table = ReadProtectorTable(path);
  } catch (const Error& e) {
    ShowFileErrorText(path, e.what(), true);
  }
  for (const int index : table.DefaultModeItems()) {
    const ProtectorRecord& record = table.records[static_cast<std::size_t>(index)];
    QAction* item = default_mode_menu_->addAction(Latin1(record.name));
    item->setData(index);
    connect(item, &QAction::triggered, this, [this, index] { emit ProtectorChosen(index); });
    protector_items_.push_back(item);
  }
}

void MainWindow::GetHPDData(int record_index) {
  if (!busy_) ProcessPendingEdits();
  RunCommand([this, record_index] {
    // The picture starts from the window as it was before the menu opened.
    canvas_->RestoreForm();
    const bool popup_before = popup_on_;
    popup_on_ = false;
    struct PopupBack {
      bool& flag;
      bool value;
      ~PopupBack() { flag = value; }
    } popup_back{popup_on_, popup_before};

    ProtectOptions options;
    // The program's own table is rewritten as the user's copy.
    options.table = DataFileForWriting(options_.data_dir, kProtectorTableName);
    options.seed_folder = options_.data_dir;
    options.output_folder = CurrentFolder().value_or(".");
    options.chosen_file_name = last_open_choice_.filename().string();
    options.record_index = record_index;
    for (const QAction* item : protector_items_) {
      if (item->data().toInt() == record_index) {
        const QByteArray name = item->text().toLatin1();
        options.expected_name =
            std::string(name.constData(), static_cast<std::size_t>(name.size()));
      }
    }
    const fs::path model_file =
        model_file_.empty() ? ModelFileFromManFig(session_.StartupDir) : model_file_;
    EarModelParameters parameters;
    try {
      parameters = ReadEarModelFile(model_file);
    } catch (const Error& e) {
      ShowFileError(model_file, e.what());
      return;
    }

    progress_bar_->setValue(0);
    progress_bar_->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    ProtectResult result;
    {
      WindowProgress progress(*this);
      try {
        result = korva::GetHPDData(session_, protector_state_, parameters, options, progress);
      } catch (const Error&) {
        progress_bar_->hide();
        throw;
      }
    }
    progress_bar_->setValue(kProgressSteps);

    // The caption is the record's name; the file name adds the incidence angle.
    // The picture fills the upper half, where the header grid would hide it.
    grid_->hide();
    plot_.frames[2] = DrawProtectorModel(canvas_->Image(), result.plot, result.data.record.name);
    canvas_->SaveForm();
    if (!plot_.frame2_set) PressureTimePlot();
    DrawPredictedWaveform(canvas_->Image(), plot_,
                          std::span<const float>(result.eardrum.data(), result.eardrum.size()),
                          session_.SampleInterval, session_.StartTime);
    canvas_->update();
    progress_bar_->hide();
    if (!result.table_error.empty()) prompter_.Inform("Information", result.table_error);
    new_spectrum_scale_ = true;
    last_protection_ = std::move(result);
  });
}

void MainWindow::NoProtectorWarned1Click() {
  RunHazard(true);
}

void MainWindow::NoProtectorUnWarned1Click() {
  RunHazard(false);
}

void MainWindow::RunHazard(bool warned) {
  if (!busy_) ProcessPendingEdits();
  RunCommand([this, warned] {
    const bool analyze_before = analyze_menu_->menuAction()->isEnabled();
    std::array<bool, 9> items_before{};
    for (std::size_t i = 0; i < popup_items_.size(); ++i) {
      items_before[i] = popup_items_[i]->isEnabled();
    }
    const bool popup_before = popup_on_;
    auto restore_menus = [&] {
      for (std::size_t i = 0; i < popup_items_.size(); ++i) {
        popup_items_[i]->setEnabled(items_before[i]);
      }
      analyze_menu_->menuAction()->setEnabled(analyze_before);
      popup_on_ = popup_before;
      progress_bar_->hide();
      edit1_->hide();
    };

    SetPopupItemsEnabled(false);
    canvas_->RestoreForm();
    const fs::path model_file =
        model_file_.empty() ? ModelFileFromManFig(session_.StartupDir) : model_file_;
    if (warned) analyze_menu_->menuAction()->setEnabled(false);

    // Everything that could refuse the run is checked before anything is
    // drawn or run.
    HazardRunOptions options;
    options.listener = warned ? Listener::Warned : Listener::Unwarned;
    options.model_file = model_file;
    std::optional<HazardPlan> plan;
    if (session_.WaveformLoaded) {
      try {
        plan = PlanHazardRun(session_, options);
      } catch (const Error& e) {
        restore_menus();
        ShowError(e.what());
        return;
      }
      PrepareHazardSession(*plan, session_);
    }
    session_.ClearPlotFirst = true;
    PressureTimePlot();
    if (session_.MovieAvailable) CloseMovie();

    progress_bar_->setValue(0);
    progress_bar_->show();
    edit1_->setText(warned ? "WARNED" : "UNWARNED");
    edit1_->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    if (plan) {
      popup_on_ = false;
      // Closing the previous run restored an older picture: draw afresh.
      PressureTimePlot();
      DrawReflexCurve(canvas_->Image(), session_, plot_, plan->timing.ReflexOnsetSample,
                      plan->timing.ReflexFactor, plan->timing.ReflexDecay);
      canvas_->update();

      WindowProgress progress(*this);
      try {
        last_run_ = RunHazardPlan(*plan, session_, progress);
      } catch (const Error& e) {
        restore_menus();
        ShowError(e.what());
        return;
      }
      progress_bar_->setValue(kProgressSteps);
      edit1_->setText(Latin1(last_run_->HazardText + "  A.R.U."));
      RefreshGrid();
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      AddMovieItems();
    }
    popup_on_ = true;
    analyze_menu_->menuAction()->setEnabled(session_.WaveformLoaded && !session_.ImportedWaveform);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  });
}

}  // namespace korva::ui
