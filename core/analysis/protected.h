// Hearing protectors in the analysis: the waveform a protector of the table
// lets through to the eardrum, predicted as the protector command predicts
// it but without rewriting the table or writing a file, run through the ear
// model (microphone location: eardrum) for each listener; and the criteria
// of a shot with the model's hazard, unprotected and under each protector.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/criteria/criteria.h"
#include "core/model/hazard.h"
#include "core/waveform/waveform.h"

namespace korva {

// The protectors an analysis runs under: default-mode records of one table.
struct ProtectorSet {
  std::filesystem::path table;
  std::filesystem::path seed_folder;  // where the table's seed files are
  std::vector<std::string> names;     // as the table names them, in the order asked
};

// The protectors of `table` (none: the data folder's, as the protect command
// finds it) named in `names`, taken as the protect command takes them (any
// case; '-', '.', '/' and the like may be '_'), or every default-mode record
// of the table when `all`; each once, in the order asked (the table's for
// `all`). Error naming the table for a name that is no default-mode record
// of it, or for `all` on a table that has none.
ProtectorSet ChooseProtectors(const std::optional<std::filesystem::path>& table,
                              std::span<const std::string> names, bool all);

// Whether a waveform was measured in the free field (microphone location 1
// or 4): the peak and energy criteria are defined on such a measurement, and
// the protector model takes the free-field pressure.
bool MeasuredInFreeField(std::int32_t mic_location);

// Why the peak and energy criteria and the protectors are left out for a
// waveform measured at `mic_location`; empty for a free-field measurement.
std::string NotFreeFieldNote(std::int32_t mic_location);

// The prediction at the eardrum under protector `name` of `set`, run through
// the ear model of `model_file` for each listener, the listeners one after
// the other (their cochlear places on `pool`). Error when the protector
// cannot be predicted or a run fails; Cancelled on a stop request.
ProtectedShot RunUnderProtector(const WaveformView& free_field, const ProtectorSet& set,
                                const std::string& name, const std::filesystem::path& model_file,
                                std::span<const Listener> listeners, ThreadPool* pool,
                                ProgressSink& progress);

// The criteria of a shot from its descriptors and the model's hazard of its
// listeners' runs (empty where a listener did not run), with one entry per
// protector asked for (its values empty where it was not run or failed).
// For a waveform not measured in the free field only the model's hazard is
// given.
ShotCriteria CriteriaOfAnalysedShot(const ImpulseDescriptors& descriptors,
                                    std::int32_t mic_location, ModelHazard model,
                                    std::span<const std::string> protectors,
                                    std::span<const std::optional<ProtectedShot>> runs);

}  // namespace korva
