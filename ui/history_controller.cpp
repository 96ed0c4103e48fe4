#include "ui/history_controller.h"

#include <QKeySequence>

namespace korva::ui {

HistoryController::HistoryController(Workspace& workspace, QObject* parent)
    : QObject(parent), workspace_(workspace) {
  connect(&workspace_.document(), &Document::HistoryChanged, this,
          &HistoryController::UpdateActions);
  connect(&workspace_, &Workspace::Idle, this, &HistoryController::UpdateActions);
  connect(&workspace_, &Workspace::WorkingChanged, this, &HistoryController::UpdateActions);
}

void HistoryController::AddEditItems(QMenu& edit) {
  undo_ = edit.addAction("&Undo");
  undo_->setObjectName("Undo1");
  undo_->setShortcut(QKeySequence::Undo);
  connect(undo_, &QAction::triggered, this, &HistoryController::Undo);
  redo_ = edit.addAction("&Redo");
  redo_->setObjectName("Redo1");
  redo_->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  connect(redo_, &QAction::triggered, this, &HistoryController::Redo);
  UpdateActions();
}

void HistoryController::Undo() {
  Step("Undo", &Document::Undo);
}

void HistoryController::Redo() {
  Step("Redo", &Document::Redo);
}

void HistoryController::Step(const QString& name, bool (Document::*step)()) {
  if (workspace_.Busy() || workspace_.Editing()) return;
  workspace_.Run(name, [this, step] {
    Document& document = workspace_.document();
    if (!(document.*step)()) return;
    document.Changed(Document::kWaveform | Document::kHeader | Document::kPicture);
    // A waveform saved (its plot and grid put away) comes back into view.
    if (document.session.LastSample >= 0) workspace_.grid().Widget().show();
    workspace_.picture().PlotWaveform();
  });
}

void HistoryController::UpdateActions() {
  if (undo_ == nullptr) return;
  const History& history = workspace_.document().history();
  const bool free = !workspace_.Busy() && !workspace_.Editing();
  const auto caption = [](const char* verb, const std::string& name) {
    return name.empty() ? QString(verb) : QString(verb) + " " + Latin1(name);
  };
  undo_->setText(caption("&Undo", history.UndoName()));
  redo_->setText(caption("&Redo", history.RedoName()));
  undo_->setEnabled(free && history.CanUndo());
  redo_->setEnabled(free && history.CanRedo());
}

}  // namespace korva::ui
