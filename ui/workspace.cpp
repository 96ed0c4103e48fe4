#include "ui/workspace.h"

#include <QStringList>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/model/ear_model.h"

namespace korva::ui {

namespace fs = std::filesystem;

Workspace::Workspace(Prompter& prompter, FileChooser& chooser, WindowOptions options,
                     WindowFrame frame, QObject* parent)
    : QObject(parent),
      prompter_(prompter),
      chooser_(chooser),
      options_(std::move(options)),
      frame_(frame),
      document_(options_.sample_capacity),
      runner_(prompter_),
      picture_(document_, frame.canvas),
      grid_(document_, picture_, runner_, prompter_, frame.grid) {
  picture_.CoverUpperBandWith(frame.grid);
  connect(&runner_, &CommandRunner::Started, this, [this] { SetWorking(true); });
  connect(&runner_, &CommandRunner::Ended, this, [this] { SetWorking(false); });
  connect(&runner_, &CommandRunner::Finished, this, &Workspace::Idle);
}

Workspace::~Workspace() = default;

bool Workspace::Run(const QString& name, const std::function<void()>& body, MovieEffect movie) {
  if (runner_.Busy()) return false;
  if (movie == MovieEffect::kEndsIt) emit CommandStarting();
  const bool ran = runner_.Run(name, [this, &name, &body] {
    const Document::Batch batch(document_);
    Stepped(name, body);
  });
  if (!runner_.Busy()) emit Idle();
  return ran;
}

bool Workspace::Start(const QString& name, CommandRunner::Work work,
                      std::function<void()> abandon) {
  if (closed_) return false;
  emit CommandStarting();
  // What the command commits, or puts back when it fails, reaches the views
  // as one change.
  CommandRunner::Work batched =
      [this, name, work = std::move(work)](CommandRunner::Worker& worker) -> CommandRunner::Commit {
    CommandRunner::Commit commit = work(worker);
    if (!commit) return {};
    return [this, name, commit = std::move(commit)] {
      const Document::Batch batch(document_);
      Stepped(name, commit);
    };
  };
  std::function<void()> put_back;
  if (abandon) {
    put_back = [this, abandon = std::move(abandon)] {
      const Document::Batch batch(document_);
      abandon();
    };
  }
  return runner_.Start(name, std::move(batched), std::move(put_back));
}

void Workspace::Stepped(const QString& name, const std::function<void()>& body) {
  // What the command changed, even when it stopped half-way, is one step of
  // the history.
  document_.BeginStep();
  try {
    body();
  } catch (...) {
    document_.EndStep(name);
    throw;
  }
  document_.EndStep(name);
}

void Workspace::ShowError(const std::string& message) {
  prompter_.ShowError("Error", message);
}

std::string Workspace::FileErrorText(const fs::path& file, const std::string& message) const {
  // Core messages usually name the file already; name it once.
  const std::string name = file.filename().string();
  return message.find(name) == std::string::npos ? WithFile(file.string(), message) : message;
}

void Workspace::ShowFileError(const fs::path& file, const std::string& message) {
  ShowError(FileErrorText(file, message));
}

void Workspace::ShowWritten(const std::vector<fs::path>& files) {
  QStringList written;
  for (const fs::path& file : files) {
    if (!file.empty()) written << "Saved " + QString::fromStdString(file.string());
  }
  if (!written.isEmpty()) ShowStatus(written.join("; "), kStatusMilliseconds);
}

void Workspace::ShowStatus(const QString& text, int milliseconds) {
  frame_.status.showMessage(text, milliseconds);
}

fs::path Workspace::DataFile(const std::string& name) const {
  if (auto found = FindCaseInsensitive(options_.data_dir, name)) return *found;
  return options_.data_dir / name;
}

fs::path Workspace::ModelFileForRun() const {
  return ChooseModelFile(model_file_, document_.session.StartupDir);
}

void Workspace::SetPopupItemsEnabled(bool enabled) {
  for (QAction* item : popup_items_) item->setEnabled(enabled);
}

Workspace::Locked Workspace::Lock(const std::vector<Actions>& locks) {
  Locked locked;
  for (const Actions& actions : locks) {
    for (QAction* action : actions()) {
      if (action == nullptr) continue;
      locked.emplace_back(action, action->isEnabled());
      action->setEnabled(false);
    }
  }
  return locked;
}

void Workspace::Unlock(Locked& locked) {
  for (const auto& [action, enabled] : locked) action->setEnabled(enabled);
  locked.clear();
}

void Workspace::SetWorking(bool working) {
  if (working) {
    locked_while_working_ = Lock(working_locks_);
    grid_.SetEditable(false);
    keep_progress_bar_ = false;
  } else {
    Unlock(locked_while_working_);
    if (!editing_) grid_.SetEditable(true);
  }
  emit WorkingChanged(working);
}

void Workspace::LockForEdit(bool armed) {
  // While an edit holds a shortened view or a backup of the waveform, a
  // command that loads, saves or analyses it would act on the wrong data, and
  // Done would then copy the old backup over the new waveform.
  if (armed) {
    if (editing_) return;
    editing_ = true;
    // The edit's Done or Cancel closes the step it opened.
    document_.HoldStep(true);
    locked_while_editing_ = Lock(editing_locks_);
    grid_.SetEditable(false);
  } else {
    editing_ = false;
    Unlock(locked_while_editing_);
    document_.HoldStep(false);
    grid_.SetEditable(true);
  }
}

}  // namespace korva::ui
