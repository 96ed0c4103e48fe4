"""Field recordings from Python: read_recording, recording_info, and the
waveform a recording becomes, the same as korva-cli import writes."""

import math
import pathlib
import sys

import numpy
import pytest

import korva
from conftest import cli

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "data"))
import recordings  # noqa: E402  (tests/data/recordings.py, the fixtures' writer)


@pytest.fixture(scope="module")
def fixtures(tmp_path_factory):
    folder = tmp_path_factory.mktemp("recordings")
    recordings.fixtures(folder)
    return folder


def test_a_calibrated_part_of_a_channel_is_what_korva_cli_imports(fixtures, tmp_path):
    calibrator = tmp_path / "cal.wav"
    recordings.tone(calibrator, 1000.0, 0.5, 48000, 2.0, "PCM_16", 1, 0.0)
    flac = fixtures / "pcm24x8.flac"
    rec = korva.read_recording(flac, channel=7, calibrator=calibrator, calibrator_level=114.0,
                               start=0.001, stop=0.004)

    assert (rec.rate, rec.channels, rec.frames, rec.channel) == (192000, 8, 1000, 7)
    assert (rec.start_frame, len(rec)) == (192, 576)
    pascals_rms = 20e-6 * 10 ** (114 / 20)
    assert rec.pa_per_unit == pytest.approx(pascals_rms / (0.5 / math.sqrt(2)) / 2**23, rel=1e-4)
    expected = recordings.pattern(1000, 8, 24)[192:768, 7] * rec.pa_per_unit
    assert numpy.allclose(rec.samples, expected, rtol=1e-6)
    assert rec.calibration.startswith("calibrated by calibrator cal.wav (channel 0): 114.0 dB at 1000.0 Hz")
    with pytest.raises(ValueError):
        rec.samples[0] = 0.0

    korva.write_krv(tmp_path / "PY.KRV", rec.to_waveform(mic_location=2))
    cli("import", flac, "--channel", 7, "--calibrator", calibrator, "--calibrator-level", 114,
        "--from", 0.001, "--to", 0.004, "--mic", 2, "--out", tmp_path / "CLI.KRV")
    assert (tmp_path / "PY.KRV").read_bytes() == (tmp_path / "CLI.KRV").read_bytes()


def test_info_comes_from_the_header_alone(fixtures):
    info = korva.recording_info(fixtures / "pcm24x4.wav")
    assert (info.format, info.encoding, info.integer, info.bits) == (
        "WAV (extensible)", "24-bit integer", True, 24)
    assert (info.channels, info.frames, info.rate, info.variable) == (4, 1000, 192000, None)
    assert info.duration == pytest.approx(1000 / 192000)

    mat = korva.recording_info(fixtures / "columns.mat")
    assert (mat.format, mat.variable, mat.channels, mat.rate, mat.duration) == (
        "MAT v5", "rec", 3, None, None)
    assert korva.recording_info(fixtures / "columns.mat", rate_variable="fs").rate == 48000
    rows = korva.read_recording(fixtures / "rows.mat", channel=1, rate=1000, sensitivity=50,
                                full_scale=10)
    assert numpy.array_equal(rows.samples, (recordings.pattern(1000, 2)[:, 1] * 200).astype("f4"))


def test_what_cannot_be_read_is_refused_naming_the_file(fixtures, tmp_path):
    with pytest.raises(korva.Error, match=r"pcm16\.caf: there is no channel 2"):
        korva.read_recording(fixtures / "pcm16.caf", channel=2)
    with pytest.raises(korva.FormatError, match=r"numeric variables: rec \(1000x3 int16\)"):
        korva.read_recording(fixtures / "columns.mat", variable="label", rate=1000)
    with pytest.raises(korva.FormatError, match="does not say its sample rate"):
        korva.read_recording(fixtures / "columns.mat")
    with pytest.raises(korva.FormatError, match=r"frame 700 \(0\.087 s\) is not a finite number"):
        korva.read_recording(fixtures / "nan.wav", channel=1)
    with pytest.raises(korva.Error, match="give one calibration"):
        korva.read_recording(fixtures / "pcm16.flac", scale=2.0, sensitivity=50.0)
    text = tmp_path / "p.txt"
    text.write_text("1 2 3\n")
    with pytest.raises(korva.FormatError, match="not a sound file"):
        korva.recording_info(text)


def test_import_recording_reads_what_the_importer_did_not(fixtures):
    flac = korva.import_recording(fixtures / "pcm16.flac", mic_location=3)
    assert (len(flac), flac.rate, flac.mic_location) == (1000, 44100, 3)
    assert numpy.array_equal(flac.samples, recordings.pattern(1000, 1, 16)[:, 0].astype("f4"))
