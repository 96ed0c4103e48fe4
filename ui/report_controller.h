// File > "Export report...": the report of the opened waveform as a page to
// hand on (HTML, or PDF when the name ends in ".pdf"), with the hazard of
// both listeners: the runs already made of the waveform as it is analysed
// now are taken as they stand, the others computed side by side on the
// command runner's worker.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>

#include "ui/workspace.h"

namespace korva::ui {

class ReportController : public QObject {
  Q_OBJECT

 public:
  explicit ReportController(Workspace& workspace, QObject* parent = nullptr);

  void AddFileItems(QMenu& file);

 public slots:
  void ExportReport();

 private:
  Workspace& workspace_;
  QAction* export_ = nullptr;
};

}  // namespace korva::ui
