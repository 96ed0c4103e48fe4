// The window's answers to the core's questions (modal boxes) and its file
// dialogs, behind interfaces that tests replace with scripted versions.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "core/common/prompter.h"

namespace korva::ui {

class QtPrompter final : public Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  std::string AskText(const std::string& title, const std::string& question,
                      const std::string& proposed) override;
  Answer AskYesNoCancel(const std::string& title, const std::string& question) override;
  Answer AskSaveDiscardCancel(const std::string& title, const std::string& question) override;
  bool AskOkCancel(const std::string& title, const std::string& question) override;
  void Inform(const std::string& title, const std::string& text) override;
  // A box with the critical icon.
  void ShowError(const std::string& title, const std::string& text) override;

 private:
  QWidget* parent_;
};

// What a file dialog shows.
struct FileDialogRequest {
  QString title;
  QStringList filters;         // "Prepared waveforms (*.KRV *.krv)", ...
  QString directory;           // initial folder
  QString proposed_name;       // save dialogs: the name filled in
  QString default_suffix;      // save dialogs: added when the name has none
  bool place_centred = false;  // centred on the screen (else over the window)
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen file, or nothing when the user cancels.
  virtual std::optional<std::filesystem::path> ChooseOpenFile(const FileDialogRequest& request) = 0;
  // The chosen file; the dialog has asked before choosing an existing one.
  virtual std::optional<std::filesystem::path> ChooseSaveFile(const FileDialogRequest& request) = 0;
};

// Qt's own file dialog (not the desktop's), so that it can be placed and
// shown with its details view.
class QtFileChooser final : public FileChooser {
 public:
  explicit QtFileChooser(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }
  std::optional<std::filesystem::path> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> ChooseSaveFile(const FileDialogRequest& request) override;

 private:
  QWidget* parent_;
};

}  // namespace korva::ui
