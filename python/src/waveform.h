// The waveform Python holds: the samples and the header that travels with
// them in a KRV file, without the session's fixed-capacity arrays (a script
// may keep thousands). A session is built from it for each computation.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/waveform/session.h"

namespace korva::python {

struct Waveform {
  std::vector<float> samples;
  float SampleRate = 0.0f;
  float SampleInterval = 0.0f;
  std::int32_t MicLocation = 1;
  std::string WaveformTitle;
  // Extremes as the reader or importer found them (the protector's dither
  // follows them), not necessarily those of the samples.
  float PeakPressure = 0.0f;
  float MinPressure = 0.0f;
  HeaderGrid Grid;
  int HeaderLastRow = 4;
};

// Samples 0..LastSample and the header of a session.
Waveform FromSession(const Session& session);

// A session holding the waveform as if it had just been opened: Pressure and
// LoadedPressure hold the samples, the grid and the timing are the
// waveform's, the whole waveform is selected. RangeError when the samples
// exceed the session's capacity.
Session ToSession(const Waveform& waveform);

// korva.Waveform, korva.read_krv, korva.write_krv, korva.import_recording.
void DefineWaveform(pybind11::module_& m);

}  // namespace korva::python
