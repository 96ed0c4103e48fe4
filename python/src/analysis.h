// The analyses over a Waveform: korva.hazard, korva.metrics, korva.spectrum,
// korva.protect, and the one-file row of korva.analyze_files.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis/series.h"
#include "python/src/interrupt.h"

namespace korva::python {

void DefineAnalysis(pybind11::module_& m);

// The rows korva-cli report gives for one input (a KRV file, a recording
// whole or each of its shots), as dicts under the columns of analyze_files,
// on this process's pool; the listener and model as hazard() takes them,
// the protectors and their table as criteria() takes them.
// A stop request (the token, Ctrl-C) raises KeyboardInterrupt.
pybind11::list AnalyzeInputRows(const std::string& path, const std::string& listener,
                                const std::optional<std::filesystem::path>& model,
                                const StopToken* token, const InputOptions& inputs,
                                const std::vector<std::string>& protectors,
                                const std::optional<std::filesystem::path>& table);

}  // namespace korva::python
