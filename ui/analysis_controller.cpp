// The models run on the command runner's worker on copies; the window
// changes only when they have succeeded.
#include "ui/analysis_controller.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <array>
#include <span>

#include "core/analysis/protected.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/criteria/fields.h"
#include "core/metrics/interval_metrics.h"
#include "core/model/hazard.h"
#include "render/recipes.h"

namespace korva::ui {
namespace {

// The descriptors are levels re 20 µPa; the grid's read-outs, like the
// files and the energy metrics they share with other programs, take 94 dB
// for 1 Pa. Each says which.
const QString kDescriptorDb = QString::fromUtf8("dB re 20 \u00b5Pa");
const QString kConventions = QString::fromUtf8(
    "Levels in the grid: dB (94 dB = 1 Pa); in the descriptors: dB re 20 \u00b5Pa");

struct DescriptorRow {
  const char* name;
  std::optional<double> value;
  int decimals;
  QString unit;
};

}  // namespace

std::string SpectrumExitMessage(const std::string& base_name) {
  return "A text file was just created in this folder named " + base_name +
         " containing 1/3 octave-band 300 msec equivalent energy levels for this waveform.  "
         "Also the Right-Click Pop-Up Menu is disabled. To re-enable the Pop-Up Menu, either "
         "return to the File | Open KRV waveform or File | Import waveform Pull-Down menu or "
         "Analyze Pull-Down Menu.";
}

AnalysisController::AnalysisController(Workspace& workspace, EditController& edits,
                                       MovieController& movie, QMenuBar& bar, QObject* parent)
    : QObject(parent), workspace_(workspace), edits_(edits), movie_(movie), bar_(bar) {
  statistics_done_ = edits_.AddDoneButton("Button12", "&Done");
  connect(statistics_done_, &QPushButton::clicked, this, &AnalysisController::EndStatistics);
  connect(&edits_, &EditController::LinesReleased, this, &AnalysisController::ReadOutInterval);
  connect(&edits_, &EditController::EditFinished, this, &AnalysisController::HideDescriptors);

  descriptors_ = new QTableWidget(0, 3, &workspace_.canvas());
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
  descriptors_->setToolTip(kConventions);
  auto* copy = new QAction("Copy", descriptors_);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &AnalysisController::CopyDescriptors);
  descriptors_->addAction(copy);
  descriptors_->hide();
}

void AnalysisController::AddAnalyzeItems(QMenu& analyze) {
  QAction* warned = analyze.addAction("ARU(W) Auditory Risk Units, Warned");
  warned->setObjectName("NoProtectorWarned1");
  connect(warned, &QAction::triggered, this, &AnalysisController::RunWarned);
  QAction* unwarned = analyze.addAction("ARU(U) Auditory Risk Units, Unwarned");
  unwarned->setObjectName("NoProtectorUnWarned1");
  connect(unwarned, &QAction::triggered, this, &AnalysisController::RunUnwarned);
  QAction* menu = analyze.menuAction();
  workspace_.Commands().analyze = menu;
  workspace_.AddWorkingLock([this, menu] {
    return std::vector<QAction*>{menu, exit_spectrum_item_};
  });
  workspace_.AddEditingLock([menu] { return std::vector<QAction*>{menu}; });
}

std::vector<QAction*> AnalysisController::AddPopupItems(QMenu& popup) {
  QAction* statistics = popup.addAction("St&atistics");
  statistics->setObjectName("Stats1");
  connect(statistics, &QAction::triggered, this, &AnalysisController::StartStatistics);
  QAction* spectrum = popup.addAction("Leq300ms spectrum");
  spectrum->setObjectName("Leq300msspectrum1");
  connect(spectrum, &QAction::triggered, this, &AnalysisController::ShowSpectrum);
  return {statistics, spectrum};
}

// --- The hazard runs ------------------------------------------------------------

void AnalysisController::RunHazard(bool warned) {
  if (workspace_.Busy()) return;
  workspace_.grid().ProcessPendingEdits();
  const QString name =
      warned ? "ARU(W) Auditory Risk Units, Warned" : "ARU(U) Auditory Risk Units, Unwarned";
  QAction* analyze = workspace_.Commands().analyze;

  // What the command changes while it runs, put back if it fails or is cancelled.
  struct Before {
    std::array<bool, 9> items{};
    bool analyze = false;
    bool popup = false;
    // The zoom, which the run's fresh plot resets.
    std::optional<render::PressureView> view;
    // The last run's hazard, which the running word replaces.
    QString readout;
    bool readout_shown = false;
  };
  auto before = std::make_shared<Before>();
  std::optional<HazardPlan> plan;
  std::shared_ptr<Session> work;
  auto shown = std::make_shared<render::Picture>();
  const bool ran = workspace_.Run(name, [&] {
    Document& document = workspace_.document();
    HazardRunOptions options;
    options.listener = warned ? Listener::Warned : Listener::Unwarned;
    options.pool = &workspace_.pool();
    options.model_file = workspace_.ModelFileForRun();
    // Everything that could refuse the run is checked before anything changes.
    if (document.session.WaveformLoaded) plan = PlanHazardRun(document.session, options);

    for (std::size_t i = 0; i < before->items.size(); ++i) {
      before->items[i] = workspace_.PopupItems()[i]->isEnabled();
    }
    before->analyze = analyze->isEnabled();
    before->popup = workspace_.PopupOn();
    before->view = workspace_.picture().State().view;
    before->readout = workspace_.readout().text();
    before->readout_shown = workspace_.readout().isVisible();
    workspace_.SetPopupItemsEnabled(false);
    if (warned) analyze->setEnabled(false);
    // The run's picture starts from the window as it was before the pop-up
    // menu opened, or before the previous run's movie. That movie stays
    // until the run succeeds: a run cancelled or failed leaves it offered.
    const render::Picture* before_movie = movie_.PictureBeforeMovie();
    *shown = before_movie ? *before_movie : document.SavedForm();

    // The waveform as the run will analyse it, drawn with the reflex curve
    // of the run's timing: the document's picture once the run succeeds; a
    // run that fails or is cancelled leaves the picture as it was.
    work = std::make_shared<Session>(document.session);
    work->ClearPlotFirst = true;
    if (plan) PrepareHazardSession(*plan, *work);
    const Canvas& canvas = workspace_.canvas();
    if (auto plot = render::NextPressurePlot(*work, workspace_.picture().State(),
                                             canvas.ClientWidth(), canvas.ClientHeight())) {
      shown->lower = {render::PressurePlot(std::move(*plot))};
    }
    if (plan) {
      shown->lower.push_back(
          render::ReflexCurve(plan->LastSample, plan->SampleInterval, plan->timing));
    }
    workspace_.progress().setValue(0);
    workspace_.progress().show();
    workspace_.readout().setText(warned ? "WARNED" : "UNWARNED");
    workspace_.readout().show();
    if (!plan) {
      // Without a waveform opened from a KRV file there is nothing to run.
      document.picture = *shown;
      document.Changed(Document::kPicture);
      document.session.ClearPlotFirst = true;
      workspace_.SetPopupOn(true);
      analyze->setEnabled(document.session.WaveformLoaded && !document.session.ImportedWaveform);
    } else {
      workspace_.picture().ShowPreview(*shown);
      workspace_.SetPopupOn(false);
    }
  });
  if (!ran || !plan) return;

  auto abandon = [this, before, analyze] {
    for (std::size_t i = 0; i < before->items.size(); ++i) {
      workspace_.PopupItems()[i]->setEnabled(before->items[i]);
    }
    analyze->setEnabled(before->analyze);
    workspace_.SetPopupOn(before->popup);
    workspace_.readout().setText(before->readout);
    workspace_.readout().setVisible(before->readout_shown);
    workspace_.picture().State().view = before->view;
    workspace_.picture().EndPreview();
  };
  workspace_.Start(
      name,
      [this, plan = *plan, work, shown,
       analyze](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto result =
            std::make_shared<HazardRunResult>(RunHazardPlan(plan, *work, worker.progress));
        return [this, work, shown, result, analyze] {
          Document& document = workspace_.document();
          if (document.session.MovieAvailable) movie_.CloseMovie();
          document.session = std::move(*work);
          document.picture = std::move(*shown);
          document.last_run = std::move(*result);
          document.KeepRun(*document.last_run);
          document.Changed(Document::kWaveform | Document::kHeader | Document::kResults |
                           Document::kPicture);
          workspace_.picture().EndPreview();
          workspace_.KeepProgressBar(true);
          workspace_.progress().setValue(kProgressSteps);
          workspace_.progress().show();
          workspace_.readout().setText(Latin1(document.last_run->HazardText + "  A.R.U."));
          workspace_.readout().show();
          workspace_.SetPopupOn(true);
          analyze->setEnabled(document.session.WaveformLoaded &&
                              !document.session.ImportedWaveform);
          workspace_.ShowWritten({document.last_run->place_table_path});
        };
      },
      abandon);
}

// --- Statistics -----------------------------------------------------------------

void AnalysisController::StartStatistics() {
  workspace_.Run("Statistics", [this] {
    edits_.BeginEdit();
    saved_last_sample_ = BeginStatistics(workspace_.session());
    statistics_shown_ = false;
    edits_.Cursor().SetTask(CursorTask::kStatistics);
    workspace_.document().Changed(Document::kWaveform | Document::kHeader);
    edits_.ArmCursors(StatisticsCursors(workspace_.picture().CursorPlot()), statistics_done_);
  });
}

void AnalysisController::EndStatistics() {
  edits_.FinishEdit("Statistics", [this] {
    Session& s = workspace_.session();
    if (!statistics_shown_) {
      // Done without moving a line: the figures of the lines where they stand.
      const Selection range =
          ReadoutSelection(s.LastSample, edits_.Cursor().X1(), edits_.Cursor().X2(),
                           workspace_.picture().SamplePlot());
      const IntervalResults results = IntervalMetrics(s.Pressure.Range(0, s.LastSample),
                                                      s.SampleInterval, range.first, range.last);
      s.SelFirst = range.first;
      s.SelLast = range.last;
      ShowStatisticsReadout(s.Grid, results, range.first, MeasuredLength(range), s.SampleInterval);
    }
    FinishStatistics(s, saved_last_sample_);
  });
}

void AnalysisController::ReadOutInterval(CursorTask task) {
  const Session& session = workspace_.session();
  const CursorTool& cursor = edits_.Cursor();
  const PlotRect plot = workspace_.picture().SamplePlot();
  const Selection range = ReadoutSelection(session.LastSample, cursor.X1(), cursor.X2(), plot);
  const std::int32_t length = MeasuredLength(range);
  const auto samples = session.Pressure.Range(0, session.LastSample);
  auto waveform = std::make_shared<const std::vector<float>>(samples.begin(), samples.end());
  const float dt = session.SampleInterval;
  // Long intervals take a while: the metrics run on the worker.
  workspace_.Start(
      "Statistics",
      [this, waveform, dt, range, length, task](CommandRunner::Worker&) -> CommandRunner::Commit {
        const IntervalResults results = IntervalMetrics(*waveform, dt, range.first, range.last);
        std::optional<ImpulseDescriptors> descriptors;
        std::string missing;
        if (task == CursorTask::kStatistics) {
          try {
            descriptors =
                DescribeImpulse(std::span(*waveform).subspan(
                                    static_cast<std::size_t>(range.first),
                                    static_cast<std::size_t>(range.last - range.first) + 1),
                                dt);
          } catch (const Error& e) {
            missing = e.what();
          }
        }
        return [this, results, descriptors, missing, dt, range, length, task] {
          Session& s = workspace_.session();
          s.SelFirst = range.first;
          s.SelLast = range.last;
          if (task == CursorTask::kStatistics) {
            statistics_shown_ = true;
            ShowStatisticsReadout(s.Grid, results, range.first, length, dt);
            ShowDescriptors(descriptors, missing, range.first * double{dt} * 1000.0);
            if (descriptors) ShowCriteria(*descriptors, s.MicLocation);
          } else {
            ShowSpectrumIntervalReadout(s.Grid, results, range.first, length, dt);
          }
          workspace_.document().Changed(Document::kHeader);
        };
      });
}

void AnalysisController::ShowDescriptors(const std::optional<ImpulseDescriptors>& descriptors,
                                         const std::string& missing, double origin_ms) {
  std::vector<DescriptorRow> rows;
  if (descriptors) {
    const ImpulseDescriptors& d = *descriptors;
    rows = {{"Peak level", d.peak_db, 2, kDescriptorDb},
            {"Peak pressure", d.peak_pa, 3, "Pa"},
            // Times count from the interval's start, as korva-cli report's do.
            {"Interval start", origin_ms, 3, "ms"},
            {"Peak after start", d.peak_time_ms, 3, "ms"},
            {"LCpeak", d.lcpeak_db, 2, kDescriptorDb},
            {"A-duration", d.a_duration_ms, 3, "ms"},
            {"B-duration", d.b_duration_ms, 3, "ms"},
            {"C-duration", d.c_duration_ms, 3, "ms"},
            {"Rise time", d.rise_time_ms, 3, "ms"},
            {"LAE", d.lae_db, 2, kDescriptorDb},
            {"LZE", d.lze_db, 2, kDescriptorDb},
            {"LIAeq100ms", d.liaeq100ms_db, 2, kDescriptorDb},
            {"Kurtosis", d.kurtosis, 2, ""},
            {"Crest factor", d.crest_factor_db, 2, "dB"}};
  }
  descriptors_->clearContents();
  descriptors_->setRowCount(descriptors ? static_cast<int>(rows.size()) : 1);
  auto set = [this](int row, int column, const QString& text) {
    descriptors_->setItem(row, column, new QTableWidgetItem(text));
  };
  if (!descriptors) {
    set(0, 0, "No descriptors");
    set(0, 1, QString::fromStdString(missing));
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int row = static_cast<int>(r);
    set(row, 0, rows[r].name);
    set(row, 1,
        rows[r].value ? QString::fromStdString(FormatFixed(*rows[r].value, rows[r].decimals))
                      : QString("n/a"));
    set(row, 2, rows[r].unit);
    descriptors_->item(row, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  workspace_.ShowStatus(kConventions, kStatusMilliseconds);
  if (descriptors_->isHidden()) {
    descriptors_->show();
    emit DescriptorsToggled();
  }
}

void AnalysisController::ShowCriteria(const ImpulseDescriptors& descriptors,
                                      std::int32_t mic_location) {
  std::vector<CriteriaLine> lines;
  if (const std::string note = NotFreeFieldNote(mic_location); !note.empty()) {
    lines.push_back({"Criteria", "left out", note});
  } else {
    lines = ShotCriteriaLines(CriteriaOfShot(descriptors));
  }
  const int first = descriptors_->rowCount();
  descriptors_->setRowCount(first + static_cast<int>(lines.size()));
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const int row = first + static_cast<int>(k);
    const CriteriaLine& line = lines[k];
    descriptors_->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(line.label)));
    auto* value = new QTableWidgetItem(QString::fromStdString(line.value));
    value->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    descriptors_->setItem(row, 1, value);
    // The limits and notes are longer than the column: the whole text on hover.
    auto* unit = new QTableWidgetItem(QString::fromStdString(line.unit));
    unit->setToolTip(unit->text());
    descriptors_->setItem(row, 2, unit);
  }
}

void AnalysisController::HideDescriptors() {
  if (descriptors_->isHidden()) return;
  descriptors_->hide();
  emit DescriptorsToggled();
}

void AnalysisController::CopyDescriptors() {
  const bool all = descriptors_->selectedItems().isEmpty();
  QString text;
  for (int row = 0; row < descriptors_->rowCount(); ++row) {
    bool selected = all;
    QStringList cells;
    for (int column = 0; column < descriptors_->columnCount(); ++column) {
      const QTableWidgetItem* item = descriptors_->item(row, column);
      if (item == nullptr) continue;
      selected = selected || item->isSelected();
      cells << item->text();
    }
    if (selected) text += cells.join('\t') + "\n";
  }
  QApplication::clipboard()->setText(text);
}

// --- The Leq300ms spectrum mode -------------------------------------------------

void AnalysisController::ShowSpectrum() {
  if (workspace_.Busy()) return;
  const QString name = "Leq300ms spectrum";
  // The mode starts whatever the waveform: one exit entry, items disabled.
  auto enter_mode = [this] {
    if (exit_spectrum_item_ == nullptr) {
      exit_spectrum_item_ = bar_.addAction("[Exit Leq300 Spectrum]");
      exit_spectrum_item_->setObjectName("CancelLeq300");
      connect(exit_spectrum_item_, &QAction::triggered, this, &AnalysisController::ExitSpectrum);
    }
    workspace_.SetPopupItemsEnabled(false);
  };
  const Session& session = workspace_.session();
  if (session.ImportedWaveform || session.LastSample < 1 ||
      session.LastSample >= kMaxSpectrumSamples) {
    workspace_.Run(name, enter_mode);
    return;
  }
  auto work = std::make_shared<Session>(session);
  workspace_.Start(
      name,
      [this, work, enter_mode, folder = workspace_.document().output_folder](
          CommandRunner::Worker&) -> CommandRunner::Commit {
        auto run = std::make_shared<const Leq300msRun>(RunLeq300msSpectrum(*work, folder));
        return [this, work, run, enter_mode] {
          Document& document = workspace_.document();
          document.session = std::move(*work);
          enter_mode();
          edits_.Cursor().SetTask(CursorTask::kSpectrumInterval);
          // The read-out grid would cover the spectrum; it returns on leaving.
          workspace_.grid().Widget().hide();
          const bool clear = document.new_spectrum_scale;
          if (clear) document.picture.upper.clear();
          document.picture.upper.push_back(
              render::Spectrum(std::shared_ptr<const Leq300msSpectrum>(run, &run->spectrum),
                               document.session.WaveformTitle, clear));
          shown_spectrum_ = std::shared_ptr<const Leq300msSpectrum>(run, &run->spectrum);
          workspace_.picture().State().spectrum_view.reset();
          document.new_spectrum_scale = false;
          document.Changed(Document::kPicture);
          workspace_.ShowWritten({run->tob_file});
        };
      });
}

void AnalysisController::ExitSpectrum() {
  workspace_.Run("[Exit Leq300 Spectrum]", [this] {
    // Only the entry this mode added goes; movie entries stay with the movie.
    if (exit_spectrum_item_ != nullptr) {
      bar_.removeAction(exit_spectrum_item_);
      exit_spectrum_item_->deleteLater();
      exit_spectrum_item_ = nullptr;
    }
    shown_spectrum_.reset();
    workspace_.picture().State().spectrum_view.reset();
    Document& document = workspace_.document();
    workspace_.prompter().Inform("Information", SpectrumExitMessage(document.session.BaseName));
    document.RestoreForm();
    if (document.session.LastSample >= 0) workspace_.grid().Widget().show();
  });
}

}  // namespace korva::ui
