#include "core/model/hazard.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/header_cells.h"

namespace korva {
namespace {

// Man.Fig names the parameter file in at most this many characters.
constexpr std::size_t kManFigNameLength = 12;

std::string Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// The table goes next to the waveform when that folder is the user's: the
// examples installed with the program stay as they were installed.
bool MayWritePlaceTable(const std::filesystem::path& folder) {
  const std::filesystem::path dir = folder.empty() ? std::filesystem::path(".") : folder;
  return ::access(dir.c_str(), W_OK | X_OK) == 0 && !InProgramDataDir(dir);
}

}  // namespace

const char* ListenerName(Listener listener) {
  return listener == Listener::Warned ? "warned" : "unwarned";
}

const char* MicLocationName(std::int32_t location) {
  switch (location) {
    case 2:
      return "ear-canal entrance";
    case 3:
      return "eardrum";
    default:
      return "free field";
  }
}

std::optional<EarVariant> VariantForLocation(long long location) {
  switch (location) {
    case 1:
    case 4:
      return EarVariant::FreeField;
    case 2:
      return EarVariant::CanalEntrance;
    case 3:
      return EarVariant::Eardrum;
    default:
      return std::nullopt;
  }
}

std::string TrimLeadingChar(std::string_view text, char c) {
  while (!text.empty() && text.front() == c) text.remove_prefix(1);
  return std::string(text);
}

std::string HazardText(float total_hazard_aru) {
  const double h = total_hazard_aru;
  const int decimals = h < 1.0 ? 4 : h < 10.0 ? 3 : h < 100.0 ? 2 : h < 1000.0 ? 1 : 0;
  return TrimLeadingChar(FormatFixed(h, 12, decimals), ' ');
}

std::optional<double> AllowedExposures(double total_hazard_aru) {
  if (total_hazard_aru == 0.0) return std::nullopt;
  return 500.0 / total_hazard_aru;
}

std::string AllowedExposuresText(float total_hazard_aru) {
  const std::optional<double> allowed = AllowedExposures(total_hazard_aru);
  return allowed ? FormatFixed(*allowed, 1) : "unlimited";
}

std::filesystem::path ModelFileFromManFig(const std::filesystem::path& data_dir) {
  const std::filesystem::path fig =
      FindCaseInsensitive(data_dir, "Man.Fig").value_or(data_dir / "Man.Fig");
  const std::string text = ReadWholeFile(fig, 1 << 16);
  std::string_view first(text);
  first = first.substr(0, first.find('\n'));
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  std::string name = Trim(first.substr(0, kManFigNameLength));
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty()) {
    throw FormatError(WithFile(fig.string(), "the first line must name the ear-model file"));
  }
  return ResolveCaseInsensitive(data_dir / name);
}

std::filesystem::path ChooseModelFile(const std::filesystem::path& chosen,
                                      const std::filesystem::path& data_dir) {
  if (!chosen.empty()) return chosen;
  if (!data_dir.empty()) return ModelFileFromManFig(data_dir);
  const std::optional<std::filesystem::path> dir = FindDataDir("Man.Fig");
  if (!dir) {
    throw IoError(
        "Man.Fig not found in the current folder, in $KORVA_DATA_DIR or in the data folder, "
        "so the ear-model parameter file is unknown");
  }
  return ModelFileFromManFig(*dir);
}

HazardPlan PlanHazardRun(const Session& session, const HazardRunOptions& options) {
  if (!session.WaveformLoaded) {
    throw Error("The hazard analysis needs a waveform opened from a KRV file; open it again");
  }
  const std::optional<long long> location = MicLocationCell(session.Grid);
  const std::optional<EarVariant> variant = location ? VariantForLocation(*location) : std::nullopt;
  if (!variant) throw Error(kBadLocationMessage);
  const std::int32_t last = session.LastSample;
  if (last < 1) throw Error("The hazard analysis needs a waveform of at least 2 samples");
  if (FftLengthFor(last + 1) > kMaxFftLength) {
    // Longer records would round up to a transform beyond the largest one.
    const auto most = static_cast<long long>(std::floor(std::exp2(std::log2(kMaxFftLength) + 0.5)));
    throw Error("The waveform is too long for the hazard analysis: at most " + FormatInteger(most) +
                " samples");
  }
  if (!(session.SampleInterval > 0.0f) || !std::isfinite(session.SampleInterval)) {
    throw Error("The sampling interval of the waveform must be a positive number");
  }
  if (session.SampleCapacity() <= last) throw RangeError();

  HazardPlan plan;
  plan.listener = options.listener;
  plan.variant = *variant;
  plan.MicLocation = static_cast<std::int32_t>(*location);
  plan.ModelStateCount = StateCount(*variant);
  plan.LastSample = last;
  plan.SampleInterval = session.SampleInterval;
  // Every run starts from the parameters on disk.
  plan.model = LoadEarModel(ChooseModelFile(options.model_file));
  plan.ReflexOffset = options.listener == Listener::Warned
                          ? kWarnedReflexOffset
                          : plan.model.params.UnwarnedReflexDelay();
  plan.timing = ComputeReflexTiming(plan.ReflexOffset, plan.SampleInterval,
                                    plan.model.params.ReflexTimeConstant());
  plan.keep_movie = options.keep_movie;
  plan.keep_stapes = options.keep_stapes;
  plan.pool = options.pool;
  if (options.write_place_table && MayWritePlaceTable(session.WaveformDir) &&
      !session.BaseName.empty()) {
    // An existing table of the waveform is replaced whatever the case of its name.
    plan.place_table = ResolveCaseInsensitive(
        std::filesystem::path(session.WaveformDir.empty() ? "." : session.WaveformDir) /
        (session.BaseName + ".HAZ"));
  }
  return plan;
}

void PrepareHazardSession(const HazardPlan& plan, Session& session) {
  const std::int32_t last = plan.LastSample;
  if (session.LastSample != last || session.SampleInterval != plan.SampleInterval) {
    throw Error("The waveform has changed since the hazard run was prepared; run it again");
  }
  // Analyse the waveform as it was opened, from its first sample. An edit
  // that lengthened it since (Establish Start, the sample count) adds
  // samples the opened waveform never had: they are zeros.
  const std::int32_t held = std::min(last + 1, session.LoadedPressure.size());
  const auto loaded = std::as_const(session.LoadedPressure).Range(0, held - 1);
  const auto pressure = session.Pressure.Range(0, last);
  std::copy(loaded.begin(), loaded.end(), pressure.begin());
  std::fill(pressure.begin() + held, pressure.end(), 0.0f);
  session.StartTime = 0.0f;
  session.EndTime = static_cast<float>(last * double{session.SampleInterval});
}

HazardRunResult RunHazardPlan(const HazardPlan& plan, Session& session, ProgressSink& progress) {
  PrepareHazardSession(plan, session);
  session.MovieAvailable = false;
  const std::int32_t last = plan.LastSample;

  HazardRunResult result;
  result.listener = plan.listener;
  result.variant = plan.variant;
  result.MicLocation = plan.MicLocation;
  result.ModelStateCount = plan.ModelStateCount;
  result.ReflexOffset = plan.ReflexOffset;
  result.timing = plan.timing;
  result.parameters = plan.model.params;

  StageProgress ear_progress(progress, 0, 950, 1000);
  IntegrationOptions integration;
  integration.pool = plan.pool;
  result.middle_ear =
      RunMiddleEarModel(plan.variant, plan.model, plan.timing, session.SampleInterval,
                        std::as_const(session.Pressure).Range(0, last),
                        session.StapesDisplacement.Range(0, last), ear_progress, integration);
  if (plan.keep_stapes) {
    const auto stapes = std::as_const(session.StapesDisplacement).Range(0, last);
    result.stapes.assign(stapes.begin(), stapes.end());
  }

  if (plan.keep_movie) {
    result.movie = std::make_shared<MovieBuffer>(FftLengthFor(last + 1) + 4);
  }
  StageProgress cochlea_progress(progress, 950, 1000, 1000);
  result.cochlea =
      CochlearModel(plan.model, session, result.movie.get(), cochlea_progress, plan.pool);

  const float aru = result.cochlea.TotalHazardARU;
  result.HazardText = HazardText(aru);
  result.AllowedText = AllowedExposuresText(aru);
  result.PlaceTable = PlaceTableText(plan.model.params, result.cochlea);

  if (!plan.place_table.empty()) {
    WriteFileAtomically(plan.place_table, result.PlaceTable);
    result.place_table_path = plan.place_table;
  }

  // Both captions follow the location: free-field recordings (1 and 4) were
  // made without a protector, the others under the selected one.
  const bool free_field = plan.variant == EarVariant::FreeField;
  session.Grid.Cell(0, 5) = free_field ? "Number of exposures with no protector, warned"
                                       : "Number of exposures with selected protector, warned";
  session.Grid.Cell(0, 6) = free_field ? "Number of exposures with no protector, unwarned"
                                       : "Number of exposures with selected protector, unwarned";
  const int row = plan.listener == Listener::Warned ? 5 : 6;
  session.Grid.Cell(1, row) = result.AllowedText;
  session.Grid.Cell(2, row) = result.HazardText + " A.R.U.";
  session.MovieAvailable = true;
  return result;
}

HazardRunResult RunHazardAnalysis(Session& session, const HazardRunOptions& options,
                                  ProgressSink& progress) {
  return RunHazardPlan(PlanHazardRun(session, options), session, progress);
}

}  // namespace korva
