#include "app/cli/interval.h"

#include <cmath>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/metrics/interval_metrics.h"

namespace korva::cli {

IntervalRequest ReadInterval(const Args& args) {
  IntervalRequest r{args.Number("--from"), args.Number("--to"), args.Integer("--first"),
                    args.Integer("--last")};
  if ((r.from_ms || r.to_ms) && (r.first || r.last)) {
    throw UsageError(
        "give the interval either in milliseconds (--from, --to) or in samples "
        "(--first, --last), not both");
  }
  for (const auto& ms : {r.from_ms, r.to_ms}) {
    if (ms && *ms < 0.0) throw UsageError("interval times are milliseconds from 0 on");
  }
  for (const auto& index : {r.first, r.last}) {
    if (index && *index < 0) throw UsageError("sample indices count from 0");
  }
  if (r.from_ms && r.to_ms && *r.from_ms > *r.to_ms) {
    throw UsageError("--from must not lie after --to");
  }
  if (r.first && r.last && *r.first > *r.last) {
    throw UsageError("--first must not lie after --last");
  }
  return r;
}

Selection ResolveInterval(const IntervalRequest& r, const Session& s) {
  const double dt = s.SampleInterval;
  auto index_of = [&](double ms) { return std::nearbyint(ms * 0.001 / dt); };
  double first = 0.0;
  double last = s.LastSample;
  if (r.from_ms) first = index_of(*r.from_ms);
  if (r.to_ms) last = index_of(*r.to_ms);
  if (r.first) first = static_cast<double>(*r.first);
  if (r.last) last = static_cast<double>(*r.last);
  return IntervalWithin(s.LastSample, s.SampleInterval, first, last);
}

}  // namespace korva::cli
