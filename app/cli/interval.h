// The analysed interval of the commands that measure part of a waveform:
// milliseconds (--from, --to) or sample indices (--first, --last), the whole
// waveform by default.
#pragma once

#include <optional>

#include "app/cli/command.h"
#include "core/metrics/edits.h"
#include "core/waveform/session.h"

namespace korva::cli {

struct IntervalRequest {
  std::optional<double> from_ms, to_ms;
  std::optional<long long> first, last;
};

// The interval options of `args`; UsageError for mixed units, negative
// values or an end before the start.
IntervalRequest ReadInterval(const Args& args);

// Sample indices of the request on this waveform; the whole waveform by
// default. Times are taken to the nearest sample. Error when the interval
// lies outside the waveform.
Selection ResolveInterval(const IntervalRequest& request, const Session& session);

}  // namespace korva::cli
