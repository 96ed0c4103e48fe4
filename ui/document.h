// What the window works on: the analysis session and everything the commands
// leave for the commands after them. Plain data: the window's commands read it,
// copy what a computation needs to a worker thread, and write the results back
// when the computation has succeeded.
//
// The folders are kept here, not in the process's current folder: commands
// write their tables next to the waveform they analyse, whatever folder the
// program was started in or has since been deleted.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/metrics/edits.h"
#include "core/model/hazard.h"
#include "core/protection/overlay.h"
#include "core/protection/protect_command.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/session.h"

namespace korva::ui {

struct Document {
  explicit Document(std::int32_t capacity) : session(capacity) {}

  Session session;
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

  // The folder Save As proposes: that of the opened KRV file, else the last
  // folder a KRV file was opened from or saved to, else the start folder.
  std::filesystem::path SaveAsFolder() const {
    if (!krv_folder.empty()) return krv_folder;
    return work_folder.empty() ? start_folder : work_folder;
  }
};

}  // namespace korva::ui
