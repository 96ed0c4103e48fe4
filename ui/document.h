// What the window works on: the analysis session, the results the commands
// leave for the commands after them, and the picture the canvas shows.
//
// Commands change the fields and then say what they changed with Changed();
// the views (the header grid, the canvas, the movie items) redraw from the
// signals instead of each command redrawing by hand. Inside a Batch (every
// command runs in one) each signal goes out once, when the command is done,
// so a view never draws a half-made change; a command that is cancelled or
// refused before it changes anything emits nothing.
//
// The folders are kept here, not in the process's current folder: commands
// write their tables next to the waveform they analyse, whatever folder the
// program was started in or has since been deleted.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/model/hazard.h"
#include "core/protection/overlay.h"
#include "core/protection/protect_command.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/session.h"
#include "render/picture.h"

namespace korva::ui {

class Document : public QObject {
  Q_OBJECT

 public:
  // What a command changed; several are or-ed together.
  enum Change : unsigned {
    kWaveform = 1u,  // the samples, their count or their rate
    kHeader = 2u,    // the header grid's cells
    kResults = 4u,   // hazard runs, protector and overlay results
    kPicture = 8u,   // the picture's description
  };

  explicit Document(std::int32_t capacity, QObject* parent = nullptr);

  // Tells the views: at once, or at the end of the outermost Batch.
  void Changed(unsigned what);

  // The changes made while it lives reach the views when it ends, each once.
  class Batch {
   public:
    explicit Batch(Document& document);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    Document& document_;
  };

  // The picture is kept as a snapshot a command can go back to (the state
  // before a menu opened, before a movie or an overlay). Restoring a
  // snapshot of the picture as it stands changes nothing.
  void SaveForm();
  void RestoreForm();
  // The picture RestoreForm brings back.
  const render::Picture& SavedForm() const { return saved_picture_; }
  // Counts the picture's changes: a view has drawn the picture as it stands
  // when it drew this revision.
  std::uint64_t PictureRevision() const { return revision_; }

  // The run of `run.listener` kept for the report with the samples it
  // analysed (its movie is left out: a report needs the places).
  void KeepRun(const HazardRunResult& run);

  // The folder Save As proposes: that of the opened KRV file, else the last
  // folder a KRV file was opened from or saved to, else the start folder.
  std::filesystem::path SaveAsFolder() const {
    if (!krv_folder.empty()) return krv_folder;
    return work_folder.empty() ? start_folder : work_folder;
  }

  Session session;
  render::Picture picture;
  // The last hazard run that succeeded (movie buffer, place hazards, timing).
  std::optional<HazardRunResult> last_run;
  // The last run of each listener (warned [0], unwarned [1]) since the
  // waveform was opened, with the samples it analysed (0..last_sample): a
  // report takes those that still match the waveform instead of running
  // them again.
  struct KeptRun {
    HazardRunResult run;
    std::int32_t last_sample = 0;
  };
  std::array<std::optional<KeptRun>, 2> runs;
  // Circuit values, power law and dither stream carried between protector commands.
  ProtectorCommandState protector_state;
  std::optional<ProtectResult> last_protection;
  std::optional<OverlayResult> last_overlay;
  // The spectrum range of the overlay (x from, x to, y from, y to), kept
  // while no new waveform asks for a new scale.
  std::array<float, 4> spectrum_range{};
  bool new_spectrum_scale = true;
  // Header cells typed but not yet processed.
  PendingGridEdits pending;

  // The file last chosen to open or import, as chosen.
  std::filesystem::path chosen_file;
  // Where the commands write their files (.TOB, .HAZ, protected waveforms):
  // the folder of the file opened or imported.
  std::filesystem::path output_folder;
  // The folder of the KRV file opened, empty after an import.
  std::filesystem::path krv_folder;
  // The folder of the KRV file last opened or saved: where the user works.
  std::filesystem::path work_folder;
  // Where the next open or import dialog starts.
  std::filesystem::path open_folder;
  // The folder the program started in.
  std::filesystem::path start_folder;

 signals:
  void WaveformChanged();
  void HeaderChanged();
  void ResultsChanged();
  void PictureChanged();

 private:
  void Emit();

  int batches_ = 0;
  unsigned pending_changes_ = 0;
  std::uint64_t revision_ = 0;
  render::Picture saved_picture_;
  std::uint64_t saved_revision_ = 0;
};

}  // namespace korva::ui
