// What the window's feature controllers share: the document and its views,
// the command runner with its thread pool, the questions and file dialogs,
// the status line, the pop-up menu's switch, and the locks that keep
// commands apart. MainWindow builds the frame and one Workspace over it;
// each controller takes the Workspace and adds its own actions and state.
#pragma once

#include <QAction>
#include <QLineEdit>
#include <QObject>
#include <QProgressBar>
#include <QStatusBar>
#include <QString>
#include <QTableWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/pool.h"
#include "core/common/prompter.h"
#include "core/waveform/session.h"
#include "ui/canvas.h"
#include "ui/command_runner.h"
#include "ui/document.h"
#include "ui/grid_view.h"
#include "ui/picture_view.h"
#include "ui/qt_prompter.h"

namespace korva::ui {

struct WindowOptions {
  // The folder of "Man.Fig", the ear-model file, the pictures and the
  // protector table.
  std::filesystem::path data_dir;
  // Capacity of the session's sample arrays.
  std::int32_t sample_capacity = DefaultSampleCapacity();
  // Initial folder of the open dialog; the current folder when empty.
  std::filesystem::path open_dir;
  // Where the recent files are kept; the user's KORVA settings when empty.
  std::filesystem::path settings_file;
};

// 8-bit text of the header and the files (Latin-1) for a widget.
inline QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Start-up cannot go on: a data file is missing or unreadable.
class StartupError : public Error {
 public:
  using Error::Error;
};

// How long the status bar keeps the names of the files written (ms).
inline constexpr int kStatusMilliseconds = 10000;
// The progress bar runs over this many steps.
inline constexpr int kProgressSteps = 23;

// The parts of the window's frame the controllers draw on and read out to.
struct WindowFrame {
  Canvas& canvas;
  QTableWidget& grid;
  QStatusBar& status;
  QLineEdit& readout;  // Edit1: the running word, then the hazard of a run
  QProgressBar& progress;
};

class Workspace : public QObject {
  Q_OBJECT

 public:
  Workspace(Prompter& prompter, FileChooser& chooser, WindowOptions options, WindowFrame frame,
            QObject* parent = nullptr);
  ~Workspace() override;

  Prompter& prompter() { return prompter_; }
  FileChooser& chooser() { return chooser_; }
  const WindowOptions& options() const { return options_; }
  Document& document() { return document_; }
  Session& session() { return document_.session; }
  ThreadPool& pool() { return pool_; }
  CommandRunner& runner() { return runner_; }
  PictureView& picture() { return picture_; }
  GridView& grid() { return grid_; }
  Canvas& canvas() { return frame_.canvas; }
  QLineEdit& readout() { return frame_.readout; }
  QProgressBar& progress() { return frame_.progress; }

  bool Busy() const { return runner_.Busy(); }
  // Short commands run at once; long ones on the runner's worker (Start).
  // Each runs in one Document::Batch. A command that draws ends a playing
  // movie first: its frames are drawn over the picture they started on.
  enum class MovieEffect { kEndsIt, kKeepsPlaying };
  bool Run(const QString& name, const std::function<void()>& body,
           MovieEffect movie = MovieEffect::kEndsIt);
  bool Start(const QString& name, CommandRunner::Work work, std::function<void()> abandon = {});
  // The window has closed: a command whose dialog was still open goes no further.
  void WindowClosed() { closed_ = true; }

  void ShowError(const std::string& message);
  // The message naming `file` once.
  std::string FileErrorText(const std::filesystem::path& file, const std::string& message) const;
  void ShowFileError(const std::filesystem::path& file, const std::string& message);
  // "Saved PATH" in the status bar for each file written.
  void ShowWritten(const std::vector<std::filesystem::path>& files);
  void ShowStatus(const QString& text, int milliseconds = 0);

  // A data file by its name, found case-insensitively in the data folder.
  std::filesystem::path DataFile(const std::string& name) const;
  // The ear-model parameter file Man.Fig named at start-up.
  const std::filesystem::path& ModelFile() const { return model_file_; }
  void SetModelFile(std::filesystem::path file) { model_file_ = std::move(file); }
  // The parameter file a run uses: the one named at start-up, else the one
  // Man.Fig in the session's start-up folder names now.
  std::filesystem::path ModelFileForRun() const;

  // Whether a right click opens the pop-up menu.
  bool PopupOn() const { return popup_on_; }
  void SetPopupOn(bool on) { popup_on_ = on; }
  // The nine pop-up items that commands enable and disable together.
  const std::array<QAction*, 9>& PopupItems() const { return popup_items_; }
  void SetPopupItems(const std::array<QAction*, 9>& items) { popup_items_ = items; }
  void SetPopupItemsEnabled(bool enabled);

  // Menu entries whose state follows the waveform, switched by the commands
  // that open, save, analyse and overlay it.
  struct WaveformCommands {
    QAction* analyze = nullptr;  // the Analyze menu
    QAction* overlay = nullptr;
    QAction* save = nullptr;
    QAction* save_as = nullptr;
    QAction* save_wav = nullptr;
  };
  WaveformCommands& Commands() { return commands_; }

  // The actions a controller wants disabled while a computation runs, or
  // while an armed edit holds a shortened view or a backup of the waveform,
  // asked for when the lock starts. Each lock gives back the states it found.
  using Actions = std::function<std::vector<QAction*>()>;
  void AddWorkingLock(Actions actions) { working_locks_.push_back(std::move(actions)); }
  void AddEditingLock(Actions actions) { editing_locks_.push_back(std::move(actions)); }
  void LockForEdit(bool armed);

  // The progress bar stays, full, after a hazard run (until the next command).
  bool ProgressBarKept() const { return keep_progress_bar_; }
  void KeepProgressBar(bool keep) { keep_progress_bar_ = keep; }

 signals:
  // A command that draws is about to start.
  void CommandStarting();
  // A computation started or ended on the worker.
  void WorkingChanged(bool working);
  // No command runs any more.
  void Idle();

 private:
  using Locked = std::vector<std::pair<QAction*, bool>>;
  static Locked Lock(const std::vector<Actions>& locks);
  static void Unlock(Locked& locked);
  void SetWorking(bool working);

  Prompter& prompter_;
  FileChooser& chooser_;
  WindowOptions options_;
  WindowFrame frame_;
  Document document_;
  // The hazard runs' cochlear places, and the runs a report makes side by
  // side, spread over the cores; declared before the runner, whose worker
  // uses it, so that it outlives the worker.
  ThreadPool pool_{CoreCount()};
  CommandRunner runner_;
  PictureView picture_;
  GridView grid_;
  std::filesystem::path model_file_;
  bool popup_on_ = false;
  std::array<QAction*, 9> popup_items_{};
  WaveformCommands commands_;
  std::vector<Actions> working_locks_;
  std::vector<Actions> editing_locks_;
  Locked locked_while_working_;
  Locked locked_while_editing_;
  bool editing_ = false;
  bool closed_ = false;
  bool keep_progress_bar_ = false;
};

}  // namespace korva::ui
