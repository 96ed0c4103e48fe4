// korva-cli metrics: the Statistics read-out of the window for one interval
// of a KRV waveform: A-weighted and unweighted equivalent levels, the 8-hour
// equivalent of one exposure, the exposures allowed per day and the
// A-weighted sound exposure.
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/interval.h"
#include "app/cli/shots.h"
#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/common/numbers.h"

namespace korva::cli {
namespace {

void PrintText(const ShotReport& shot, std::ostream& out) {
  const Selection sel = shot.interval;
  const double ms = double{shot.dt} * 1000.0;
  out << shot.file << ": samples " << FormatInteger(sel.first) << " to " << FormatInteger(sel.last)
      << " (" << FormatFixed(sel.first * ms, 3) << " to " << FormatFixed(sel.last * ms, 3)
      << " ms)\n";
  PrintTextFields(shot, FieldsOf(FieldGroup::kMetric), out);
}

void PrintJson(const ShotReport& shot, std::ostream& out) {
  out << JsonObject(shot, FieldsOf(FieldGroup::kMetric)) << "\n";
}

int RunMetrics(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--from", "--to", "--first", "--last"}, {"--json"});
  if (args.Positional().empty()) throw UsageError("give at least one KRV file");
  AnalysisOptions options;
  options.listeners.clear();
  options.describe = false;  // the metrics alone, which take a one-sample interval too
  options.interval = ReadInterval(args);
  const bool json = args.Has("--json");
  int status = 0;
  for (const std::string& file : args.Positional()) {
    QuietProgress progress;
    const ShotReport shot = AnalyzeFile(file, options, progress);
    if (shot.failed()) {
      ReportFileError(file, shot.error, io);
      status = 1;
    } else if (json) {
      PrintJson(shot, io.out);
    } else {
      PrintText(shot, io.out);
    }
  }
  return status;
}

KORVA_CLI_COMMAND(
    {"metrics", "A-weighted and unweighted energy metrics over an interval of KRV waveforms",
     "Usage: korva-cli metrics FILE... [--from MS] [--to MS] [--first I] [--last J] [--json]\n"
     "Opens each FILE as the window's Open does and computes, over the interval,\n"
     "what the window's Statistics read-out shows:\n"
     "  LAeqInterval       A-weighted equivalent level over the interval, dB\n"
     "  LAeq8hr            the interval's A-weighted energy spread over 8 hours, dB\n"
     "  AllowedRounds      exposures allowed per day by 85 dB(A) with a 3 dB exchange\n"
     "  AWeightedExposure  A-weighted sound exposure, J/m^2 (rho c = 415 rayl)\n"
     "  LeqInterval        unweighted equivalent level over the interval, dB\n"
     "Levels follow the 94 dB for 1 Pa convention of the grid and the stored files\n"
     "(\"dB (94 dB = 1 Pa)\"; 0.02 dB above dB re 20 uPa).\n"
     "The equivalent levels divide the energy by the index difference of the\n"
     "interval's ends (by 1 for a one-sample interval). A silent interval has no\n"
     "level (n/a, null in JSON) and unlimited rounds (null in JSON).\n\n"
     "  --from MS, --to MS     the interval in milliseconds from the first sample,\n"
     "                         each taken to the nearest sample\n"
     "  --first I, --last J    the interval in sample indices (from 0)\n"
     "                         (default: the whole waveform; a missing end is the\n"
     "                         waveform's start or end)\n"
     "  --json                 one JSON object per file and line with exactly the\n"
     "                         five names above as keys, numbers at full precision\n"
     "Waveforms of more than 1,048,576 samples are refused. A file that cannot be\n"
     "read or measured is reported on stderr and the exit status is 1.\n",
     &RunMetrics});

}  // namespace
}  // namespace korva::cli
