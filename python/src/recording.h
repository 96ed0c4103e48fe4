// Field recordings from Python: korva.read_recording, korva.recording_info
// and the Recording and RecordingInfo they return.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "core/recording/calibration.h"
#include "core/recording/recording.h"

namespace korva::python {

// What korva.Recording holds: one channel, or a part of it, in pascals.
struct Recording {
  RecordingInfo info;
  int channel = 0;
  FrameRange range;
  Calibration calibration;
  std::vector<float> samples;
};

void DefineRecording(pybind11::module_& m);

}  // namespace korva::python
