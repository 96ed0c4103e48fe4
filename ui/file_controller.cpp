#include "ui/file_controller.h"

#include <QMimeData>
#include <QSettings>
#include <memory>

#include "core/common/files.h"
#include "core/recording/recording_import.h"
#include "core/waveform/import.h"
#include "core/waveform/krv.h"
#include "ui/recording_dialog.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOpenName = "Open KRV waveform";
constexpr const char* kImportName = "Import waveform";
constexpr const char* kRecordingName = "Open recording";
constexpr const char* kRecentKey = "recent_files";

std::unique_ptr<QSettings> OpenSettings(const fs::path& file) {
  if (file.empty()) return std::make_unique<QSettings>("KORVA", "korva");
  return std::make_unique<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

}  // namespace

std::string NameToFirstDot(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.find('.', 1);
  return dot == std::string::npos ? name : name.substr(0, dot);
}

FileDialogRequest KrvOpenDialog(const Document& document) {
  FileDialogRequest dialog;
  dialog.title = "Korva Files";
  dialog.filters = QStringList{"Prepared waveforms (*.KRV *.krv)", "All Files (*)"};
  dialog.directory = QString::fromStdString(document.open_folder.string());
  // Centred and nearly full height: a folder of recordings shows whole,
  // with their dates and sizes beside them.
  dialog.place_centred = true;
  return dialog;
}

FileController::FileController(Workspace& workspace, MovieController& movie, QWidget& window,
                               QObject* parent)
    : QObject(parent), workspace_(workspace), movie_(movie), window_(window) {
  auto actions = [this] {
    return std::vector<QAction*>{open_, import_,  recording_, recent_menu_->menuAction(),
                                 save_, save_as_, save_wav_};
  };
  workspace_.AddWorkingLock(actions);
  workspace_.AddEditingLock(actions);
  connect(&workspace_.document(), &Document::HistoryChanged, this, &FileController::ShowCaption);
}

void FileController::AddOpenItem(QMenu& file) {
  open_ = file.addAction("Open KRV waveform");
  open_->setObjectName("OpenKRVwaveform1");
  connect(open_, &QAction::triggered, this, &FileController::OpenWaveform);
}

void FileController::AddImportItems(QMenu& file) {
  import_ = file.addAction("Import waveform");
  import_->setObjectName("Importwaveform1");
  connect(import_, &QAction::triggered, this, &FileController::ImportWaveform);
  recording_ = file.addAction("Open recording...");
  recording_->setObjectName("OpenRecording1");
  connect(recording_, &QAction::triggered, this, &FileController::OpenRecording);
  recent_menu_ = file.addMenu("Open &recent");
  recent_menu_->setObjectName("RecentFiles1");
  FillRecentMenu();
}

void FileController::AddSaveItems(QMenu& file) {
  const std::tuple<QAction**, const char*, const char*, void (FileController::*)()> items[] = {
      {&save_, "Save KRV waveform", "SaveKRVwaveform1", &FileController::SaveWaveform},
      {&save_as_, "Save KRV waveform as", "SaveKRVwaveformas1", &FileController::SaveWaveformAs},
      {&save_wav_, "Save WAV waveform", "SaveWAVwaveform1", &FileController::SaveWav}};
  for (const auto& [action, caption, name, slot] : items) {
    *action = file.addAction(caption);
    (*action)->setObjectName(name);
    connect(*action, &QAction::triggered, this, slot);
  }
  Workspace::WaveformCommands& commands = workspace_.Commands();
  commands.save = save_;
  commands.save_as = save_as_;
  commands.save_wav = save_wav_;
}

void FileController::SetCaption(const QString& caption) {
  caption_ = caption;
  ShowCaption();
}

void FileController::ShowCaption() {
  window_.setWindowTitle((workspace_.document().Modified() ? "*" : "") + caption_);
}

bool FileController::MaySetAside() {
  if (!workspace_.document().Modified()) return true;
  const Session& session = workspace_.session();
  const std::string name = session.BaseName.empty() ? "The waveform" : session.BaseName;
  switch (workspace_.prompter().AskSaveDiscardCancel(
      "Unsaved changes", name + " has changes that are not saved.\r\nSave them first?")) {
    case Answer::kYes:
      return SaveForQuestion();
    case Answer::kNo:
      return true;
    case Answer::kCancel:
      break;
  }
  return false;
}

bool FileController::SaveForQuestion() {
  workspace_.grid().ProcessPendingEdits();
  const bool to_file = save_->isEnabled();
  bool saved = false;
  workspace_.Run(to_file ? "Save KRV waveform" : "Save KRV waveform as", [&] {
    std::optional<fs::path> target;
    if (to_file) {
      target = WaveformPath(workspace_.session());
    } else {
      target = ChooseSaveAsTarget();
      if (!target) return;
    }
    Session work = workspace_.session();
    fs::path written = *target;
    try {
      if (to_file) {
        SaveKrv(work);
      } else {
        written = SaveKrvAs(work, *target);
        TakeSavedName(work, written);
      }
    } catch (const Error& e) {
      throw Error(workspace_.FileErrorText(*target, e.what()));
    }
    CommitSave(std::move(work), written);
    saved = true;
  });
  return saved;
}

void FileController::SetImportLayout(bool import) {
  import_layout_ = import;
  emit LayoutChanged();
}

void FileController::OpenWaveform() {
  if (workspace_.Busy() || !MaySetAside()) return;
  std::optional<fs::path> chosen;
  const bool ran = workspace_.Run(kOpenName, [this, &chosen] {
    Document& document = workspace_.document();
    workspace_.SetPopupItemsEnabled(true);
    document.RestoreForm();
    if (document.session.MovieAvailable) movie_.CloseMovie();
    place_next_dialog_ = true;
    chosen = workspace_.chooser().ChooseOpenFile(KrvOpenDialog(document));
    place_next_dialog_ = false;
    document.RestoreForm();
  });
  if (ran && chosen) OpenChosen(*chosen);
}

void FileController::OpenChosen(const fs::path& chosen) {
  OpenRead(
      kOpenName, chosen,
      [chosen](Session& session, ProgressSink& progress) {
        korva::OpenWaveform(session, chosen, progress);
      },
      true);
}

void FileController::OpenUnsaved(const QString& command, const fs::path& named, Reader read) {
  if (PutAsideShown(command)) OpenRead(command, named, std::move(read), false);
}

bool FileController::PutAsideShown(const QString& command) {
  return workspace_.Run(command, [this] {
    Document& document = workspace_.document();
    workspace_.SetPopupItemsEnabled(true);
    document.RestoreForm();
    if (document.session.MovieAvailable) movie_.CloseMovie();
  });
}

void FileController::OpenRead(const QString& command, const fs::path& chosen, Reader read,
                              bool has_file) {
  auto work = std::make_shared<Session>(workspace_.session());
  workspace_.Start(
      command,
      [this, work, chosen, read, has_file](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        try {
          read(*work, worker.progress);
        } catch (const Cancelled&) {
          throw;
        } catch (const Error& e) {
          throw Error(workspace_.FileErrorText(chosen, e.what()));
        }
        return [this, work, chosen, has_file] {
          Document& document = workspace_.document();
          document.session = std::move(*work);
          const Session& session = document.session;
          workspace_.SetPopupOn(true);
          workspace_.picture().State().TraceCount = 1;
          document.new_spectrum_scale = true;
          document.pending = {};
          document.runs = {};
          document.chosen_file = chosen;
          const fs::path folder = chosen.parent_path();
          document.output_folder = folder;
          document.krv_folder = folder;
          document.work_folder = folder;
          document.open_folder = session.WaveformDir;
          document.ResetHistory();
          SetCaption(QString(kOpenCaption) + Latin1(session.BaseName));
          SetImportLayout(false);
          workspace_.grid().Widget().show();
          workspace_.readout().hide();
          // The start-up picture would show between the grid and the plot.
          document.picture.background = {};
          document.Changed(Document::kWaveform | Document::kHeader | Document::kResults |
                           Document::kPicture);
          workspace_.picture().PlotWaveform();
          Workspace::WaveformCommands& commands = workspace_.Commands();
          for (QAction* action : {commands.analyze, commands.overlay, commands.save,
                                  commands.save_as, commands.save_wav}) {
            action->setEnabled(true);
          }
          // No file to write back to until Save As has made one.
          commands.save->setEnabled(has_file);
          document.SaveForm();
          if (has_file) RememberRecent(chosen);
          if (!session.ReadWarning.empty()) {
            workspace_.prompter().Inform("Warning", session.ReadWarning);
          }
        };
      });
}

void FileController::ImportWaveform() {
  if (workspace_.Busy() || !MaySetAside()) return;
  std::optional<fs::path> chosen;
  const bool ran = workspace_.Run(kImportName, [this, &chosen] {
    Document& document = workspace_.document();
    workspace_.SetPopupItemsEnabled(true);
    if (document.session.MovieAvailable) movie_.CloseMovie();
    FileDialogRequest dialog;
    dialog.title = "Korva Files";
    dialog.filters = QStringList{"All files (*)", "WAV files (*.WAV *.wav)"};
    dialog.directory = QString::fromStdString(document.open_folder.string());
    // Only Open places its dialog, and the very first dialog after start-up.
    dialog.place_centred = place_next_dialog_;
    chosen = workspace_.chooser().ChooseOpenFile(dialog);
    place_next_dialog_ = false;
  });
  if (ran && chosen) ImportChosen(*chosen);
}

void FileController::OpenRecording() {
  if (workspace_.Busy() || !MaySetAside()) return;
  std::optional<fs::path> chosen;
  std::optional<RecordingRequest> request;
  const bool ran = workspace_.Run(kRecordingName, [this, &chosen, &request] {
    Document& document = workspace_.document();
    workspace_.SetPopupItemsEnabled(true);
    if (document.session.MovieAvailable) movie_.CloseMovie();
    FileDialogRequest dialog;
    dialog.title = "Open recording";
    dialog.filters = QStringList{
        "Recordings (*.wav *.WAV *.flac *.FLAC *.aif *.aiff *.aifc *.AIF *.AIFF *.w64 *.W64 "
        "*.rf64 *.RF64 *.caf *.CAF *.mat *.MAT)",
        "All files (*)"};
    dialog.directory = QString::fromStdString(document.open_folder.string());
    chosen = workspace_.chooser().ChooseOpenFile(dialog);
    if (!chosen) return;
    RecordingDialog options(*chosen, &window_);
    if (options.exec() == QDialog::Accepted) request = options.Request();
  });
  if (ran && chosen && request) ImportChosen(*chosen, request);
}

void FileController::ImportChosen(const fs::path& chosen,
                                  const std::optional<RecordingRequest>& request) {
  // The next dialog starts in the folder of this recording.
  workspace_.document().open_folder = chosen.parent_path();
  auto work = std::make_shared<Session>(workspace_.session());
  workspace_.Start(
      request ? kRecordingName : kImportName,
      [this, work, chosen, request](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        ImportOutcome outcome;
        try {
          if (request) {
            // Read as korva-cli import reads it, and no longer than a KRV
            // file holds, so that what opens can be saved.
            RecordingImportOptions options;
            options.request = *request;
            options.max_samples = kMaxSaveAsSamples;
            outcome = ImportRecordingFile(*work, chosen, options, worker.prompter, worker.progress)
                          .outcome;
          } else {
            outcome = korva::ImportWaveform(*work, chosen, worker.prompter, worker.progress);
          }
        } catch (const Cancelled&) {
          throw;
        } catch (const Error& e) {
          throw Error(workspace_.FileErrorText(chosen, e.what()));
        }
        if (outcome == ImportOutcome::kCancelled) return {};
        return [this, work, chosen, request] {
          Document& document = workspace_.document();
          document.session = std::move(*work);
          Session& session = document.session;
          // Whatever read it, the samples of the last KRV file opened no
          // longer stand for the waveform: a save writes the new one.
          session.FileSamples.Release();
          workspace_.picture().State().TraceCount = 1;
          document.new_spectrum_scale = true;
          document.pending = {};
          session.ClearPlotFirst = true;
          document.chosen_file = chosen;
          document.output_folder = chosen.parent_path();
          document.krv_folder.clear();
          SetImportLayout(true);
          workspace_.grid().Widget().show();
          document.ResetHistory();
          SetCaption(QString(kImportCaption) + Latin1(session.DataFileName));
          workspace_.SetPopupOn(true);
          Workspace::WaveformCommands& commands = workspace_.Commands();
          commands.analyze->setEnabled(false);
          commands.save->setEnabled(false);
          commands.save_as->setEnabled(true);
          // A foreign recording has no KRV file to compare against.
          commands.overlay->setEnabled(false);
          document.picture.background = {};
          document.Changed(Document::kWaveform | Document::kHeader | Document::kPicture);
          workspace_.picture().PlotWaveform();
          document.SaveForm();
          RememberRecent(chosen);
          if (request) emit RecordingOpened(chosen, *request);
        };
      });
}

void FileController::OpenFile(const fs::path& file) {
  if (workspace_.Busy()) {
    workspace_.ShowStatus(
        "A command is running: " + QString::fromStdString(file.string()) + " was not opened",
        kStatusMilliseconds);
    return;
  }
  if (!MaySetAside()) return;
  const bool krv = ToUpperAscii(file.extension().string()) == ".KRV";
  if (!PutAsideShown(krv ? kOpenName : kImportName)) return;
  if (krv) {
    OpenChosen(file);
  } else {
    ImportChosen(file);
  }
}

namespace {

// The local file a drag carries, when it carries one and may be copied.
std::optional<fs::path> DroppedFile(const QDropEvent& event) {
  const QMimeData* data = event.mimeData();
  if (!data->hasUrls() || data->urls().isEmpty() || !data->urls().front().isLocalFile() ||
      !(event.possibleActions() & Qt::CopyAction)) {
    return std::nullopt;
  }
  return fs::path(data->urls().front().toLocalFile().toStdString());
}

}  // namespace

void FileController::DragEnter(QDragEnterEvent& event) {
  if (!DroppedFile(event)) return;
  event.setDropAction(Qt::CopyAction);
  event.accept();
}

void FileController::Drop(QDropEvent& event) {
  const std::optional<fs::path> file = DroppedFile(event);
  if (!file) return;
  event.setDropAction(Qt::CopyAction);
  event.accept();
  OpenFile(*file);
}

void FileController::SaveWaveform() {
  if (workspace_.Busy()) return;
  workspace_.grid().ProcessPendingEdits();
  auto work = std::make_shared<Session>(workspace_.session());
  workspace_.Start("Save KRV waveform",
                   [this, work](CommandRunner::Worker&) -> CommandRunner::Commit {
                     const fs::path target = WaveformPath(*work);
                     try {
                       SaveKrv(*work);
                     } catch (const Error& e) {
                       throw Error(workspace_.FileErrorText(target, e.what()));
                     }
                     return [this, work, target] { CommitSave(std::move(*work), target); };
                   });
}

void FileController::CommitSave(Session saved, const fs::path& written) {
  // The saved waveform is no longer the one analysed: the plot and the grid
  // go until the next Open.
  Document& document = workspace_.document();
  document.session = std::move(saved);
  document.MarkSaved();
  document.work_folder = written.parent_path();
  document.picture = {};
  document.Changed(Document::kHeader | Document::kPicture);
  workspace_.grid().Widget().hide();
  workspace_.Commands().analyze->setEnabled(false);
  workspace_.ShowWritten({written});
}

std::optional<fs::path> FileController::ChooseSaveAsTarget() {
  const Document& document = workspace_.document();
  if (document.session.LastSample >= kMaxSaveAsSamples) {
    workspace_.prompter().ShowError(
        "Save KRV waveform as",
        "Waveforms longer than 1,048,576 samples cannot be saved with Save As.");
    return std::nullopt;
  }
  FileDialogRequest dialog;
  dialog.title = "Save As";
  dialog.filters = QStringList{"Auditorialy hazardous waveforms (*.KRV *.krv)"};
  dialog.directory = QString::fromStdString(document.SaveAsFolder().string());
  dialog.default_suffix = "KRV";
  dialog.proposed_name = document.chosen_file.empty()
                             ? QString()
                             : Latin1(NameToFirstDot(document.chosen_file) + ".KRV");
  std::optional<fs::path> chosen = workspace_.chooser().ChooseSaveFile(dialog);
  if (chosen) {
    // The name written is cut at its first "."; when that differs from the
    // name the dialog confirmed, ask again before replacing another file.
    const fs::path written = chosen->parent_path() / (NameToFirstDot(*chosen) + ".KRV");
    const fs::path existing = ResolveCaseInsensitive(written);
    if (written.filename() != chosen->filename() && PathExists(existing) &&
        !workspace_.prompter().AskOkCancel(
            "Confirm", existing.string() + " already exists.\r\nDo you want to replace it?")) {
      chosen.reset();
    }
  }
  return chosen;
}

void FileController::TakeSavedName(Session& session, const fs::path& written) {
  session.WaveformDir = written.parent_path().string();
  session.DataFileName = written.filename().string();
  session.BaseName = ToUpperAscii(NameToFirstDot(written));
  Document& document = workspace_.document();
  document.chosen_file = written;
  document.krv_folder = written.parent_path();
  document.output_folder = written.parent_path();
  save_->setEnabled(true);
  SetCaption(QString(kOpenCaption) + Latin1(session.BaseName));
}

void FileController::SaveWaveformAs() {
  if (workspace_.Busy()) return;
  workspace_.grid().ProcessPendingEdits();
  std::optional<fs::path> chosen;
  const bool ran = workspace_.Run("Save KRV waveform as", [this, &chosen] {
    chosen = ChooseSaveAsTarget();
    if (!chosen) workspace_.Commands().analyze->setEnabled(false);
  });
  if (!ran || !chosen) return;
  auto work = std::make_shared<Session>(workspace_.session());
  const fs::path target = *chosen;
  workspace_.Start("Save KRV waveform as",
                   [this, work, target](CommandRunner::Worker&) -> CommandRunner::Commit {
                     fs::path written;
                     try {
                       written = SaveKrvAs(*work, target);
                     } catch (const Error& e) {
                       throw Error(workspace_.FileErrorText(target, e.what()));
                     }
                     return [this, work, written] {
                       TakeSavedName(*work, written);
                       CommitSave(std::move(*work), written);
                     };
                   });
}

void FileController::SaveWav() {
  workspace_.Run("Save WAV waveform", [this] {
    // A save that silently wrote nothing could be taken for a saved file.
    workspace_.prompter().Inform("Information", "Saving WAV files is not available.");
  });
}

// --- Recent files -------------------------------------------------------------

QStringList FileController::RecentFiles() const {
  return OpenSettings(workspace_.options().settings_file)->value(kRecentKey).toStringList();
}

void FileController::RememberRecent(const fs::path& file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file, ec);
  const QString path = QString::fromStdString((ec ? file : absolute).lexically_normal().string());
  QStringList recent = RecentFiles();
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentFiles) recent.removeLast();
  OpenSettings(workspace_.options().settings_file)->setValue(kRecentKey, recent);
  FillRecentMenu();
}

void FileController::FillRecentMenu() {
  recent_menu_->clear();
  const QStringList recent = RecentFiles();
  for (const QString& path : recent) {
    QAction* item = recent_menu_->addAction(path);
    connect(item, &QAction::triggered, this, [this, path] { OpenFile(path.toStdString()); });
  }
  recent_menu_->menuAction()->setEnabled(!recent.isEmpty());
}

}  // namespace korva::ui
