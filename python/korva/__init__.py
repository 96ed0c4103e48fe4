"""KORVA: how dangerous an intense impulsive sound is for hearing, from Python.

A rifle shot, a blast or a starter pistol recorded as a pressure waveform goes
through a model of the ear (ear canal, middle ear with its reflex, cochlea);
the hazard of one exposure comes out in auditory risk units (A.R.U.), with the
allowed number of exposures for a listener who was warned of the sound and for
one who was not. Beside it: energy metrics, third-octave spectra and the
waveform predicted under a hearing protector. The same core as the korva
window and korva-cli computes everything, so a file gives the same numbers
here as there, to the last bit.

    import korva
    shot = korva.read_krv("SHOT.KRV")               # as the window's Open reads it
    result = korva.hazard(shot)                      # warned and unwarned listener
    print(result.warned.aru, result.unwarned.allowed)
    frame = korva.analyze_files(paths)               # one row per file (pandas)

Waveforms: Waveform, Waveform.from_array, read_krv, write_krv, import_recording.
Field recordings: read_recording (one channel in pascals), recording_info.
Analyses: hazard, metrics, describe, spectrum, protect (with protectors), default_model.
Batches: analyze_files, on local threads or a dask.distributed cluster.
Errors: Error, with FormatError and RangeError (also ValueError) and IoError
(also OSError). Every computation releases the interpreter lock, so threads
run in parallel; Ctrl-C stops a run at its next progress point.
"""

import os as _os

from korva import _data_dir, _korva
from korva._korva import (
    Error,
    FormatError,
    HazardResult,
    IoError,
    ListenerResult,
    RangeError,
    Recording,
    RecordingInfo,
    Spectrum,
    Waveform,
    __version__,
    default_model,
    describe,
    hazard,
    import_recording,
    metrics,
    protect,
    protectors,
    read_krv,
    read_recording,
    recording_info,
    spectrum,
    write_krv,
)
from korva.batch import COLUMNS, analyze_files

# The data folder installed with the package takes the place of the one a
# program finds beside itself.
_korva._set_program_data_dir(_os.path.join(_os.path.dirname(__file__), _data_dir.DATA_DIR))

__all__ = [
    "COLUMNS",
    "Error",
    "FormatError",
    "HazardResult",
    "IoError",
    "ListenerResult",
    "RangeError",
    "Recording",
    "RecordingInfo",
    "Spectrum",
    "Waveform",
    "analyze_files",
    "default_model",
    "describe",
    "hazard",
    "import_recording",
    "metrics",
    "protect",
    "protectors",
    "read_krv",
    "read_recording",
    "recording_info",
    "spectrum",
    "write_krv",
]
