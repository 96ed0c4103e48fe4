"""analyze_files: local threads and a Dask cluster give the same frame, a
broken file gives an error row, and Ctrl-C stops the threads."""

import pathlib

import pandas
import pytest
from distributed import Client, LocalCluster

import korva
from conftest import seconds_until_ctrl_c_stops


@pytest.fixture
def batch(shots, tmp_path):
    broken = tmp_path / "BROKEN.KRV"
    broken.write_bytes(b"PARAMETER \tVALUE \tCOMMENT \r\n" * 5)
    return [*map(str, shots[:3]), str(broken)]


def test_threads_and_a_dask_cluster_give_the_same_frame(batch):
    serial = korva.analyze_files(batch, jobs=1)
    assert list(serial.columns) == list(korva.COLUMNS)
    assert serial["file"].tolist() == batch

    good, broken = serial.iloc[:3], serial.iloc[3]
    assert good["error"].isna().all()
    assert "no samples" in broken["error"] and pandas.isna(broken["warned_aru"])
    # A row holds what the single analyses give.
    waveform = korva.read_krv(batch[0])
    hazard, metrics = korva.hazard(waveform), korva.metrics(waveform)
    row = serial.iloc[0]
    assert (row["samples"], row["rate"], row["mic_location"]) == (len(waveform), 200000.0, 1)
    assert (row["warned_aru"], row["unwarned_allowed"]) == (
        hazard.warned.aru, hazard.unwarned.allowed)
    assert {key: row[key] for key in metrics} == metrics

    pandas.testing.assert_frame_equal(korva.analyze_files(batch, jobs=2), serial)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        on_cluster = korva.analyze_files(batch, client=client, progress=True)
    pandas.testing.assert_frame_equal(on_cluster, serial)


def test_one_listener_no_files_and_a_missing_model(batch, tmp_path, capsys):
    warned = korva.analyze_files([pathlib.Path(batch[0])], listener="warned", progress=True)
    assert warned["file"].tolist() == batch[:1]
    assert warned["unwarned_aru"].isna().all() and warned["warned_aru"].notna().all()
    assert "1 of 1 files" in capsys.readouterr().err
    empty = korva.analyze_files([])
    assert list(empty.columns) == list(korva.COLUMNS) and empty.empty
    with pytest.raises(korva.IoError):
        korva.analyze_files(batch, model=tmp_path / "none.par")


def test_ctrl_c_stops_the_threads(examples, example_hazard):
    names = ["FRIED150", "FRIED160", "FRIED170", "ENTRANCE"]
    paths = [examples / f"{name}.KRV" for name in names]
    # The batch's hazard runs shared by its two threads: far longer than the
    # wait for Ctrl-C, however fast a run is.
    full_run = sum(example_hazard(name)[1] for name in names) / 2
    elapsed = seconds_until_ctrl_c_stops(lambda: korva.analyze_files(paths, jobs=2), after=0.1)
    assert elapsed < 0.8 * full_run, (elapsed, full_run)
