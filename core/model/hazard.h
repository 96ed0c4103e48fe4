// The hazard analysis as the window's two Analyze commands and the CLI run
// it: reload the ear model, analyse the waveform as opened (not as edited),
// run the middle ear chosen by the microphone location and the cochlea, and
// report the hazard, the allowed number of exposures and the grid rows.
//
// The routine works on one Session; several analyses may run at once on
// separate Session copies (nothing here is shared or global).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/model/cochlea.h"
#include "core/model/ear_model.h"
#include "core/model/middle_ear.h"
#include "core/model/reflex.h"
#include "core/waveform/session.h"

namespace korva {

// A warned listener's reflex is already active when the sound arrives; an
// unwarned listener's starts after the delay of the parameter file.
enum class Listener { Warned, Unwarned };

// "warned" / "unwarned".
const char* ListenerName(Listener listener);

// Where a listener's result goes in a pair of them: warned 0, unwarned 1.
constexpr std::size_t ListenerSlot(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

// The middle-ear variant for a microphone location (header cell (1, 3)):
// 1 and 4 free field, 2 ear-canal entrance, 3 eardrum; nothing otherwise.
std::optional<EarVariant> VariantForLocation(long long location);

// "free field", "ear-canal entrance" or "eardrum": where the middle ear of a
// run starts for a microphone location (anything but 2 and 3 as free field).
const char* MicLocationName(std::int32_t location);

// The message for a location outside 1..4.
inline constexpr const char* kBadLocationMessage =
    "Microphone location (header row 3) must be 1, 2, 3 or 4";

// Removes every leading `c` from `text`.
std::string TrimLeadingChar(std::string_view text, char c);

// The hazard as shown: 4 decimals below 1, 3 below 10, 2 below 100, 1 below
// 1000, none from 1000 on, without leading blanks ("0.0123", "40", "1234").
std::string HazardText(float total_hazard_aru);

// The allowed number of exposures, 500 / hazard; nothing for a hazard of 0,
// where no number would be true.
std::optional<double> AllowedExposures(double total_hazard_aru);

// The same with one decimal ("40518.6"); "unlimited" for a hazard of 0.
std::string AllowedExposuresText(float total_hazard_aru);

// The ear-model file named by a "Man.Fig" in `data_dir`: its first line (at
// most 12 characters, trimmed) is the file name, resolved case-insensitively
// in the same folder. IoError when Man.Fig cannot be read, FormatError when
// its first line is empty.
std::filesystem::path ModelFileFromManFig(const std::filesystem::path& data_dir);

// The ear-model parameter file of a run, by the one rule every front end
// follows: `chosen` when it is not empty; else the file Man.Fig names in
// `data_dir` when that is given (the window's start-up data folder); else the
// one Man.Fig names in the current folder, $KORVA_DATA_DIR or the program's
// data folder. IoError with a clear message when there is none.
std::filesystem::path ChooseModelFile(const std::filesystem::path& chosen = {},
                                      const std::filesystem::path& data_dir = {});

struct HazardRunOptions {
  Listener listener = Listener::Warned;
  // The ear-model parameter file, re-read for every run (empty: ChooseModelFile()).
  std::filesystem::path model_file;
  // Fill a movie buffer for the replay (FftLength + 4 rows of 25 singles).
  bool keep_movie = true;
  // Write BASENAME.HAZ next to the waveform when its folder is writable and
  // not the program's own data folder.
  bool write_place_table = true;
  // Keep the stapes displacement of the middle ear (the cochlea reuses its
  // buffer).
  bool keep_stapes = false;
  // Threads for the parts of the run that can proceed side by side (the
  // cochlear places; the middle ear's passes when a worker is idle); none:
  // everything on the calling thread.
  ThreadPool* pool = nullptr;
};

struct HazardRunResult {
  Listener listener = Listener::Warned;
  EarVariant variant = EarVariant::FreeField;
  std::int32_t MicLocation = 1;
  std::int32_t ModelStateCount = 24;
  float ReflexOffset = 0.0f;
  ReflexTiming timing;
  MiddleEarStats middle_ear;
  CochlearResult cochlea;         // TotalHazardARU, SectionHazard, WorstSection, FftLength
  EarModelParameters parameters;  // as read for the run (the movie replays with them)
  std::string HazardText;
  std::string AllowedText;
  std::string PlaceTable;                  // the .HAZ content
  std::filesystem::path place_table_path;  // empty when not written
  std::shared_ptr<MovieBuffer> movie;      // null unless keep_movie
  std::vector<float> stapes;               // um, samples 0..LastSample; empty unless keep_stapes
};

// Everything a hazard run decides before it starts: the middle-ear variant,
// the parameter file as read for it, the reflex timing (which the window also
// draws) and the place table it will write. Made by PlanHazardRun, which
// owns every check of the run.
struct HazardPlan {
  Listener listener = Listener::Warned;
  EarVariant variant = EarVariant::FreeField;
  std::int32_t MicLocation = 1;
  std::int32_t ModelStateCount = 24;
  std::int32_t LastSample = 0;
  float SampleInterval = 0.0f;
  EarModelConstants model;
  float ReflexOffset = 0.0f;
  ReflexTiming timing;
  bool keep_movie = true;
  bool keep_stapes = false;
  std::filesystem::path place_table;  // BASENAME.HAZ to write; empty for none
  ThreadPool* pool = nullptr;         // as in HazardRunOptions
};

// Checks that `session` can be analysed and reads the parameter file; changes
// nothing. Refuses a session without a waveform opened from a KRV file
// (WaveformLoaded), a microphone location that is not a whole number from 1
// to 4, fewer than 2 samples, a waveform longer than the cochlea takes and a
// sampling interval that is not a positive number (Error); a parameter file
// that cannot be read or used (IoError, FormatError).
HazardPlan PlanHazardRun(const Session& session, const HazardRunOptions& options);

// The waveform as the run analyses it: LoadedPressure[0..LastSample] copied
// over Pressure (edits since the opening are not analysed; samples past the
// opened waveform are zeros) and the full-range display times. Error when the session no longer
// matches the plan.
void PrepareHazardSession(const HazardPlan& plan, Session& session);

// Runs a plan on the session it was made for: prepares it, runs the middle
// ear into StapesDisplacement and the cochlea, writes the place table
// (atomically, after the last checkpoint), and writes the captions of grid
// rows 5 and 6 and the result row (5 warned, 6 unwarned). MovieAvailable is
// set only when the run succeeded. Progress runs from 0 to 1000; a stop
// request ends the run with Cancelled and no table written. After an error
// or a stop the session holds the prepared waveform: callers that must keep
// theirs run on a copy.
HazardRunResult RunHazardPlan(const HazardPlan& plan, Session& session, ProgressSink& progress);

// PlanHazardRun and RunHazardPlan in one call: what a run without a
// window does.
HazardRunResult RunHazardAnalysis(Session& session, const HazardRunOptions& options,
                                  ProgressSink& progress);

}  // namespace korva
