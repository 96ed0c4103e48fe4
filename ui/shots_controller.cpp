#include "ui/shots_controller.h"

#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "core/analysis/fields.h"
#include "core/analysis/series.h"
#include "core/common/numbers.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/recording/recording.h"
#include "core/recording/shot_files.h"
#include "core/waveform/krv.h"
#include "core/waveform/waveform.h"
#include "render/report_overview.h"
#include "render/report_pages.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFindName = "Find shots";
constexpr const char* kAnalyzeName = "Analyze all shots";
constexpr const char* kExportName = "Export report...";

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QTableWidget* Table(const char* name, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()));
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

// Numbers to the right; a last column of words (the series' notes) to the left.
void SetRow(QTableWidget& table, int row, const std::vector<QString>& cells,
            bool words_last = false) {
  for (std::size_t column = 0; column < cells.size(); ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    if (!words_last || column + 1 < cells.size()) {
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    table.setItem(row, static_cast<int>(column), item);
  }
}

// A field of a series row as a cell: its number at the field's decimals,
// its text, or the field's word for no value.
QString Cell(const ShotReport& shot, std::string_view object, std::string_view key) {
  const Field& field = FieldNamed(object, key);
  if (!shot.opened || (!object.empty() && !HasObject(shot, object))) return {};
  const FieldValue value = field.value(shot);
  if (value.none()) return Text(std::string(field.none_text));
  if (value.kind == FieldValue::Kind::kNumber && field.decimals >= 0) {
    return Text(FormatFixed(value.number, field.decimals));
  }
  return Text(value.text);
}

QString Allowed(const std::optional<double>& allowed) {
  return allowed ? Text(FormatFixed(*allowed, 1)) : QString("unlimited");
}

// The shots whose report pages get pictures: the loudest by peak.
std::vector<bool> Pictured(const std::vector<Shot>& shots) {
  std::vector<std::size_t> order(shots.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return shots[a].peak_db > shots[b].peak_db;
  });
  std::vector<bool> pictured(shots.size(), false);
  for (std::size_t k = 0; k < std::min(kDefaultPicturedShots, order.size()); ++k) {
    pictured[order[k]] = true;
  }
  return pictured;
}

}  // namespace

ShotsController::ShotsController(Workspace& workspace, FileController& file, QMainWindow& window,
                                 QObject* parent)
    : QObject(parent), workspace_(workspace), file_(file), window_(window) {
  BuildPanel(window);
  connect(&file_, &FileController::RecordingOpened, this,
          [this](const fs::path& recording, const RecordingRequest& request) {
            // The shots of the recording shown before are no longer the window's.
            found_.reset();
            series_.clear();
            ShowFound();
            ShowSeries();
            if (dock_->isHidden()) {
              dock_->show();
              // A third of the window: the waveform's plot keeps the rest.
              window_.resizeDocks({dock_}, {window_.height() / 3}, Qt::Vertical);
            }
            FindShots(recording, request);
          });
  // The search after Open recording starts once Open's command is over.
  connect(&workspace_, &Workspace::Idle, this, [this] {
    if (pending_) {
      const Search search = *std::exchange(pending_, std::nullopt);
      FindShots(search.file, search.search.recording);
    }
    ShowButtons();
  });
  connect(&workspace_, &Workspace::WorkingChanged, this, &ShotsController::ShowButtons);
}

void ShotsController::BuildPanel(QMainWindow& window) {
  dock_ = new QDockWidget("Shots", &window);
  dock_->setObjectName("ShotsPanel");
  dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                     QDockWidget::DockWidgetFloatable);
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 2, 4, 4);

  auto* top = new QHBoxLayout;
  status_ = new QLabel;
  status_->setObjectName("ShotsStatus");
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(status_, 1);
  search_button_ = new QPushButton("Find shots");
  search_button_->setObjectName("FindShots");
  search_button_->setToolTip("Search the recording for its shots again");
  open_button_ = new QPushButton("Open shot");
  open_button_->setObjectName("OpenShot");
  open_button_->setToolTip("Make the selected shot the current waveform (or double-click it)");
  analyze_button_ = new QPushButton("Analyze all shots");
  analyze_button_->setObjectName("AnalyzeAllShots");
  analyze_button_->setToolTip(
      "Run the ear model for both listeners on every shot; File > Export report then writes "
      "the series");
  for (QPushButton* button : {search_button_, open_button_, analyze_button_}) {
    top->addWidget(button);
  }
  layout->addLayout(top);

  split_ = new QSplitter(Qt::Horizontal);
  QSplitter* split = split_;
  overview_ = new ShotsOverview;
  split->addWidget(overview_);
  tabs_ = new QTabWidget;
  shot_table_ = Table("ShotTable", {"Shot", "Time (s)", "Peak (dB)"});
  series_table_ =
      Table("SeriesTable", {"Shot", "Time (s)", "Peak (dB)", "Warned A.R.U.", "Warned allowed",
                            "Unwarned A.R.U.", "Unwarned allowed", "Note"});
  auto* series_page = new QWidget;
  auto* series_layout = new QVBoxLayout(series_page);
  series_layout->setContentsMargins(0, 0, 0, 0);
  series_layout->addWidget(series_table_);
  verdict_ = new QLabel;
  verdict_->setObjectName("SeriesVerdict");
  verdict_->setWordWrap(true);
  verdict_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  series_layout->addWidget(verdict_);
  tabs_->addTab(shot_table_, "Shots");
  tabs_->addTab(series_page, "Series");
  split->addWidget(tabs_);
  // The series' eight columns need about half the width.
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  dock_->setWidget(body);
  window.addDockWidget(Qt::BottomDockWidgetArea, dock_);
  dock_->hide();

  connect(search_button_, &QPushButton::clicked, this, [this] {
    if (last_) FindShots(last_->file, last_->search.recording);
  });
  connect(open_button_, &QPushButton::clicked, this, &ShotsController::OpenSelectedShot);
  connect(analyze_button_, &QPushButton::clicked, this, &ShotsController::AnalyzeAllShots);
  connect(overview_, &ShotsOverview::MarkClicked, this, &ShotsController::SelectShot);
  connect(overview_, &ShotsOverview::MarkDoubleClicked, this, &ShotsController::OpenShot);
  // A row of either table is its shot; the series' summary row is none.
  for (QTableWidget* table : {shot_table_, series_table_}) {
    connect(table, &QTableWidget::currentCellChanged, this, [this](int row) {
      if (found_ && row >= 0 && static_cast<std::size_t>(row) < found_->shots.size()) {
        SelectShot(row);
      }
    });
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row) {
      if (found_ && row >= 0 && static_cast<std::size_t>(row) < found_->shots.size()) {
        OpenShot(row);
      }
    });
  }
  ShowFound();
  ShowSeries();
}

void ShotsController::AddFileItems(QMenu& file) {
  QAction* toggle = dock_->toggleViewAction();
  toggle->setText("Shots panel");
  toggle->setObjectName("ShotsPanel1");
  toggle->setToolTip("Show or hide the shots of the recording opened last");
  file.addAction(toggle);
}

bool ShotsController::SeriesShown() const {
  if (series_.empty() || !found_ || !last_ || dock_->isHidden()) return false;
  const fs::path& chosen = workspace_.document().chosen_file;
  if (chosen == last_->file) return true;
  const fs::path folder = last_->file.parent_path();
  return std::any_of(found_->shots.begin(), found_->shots.end(), [&](const Shot& shot) {
    return chosen == folder / ShotFileName(found_->source, shot);
  });
}

bool ShotsController::Refused() {
  // An armed edit holds a step of the history and a backup of the waveform
  // open until its Done or Cancel: no other command may come between.
  if (!workspace_.Editing()) return false;
  workspace_.ShowStatus("Finish the edit on the plot (Done or Cancel) first", kStatusMilliseconds);
  return true;
}

void ShotsController::FindShots(const fs::path& file, const RecordingRequest& request) {
  Search search{file, {request, ShotOptions{}, 1}};
  // The whole recording is searched, whatever part of it the window opened.
  search.search.recording.from_s.reset();
  search.search.recording.to_s.reset();
  last_ = search;
  if (Refused()) return;
  status_->setText("Finding the shots of " + Text(file.filename().string()) + "...");
  if (workspace_.Busy()) {
    pending_ = search;
    return;
  }
  const bool started = workspace_.Start(
      kFindName,
      [this, search](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto found = std::make_shared<RecordingShots>();
        try {
          // Every window must fit in a KRV file, known before a sample is read.
          CheckShotWindowLength(
              search.search.shots,
              RecordingReader(search.file, search.search.recording.source).Info().RequireRate());
          *found = FindRecordingShots(search.file, search.search, worker.progress);
        } catch (const Cancelled&) {
          throw;
        } catch (const Error& e) {
          throw Error(workspace_.FileErrorText(search.file, e.what()));
        }
        return [this, found] {
          found_ = found;
          series_.clear();
          ShowFound();
          ShowSeries();
        };
      },
      [this] { ShowFound(); });
  if (!started) ShowFound();
}

void ShotsController::ShowFound() {
  shot_table_->setRowCount(0);
  overview_->SetInput({});
  if (!found_) {
    status_->setText(last_ ? "The shots of " + Text(last_->file.filename().string()) +
                                 " were not found: Find shots searches again."
                           : QString("Open a recording to see its shots."));
    ShowButtons();
    return;
  }
  const RecordingShots& found = *found_;
  const std::string name = last_->file.filename().string();
  const DetectionSummary& s = found.summary;
  QString text = Text(name) + ", channel " + QString::number(found.source.channel) + ", " +
                 Text(found.source.calibration.text) + ": ";
  if (found.shots.empty()) {
    // The words korva-cli shots gives.
    text += Text(NoShotsText(s));
  } else {
    text += QString::number(s.shots) + (s.shots == 1 ? " shot" : " shots") + "; background " +
            (s.background_db ? Text(FormatFixed(*s.background_db, 1)) + " dB"
                             : QString("below -40 dB")) +
            ", threshold " + Text(FormatFixed(s.threshold_db, 1)) + " dB re 20 uPa.";
  }
  status_->setText(text);
  shot_table_->setRowCount(static_cast<int>(found.shots.size()));
  for (std::size_t k = 0; k < found.shots.size(); ++k) {
    const Shot& shot = found.shots[k];
    SetRow(*shot_table_, static_cast<int>(k),
           {QString::number(shot.number), Text(FormatFixed(shot.time_s, 3)),
            Text(FormatFixed(shot.peak_db, 2))});
  }
  // The status above names the recording: a title would stand in the
  // loudest mark's way.
  overview_->SetInput(render::OverviewOf(found, ""));
  ShowButtons();
}

void ShotsController::ShowButtons() {
  const bool idle = !workspace_.Busy();
  const bool shots = found_ && !found_->shots.empty();
  search_button_->setEnabled(idle && last_.has_value());
  open_button_->setEnabled(idle && shots && Selected() >= 0);
  analyze_button_->setEnabled(idle && shots);
}

void ShotsController::SelectShot(int index) {
  if (!found_ || index < 0 || static_cast<std::size_t>(index) >= found_->shots.size()) return;
  overview_->SetSelected(index);
  for (QTableWidget* table : {shot_table_, series_table_}) {
    if (index < table->rowCount() && table->currentRow() != index) {
      const QSignalBlocker quiet(table);
      table->selectRow(index);
      table->setCurrentCell(index, 0);
    }
  }
  shot_table_->scrollToItem(shot_table_->item(index, 0));
  ShowButtons();
}

void ShotsController::OpenShot(int index) {
  if (!found_ || index < 0 || static_cast<std::size_t>(index) >= found_->shots.size()) return;
  if (workspace_.Busy() || Refused()) return;
  SelectShot(index);
  if (!file_.MaySetAside()) return;
  const std::shared_ptr<const RecordingShots> found = found_;
  const Shot& shot = found->shots[static_cast<std::size_t>(index)];
  const std::string name = ShotFileName(found->source, shot);
  const fs::path named = last_->file.parent_path() / name;
  file_.OpenUnsaved("Open shot", named,
                    [found, index, name, named](Session& session, ProgressSink& progress) {
                      // What Open does with the file korva-cli shots --out writes, read
                      // from the text that file would hold.
                      const Shot& chosen = found->shots[static_cast<std::size_t>(index)];
                      ChooseWaveformFile(session, named);
                      session.KeepPlotRange = false;
                      OpenKrvText(session, SaveAsText(ShotSession(found->source, chosen), name),
                                  named.string(), progress);
                      session.ImportedWaveform = false;
                      session.ClearPlotFirst = true;
                      session.SavedStartTime = session.StartTime;
                      session.SavedEndTime = session.EndTime;
                    });
}

void ShotsController::AnalyzeAllShots() {
  if (!found_ || found_->shots.empty() || workspace_.Busy() || Refused()) return;
  AnalysisOptions options;
  const bool ran = workspace_.Run(kAnalyzeName, [&] {
    options.model_file = workspace_.ModelFileForRun();
    (void)LoadEarModel(options.model_file);
  });
  if (!ran) return;
  options.write_place_table = false;
  // Kept for the report's pictures.
  options.keep_waveform = true;
  options.pool = &workspace_.pool();
  const std::shared_ptr<const RecordingShots> found = found_;
  const std::string file = last_->file.string();
  workspace_.Start(
      kAnalyzeName,
      [this, found, file, options](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto rows = std::make_shared<std::vector<ShotReport>>(
            AnalyzeShots(file, *found, options, worker.progress));
        return [this, found, rows] {
          if (found != found_) return;
          series_ = std::move(*rows);
          ShowSeries();
          tabs_->setCurrentIndex(1);
          // The series' columns get the larger part of the panel.
          const int width = split_->width();
          if (split_->sizes().value(1) < width / 2) {
            split_->setSizes({width * 2 / 5, width * 3 / 5});
          }
        };
      });
}

void ShotsController::ShowSeries() {
  series_table_->setRowCount(0);
  verdict_->clear();
  tabs_->setTabEnabled(1, !series_.empty());
  if (series_.empty()) {
    tabs_->setCurrentIndex(0);
    return;
  }
  const int rows = static_cast<int>(series_.size());
  series_table_->setRowCount(rows + 1);
  for (int k = 0; k < rows; ++k) {
    const ShotReport& shot = series_[static_cast<std::size_t>(k)];
    SetRow(*series_table_, k,
           {Cell(shot, "", "shot"), Cell(shot, "", "time_s"), Cell(shot, "", "peak_db"),
            Cell(shot, "warned", "aru_text"), Cell(shot, "warned", "allowed_text"),
            Cell(shot, "unwarned", "aru_text"), Cell(shot, "unwarned", "allowed_text"),
            Text(shot.error)},
           true);
  }
  // The series as one day's exposure.
  const ShotSummary summary = SummariseShots(series_);
  const auto peak = summary.peak_db.maximum;
  SetRow(*series_table_, rows,
         {"All", "", peak ? "max " + Text(FormatFixed(*peak, 2)) : QString("n/a"),
          Text(HazardText(static_cast<float>(summary.day_aru[0]))),
          Allowed(summary.day_allowed_by_model[0]),
          Text(HazardText(static_cast<float>(summary.day_aru[1]))),
          Allowed(summary.day_allowed_by_model[1]),
          summary.failed > 0 ? QString::number(summary.failed) + " failed" : QString()},
         true);
  for (int column = 0; column < series_table_->columnCount(); ++column) {
    QFont bold = series_table_->item(rows, column)->font();
    bold.setBold(true);
    series_table_->item(rows, column)->setFont(bold);
  }
  QString text =
      Text(RowsText(summary)) + " in one day: LAeq8hr " +
      (summary.day_LAeq8hr ? Text(FormatFixed(*summary.day_LAeq8hr, 2)) + " dB" : QString("n/a")) +
      ", allowed by energy " +
      (summary.day_LAeq8hr ? Allowed(summary.day_allowed_by_energy) : QString("n/a")) +
      " times; by the model (warned, unwarned) " + Allowed(summary.day_allowed_by_model[0]) + ", " +
      Allowed(summary.day_allowed_by_model[1]) + " times.";
  if (summary.verdict) text += "\n" + Text(summary.verdict->sentence);
  verdict_->setText(text);
  if (Selected() >= 0) SelectShot(Selected());
}

void ShotsController::ExportSeriesReport() {
  if (workspace_.Busy() || !SeriesShown() || Refused()) return;
  std::optional<fs::path> chosen;
  fs::path model_file;
  const bool ran = workspace_.Run(kExportName, [&] {
    model_file = workspace_.ModelFileForRun();
    FileDialogRequest dialog;
    dialog.title = "Export report";
    dialog.filters = QStringList{"Report page (*.html *.htm)", "PDF document (*.pdf)"};
    dialog.directory = QString::fromStdString(last_->file.parent_path().string());
    dialog.default_suffix = "html";
    dialog.proposed_name = Text(last_->file.stem().string()) + ".html";
    chosen = workspace_.chooser().ChooseSaveFile(dialog);
  });
  if (!ran || !chosen) return;
  const std::shared_ptr<const RecordingShots> found = found_;
  auto rows = std::make_shared<const std::vector<ShotReport>>(series_);
  const std::string file = last_->file.string();
  const fs::path target = *chosen;
  workspace_.Start(
      kExportName,
      [this, found, rows, file, model_file,
       target](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        // Drawn as korva-cli report --shots draws them: the overview first,
        // then each shot, pictured when it is one of the loudest.
        const std::vector<bool> pictured = Pictured(found->shots);
        const long long total = static_cast<long long>(rows->size()) + 10;
        std::vector<render::OverviewSection> overviews{render::DrawOverviewSection(file, *found)};
        std::vector<render::ShotPictures> pictures;
        for (std::size_t k = 0; k < rows->size(); ++k) {
          if (worker.progress.StopRequested()) throw Cancelled();
          const ShotReport& shot = (*rows)[k];
          const bool drawn = !shot.failed() && shot.waveform && k < pictured.size() && pictured[k];
          pictures.push_back(drawn ? render::DrawShotPictures(shot, SessionOf(*shot.waveform))
                                   : render::ShotPictures{});
          pictures.back().section = shot.failed() || drawn;
          worker.progress.Report(static_cast<long long>(k) + 1, total);
        }
        const ModelFileId model = IdentifyModelFile(model_file);
        const ReportInfo info{"KORVA " KORVA_VERSION,
                              QDate::currentDate().toString(Qt::ISODate).toStdString(), model.file,
                              model.sha256};
        StageProgress writing(worker.progress, total - 10, total, total);
        render::WriteReportFile(*rows, SummariseShots(*rows), info, pictures, target,
                                render::ReportFormatFor(target), writing, overviews);
        return [this, target] { workspace_.ShowWritten({target}); };
      });
}

}  // namespace korva::ui
