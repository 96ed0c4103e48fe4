"""The three front ends give the same numbers for the same file, field by
field: korva-cli report --json, the analysis driver's rows (analyze_files)
and the single analyses (describe, metrics, hazard). They are one code path;
this guards against a front end adding a rule of its own again."""

import math

import numpy

import korva
from conftest import cli_json

LISTENER_KEYS = ("aru", "aru_text", "allowed", "allowed_text", "section_hazard", "worst_section",
                 "fft_length")


# Singles, which JSON writes as the shortest text of the single.
SINGLES = ("aru", "rate")


def same(ours, theirs, key=""):
    """Equal to the last bit; no value is None on both sides."""
    if key in SINGLES:
        return numpy.float32(ours) == numpy.float32(theirs)
    if isinstance(ours, numpy.ndarray):
        return numpy.array_equal(ours, numpy.array(theirs, dtype=numpy.float32))
    if isinstance(ours, float) and math.isnan(ours):
        return theirs is None
    return ours == theirs


def test_cli_driver_and_single_analyses_agree_on_every_field(examples):
    files = sorted(examples.glob("*.KRV"))
    rows = cli_json("report", *files)
    assert rows[-1]["summary"]
    frame = korva.analyze_files(files, jobs=2)
    assert list(frame.columns) == list(korva.COLUMNS)
    for path, row, (_, flat) in zip(files, rows, frame.iterrows()):
        waveform = korva.read_krv(path)
        described, measured = korva.describe(waveform), korva.metrics(waveform)
        hazard = korva.hazard(waveform)
        checked = set()
        for key, theirs in row.items():
            if key in ("warned", "unwarned"):
                ours = getattr(hazard, key)
                for inner in LISTENER_KEYS:
                    assert same(getattr(ours, inner), theirs[inner], inner), (path.name, key, inner)
                    if inner != "section_hazard":
                        column = f"{key}_{inner}"
                        assert same(flat[column], theirs[inner], inner), (path.name, column)
                        checked.add(column)
                continue
            if key in described:
                assert same(described[key], theirs), (path.name, key)
            elif key in measured:
                assert same(measured[key], theirs), (path.name, key)
            elif key == "mic_location":
                assert hazard.mic_location == theirs
            elif key == "samples":
                assert len(waveform) == theirs
            elif key == "rate":
                assert same(waveform.rate, theirs, key)
            assert same(flat[key], theirs, key), (path.name, key)
            checked.add(key)
        # Every column of the driver's row was compared, but the error none has.
        assert checked == set(korva.COLUMNS) - {"error"}, path.name
        assert flat["error"] is None
