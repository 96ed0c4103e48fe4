// The compiled part of the korva package. Every function converts its
// arguments, releases the interpreter lock, calls the core as korva-cli does
// and converts the result; nothing here computes on its own.
#include <pybind11/pybind11.h>

#include "python/src/analysis.h"
#include "python/src/errors.h"
#include "python/src/recording.h"
#include "python/src/waveform.h"

PYBIND11_MODULE(_korva, m) {
  m.doc() = "The compiled core of the korva package (import korva, not this module).";
  m.attr("__version__") = KORVA_VERSION;
  korva::python::DefineErrors(m);
  korva::python::DefineWaveform(m);
  korva::python::DefineAnalysis(m);
  korva::python::DefineRecording(m);
}
