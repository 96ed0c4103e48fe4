// The options of every command that reads a recording (import, shots,
// report): the channel, the part, the calibration to pascals and what a
// MATLAB file needs said. One parser, so the commands agree on names,
// checks and help.
#pragma once

#include <set>
#include <string>

#include "app/cli/command.h"
#include "core/recording/request.h"

namespace korva::cli {

// The options that take a value, to add to a command's own.
std::set<std::string> WithRecordingOptions(std::set<std::string> options);

// The lines of --help that describe them.
extern const char* const kRecordingOptionsHelp;

// How --rate is checked. Commands that write a KRV file take it as the
// header's rate, refused (exit status 1) by the grid's rule when it is not a
// number of at least 1; the others refuse it as bad usage.
enum class RateOption { kStrict, kHeaderEntry };

// The options of `args`; UsageError for a value that is not a number, a
// negative channel or time, an empty part, or options that exclude or need
// each other.
RecordingRequest ParseRecordingOptions(const Args& args, RateOption rate = RateOption::kStrict);

}  // namespace korva::cli
