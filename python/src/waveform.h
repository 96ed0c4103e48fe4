// The waveform Python holds is the core's waveform value (samples and the
// header that travels with them in a KRV file; a script may keep thousands);
// a session is made from it for each computation that needs one.
#pragma once

#include <pybind11/pybind11.h>

#include "core/waveform/waveform.h"

namespace korva::python {

// korva.Waveform, korva.read_krv, korva.write_krv, korva.import_recording.
void DefineWaveform(pybind11::module_& m);

}  // namespace korva::python
