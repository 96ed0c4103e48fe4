"""examples/make_range_recording.py: the recording and the calibrator recording
of the README's range-day example, as a recorder would have saved them."""

import math
import pathlib
import subprocess
import sys

import numpy
import soundfile

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "examples" / "make_range_recording.py"


def make(folder, seed):
    folder.mkdir()
    done = subprocess.run(
        [sys.executable, SCRIPT, folder / "range.flac", folder / "cal.wav", "--seconds", "20",
         "--seed", str(seed)],
        capture_output=True, text=True, check=True, timeout=300,
    )
    # onset_s, peak_db, a_duration_ms, kind
    truth = [line.split(None, 3) for line in done.stdout.splitlines() if not line.startswith("#")]
    return folder / "range.flac", folder / "cal.wav", truth


def db(pascals_ratio):
    return 20.0 * math.log10(pascals_ratio)


def test_the_calibrator_tone_calibrates_the_shots_of_both_channels(tmp_path):
    recording, calibrator, truth = make(tmp_path / "a", 3)
    info = soundfile.info(recording)
    assert (info.format, info.subtype, info.channels, info.samplerate, info.frames) == (
        "FLAC", "PCM_24", 2, 200000, 4_000_000)
    assert soundfile.info(calibrator).subtype == "PCM_24"
    assert len(truth) == 20  # six rifle and three pistol shots, a blast, a burst of 10 rounds
    assert sum(kind.startswith("burst round") for *_, kind in truth) == 10

    # Whatever the recorder's full scale, the tone is 114 dB on the same
    # scale as the shots: the loudest peak is known in dB from the two files.
    tone, rate = soundfile.read(calibrator)
    assert rate == 200000
    middle = tone[len(tone) // 5: -len(tone) // 5]
    samples, _ = soundfile.read(recording)
    loudest = max(float(peak) for _, peak, *_ in truth)
    for column, gain in ((0, 0.0), (1, -12.0)):
        channel = samples[:, column] - numpy.median(samples[:, column])
        peak_db = 114.0 + db(numpy.abs(channel).max() / numpy.std(middle))
        assert abs(peak_db - (loudest + gain)) < 0.1

    # The same seed gives the same files.
    again, _, _ = make(tmp_path / "b", 3)
    assert again.read_bytes() == recording.read_bytes()
