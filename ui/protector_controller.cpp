// The protector and overlay computations run on the command runner's worker
// on copies of the session and of the protector state, which become the
// document's only when they succeed.
#include "ui/protector_controller.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/common/data_dir.h"
#include "core/model/ear_model.h"
#include "core/protection/hpd_table.h"
#include "core/protection/overlay.h"
#include "render/recipes.h"
#include "ui/file_controller.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

float LargestLevel(const OverlayResult& result, bool second) {
  const BinEnergies& bins = second ? result.second_bins : result.first_bins;
  const BandEnergies& bands = second ? result.second_bands : result.first_bands;
  float largest = bins.largest;
  for (const float e : bands.energy) largest = std::max(largest, e);
  return largest > 0.0f ? static_cast<float>(10.0 * std::log10(double{largest})) : 0.0f;
}

}  // namespace

ProtectorController::ProtectorController(Workspace& workspace, EditController& edits,
                                         MovieController& movie, QObject* parent)
    : QObject(parent), workspace_(workspace), edits_(edits), movie_(movie) {
  workspace_.AddWorkingLock([this] { return std::vector<QAction*>{overlay_}; });
  workspace_.AddEditingLock([this] { return std::vector<QAction*>{overlay_}; });
}

QAction* ProtectorController::AddOverlayItem(QMenu& file) {
  overlay_ = file.addAction("Overlay KRV waveform");
  overlay_->setObjectName("OverlayKRVWaveform1");
  connect(overlay_, &QAction::triggered, this, &ProtectorController::OverlayWaveform);
  workspace_.Commands().overlay = overlay_;
  return overlay_;
}

QAction* ProtectorController::AddPopupItems(QMenu& popup) {
  QMenu* protection = popup.addMenu("APPLY HEARING PROTECTION");
  protection->setObjectName("ApplyEarProtector1");
  connect(protection, &QMenu::aboutToShow, this, &ProtectorController::PrepareProtectorMenu);
  default_mode_menu_ = protection->addMenu("DEFAULT MODE");
  default_mode_menu_->setObjectName("DefaultMode1");
  QAction* help = default_mode_menu_->addAction("HELP");
  help->setObjectName("Help2");
  connect(help, &QAction::triggered, this, &ProtectorController::ShowProtectorHelp);
  // Kept visible but never enabled: nothing under it can be chosen.
  QMenu* power_user = protection->addMenu("POWER USER MODE");
  power_user->setObjectName("PowerUserMode1");
  for (const auto& [caption, name] :
       {std::pair{"PLUG", "PLUG1"}, std::pair{"MUFF", "MUFF1"},
        std::pair{"PLUG + MUFF", "PLUGMUFF1"}, std::pair{"OTHER", "OTHER1"}}) {
    power_user->addAction(caption)->setObjectName(name);
  }
  power_user->menuAction()->setEnabled(false);
  return protection->menuAction();
}

void ProtectorController::LoadProtectorItems() {
  const fs::path path = DataFileForReading(workspace_.options().data_dir, kProtectorTableName);
  ProtectorTable table;
  try {
    table = ReadProtectorTable(path);
  } catch (const Error& e) {
    throw StartupError(workspace_.FileErrorText(path, e.what()));
  }
  for (const int index : table.DefaultModeItems()) {
    const ProtectorRecord& record = table.records[static_cast<std::size_t>(index)];
    QAction* item = default_mode_menu_->addAction(Latin1(record.name));
    item->setData(index);
    connect(item, &QAction::triggered, this, [this, index] { ApplyProtector(index); });
    protector_items_.push_back(item);
  }
}

void ProtectorController::PrepareProtectorMenu() {
  if (workspace_.Busy()) return;
  // A movie frame drawn over the snapshot brought back would be out of step.
  movie_.Player().Stop();
  // A task without read-outs: Set Baseline and Taper, which keep the last
  // task, show none after this.
  edits_.Cursor().SetTask(CursorTask::kProtector);
  {
    const Document::Batch batch(workspace_.document());
    workspace_.document().RestoreForm();
  }
  workspace_.grid().Widget().show();
}

void ProtectorController::ShowProtectorHelp() {
  workspace_.Run("HELP", [this] {
    QTableWidget& grid = workspace_.grid().Widget();
    grid_before_help_ = grid.isVisible();
    grid.hide();
    workspace_.document().RestoreForm();
    workspace_.picture().ShowHelpPicture(help_picture_);
  });
}

void ProtectorController::EndHelp() {
  if (!workspace_.picture().HelpPictureShowing()) return;
  const Document::Batch batch(workspace_.document());
  workspace_.picture().HideHelpPicture();
  workspace_.document().RestoreForm();
  if (grid_before_help_) workspace_.grid().Widget().show();
}

void ProtectorController::ApplyProtector(int record_index) {
  if (workspace_.Busy()) return;
  workspace_.grid().ProcessPendingEdits();
  const Document& document = workspace_.document();
  ProtectOptions options;
  options.seed_folder = workspace_.options().data_dir;
  options.output_folder = document.output_folder;
  options.chosen_file_name = document.chosen_file.filename().string();
  options.record_index = record_index;
  QString name = "APPLY HEARING PROTECTION";
  for (const QAction* item : protector_items_) {
    if (item->data().toInt() == record_index) {
      const QByteArray text = item->text().toLatin1();
      options.expected_name = std::string(text.constData(), static_cast<std::size_t>(text.size()));
      name = item->text();
    }
  }
  const bool popup_before = workspace_.PopupOn();
  EarModelParameters parameters;
  const bool ran = workspace_.Run(name, [&] {
    // The program's own table is rewritten as the user's copy.
    options.table = DataFileForWriting(workspace_.options().data_dir, kProtectorTableName);
    parameters = ReadEarModelFile(workspace_.ModelFileForRun());
    workspace_.SetPopupOn(false);
  });
  if (!ran) return;

  // The command reads the session and changes a copy of the protector state;
  // both are the document's again only when it succeeds.
  auto input = std::make_shared<const Session>(document.session);
  auto state = std::make_shared<ProtectorCommandState>(document.protector_state);
  workspace_.Start(
      name,
      [this, input, state, parameters, options,
       popup_before](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto result = std::make_shared<const ProtectResult>(
            GetHPDData(*input, *state, parameters, options, worker.progress));
        return [this, state, result, popup_before, table = options.table] {
          Document& document = workspace_.document();
          PictureView& picture = workspace_.picture();
          document.protector_state = *state;
          workspace_.SetPopupOn(popup_before);
          // The picture starts from the window as it was before the menu
          // opened; a command that fails or is cancelled leaves it as it is.
          document.RestoreForm();
          // The picture fills the upper half, where the header grid would hide
          // it; its caption is the record's name.
          workspace_.grid().Widget().hide();
          document.picture.upper = {render::ProtectorModel(result)};
          document.Changed(Document::kPicture);
          document.SaveForm();
          if (!picture.Current().frame2_set) picture.PlotWaveform();
          document.picture.lower.push_back(render::PredictedWaveform(
              std::shared_ptr<const std::vector<float>>(result, &result->eardrum),
              document.session.SampleInterval, document.session.StartTime));
          document.new_spectrum_scale = true;
          document.last_protection = *result;
          document.Changed(Document::kPicture | Document::kResults);
          workspace_.ShowWritten({result->output, table});
        };
      },
      [this, popup_before] { workspace_.SetPopupOn(popup_before); });
}

void ProtectorController::OverlayWaveform() {
  if (workspace_.Busy() || workspace_.session().LastSample < 1) return;
  const QString name = "Overlay KRV waveform";
  std::optional<fs::path> chosen;
  fs::path table;
  const bool ran = workspace_.Run(name, [this, &chosen, &table] {
    chosen = workspace_.chooser().ChooseOpenFile(KrvOpenDialog(workspace_.document()));
    table = DataFileForWriting(workspace_.options().data_dir, kNoiseReductionTablePath);
  });
  if (!ran) return;

  // Cancel compares the first waveform with itself; the session that holds
  // it is not touched then.
  const Document& document = workspace_.document();
  auto work = std::make_shared<Session>(document.session);
  auto dither = std::make_shared<Lcg>(document.protector_state.dither);
  const fs::path second = chosen ? *chosen : document.chosen_file;
  const bool replace = chosen.has_value();
  workspace_.Start(
      name,
      [this, work, dither, second, table,
       replace](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto result = std::make_shared<const OverlayResult>(
            OverlayKRVWaveform(*work, *dither, second, table, worker.progress));
        return [this, work, dither, result, replace] {
          Document& document = workspace_.document();
          Workspace::WaveformCommands& commands = workspace_.Commands();
          // The last run's movie goes when the overlay succeeds; a cancelled
          // or failed one leaves it offered.
          if (document.session.MovieAvailable) {
            movie_.CloseMovie();
            work->MovieAvailable = false;
          }
          // The picture before the first overlay is the one to come back to.
          if (document.session.ClearPlotFirst) document.SaveForm();
          document.protector_state.dither = *dither;
          workspace_.grid().Widget().hide();
          if (replace) {
            document.session = std::move(*work);
            document.session.ClearPlotFirst = false;
            document.Changed(Document::kWaveform | Document::kHeader);
            workspace_.SetPopupOn(false);
            commands.analyze->setEnabled(true);
            commands.save->setEnabled(false);
            commands.save_as->setEnabled(false);
            document.RestoreForm();
            workspace_.picture().PlotWaveform();
          }
          document.session.ClearPlotFirst = false;
          if (document.new_spectrum_scale) {
            const float top = std::max(LargestLevel(*result, false), LargestLevel(*result, true));
            document.spectrum_range = {static_cast<float>(std::log10(result->first_bins.df)),
                                       static_cast<float>(std::log10(result->first_bins.nyquist)),
                                       top - 90.0f, top};
            document.new_spectrum_scale = false;
          }
          const int traces = workspace_.picture().State().TraceCount;
          document.picture.upper = {
              render::OverlaySpectra(result, document.spectrum_range,
                                     render::ToQColor(plot::OverlayTraceColour(traces - 1)))};
          document.last_overlay = *result;
          document.Changed(Document::kPicture | Document::kResults);
          document.SaveForm();
          workspace_.ShowWritten({result->table});
        };
      });
}

}  // namespace korva::ui
