// Edit > Undo and Redo over the document's history, each naming the step it
// takes back or makes again ("Undo Multiply by 2").
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>

#include "ui/workspace.h"

namespace korva::ui {

class HistoryController : public QObject {
  Q_OBJECT

 public:
  explicit HistoryController(Workspace& workspace, QObject* parent = nullptr);

  void AddEditItems(QMenu& edit);
  QAction* UndoAction() const { return undo_; }
  QAction* RedoAction() const { return redo_; }

 public slots:
  void Undo();
  void Redo();

 private:
  // Brings back a state of the history: `step` is Document::Undo or Redo.
  void Step(const QString& name, bool (Document::*step)());
  // Captions and states follow the history, the runner and an armed edit.
  void UpdateActions();

  Workspace& workspace_;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
};

}  // namespace korva::ui
