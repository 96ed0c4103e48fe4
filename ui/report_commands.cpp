// File > "Export report...": the report of the opened waveform as a page to
// hand on, with the hazard of both listeners (the runs already made are
// taken, the others computed on the command runner's worker); and the impulse
// descriptors Statistics shows beside its read-outs.
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QTableWidgetItem>
#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/common/numbers.h"
#include "core/model/ear_model.h"
#include "ui/main_window.h"
#include "ui/report_pages.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExportName = "Export report...";
constexpr Listener kListeners[] = {Listener::Warned, Listener::Unwarned};

std::size_t SlotOf(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Hazard runs side by side on one progress bar: a thousand steps each, summed.
// A run that fails stops the others at their next checkpoint.
class RunsProgress {
 public:
  RunsProgress(ProgressSink& outer, const TaskGroup& runs, long long total)
      : outer_(outer), runs_(runs), total_(total) {}

  class Part final : public ProgressSink {
   public:
    Part(RunsProgress& all, std::size_t slot) : all_(all), slot_(slot) {}
    void Report(long long done, long long total) override {
      all_.done_[slot_] = total > 0 ? done * 1000 / total : 1000;
      all_.outer_.Report(all_.done_[0] + all_.done_[1], all_.total_);
    }
    bool StopRequested() const override {
      return all_.runs_.Failed() || all_.outer_.StopRequested();
    }

   private:
    RunsProgress& all_;
    std::size_t slot_;
  };

 private:
  ProgressSink& outer_;
  const TaskGroup& runs_;
  long long total_;
  std::array<std::atomic<long long>, 2> done_{};
};

struct DescriptorRow {
  const char* name;
  std::optional<double> value;
  int decimals;
  const char* unit;
};

}  // namespace

void MainWindow::KeepRun(const HazardRunResult& run) {
  HazardRunResult kept = run;
  kept.movie.reset();  // the report needs the places, not the replay
  document_.runs[SlotOf(run.listener)] =
      Document::KeptRun{std::move(kept), document_.session.LastSample};
}

void MainWindow::ExportReport1Click() {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  std::array<std::optional<HazardPlan>, 2> plans;
  fs::path model_file;
  std::optional<fs::path> chosen;
  const bool ran = Run(kExportName, [&] {
    const Session& session = document_.session;
    model_file = model_file_.empty() ? ModelFileFromManFig(session.StartupDir) : model_file_;
    // Whatever would refuse a run refuses the report, before a file is chosen.
    for (const Listener listener : kListeners) {
      HazardRunOptions options;
      options.listener = listener;
      options.model_file = model_file;
      options.keep_movie = false;
      options.write_place_table = false;
      options.pool = &pool_;
      plans[SlotOf(listener)] = PlanHazardRun(session, options);
    }
    FileDialogRequest dialog;
    dialog.title = "Export report";
    dialog.filters = QStringList{"Report page (*.html *.htm)", "PDF document (*.pdf)"};
    dialog.directory = QString::fromStdString(document_.SaveAsFolder().string());
    dialog.default_suffix = "html";
    dialog.proposed_name = Latin1(session.BaseName) + ".html";
    chosen = chooser_.ChooseSaveFile(dialog);
  });
  if (!ran || !chosen) return;

  // The runs already made of the waveform as it is analysed now.
  std::array<std::optional<HazardRunResult>, 2> kept;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const std::optional<Document::KeptRun>& run = document_.runs[k];
    if (run && run->last_sample == plans[k]->LastSample &&
        run->run.MicLocation == plans[k]->MicLocation) {
      kept[k] = run->run;
    }
  }
  auto work = std::make_shared<const Session>(document_.session);
  const std::string file =
      document_.chosen_file.empty() ? document_.session.BaseName : document_.chosen_file.string();
  const fs::path target = *chosen;
  Start(kExportName,
        [this, work, plans, kept, model_file, file,
         target](CommandRunner::Worker& worker) -> CommandRunner::Commit {
          // The waveform as the hazard runs analyse it: as opened, at its
          // present length.
          Session opened = *work;
          PrepareHazardSession(*plans[0], opened);
          ShotReport shot = DescribeShot(file, opened, {0, opened.LastSample});

          // The runs still to make proceed side by side, a thousand steps
          // each on the bar, then one hundred for the pictures and the file.
          const long long missing = (kept[0] ? 0 : 1) + (kept[1] ? 0 : 1);
          const long long total = 1000 * missing + 100;
          std::array<std::optional<HazardRunResult>, 2> made;
          {
            TaskGroup runs(&pool_);
            RunsProgress progress(worker.progress, runs, total);
            for (std::size_t k = 0; k < kept.size(); ++k) {
              if (kept[k]) continue;
              runs.Run([&, k] {
                Session session = opened;
                RunsProgress::Part part(progress, k);
                made[k] = RunHazardPlan(*plans[k], session, part);
              });
            }
            runs.Wait();
          }
          for (std::size_t k = 0; k < kept.size(); ++k) {
            AddHazardRun(shot, kept[k] ? *kept[k] : *made[k]);
          }

          const std::vector<ShotReport> shots{shot};
          const std::vector<ShotPictures> pictures{DrawShotPictures(shot, opened)};
          const ModelFileId model = IdentifyModelFile(model_file);
          const ReportInfo info{"KORVA " KORVA_VERSION,
                                QDate::currentDate().toString(Qt::ISODate).toStdString(),
                                model.file, model.sha256};
          StageProgress writing(worker.progress, total - 100, total, total);
          WriteReportFile(shots, SummariseShots(shots), info, pictures, target,
                          ReportFormatFor(target), writing);
          return [this, made, target] {
            for (const auto& run : made) {
              if (run) KeepRun(*run);
            }
            ShowWritten({target});
          };
        });
}

// --- The descriptors beside Statistics ------------------------------------------

void MainWindow::ShowDescriptors(const std::optional<ImpulseDescriptors>& descriptors,
                                 const std::string& missing, double origin_ms) {
  std::vector<DescriptorRow> rows;
  if (descriptors) {
    const ImpulseDescriptors& d = *descriptors;
    rows = {{"Peak level", d.peak_db, 2, "dB"},
            {"Peak pressure", d.peak_pa, 3, "Pa"},
            {"Peak at", origin_ms + d.peak_time_ms, 3, "ms"},
            {"LCpeak", d.lcpeak_db, 2, "dB"},
            {"A-duration", d.a_duration_ms, 3, "ms"},
            {"B-duration", d.b_duration_ms, 3, "ms"},
            {"C-duration", d.c_duration_ms, 3, "ms"},
            {"Rise time", d.rise_time_ms, 3, "ms"},
            {"LAE", d.lae_db, 2, "dB"},
            {"LZE", d.lze_db, 2, "dB"},
            {"LIAeq100ms", d.liaeq100ms_db, 2, "dB"},
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
  if (descriptors_->isHidden()) {
    descriptors_->show();
    LayoutReadouts();
  }
}

void MainWindow::HideDescriptors() {
  if (descriptors_->isHidden()) return;
  descriptors_->hide();
  LayoutReadouts();
}

void MainWindow::CopyDescriptors() {
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

}  // namespace korva::ui
