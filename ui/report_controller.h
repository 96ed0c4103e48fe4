// File > "Export report...": the report of the opened waveform as a page to
// hand on (HTML, or PDF when the name ends in ".pdf"), with the hazard of
// both listeners: the runs already made of the waveform as it is analysed
// now are taken as they stand, the others computed side by side on the
// command runner's worker; and the verdict of the criteria, with the ear
// model under the protectors chosen by File > "Report protectors...".
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "ui/workspace.h"

namespace korva::ui {

class ReportController : public QObject {
  Q_OBJECT

 public:
  explicit ReportController(Workspace& workspace, QObject* parent = nullptr);

  void AddFileItems(QMenu& file);

  // The protectors the report runs under (names of the table's records),
  // kept for the session.
  const std::vector<std::string>& ReportProtectors() const { return protectors_; }
  void SetReportProtectors(std::vector<std::string> names) { protectors_ = std::move(names); }
  // While another feature shows a report of its own (a series of shots),
  // Export report writes that: `series` writes it and returns true, or
  // returns false when it shows none.
  void SetSeriesReport(std::function<bool()> series) { series_ = std::move(series); }

 public slots:
  void ExportReport();
  // The protectors' dialog: ticked in a list of the table's.
  void ChooseReportProtectors();

 private:
  Workspace& workspace_;
  QAction* export_ = nullptr;
  QAction* choose_protectors_ = nullptr;
  std::vector<std::string> protectors_;
  std::function<bool()> series_;
};

}  // namespace korva::ui
