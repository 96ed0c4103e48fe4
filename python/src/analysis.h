// The analyses over a Waveform: korva.hazard, korva.metrics, korva.spectrum,
// korva.protect, and the one-file row of korva.analyze_files.
#pragma once

#include <pybind11/pybind11.h>

namespace korva::python {

void DefineAnalysis(pybind11::module_& m);

}  // namespace korva::python
