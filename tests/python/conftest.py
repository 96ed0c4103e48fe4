"""Shared pieces of the Python package's tests: the built korva-cli, the
bundled examples, and short synthetic shots written as KRV files."""

import json
import os
import pathlib
import shutil
import signal
import subprocess
import threading
import time

import numpy
import pytest

import korva

DATA = pathlib.Path(__file__).resolve().parents[2] / "data"
TEST_MODEL = DATA.parent / "tests" / "data" / "test_ear_model.txt"
EXAMPLES = DATA / "examples"
# One example per middle-ear variant: free field, ear-canal entrance, eardrum.
HAZARD_EXAMPLES = ("FRIED150", "ENTRANCE", "EARDRUM")


def cli(*arguments):
    """Runs the built korva-cli, which must succeed; returns its output."""
    program = os.environ.get("KORVA_CLI")
    if not program:
        pytest.skip("KORVA_CLI names no korva-cli (run the tests through ctest)")
    done = subprocess.run(
        [program, *map(str, arguments)], capture_output=True, text=True, timeout=600
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


def cli_json(*arguments):
    return [json.loads(line) for line in cli(*arguments, "--json").splitlines()]


def seconds_until_ctrl_c_stops(call, after):
    """Runs call() with Ctrl-C (SIGINT to the main thread) arriving `after`
    seconds later; returns the seconds until it ended with KeyboardInterrupt."""
    timer = threading.Timer(after, signal.pthread_kill, (threading.main_thread().ident, signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        timer.join()
    return time.monotonic() - start


def friedlander(peak_pa, samples=8192, rate=200000.0, a_duration=0.001, onset=0.005):
    """A Friedlander wave p(t) = P (1 - t/T) exp(-t/T) from the onset on."""
    t = numpy.arange(samples) / rate - onset
    wave = peak_pa * (1.0 - t / a_duration) * numpy.exp(-t / a_duration)
    return numpy.where(t >= 0.0, wave, 0.0).astype(numpy.float32)


@pytest.fixture(scope="session")
def examples(tmp_path_factory):
    """A copy of the bundled examples (korva-cli writes its tables beside them)."""
    folder = tmp_path_factory.mktemp("examples")
    for path in EXAMPLES.glob("*.KRV"):
        shutil.copy(path, folder)
    return folder


@pytest.fixture(scope="session")
def example_hazard(examples):
    """korva.hazard of a bundled example, with its wall time, computed once."""
    results = {}

    def hazard(name):
        if name not in results:
            waveform = korva.read_krv(examples / f"{name}.KRV")
            start = time.monotonic()
            result = korva.hazard(waveform)
            results[name] = (result, time.monotonic() - start)
        return results[name]

    return hazard


@pytest.fixture(scope="session")
def shots(tmp_path_factory):
    """Four short free-field shots of 140 to 170 dB peak, as KRV files."""
    folder = tmp_path_factory.mktemp("shots")
    paths = []
    for level in (140, 150, 160, 170):
        waveform = korva.Waveform.from_array(
            friedlander(20e-6 * 10 ** (level / 20)), 200000, 1, f"{level} dB"
        )
        paths.append(korva.write_krv(folder / f"SHOT{level}.KRV", waveform))
    return paths
