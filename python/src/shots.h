// The shots of a recording from Python: korva.find_shots, the Shot it
// returns, and one input's rows of korva.analyze_files.
#pragma once

#include <pybind11/pybind11.h>

namespace korva::python {

void DefineShots(pybind11::module_& m);

}  // namespace korva::python
