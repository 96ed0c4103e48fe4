// The waveform's files: Open, Import, Open recent, Save and Save As, and
// opening a file named on the command line or dropped on the window.
// Reading and writing run on the command runner's worker on a copy of the
// session, which replaces the document's only when the command succeeded.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <filesystem>
#include <string>

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

  // Open; then Import and Open recent; then Save, Save As and Save WAV.
  void AddOpenItem(QMenu& file);
  void AddImportItems(QMenu& file);
  void AddSaveItems(QMenu& file);
  QMenu* RecentMenu() const { return recent_menu_; }
  // The files File > Open recent offers, newest first.
  QStringList RecentFiles() const;
  // The grid's column widths follow what was read: a KRV file or an import.
  bool ImportLayout() const { return import_layout_; }

 public slots:
  void OpenWaveform();
  void ImportWaveform();
  void SaveWaveform();
  void SaveWaveformAs();
  void SaveWav();
  // Opens `file` as Open does (a KRV file) or as Import does (anything
  // else), without a file dialog: the command line, drops, recent files.
  void OpenFile(const std::filesystem::path& file);

 signals:
  // The grid's layout changed (import or KRV columns).
  void LayoutChanged();

 private:
  // Open and Import once a file is chosen.
  void OpenChosen(const std::filesystem::path& chosen);
  void ImportChosen(const std::filesystem::path& chosen);
  // After Save and Save As wrote `written` from `saved`.
  void CommitSave(Session saved, const std::filesystem::path& written);
  void RememberRecent(const std::filesystem::path& file);
  void FillRecentMenu();
  void SetImportLayout(bool import);

  Workspace& workspace_;
  MovieController& movie_;
  QWidget& window_;
  QAction* open_ = nullptr;
  QAction* import_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QAction* save_ = nullptr;
  QAction* save_as_ = nullptr;
  QAction* save_wav_ = nullptr;
  bool place_next_dialog_ = true;  // the next open dialog is centred, nearly full height
  bool import_layout_ = false;
};

}  // namespace korva::ui
