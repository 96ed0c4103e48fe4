#include "ui/report_controller.h"

#include <QDate>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/protected.h"
#include "core/common/data_dir.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/protection/hpd_table.h"
#include "render/report_pages.h"
#include "ui/protector_choice_dialog.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExportName = "Export report...";
constexpr Listener kListeners[] = {Listener::Warned, Listener::Unwarned};

std::size_t SlotOf(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

// Hazard runs side by side on one progress bar: a thousand steps each, summed.
// A run that fails stops the others at their next checkpoint.
class RunsProgress {
 public:
  RunsProgress(ProgressSink& outer, long long total) : outer_(outer), total_(total) {}

  class Part final : public ProgressSink {
   public:
    Part(RunsProgress& all, std::size_t slot) : all_(all), slot_(slot) {}
    void Report(long long done, long long total) override {
      all_.done_[slot_] = total > 0 ? done * 1000 / total : 1000;
      all_.outer_.Report(all_.done_[0] + all_.done_[1], all_.total_);
    }
    bool StopRequested() const override {
      return all_.failed_.load() || all_.outer_.StopRequested();
    }

   private:
    RunsProgress& all_;
    std::size_t slot_;
  };

  // A run threw: the others give up at their next checkpoint.
  void Failed() { failed_ = true; }

 private:
  ProgressSink& outer_;
  long long total_;
  std::array<std::atomic<long long>, 2> done_{};
  std::atomic<bool> failed_{false};
};

}  // namespace

ReportController::ReportController(Workspace& workspace, QObject* parent)
    : QObject(parent), workspace_(workspace) {
  workspace_.AddWorkingLock([this] { return std::vector<QAction*>{export_, choose_protectors_}; });
}

void ReportController::AddFileItems(QMenu& file) {
  export_ = file.addAction("Export report...");
  export_->setObjectName("ExportReport1");
  connect(export_, &QAction::triggered, this, &ReportController::ExportReport);
  choose_protectors_ = file.addAction("Report protectors...");
  choose_protectors_->setObjectName("ReportProtectors1");
  connect(choose_protectors_, &QAction::triggered, this, &ReportController::ChooseReportProtectors);
}

namespace {

fs::path ProtectorTableOf(const Workspace& workspace) {
  return DataFileForReading(workspace.options().data_dir, kProtectorTableName);
}

}  // namespace

void ReportController::ChooseReportProtectors() {
  if (workspace_.Busy()) return;
  std::vector<std::string> all;
  const bool read = workspace_.Run("Report protectors", [&] {
    const ProtectorTable table = ReadProtectorTable(ProtectorTableOf(workspace_));
    for (const int index : table.DefaultModeItems()) {
      all.push_back(table.records[static_cast<std::size_t>(index)].name);
    }
  });
  if (!read) return;
  ProtectorChoiceDialog dialog(all, protectors_, workspace_.canvas().window());
  if (dialog.exec() == QDialog::Accepted) protectors_ = dialog.Chosen();
}

void ReportController::ExportReport() {
  if (workspace_.Busy() || (series_ && series_())) return;
  workspace_.grid().ProcessPendingEdits();
  std::array<std::optional<HazardPlan>, 2> plans;
  fs::path model_file;
  std::optional<fs::path> chosen;
  ProtectorSet protectors;
  const bool ran = workspace_.Run(kExportName, [&] {
    const Session& session = workspace_.session();
    model_file = workspace_.ModelFileForRun();
    if (!protectors_.empty()) {
      // A protector no longer in the table refuses the report before a file is chosen.
      protectors = ChooseProtectors(ProtectorTableOf(workspace_), protectors_, false);
      protectors.seed_folder = workspace_.options().data_dir;
    }
    // Whatever would refuse a run refuses the report, before a file is chosen.
    for (const Listener listener : kListeners) {
      HazardRunOptions options;
      options.listener = listener;
      options.model_file = model_file;
      options.keep_movie = false;
      options.write_place_table = false;
      options.pool = &workspace_.pool();
      plans[SlotOf(listener)] = PlanHazardRun(session, options);
    }
    FileDialogRequest dialog;
    dialog.title = "Export report";
    dialog.filters = QStringList{"Report page (*.html *.htm)", "PDF document (*.pdf)"};
    dialog.directory = QString::fromStdString(workspace_.document().SaveAsFolder().string());
    dialog.default_suffix = "html";
    dialog.proposed_name = Latin1(session.BaseName) + ".html";
    chosen = workspace_.chooser().ChooseSaveFile(dialog);
  });
  if (!ran || !chosen) return;

  // The runs already made of the waveform as it is analysed now.
  const Document& document = workspace_.document();
  std::array<std::optional<HazardRunResult>, 2> kept;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const std::optional<Document::KeptRun>& run = document.runs[k];
    if (run && run->last_sample == plans[k]->LastSample &&
        run->run.MicLocation == plans[k]->MicLocation) {
      kept[k] = run->run;
    }
  }
  auto work = std::make_shared<const Session>(document.session);
  const std::string file =
      document.chosen_file.empty() ? document.session.BaseName : document.chosen_file.string();
  const fs::path target = *chosen;
  workspace_.Start(
      kExportName,
      [this, work, plans, kept, model_file, file, target,
       protectors](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        // The waveform as the hazard runs analyse it: as opened, at its
        // present length.
        Session opened = *work;
        PrepareHazardSession(*plans[0], opened);
        ShotReport shot = DescribeShot(file, opened, {0, opened.LastSample});

        // The runs still to make proceed side by side, a thousand steps each on
        // the bar, then a thousand for each protector, then one hundred for the
        // pictures and the file.
        const long long missing = (kept[0] ? 0 : 1) + (kept[1] ? 0 : 1);
        const bool protect = MeasuredInFreeField(opened.MicLocation);
        const auto protected_count = protect ? static_cast<long long>(protectors.names.size()) : 0;
        const long long total = 1000 * (missing + protected_count) + 100;
        std::array<std::optional<HazardRunResult>, 2> made;
        {
          // Declared before the group, whose end waits for the runs still going:
          // whatever ends the block early, no run reports to a progress that is gone.
          RunsProgress progress(worker.progress, total);
          TaskGroup runs(&workspace_.pool());
          for (std::size_t k = 0; k < kept.size(); ++k) {
            if (kept[k]) continue;
            runs.Run([&, k] {
              Session session = opened;
              RunsProgress::Part part(progress, k);
              try {
                made[k] = RunHazardPlan(*plans[k], session, part);
              } catch (...) {
                progress.Failed();
                throw;
              }
            });
          }
          runs.Wait();
        }
        for (std::size_t k = 0; k < kept.size(); ++k) {
          AddHazardRun(shot, kept[k] ? *kept[k] : *made[k]);
        }
        std::vector<std::optional<ProtectedShot>> protected_runs(protectors.names.size());
        for (long long p = 0; p < protected_count; ++p) {
          const std::string& name = protectors.names[static_cast<std::size_t>(p)];
          StageProgress part(worker.progress, 1000 * (missing + p), 1000 * (missing + p + 1),
                             total);
          try {
            protected_runs[static_cast<std::size_t>(p)] = RunUnderProtector(
                ViewOf(opened), protectors, name, model_file, kListeners, &workspace_.pool(), part);
          } catch (const Cancelled&) {
            throw;
          } catch (const Error& e) {
            throw Error(name + ": " + e.what());
          }
        }
        AddCriteria(shot, protectors.names, protected_runs);

        const std::vector<ShotReport> shots{shot};
        const std::vector<render::ShotPictures> pictures{render::DrawShotPictures(shot, opened)};
        const ModelFileId model = IdentifyModelFile(model_file);
        const ReportInfo info{"KORVA " KORVA_VERSION,
                              QDate::currentDate().toString(Qt::ISODate).toStdString(), model.file,
                              model.sha256};
        StageProgress writing(worker.progress, total - 100, total, total);
        render::WriteReportFile(shots, SummariseShots(shots), info, pictures, target,
                                render::ReportFormatFor(target), writing);
        return [this, made, target] {
          for (const auto& run : made) {
            if (run) workspace_.document().KeepRun(*run);
          }
          workspace_.ShowWritten({target});
        };
      });
}

}  // namespace korva::ui
