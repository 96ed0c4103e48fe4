// korva-cli metrics: the Statistics read-out of the window for one interval
// of a KRV waveform: A-weighted and unweighted equivalent levels, the 8-hour
// equivalent of one exposure, the exposures allowed per day and the
// A-weighted sound exposure.
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/interval.h"
#include "app/cli/json.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/metrics/interval_metrics.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

void PrintText(const std::string& file, const Session& s, Selection sel, const IntervalResults& r,
               std::ostream& out) {
  const double dt = s.SampleInterval;
  auto fixed = [](const std::optional<double>& v, const char* unit, const char* otherwise) {
    return v ? FormatFixed(*v, 3) + unit : std::string(otherwise);
  };
  out << file << ": samples " << FormatInteger(sel.first) << " to " << FormatInteger(sel.last)
      << " (" << FormatFixed(sel.first * dt * 1000.0, 3) << " to "
      << FormatFixed(sel.last * dt * 1000.0, 3) << " ms)\n"
      << "  LAeqInterval       " << fixed(r.LAeqInterval, " dB", "n/a (silent interval)") << "\n"
      << "  LAeq8hr            " << fixed(r.LAeq8hr, " dB", "n/a (silent interval)") << "\n"
      << "  AllowedRounds      " << fixed(r.AllowedRounds, "", "unlimited") << "\n"
      << "  AWeightedExposure  " << FormatShortest(r.AWeightedExposure) << " J/m^2\n"
      << "  LeqInterval        " << fixed(r.LeqInterval, " dB", "n/a (silent interval)") << "\n";
}

void PrintJson(const IntervalResults& r, std::ostream& out) {
  out << "{\"LAeqInterval\": " << JsonNumber(r.LAeqInterval)
      << ", \"LAeq8hr\": " << JsonNumber(r.LAeq8hr)
      << ", \"AllowedRounds\": " << JsonNumber(r.AllowedRounds)
      << ", \"AWeightedExposure\": " << FormatShortest(r.AWeightedExposure)
      << ", \"LeqInterval\": " << JsonNumber(r.LeqInterval) << "}\n";
}

int RunMetrics(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--from", "--to", "--first", "--last"}, {"--json"});
  if (args.Positional().empty()) throw UsageError("give at least one KRV file");
  const IntervalRequest request = ReadInterval(args);
  const bool json = args.Has("--json");
  return ForEachWaveform(args.Positional(), io, [&](const std::string& file, Session& session) {
    const Selection sel = ResolveInterval(request, session);
    const IntervalResults results = IntervalMetrics(session.Pressure.Range(0, session.LastSample),
                                                    session.SampleInterval, sel.first, sel.last);
    if (json) {
      PrintJson(results, io.out);
    } else {
      PrintText(file, session, sel, results, io.out);
    }
  });
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
