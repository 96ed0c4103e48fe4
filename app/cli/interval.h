// The analysed interval of the commands that measure part of a waveform:
// milliseconds (--from, --to) or sample indices (--first, --last), the whole
// waveform by default.
#pragma once

#include "app/cli/command.h"
#include "core/analysis/analysis.h"

namespace korva::cli {

// The interval options of `args`; UsageError for mixed units, negative
// values or an end before the start.
IntervalRequest ReadInterval(const Args& args);

}  // namespace korva::cli
