// The waveform's files: Open, Import, Open recent, Save and Save As, and
// opening a file named on the command line or dropped on the window.
// Reading and writing run on the command runner's worker on a copy of the
// session, which replaces the document's only when the command succeeded.
#pragma once

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/recording/request.h"
#include "ui/movie_controller.h"
#include "ui/workspace.h"

namespace korva::ui {

inline constexpr const char* kWindowCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS";
inline constexpr const char* kOpenCaption = "KORVA INTENSE SOUND HAZARD ANALYSIS OF: ";
inline constexpr const char* kImportCaption = "KORVA INTENSE SOUND HAZARD IMPORTING FILE: ";
// How many recently opened files the File menu offers.
inline constexpr int kRecentFiles = 8;

// The name part of `path` up to its first "." (a leading dot is kept): what
// Save As writes, and what the save dialogs propose.
std::string NameToFirstDot(const std::filesystem::path& path);

// The dialog that picks a KRV file to open or to overlay.
FileDialogRequest KrvOpenDialog(const Document& document);

class FileController : public QObject {
  Q_OBJECT

 public:
  // `window` takes the caption naming the file opened.
  FileController(Workspace& workspace, MovieController& movie, QWidget& window,
                 QObject* parent = nullptr);

  // Open; then Import, Open recording and Open recent; then Save, Save As and Save WAV.
  void AddOpenItem(QMenu& file);
  void AddImportItems(QMenu& file);
  void AddSaveItems(QMenu& file);
  QMenu* RecentMenu() const { return recent_menu_; }
  // The files File > Open recent offers, newest first.
  QStringList RecentFiles() const;
  // The grid's column widths follow what was read: a KRV file or an import.
  bool ImportLayout() const { return import_layout_; }

  // Before the waveform is set aside (Open, Import, a drop, closing): when
  // it differs from its file, asks Save / Discard / Cancel. True when the
  // caller may go on: nothing to lose, saved, or discarded.
  bool MaySetAside();
  // A file dragged over the window and dropped on it: always taken as a
  // copy (a source that honoured a move would delete the original), then
  // opened as OpenFile does.
  void DragEnter(QDragEnterEvent& event);
  void Drop(QDropEvent& event);

 public slots:
  void OpenWaveform();
  void ImportWaveform();
  // A sound or MATLAB file: one channel, a part and a calibration chosen in
  // a dialog that shows what the file holds.
  void OpenRecording();
  void SaveWaveform();
  void SaveWaveformAs();
  void SaveWav();
  // Opens `file` as Open does (a KRV file) or as Import does (anything
  // else), without a file dialog: the command line, drops, recent files.
  void OpenFile(const std::filesystem::path& file);

 public:
  // Opens a waveform that has no file yet as Open opens a KRV file (a new
  // undo history, Analyze on), `read` filling a copy of the session on the
  // worker as reading `named` would. Save stays off until Save As has
  // written it somewhere; Save As proposes `named`. The caller asks about
  // unsaved work first (MaySetAside).
  using Reader = std::function<void(Session& session, ProgressSink& progress)>;
  void OpenUnsaved(const QString& command, const std::filesystem::path& named, Reader read);

 signals:
  // The grid's layout changed (import or KRV columns).
  void LayoutChanged();
  // File > Open recording opened the channel `request` names of `file`.
  void RecordingOpened(const std::filesystem::path& file, const korva::RecordingRequest& request);

 private:
  // Open and Import once a file is chosen.
  void OpenChosen(const std::filesystem::path& chosen);
  // Before a waveform opened without a dialog: the picture as it was before
  // any menu, the movie closed. False when a command is running.
  bool PutAsideShown(const QString& command);
  // Reads with `read` and shows the waveform as Open does; `has_file`: it
  // came from `chosen`, which Save writes to and the recent files keep.
  void OpenRead(const QString& command, const std::filesystem::path& chosen, Reader read,
                bool has_file);
  // With a request, through the recording reader as Open recording asks;
  // without, through the importer and its questions.
  void ImportChosen(const std::filesystem::path& chosen,
                    const std::optional<RecordingRequest>& request = std::nullopt);
  // After Save and Save As wrote `written` from `saved`.
  void CommitSave(Session saved, const std::filesystem::path& written);
  void RememberRecent(const std::filesystem::path& file);
  // The window's caption: `caption` and a leading "*" while the waveform
  // differs from its file.
  void SetCaption(const QString& caption);
  void ShowCaption();
  // Saves at once, on this thread, for the unsaved-work question: to the
  // file the waveform came from or was last saved as, else where a Save As
  // dialog says. False when nothing was saved.
  bool SaveForQuestion();
  // The file Save As writes, asked with its dialog; nothing when cancelled.
  std::optional<std::filesystem::path> ChooseSaveAsTarget();
  // After Save As wrote `written`: Save writes there from now on.
  void TakeSavedName(Session& session, const std::filesystem::path& written);
  void FillRecentMenu();
  void SetImportLayout(bool import);

  Workspace& workspace_;
  MovieController& movie_;
  QWidget& window_;
  QAction* open_ = nullptr;
  QAction* import_ = nullptr;
  QAction* recording_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QAction* save_ = nullptr;
  QAction* save_as_ = nullptr;
  QAction* save_wav_ = nullptr;
  bool place_next_dialog_ = true;  // the next open dialog is centred, nearly full height
  bool import_layout_ = false;
  QString caption_;
};

}  // namespace korva::ui
