#include "core/analysis/protected.h"

#include <algorithm>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/protection/hpd_table.h"
#include "core/protection/protect_command.h"

namespace korva {

ProtectorSet ChooseProtectors(const std::optional<std::filesystem::path>& table,
                              std::span<const std::string> names, bool all) {
  const ProtectorTableChoice choice = ChooseProtectorTable(table);
  ProtectorSet set{choice.table, choice.seed_folder, {}};
  const std::string file = choice.table.string();
  const ProtectorTable records = ReadProtectorTable(choice.table);
  const auto add = [&set](const std::string& name) {
    if (std::find(set.names.begin(), set.names.end(), name) == set.names.end()) {
      set.names.push_back(name);
    }
  };
  if (all) {
    for (const int index : records.DefaultModeItems()) {
      add(records.records[static_cast<std::size_t>(index)].name);
    }
    if (set.names.empty()) throw Error(WithFile(file, "the table has no default-mode protector"));
    return set;
  }
  for (const std::string& name : names) {
    const std::optional<int> record = records.FindDefaultMode(name);
    if (!record) {
      throw Error(WithFile(file, "no default-mode protector named \"" + name + "\""));
    }
    add(records.records[static_cast<std::size_t>(*record)].name);
  }
  return set;
}

bool MeasuredInFreeField(std::int32_t mic_location) {
  return mic_location == 1 || mic_location == 4;
}

std::string NotFreeFieldNote(std::int32_t mic_location) {
  if (MeasuredInFreeField(mic_location)) return "";
  return "measured at microphone location " + FormatInteger(mic_location) + " (" +
         MicLocationName(mic_location) +
         "), not in the free field: the peak and energy criteria and the protectors are left out";
}

ProtectedShot RunUnderProtector(const WaveformView& free_field, const ProtectorSet& set,
                                const std::string& name, const std::filesystem::path& model_file,
                                std::span<const Listener> listeners, ThreadPool* pool,
                                ProgressSink& progress) {
  const std::optional<int> record = ReadProtectorTable(set.table).FindDefaultMode(name);
  if (!record) {
    throw Error(WithFile(set.table.string(), "no default-mode protector named \"" + name + "\""));
  }
  ProtectOptions options;
  options.table = set.table;
  options.seed_folder = set.seed_folder;
  options.record_index = *record;
  options.expected_name = name;
  options.write_files = false;
  // Every prediction starts from the state of a fresh program, so that a
  // protector's result does not depend on which were predicted before it.
  ProtectorCommandState state;
  const Session session = SessionOf(free_field);
  // The prediction takes about as long as the runs of both listeners.
  const long long runs = static_cast<long long>(listeners.size());
  const long long total = 2 + runs;
  StageProgress predicting(progress, 0, 2, total);
  const ProtectResult predicted =
      GetHPDData(session, state, ReadEarModelFile(model_file), options, predicting);
  const Waveform eardrum = WaveformOf(ProtectedWaveform(session, predicted.eardrum));

  ProtectedShot shot;
  shot.protector = name;
  shot.eardrum_peak_db = PeakLevel(predicted.peak_eardrum);
  for (std::size_t k = 0; k < listeners.size(); ++k) {
    HazardRunOptions run;
    run.listener = listeners[k];
    run.model_file = model_file;
    run.keep_movie = false;
    run.write_place_table = false;
    run.pool = pool;
    Session at_eardrum = SessionOf(eardrum);
    const auto from = static_cast<long long>(2 + k);
    StageProgress running(progress, from, from + 1, total);
    const double aru = RunHazardAnalysis(at_eardrum, run, running).cochlea.TotalHazardARU;
    (listeners[k] == Listener::Warned ? shot.hazard.warned_aru : shot.hazard.unwarned_aru) = aru;
  }
  return shot;
}

ShotCriteria CriteriaOfAnalysedShot(const ImpulseDescriptors& descriptors,
                                    std::int32_t mic_location, ModelHazard model,
                                    std::span<const std::string> protectors,
                                    std::span<const std::optional<ProtectedShot>> runs) {
  ShotCriteria criteria = CriteriaOfShot(
      MeasuredInFreeField(mic_location) ? descriptors : ImpulseDescriptors{}, std::move(model));
  for (std::size_t p = 0; p < protectors.size(); ++p) {
    if (p < runs.size() && runs[p]) {
      criteria.protectors.push_back(*runs[p]);
    } else {
      criteria.protectors.push_back(ProtectedShot{protectors[p], {}, std::nullopt});
    }
  }
  return criteria;
}

}  // namespace korva
