// A main window started on a private copy of the data files, with scripted
// answers to every question and every file dialog.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_dir.h"
#include "ui/main_window.h"
#include "ui/qt_prompter.h"

namespace korva::testing {

// Pixels of `colour` (RGB, alpha ignored) in rows top..bottom-1 of `image`.
inline int CountColour(const QImage& image, QRgb colour, int top, int bottom) {
  int count = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFFu) == colour) ++count;
    }
  }
  return count;
}

// Replays chosen files (nothing = Cancel) and records the dialogs shown. A
// hook may run while a dialog is "open", as events would.
class ScriptedFileChooser final : public ui::FileChooser {
 public:
  ScriptedFileChooser& Choose(std::optional<std::filesystem::path> file) {
    answers_.push_back(std::move(file));
    return *this;
  }
  std::function<void()> while_open;

  std::optional<std::filesystem::path> ChooseOpenFile(
      const ui::FileDialogRequest& request) override {
    return Answer(request);
  }
  std::optional<std::filesystem::path> ChooseSaveFile(
      const ui::FileDialogRequest& request) override {
    return Answer(request);
  }
  const std::vector<ui::FileDialogRequest>& shown() const { return shown_; }

 private:
  std::optional<std::filesystem::path> Answer(const ui::FileDialogRequest& request) {
    shown_.push_back(request);
    if (answers_.empty())
      throw UnscriptedQuestion("unscripted file dialog: " + request.title.toStdString());
    auto answer = answers_.front();
    answers_.pop_front();
    if (while_open) while_open();
    return answer;
  }
  std::deque<std::optional<std::filesystem::path>> answers_;
  std::vector<ui::FileDialogRequest> shown_;
};

// A protector table with one default-mode and one power-user record.
std::string TestProtectorTable();

// A KRV file text: five header rows (title, 200 kHz, location) and `count`
// samples of a Friedlander pulse of `peak` pascals starting at 1 ms.
std::string TestKrvText(const std::string& title, int count, double peak, int location = 1);

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes NAME.KRV into the work folder and opens it through the window.
  std::filesystem::path OpenTestFile(const std::string& name, int count = 4100,
                                     double peak = 2000.0, int location = 1);
  // Lets the window's event loop run until no command is running.
  void Settle();
  // Waits for the command just started to compute on the worker, cancels
  // it and lets the window settle.
  void CancelOnceWorking();
  // Texts of the information and error boxes shown so far.
  std::vector<std::string> Informed() const;
  // Texts of the error boxes only.
  std::vector<std::string> Errors() const;
  // Saves the canvas and the whole window as PNGs for looking at, in a
  // folder of the test's own that is removed at its end unless
  // KORVA_KEEP_TEST_PICTURES is set (the folder is then named on stderr).
  void SaveCanvas(const std::string& name);

  TempDir data_;
  TempDir work_;
  ScriptedPrompter prompter_;
  ScriptedFileChooser chooser_;
  std::unique_ptr<ui::MainWindow> window_;
  std::filesystem::path previous_dir_;
  std::unique_ptr<QTemporaryDir> pictures_;
};

void PumpEvents();

}  // namespace korva::testing
