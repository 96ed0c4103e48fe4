#include "ui/qt_prompter.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QTreeView>
#include <algorithm>

namespace korva::ui {
namespace {

QString FromLatin1(const std::string& text) {
  QString converted = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  // Message texts carry Windows line ends; a box breaks lines at "\n".
  converted.replace("\r\n", "\n");
  return converted;
}

std::filesystem::path ToPath(const QString& file) {
  return std::filesystem::path(file.toStdString());
}

// The dialog's list shows whole names, sizes, types and dates: the name
// takes the room the others leave.
void ShowWholeColumns(QFileDialog& dialog) {
  auto* list = dialog.findChild<QTreeView*>("treeView");
  if (list == nullptr) return;
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int column = 1; column < header->count(); ++column) {
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
}

std::optional<std::filesystem::path> RunDialog(QFileDialog& dialog,
                                               const FileDialogRequest& request, QWidget* parent) {
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setWindowTitle(request.title);
  dialog.setNameFilters(request.filters);
  dialog.setViewMode(QFileDialog::Detail);
  if (!request.directory.isEmpty()) dialog.setDirectory(request.directory);
  ShowWholeColumns(dialog);
  // Room for long names and many rows, within the screen.
  QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    const QSize size(std::min(960, area.width() * 9 / 10), std::min(640, area.height() * 4 / 5));
    dialog.resize(size);
    if (request.place_centred) {
      dialog.move(area.x() + (area.width() - size.width()) / 2,
                  area.y() + (area.height() - size.height()) / 2);
    }
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToPath(dialog.selectedFiles().front());
}

// Room for the title bar's buttons beside a dialog's title.
constexpr int kTitleBarButtons = 160;

// A message box sizes itself to its text: a title longer than that (a
// command's full name over a one-line message) would be cut short by the
// window manager in the middle of a word. A spacer as wide as the title
// keeps it whole.
QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton default_button) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setDefaultButton(default_button);
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int title_width = box.fontMetrics().horizontalAdvance(title) + kTitleBarButtons;
    grid->addItem(new QSpacerItem(title_width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

std::string QtPrompter::AskText(const std::string& title, const std::string& question,
                                const std::string& proposed) {
  QInputDialog dialog(parent_);
  dialog.setWindowTitle(FromLatin1(title));
  dialog.setLabelText(FromLatin1(question));
  dialog.setTextValue(FromLatin1(proposed));
  // Wide enough for the whole title: window managers cut a long one short
  // in the middle of a word.
  const int title_width = dialog.fontMetrics().horizontalAdvance(dialog.windowTitle());
  dialog.setMinimumWidth(title_width + kTitleBarButtons);
  if (dialog.exec() != QDialog::Accepted) return proposed;
  return dialog.textValue().toLatin1().toStdString();
}

Answer QtPrompter::AskYesNoCancel(const std::string& title, const std::string& question) {
  const auto button =
      ShowBox(parent_, QMessageBox::Question, FromLatin1(title), FromLatin1(question),
              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
  if (button == QMessageBox::Yes) return Answer::kYes;
  if (button == QMessageBox::No) return Answer::kNo;
  return Answer::kCancel;
}

Answer QtPrompter::AskSaveDiscardCancel(const std::string& title, const std::string& question) {
  const auto button =
      ShowBox(parent_, QMessageBox::Warning, FromLatin1(title), FromLatin1(question),
              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (button == QMessageBox::Save) return Answer::kYes;
  if (button == QMessageBox::Discard) return Answer::kNo;
  return Answer::kCancel;
}

bool QtPrompter::AskOkCancel(const std::string& title, const std::string& question) {
  return ShowBox(parent_, QMessageBox::Question, FromLatin1(title), FromLatin1(question),
                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void QtPrompter::Inform(const std::string& title, const std::string& text) {
  ShowBox(parent_, QMessageBox::Information, FromLatin1(title), FromLatin1(text), QMessageBox::Ok,
          QMessageBox::Ok);
}

void QtPrompter::ShowError(const std::string& title, const std::string& text) {
  ShowBox(parent_, QMessageBox::Critical, FromLatin1(title), FromLatin1(text), QMessageBox::Ok,
          QMessageBox::Ok);
}

std::optional<std::filesystem::path> QtFileChooser::ChooseOpenFile(
    const FileDialogRequest& request) {
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return RunDialog(dialog, request, parent_);
}

std::optional<std::filesystem::path> QtFileChooser::ChooseSaveFile(
    const FileDialogRequest& request) {
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!request.default_suffix.isEmpty()) dialog.setDefaultSuffix(request.default_suffix);
  if (!request.proposed_name.isEmpty()) dialog.selectFile(request.proposed_name);
  return RunDialog(dialog, request, parent_);
}

}  // namespace korva::ui
