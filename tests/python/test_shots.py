"""find_shots and analyze_files(shots=True) on a recording written by
soundfile: the shots korva-cli shots lists, each analysed as its KRV file,
on local threads and on a Dask cluster alike."""

import numpy
import pandas
import pytest
import soundfile
from distributed import Client, LocalCluster

import korva
from conftest import TEST_MODEL, cli_json, friedlander

RATE = 50000
FULL_SCALE_PA = 10000.0
# onset s, peak dB re 20 uPa; each shot with an echo 9 ms later at -8 dB
ONSETS = ((0.4, 150.0), (1.1, 160.0), (1.9, 145.0))


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    """Three shots in 80 dB white noise over a DC offset, as 32-bit floats."""
    samples = numpy.random.default_rng(5).normal(0.0, 20e-6 * 10 ** 4, int(2.5 * RATE)) + 1.5
    for onset, level in ONSETS:
        first = int(round(onset * RATE))
        for delay, gain in ((0.0, 1.0), (0.009, 10 ** (-8 / 20))):
            wave = friedlander(gain * 20e-6 * 10 ** (level / 20), samples=4000, rate=RATE,
                               a_duration=0.0006, onset=0.0)
            at = first + int(round(delay * RATE))
            samples[at:at + len(wave)] += wave
    path = tmp_path_factory.mktemp("range") / "day.wav"
    soundfile.write(path, (samples / FULL_SCALE_PA).astype(numpy.float32), RATE, subtype="FLOAT")
    return path


def test_find_shots_gives_what_korva_cli_shots_lists(recording, tmp_path):
    listed = cli_json("shots", recording, "--scale", FULL_SCALE_PA, "--post", 30)
    shots = korva.find_shots(korva.read_recording(recording, scale=FULL_SCALE_PA), post=30)
    assert listed[-1]["summary"] and listed[-1]["shots"] == len(shots) == len(ONSETS)
    for shot, row, (onset, level) in zip(shots, listed, ONSETS):
        for key, value in row.items():
            assert getattr(shot, key) == pytest.approx(value, rel=1e-6), key
        assert shot.time_s == pytest.approx(onset, abs=1e-4)
        assert shot.peak_db == pytest.approx(level, abs=0.3)
        # The waveform is the one the shot's file opens to.
        written = korva.read_krv(shot.write(tmp_path))
        assert written.title == f"day shot {shot.shot} at {shot.time_s:.3f} s"
        numpy.testing.assert_array_equal(shot.waveform.samples, written.samples)
        assert shot.waveform.mic_location == 1

    # A waveform is searched as a recording of one channel in pascals.
    recorded, _ = soundfile.read(recording, dtype="float32")
    waveform = korva.Waveform.from_array(recorded * FULL_SCALE_PA, RATE, 1, "day")
    again = korva.find_shots(waveform, post=30)
    assert [s.first_sample for s in again] == [s.first_sample for s in shots]
    assert korva.find_shots(waveform, min_peak=170) == []
    with pytest.raises(TypeError):
        korva.find_shots(recorded)


def test_analyze_files_gives_a_row_per_shot_on_threads_and_on_dask(recording, shots):
    paths = [str(shots[0]), str(recording)]
    keywords = dict(shots=True, scale=FULL_SCALE_PA, post=30, model=TEST_MODEL)
    frame = korva.analyze_files(paths, jobs=2, **keywords)
    assert list(frame.columns) == list(korva.COLUMNS)
    assert frame["file"].tolist() == paths[:1] + paths[1:] * len(ONSETS)
    assert pandas.isna(frame["shot"].iloc[0]) and frame["shot"].iloc[1:].tolist() == [1, 2, 3]
    assert frame["error"].isna().all()

    # Each shot's row is the hazard of its waveform.
    found = korva.find_shots(korva.read_recording(recording, scale=FULL_SCALE_PA), post=30)
    for shot, (_, row) in zip(found, frame.iloc[1:].iterrows()):
        assert row["time_s"] == pytest.approx(shot.time_s, abs=5e-4)
        hazard = korva.hazard(shot.waveform, model=TEST_MODEL)
        assert (row["warned_aru"], row["unwarned_aru"]) == (hazard.warned.aru, hazard.unwarned.aru)

    # Without shots=True the recording is one waveform; a silent one with
    # shots=True is a row saying why it has none.
    whole = korva.analyze_files(paths[1:], scale=FULL_SCALE_PA, model=TEST_MODEL)
    assert len(whole) == 1 and pandas.isna(whole["shot"].iloc[0])
    quiet = korva.analyze_files(paths[1:], **dict(keywords, min_peak=175))
    assert quiet["error"].iloc[0].startswith("no shot found")

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        on_cluster = korva.analyze_files(paths, client=client, **keywords)
    pandas.testing.assert_frame_equal(on_cluster, frame)
    with pytest.raises(TypeError):
        korva.analyze_files(paths, shots=True, treshold=20)
