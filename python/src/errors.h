// The package's exceptions: korva.Error for every failure the core reports,
// korva.FormatError and korva.RangeError (also ValueError) and korva.IoError
// (also OSError), translated from the core's error classes.
#pragma once

#include <pybind11/pybind11.h>

namespace korva::python {

void DefineErrors(pybind11::module_& m);

// korva.IoError, for failures the binding finds itself.
pybind11::handle IoErrorType();

}  // namespace korva::python
