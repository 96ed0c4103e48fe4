"""Waveforms in and out of files: from_array, write_krv, read_krv,
import_recording, and the errors of bad input."""

import gc
import subprocess

import numpy
import pytest

import korva
from conftest import friedlander


def test_an_array_survives_a_krv_file_up_to_opens_dither_and_padding(tmp_path):
    samples = friedlander(632.0, samples=3000)
    original = korva.Waveform.from_array(samples, 44100.5, mic_location=2, title="range 7, shot 3")
    assert numpy.array_equal(original.samples, samples)  # kept as given: no dither, no padding

    written = korva.write_krv(tmp_path / "shot.wav", original)
    assert written.name == "shot.KRV"  # Save As: the name up to its first "." plus .KRV
    opened = korva.read_krv(written)

    assert (opened.rate, opened.mic_location, opened.title) == (44100.5, 2, "range 7, shot 3")
    assert len(opened) == 4096  # Open rounds the count to a power of two
    # Five significant digits in the file, then a dither of peak / 2^17.
    sigma = samples.max() / 131072
    assert numpy.allclose(opened.samples[:3000], samples, rtol=1e-4, atol=6 * sigma)
    assert numpy.all(numpy.abs(opened.samples[3000:]) < 6 * sigma)
    assert numpy.array_equal(korva.read_krv(written).samples, opened.samples)  # same dither


def test_samples_are_a_read_only_view_that_keeps_its_waveform():
    samples = korva.Waveform.from_array([1.0, -2.0, 3.0], 1000).samples
    gc.collect()
    assert samples.tolist() == [1.0, -2.0, 3.0]
    with pytest.raises(ValueError):
        samples[0] = 5.0


@pytest.mark.parametrize(
    "arguments",
    [
        ([[1.0, 2.0], [3.0, 4.0]], 1000),  # not 1-D
        ([1.0], 1000),  # one sample
        ([1.0, float("nan")], 1000),
        ([1.0, 2.0], 0.5),  # a rate below 1
        ([1.0, 2.0], 1000, 5),  # no such microphone location
        ([1.0, 2.0], 1000, 1, "a\ttitle"),  # would split the header line
    ],
)
def test_from_array_refuses_what_no_waveform_file_could_hold(arguments):
    with pytest.raises(ValueError):
        korva.Waveform.from_array(*arguments)


def test_bad_files_raise_errors_of_their_kind(tmp_path):
    header = "PARAMETER \tVALUE \tCOMMENT \r\n" * 5
    (tmp_path / "EMPTY.KRV").write_bytes(header.encode())
    with pytest.raises(korva.FormatError, match="no samples") as raised:
        korva.read_krv(tmp_path / "EMPTY.KRV")
    assert isinstance(raised.value, (korva.Error, ValueError))

    with pytest.raises(korva.IoError) as raised:
        korva.read_krv(tmp_path / "MISSING.KRV")
    assert isinstance(raised.value, OSError)
    with pytest.raises(korva.IoError):
        korva.write_krv(tmp_path / "no folder" / "A.KRV", korva.Waveform.from_array([1, 2], 1000))

    with pytest.raises(korva.FormatError, match="A-law"):
        alaw = tmp_path / "alaw.wav"
        subprocess.run(
            ["sox", "-n", "-r", "8000", "-e", "a-law", str(alaw), "synth", "0.01", "sine", "440"],
            check=True,
        )
        korva.import_recording(alaw)


def test_import_takes_its_answers_from_keywords(tmp_path):
    wav = tmp_path / "shot.wav"
    subprocess.run(
        ["sox", "-D", "-R", "-n", "-r", "48000", "-c", "1", "-b", "16", str(wav),
         "synth", "1000s", "sine", "1000", "vol", "0.5"],
        check=True,
    )
    imported = korva.import_recording(wav, mic_location=2, title="bench test")
    assert (imported.rate, imported.mic_location, imported.title) == (48000.0, 2, "bench test")
    assert len(imported) == 1000  # no padding before the waveform is saved
    assert abs(imported.samples[12] - 16383.5) <= 1.0  # integer values, not yet pascals

    table = tmp_path / "daq.txt"
    table.write_text("t\tp1\tp2\n0\t1.5\t9\n1\t-2.5\t9\n2\t3\t9\n")
    with pytest.raises(korva.Error, match=r"column=N.*wrapped=True"):
        korva.import_recording(table)
    assert korva.import_recording(table, column=2, rate=1000).samples.tolist() == [1.5, -2.5, 3.0]
    with pytest.raises(korva.Error, match="Microphone location"):
        korva.import_recording(table, column=2, mic_location=4)

    binary = tmp_path / "counts.dat"  # 16-bit integers, not text, not singles
    binary.write_bytes(bytes([0x01, 0x00, 0x02, 0xD0, 0x03, 0x00]))
    with pytest.raises(korva.Error, match='byte_order="little"'):
        korva.import_recording(binary)
    assert korva.import_recording(binary, byte_order="little").samples.tolist() == [1, -12286, 3]
    assert korva.import_recording(binary, byte_order="big").samples.tolist() == [256, 720, 768]
