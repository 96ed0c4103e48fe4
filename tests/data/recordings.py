#!/usr/bin/python3
"""Recordings for the tests of the recording reader, written by tools other
than KORVA: libsndfile through python3-soundfile, scipy.io.savemat for MAT v5
and h5py for MAT v7.3.

    recordings.py fixtures DIR [--frames N]   every format, with known samples
    recordings.py tone PATH FREQ AMPLITUDE [--rate R] [--seconds S]
                  [--subtype PCM_16] [--channels C] [--step-db D]

Samples follow pattern(): integers of the file's width for integer
encodings, multiples of 1/1024 (exact in any float) for floating point, so a
reader's output can be compared exactly. The tests compute the same pattern.
"""

import argparse
import pathlib

import numpy
import soundfile

FRAMES = 1000


def pattern(frames, channels, bits=None):
    """Sample of frame f, channel c: an integer of `bits` bits, or k/1024."""
    f = numpy.arange(frames, dtype=numpy.int64)[:, None]
    c = numpy.arange(channels, dtype=numpy.int64)[None, :]
    if bits is None:
        return (((f * 37 + c * 1009) % 2001) - 1000) / 1024.0
    span = 1 << bits
    return ((f * 7919 + c * 104729 + 12345) % span) - span // 2


# name, libsndfile format, subtype, channels, rate; integer width or None.
SOUND_FILES = [
    ("pcm16.wav", "WAV", "PCM_16", 1, 48000, 16),
    ("pcm24x4.wav", "WAVEX", "PCM_24", 4, 192000, 24),
    ("pcm32.wav", "WAV", "PCM_32", 2, 96000, 32),
    ("u8.wav", "WAV", "PCM_U8", 2, 8000, 8),
    ("float3.wav", "WAV", "FLOAT", 3, 200000, None),
    ("double.w64", "W64", "DOUBLE", 2, 200000, None),
    ("pcm24.rf64", "RF64", "PCM_24", 2, 200000, 24),
    ("pcm16.flac", "FLAC", "PCM_16", 1, 44100, 16),
    ("pcm24x8.flac", "FLAC", "PCM_24", 8, 192000, 24),
    ("pcm24.aiff", "AIFF", "PCM_24", 2, 96000, 24),
    ("float.aifc", "AIFF", "FLOAT", 2, 48000, None),
    ("pcm16.caf", "CAF", "PCM_16", 2, 48000, 16),
    ("double.caf", "CAF", "DOUBLE", 1, 50000, None),
]


def write_sound(path, fmt, subtype, channels, rate, bits, frames=FRAMES):
    values = pattern(frames, channels, bits)
    # soundfile hands integers to libsndfile left-justified in the type it
    # writes with: 8 and 16 bits through int16, 24 and 32 bits through int32.
    if bits is None:
        data = values
    elif bits <= 16:
        data = (values << (16 - bits)).astype(numpy.int16)
    else:
        data = (values << (32 - bits)).astype(numpy.int32)
    soundfile.write(str(path), data, rate, subtype=subtype, format=fmt)


def matlab_class(dataset, name):
    """The MATLAB_class attribute as MATLAB writes it: a null-terminated string."""
    import h5py

    kind = h5py.h5t.C_S1.copy()
    kind.set_size(len(name))
    kind.set_strpad(h5py.h5t.STR_NULLTERM)
    attribute = h5py.h5a.create(dataset.id, b"MATLAB_class", kind, h5py.h5s.create(h5py.h5s.SCALAR))
    attribute.write(numpy.array(name.encode(), dtype="S%d" % len(name)), mtype=kind)


def write_mat73(path, variables):
    """A MATLAB v7.3 file: HDF5 behind MATLAB's 512-byte header; arrays are
    stored transposed (a MATLAB N x C matrix is a C x N dataset)."""
    import h5py

    with h5py.File(path, "w", userblock_size=512) as f:
        for name, value in variables.items():
            array = numpy.atleast_2d(numpy.asarray(value))
            dataset = f.create_dataset(name, data=array.T)
            matlab_class(dataset, {"float64": "double", "int16": "int16"}[str(array.dtype)])
    header = b"MATLAB 7.3 MAT-file, Platform: GLNXA64, Created by the KORVA tests HDF5 schema 1.00 ."
    with open(path, "r+b") as f:
        f.write(header.ljust(116, b" ") + bytes(8) + b"\x00\x02IM")


def fixtures(folder, frames=FRAMES):
    import scipy.io

    folder = pathlib.Path(folder)
    for name, fmt, subtype, channels, rate, bits in SOUND_FILES:
        write_sound(folder / name, fmt, subtype, channels, rate, bits, frames)
    # MATLAB: channels as columns (int16), as rows (double, compressed),
    # and v7.3 with the rate in a variable.
    scipy.io.savemat(
        folder / "columns.mat",
        {"rec": pattern(frames, 3, 16).astype(numpy.int16), "fs": 48000.0, "label": "range 3",
         "notes": numpy.array([["a"], [1.0]], dtype=object)},
    )
    scipy.io.savemat(folder / "rows.mat", {"data": pattern(frames, 2).T, "Fs": 25600.0},
                     do_compression=True)
    write_mat73(folder / "v73.mat", {"rec": pattern(frames, 2), "fs": 200000.0})
    # A float recording with a NaN at frame 700 of channel 1, and one without samples.
    bad = pattern(max(frames, 701), 2)
    bad[700, 1] = numpy.nan
    soundfile.write(str(folder / "nan.wav"), bad, 8000, subtype="FLOAT")
    soundfile.write(str(folder / "empty.wav"), numpy.zeros((0, 2)), 8000, subtype="PCM_16")


def tone(path, frequency, amplitude, rate, seconds, subtype, channels, step_db):
    """A sine of `amplitude` (fraction of full scale) on every channel; with
    `step_db`, its second half is that much louder."""
    t = numpy.arange(int(round(rate * seconds))) / rate
    wave = amplitude * numpy.sin(2 * numpy.pi * frequency * t)
    if step_db:
        wave[len(wave) // 2:] *= 10 ** (step_db / 20)
    soundfile.write(str(path), numpy.repeat(wave[:, None], channels, axis=1), rate, subtype=subtype)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    f = commands.add_parser("fixtures")
    f.add_argument("folder")
    f.add_argument("--frames", type=int, default=FRAMES)
    t = commands.add_parser("tone")
    t.add_argument("path")
    t.add_argument("frequency", type=float)
    t.add_argument("amplitude", type=float)
    t.add_argument("--rate", type=int, default=48000)
    t.add_argument("--seconds", type=float, default=2.0)
    t.add_argument("--subtype", default="PCM_16")
    t.add_argument("--channels", type=int, default=1)
    t.add_argument("--step-db", type=float, default=0.0)
    a = parser.parse_args()
    if a.command == "fixtures":
        fixtures(a.folder, a.frames)
    else:
        tone(a.path, a.frequency, a.amplitude, a.rate, a.seconds, a.subtype, a.channels, a.step_db)


if __name__ == "__main__":
    main()
