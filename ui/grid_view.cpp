#include "ui/grid_view.h"

#include <QAbstractItemDelegate>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "ui/workspace.h"

namespace korva::ui {
namespace {

// Grid cells hold 8-bit text; TAB, CR and LF would break the KRV line format.
std::string CellText(const QString& text) {
  std::string cell = text.toLatin1().toStdString();
  for (char& c : cell) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return cell;
}

const QString kGridLevels = "dB (94 dB = 1 Pa)";

}  // namespace

GridView::GridView(Document& document, PictureView& picture, CommandRunner& runner,
                   Prompter& prompter, QTableWidget& widget, QObject* parent)
    : QObject(parent),
      document_(document),
      picture_(picture),
      runner_(runner),
      prompter_(prompter),
      widget_(widget) {
  connect(&document_, &Document::HeaderChanged, this, &GridView::Refresh);
  connect(&widget_, &QTableWidget::cellChanged, this, &GridView::CellChanged);
  connect(&widget_, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { SelectCell(column, row); });
  // Enter inside a cell editor reaches the delegate, not the grid: the
  // editor's text has been committed when it asks to close.
  connect(widget_.itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
            if (hint == QAbstractItemDelegate::SubmitModelCache) CellEntered();
          });
}

void GridView::SetEditable(bool editable) {
  widget_.setEditTriggers(editable ? QAbstractItemView::DoubleClicked |
                                         QAbstractItemView::EditKeyPressed |
                                         QAbstractItemView::AnyKeyPressed
                                   : QAbstractItemView::NoEditTriggers);
}

void GridView::Refresh() {
  filling_ = true;
  for (int row = 0; row < korva::HeaderGrid::kRows; ++row) {
    for (int column = 0; column < korva::HeaderGrid::kColumns; ++column) {
      const QString text = Latin1(document_.session.Grid.Cell(column, row));
      QTableWidgetItem* item = widget_.item(row, column);
      if (item == nullptr) {
        item = new QTableWidgetItem(text);
        widget_.setItem(row, column, item);
      } else if (item->text() != text) {
        item->setText(text);
      }
      // The grid's levels take 94 dB for 1 Pa, as the KRV files and the
      // energy metrics do; the descriptors beside Statistics do not.
      const QString tip = column == 2 && text.startsWith("dB") ? kGridLevels : QString();
      if (item->toolTip() != tip) item->setToolTip(tip);
    }
  }
  filling_ = false;
}

void GridView::CellChanged(int row, int column) {
  if (filling_ || runner_.Busy()) return;
  const QTableWidgetItem* item = widget_.item(row, column);
  if (item == nullptr) return;
  document_.session.Grid.Cell(column, row) = CellText(item->text());
}

void GridView::SelectCell(int column, int row) {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  if (column >= 0 && row >= 0) document_.pending.Mark(column, row);
}

void GridView::CellEntered() {
  if (runner_.Busy()) return;
  const int row = widget_.currentRow();
  const int column = widget_.currentColumn();
  if (column >= 0 && row >= 0) document_.pending.Mark(column, row);
  ProcessPendingEdits();
}

void GridView::ProcessPendingEdits() {
  if (!document_.pending.Any()) return;
  GridEditResult result;
  std::string failure;
  {
    const Document::Batch batch(document_);
    const korva::HeaderGrid before = document_.session.Grid;
    try {
      result = ProcessCell(document_.session, document_.pending);
    } catch (const Error& e) {
      failure = e.what();
    }
    // A refused cell goes back to what it held; an accepted one may say
    // more (its count or rate applied, a number written in full).
    if (document_.session.Grid != before || !result.refusals.empty() || !failure.empty()) {
      document_.Changed(Document::kHeader);
    }
    if (result.redraw) {
      document_.Changed(Document::kWaveform);
      picture_.PlotWaveform();
    }
  }
  for (const std::string& refusal : result.refusals) prompter_.ShowError("Header grid", refusal);
  if (!failure.empty()) prompter_.ShowError("Error", failure);
}

}  // namespace korva::ui
