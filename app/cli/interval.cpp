#include "app/cli/interval.h"

#include "core/common/error.h"

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

}  // namespace korva::cli
