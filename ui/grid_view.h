// The 30-row header grid as a view of the session's cells: filled again
// when the document says the header changed, and the way the user edits
// the header. A typed cell is taken as text at once and processed (checked,
// and applied to the waveform where it says its count or rate) when the user
// leaves the cell or presses Enter, or when a command is about to read the
// header.
#pragma once

#include <QObject>
#include <QTableWidget>

#include "core/common/prompter.h"
#include "ui/command_runner.h"
#include "ui/document.h"
#include "ui/picture_view.h"

namespace korva::ui {

class GridView : public QObject {
  Q_OBJECT

 public:
  GridView(Document& document, PictureView& picture, CommandRunner& runner, Prompter& prompter,
           QTableWidget& widget, QObject* parent = nullptr);

  QTableWidget& Widget() { return widget_; }
  // Whether a double click or a key starts editing a cell.
  void SetEditable(bool editable);

  // Selecting a cell processes the pending edits and makes the new cell
  // pending; Enter processes them too.
  void SelectCell(int column, int row);
  void CellEntered();
  // The cells typed and not yet processed, processed now: a refusal is
  // shown and the cell goes back to what it held.
  void ProcessPendingEdits();

 private:
  void Refresh();
  void CellChanged(int row, int column);

  Document& document_;
  PictureView& picture_;
  CommandRunner& runner_;
  Prompter& prompter_;
  QTableWidget& widget_;
  bool filling_ = false;
};

}  // namespace korva::ui
