#!/usr/bin/env python3
"""A synthetic range-day recording and its calibrator recording.

    python3 examples/make_range_recording.py [range.flac [cal.wav]] [--seconds 60] [--seed 1]

writes range.flac (two channels, 200 kHz, 24-bit FLAC) and cal.wav (one
channel, 200 kHz, 24-bit WAV), as a recorder would have saved them: samples
in fractions of the recorder's full scale, which here is 10 kPa (174 dB).
cal.wav holds a sound calibrator's 1 kHz tone at 114 dB recorded on the same
channel and gain, so the recording is calibrated with

    --calibrator cal.wav --calibrator-level 114

Channel 0 is the microphone beside the firing point: rifle and pistol shots,
a burst of 10 rounds 80 ms apart and a blast, each shot (not the blast) with
one or two echoes 5-30 ms later at -6 to -15 dB, in 72 dB of background
noise over a small DC offset of the recorder. Channel 1 is a microphone
further away: the same events 12 dB lower and 20 ms later, in the same noise.
The shots are Friedlander waves p(t) = P (1 - t/T) exp(-b t/T).

The true onset of every shot is printed (seconds, peak dB re 20 uPa,
A-duration in ms, kind), so what a detector finds can be checked. The same
seed gives the same files. Needs numpy and soundfile (Debian's python3-numpy
and python3-soundfile).
"""

import argparse
import os
import pathlib
import sys
import tempfile

import numpy as np
import soundfile

RATE = 200_000
FULL_SCALE_PA = 10_000.0
NOISE_DB = 72.0
OFFSET_PA = 1.5
CALIBRATOR_DB = 114.0


def pascals(db):
    return 20e-6 * 10.0 ** (db / 20.0)


def events(rng, seconds):
    """(onset s, peak dB, A-duration s, b, echoes [(delay s, gain dB)], kind), by onset."""

    def echoes():
        first = rng.uniform(0.005, 0.030)
        out = [(first, rng.uniform(-15.0, -6.0))]
        if rng.random() < 0.5:
            second = first
            while abs(second - first) < 0.003:  # apart, so the two never add up to the direct wave
                second = rng.uniform(0.005, 0.030)
            out.append((second, rng.uniform(-15.0, -6.0)))
        return out

    kinds = ["rifle"] * 6 + ["pistol"] * 3 + ["burst", "blast"]
    rng.shuffle(kinds)
    span = (seconds - 2.0) / len(kinds)
    if span < 1.5:
        sys.exit("make_range_recording: --seconds must be at least %d" % (2 + 1.5 * len(kinds)))
    shots = []
    for k, kind in enumerate(kinds):
        onset = 1.0 + k * span + rng.uniform(0.0, span - 1.2)
        if kind == "rifle":
            shots.append((onset, rng.uniform(155, 165), rng.uniform(0.0003, 0.0005), 1.5, echoes(), kind))
        elif kind == "pistol":
            shots.append((onset, rng.uniform(150, 158), rng.uniform(0.0004, 0.0008), 1.2, echoes(), kind))
        elif kind == "blast":
            shots.append((onset, 166.0, 0.0025, 1.0, [], kind))
        else:
            peak = rng.uniform(152, 158)
            for round_ in range(10):
                shots.append((onset + 0.080 * round_, peak + rng.uniform(-1, 1), 0.0004, 1.5, echoes(),
                              "burst round %d" % (round_ + 1)))
    return shots


def add_wave(p, onset, peak_pa, a_duration, b):
    first = int(np.ceil(onset * RATE))
    end = min(len(p), first + int(np.ceil(30.0 / b * a_duration * RATE)))
    if first >= end:
        return
    x = (np.arange(first, end) / RATE - onset) / a_duration
    p[first:end] += peak_pa * (1.0 - x) * np.exp(-b * x)


def channel(rng, frames, shots, gain_db, delay):
    p = rng.normal(0.0, pascals(NOISE_DB), frames) + OFFSET_PA
    for onset, peak_db, a_duration, b, echo_list, _ in shots:
        peak = pascals(peak_db + gain_db)
        add_wave(p, onset + delay, peak, a_duration, b)
        for echo_delay, echo_gain in echo_list:
            add_wave(p, onset + delay + echo_delay, peak * 10.0 ** (echo_gain / 20.0), a_duration, b)
    return p


def write_atomically(path, data, fmt):
    """Through a temporary file beside the target, renamed once complete."""
    path = pathlib.Path(path)
    handle, temporary = tempfile.mkstemp(prefix=path.name + ".", suffix=".part", dir=path.parent or ".")
    os.close(handle)
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(temporary, 0o666 & ~umask)  # as an ordinary new file, not mkstemp's 0600
    try:
        soundfile.write(temporary, np.clip(data / FULL_SCALE_PA, -1.0, 1.0 - 2.0 ** -23), RATE,
                        subtype="PCM_24", format=fmt)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("recording", nargs="?", default="range.flac")
    parser.add_argument("calibrator", nargs="?", default="cal.wav")
    parser.add_argument("--seconds", type=float, default=60.0, help="length of the recording")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    shots = events(rng, args.seconds)
    frames = int(round(args.seconds * RATE))
    near = channel(rng, frames, shots, 0.0, 0.0)
    far = channel(rng, frames, shots, -12.0, 0.020)
    write_atomically(args.recording, np.column_stack([near, far]), "FLAC")

    t = np.arange(10 * RATE) / RATE
    tone = pascals(CALIBRATOR_DB) * np.sqrt(2.0) * np.sin(2.0 * np.pi * 1000.0 * t)
    write_atomically(args.calibrator, tone + rng.normal(0.0, pascals(NOISE_DB), len(t)) + OFFSET_PA,
                     "WAV")

    print("# %s: %d shots on channel 0 (channel 1: 12 dB lower, 20 ms later)" % (args.recording, len(shots)))
    print("# onset_s  peak_db  a_duration_ms  kind")
    for onset, peak_db, a_duration, _, _, kind in shots:
        print("%9.6f  %7.2f  %13.2f  %s" % (onset, peak_db, a_duration * 1000.0, kind))


if __name__ == "__main__":
    main()
