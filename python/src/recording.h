// Field recordings from Python: korva.read_recording, korva.recording_info
// and the Recording and RecordingInfo they return.
#pragma once

#include <pybind11/pybind11.h>

namespace korva::python {

void DefineRecording(pybind11::module_& m);

}  // namespace korva::python
