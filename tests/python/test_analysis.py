"""The analyses give korva-cli's numbers, release the interpreter lock, and
stop on Ctrl-C."""

import threading
import time

import numpy
import pytest

import korva
from conftest import (EXAMPLES, HAZARD_EXAMPLES, TEST_MODEL, cli_json,
                      seconds_until_ctrl_c_stops)


def test_hazard_equals_the_cli_to_the_last_bit(examples, example_hazard):
    rows = cli_json("hazard", *(examples / f"{name}.KRV" for name in HAZARD_EXAMPLES))
    for name, row in zip(HAZARD_EXAMPLES, rows):
        result, _ = example_hazard(name)
        assert result.mic_location == row["mic_location"]
        for listener in ("warned", "unwarned"):
            ours, theirs = getattr(result, listener), row[listener]
            assert numpy.float32(ours.aru) == numpy.float32(theirs["aru"]), (name, listener)
            assert ours.allowed == theirs["allowed"]
            assert (ours.aru_text, ours.allowed_text) == (theirs["aru_text"], theirs["allowed_text"])
            assert numpy.array_equal(
                ours.section_hazard, numpy.array(theirs["section_hazard"], dtype=numpy.float32)
            )
            assert (ours.worst_section, ours.fft_length) == (
                theirs["worst_section"], theirs["fft_length"])


def test_metrics_and_spectrum_equal_the_cli(examples, tmp_path):
    files = sorted(examples.glob("*.KRV"))
    metrics = cli_json("metrics", *files)
    spectra = cli_json("spectrum", "--dir", tmp_path, *files)
    for path, theirs, spectrum in zip(files, metrics, spectra):
        waveform = korva.read_krv(path)
        assert korva.metrics(waveform) == theirs, path.name
        ours = korva.spectrum(waveform)
        assert ours.bands.tolist() == [band["band"] for band in spectrum["bands"]]
        assert ours.centre_hz.tolist() == [band["centre_hz"] for band in spectrum["bands"]]
        assert ours.level_db.tolist() == [band["level_db"] for band in spectrum["bands"]]
        assert (ours.df_hz, ours.narrow_band_max_db, ours.narrow_band_max_hz) == (
            spectrum["df_hz"], spectrum["narrow_band_max_db"], spectrum["narrow_band_max_hz"])
    path = examples / "REVERB.KRV"
    (part,) = cli_json("metrics", path, "--first", 1000, "--last", 5000)
    assert korva.metrics(korva.read_krv(path), first=1000, last=5000) == part
    with pytest.raises(korva.Error, match="outside the waveform"):
        korva.metrics(korva.read_krv(path), last=70000)


def test_describe_equals_the_report_and_times_from_the_interval_start(examples):
    path = examples / "FRIED150.KRV"
    row = cli_json("report", path)[0]
    keys = list(row)
    descriptors = keys[keys.index("to_ms") + 1:keys.index("LAeqInterval")]
    waveform = korva.read_krv(path)
    whole = korva.describe(waveform)
    # The descriptors, then the criteria flattened as the CSV's columns.
    criteria = [name for name in korva.COLUMNS if name.startswith("criteria_")]
    assert list(whole) == descriptors + criteria
    assert {key: whole[key] for key in descriptors} == {key: row[key] for key in descriptors}
    assert whole["criteria_eu_peak_tier"] == row["criteria"]["eu_peak_tier"]
    assert whole["criteria_mil1474e_allowed"] == row["criteria"]["mil1474e"]["allowed"]

    dt_ms = 1000.0 / waveform.rate
    peak = round(whole["peak_time_ms"] / dt_ms)
    part = korva.describe(waveform, first=peak - 100, last=peak + 2000)
    assert part["peak_pa"] == whole["peak_pa"]
    assert part["peak_time_ms"] == pytest.approx(100 * dt_ms, rel=1e-6)
    with pytest.raises(korva.Error):
        korva.describe(waveform, first=peak, last=peak)


def test_protect_predicts_the_file_the_cli_writes(shots, tmp_path):
    table = tmp_path / "HPD Atten.txt"  # the CLI writes its circuit values back
    for name in ("HPD Atten.txt", "Seed_REAT_Values_Earplug.txt", "Seed_REAT_Values_Earmuff.txt"):
        (tmp_path / name).write_bytes((EXAMPLES.parent / name).read_bytes())
    shot = shots[2]
    (theirs,) = cli_json("protect", shot, "--protector", "foam-earplug", "--table", table,
                         "--output-dir", tmp_path)

    waveform, ours = korva.protect(korva.read_krv(shot), "FOAM_EARPLUG")
    assert waveform.mic_location == 3
    ours_file = korva.write_krv(tmp_path / "OURS.KRV", waveform)
    assert ours_file.read_bytes() == (tmp_path / theirs["output"]).read_bytes()
    for key in ("protector", "kind", "code", "seeded", "samples"):
        assert ours[key] == theirs[key], key
    for key in ("peak_free_field_db", "peak_under_protector_db", "peak_eardrum_db",
                "peak_insertion_loss_db"):
        assert round(ours[key], 2) == theirs[key], key
    assert round(ours["rms_error_db"], 3) == theirs["rms_error_db"]


def test_another_model_file_gives_the_cli_s_numbers_for_it(shots):
    (theirs,) = cli_json("hazard", "--warned", "--model", TEST_MODEL, shots[1])
    result = korva.hazard(korva.read_krv(shots[1]), "warned", model=TEST_MODEL)
    default = korva.hazard(korva.read_krv(shots[1]), "warned")
    assert numpy.float32(result.warned.aru) == numpy.float32(theirs["warned"]["aru"])
    assert result.warned.aru != default.warned.aru
    assert (result.model_file, result.model_sha256) == (theirs["model_file"], theirs["model_sha256"])
    assert default.model_sha256 != result.model_sha256


def test_the_same_samples_give_the_same_hazard_however_they_came(shots):
    opened = korva.read_krv(shots[1])
    again = korva.Waveform.from_array(opened.samples, opened.rate, opened.mic_location)
    both = korva.hazard(opened, stapes=True)
    warned = korva.hazard(again, listener="warned").warned
    assert warned.aru == both.warned.aru
    assert numpy.array_equal(warned.section_hazard, both.warned.section_hazard)
    assert warned.stapes is None and korva.hazard(again, "unwarned").warned is None
    stapes = both.unwarned.stapes
    assert stapes.shape == (len(opened),) and stapes[0] == 0.0 and numpy.abs(stapes).max() > 0


def test_silence_has_no_levels_and_no_limit():
    silence = korva.Waveform.from_array(numpy.zeros(4096), 200000)
    result = korva.hazard(silence).unwarned
    assert (result.aru, result.allowed, result.allowed_text) == (0.0, None, "unlimited")
    assert korva.metrics(silence) == {"LAeqInterval": None, "LAeq8hr": None, "AllowedRounds": None,
                                      "AWeightedExposure": 0.0, "LeqInterval": None}
    with pytest.raises(korva.Error):
        korva.spectrum(silence)
    with pytest.raises(korva.Error, match=r"korva\.protectors\(\)"):
        korva.protect(silence, "NO-SUCH-PLUG")


def test_threads_compute_while_python_runs(examples, example_hazard):
    """Two threads on two files, with the main thread counting meanwhile: a
    computation that held the interpreter lock would stop the count."""
    names = HAZARD_EXAMPLES[:2]
    waveforms = [korva.read_krv(examples / f"{name}.KRV") for name in names]
    results = [None, None]

    def run(i):
        results[i] = korva.hazard(waveforms[i], listener="warned")

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    start = time.monotonic()
    for thread in threads:
        thread.start()
    ticks = 0
    while any(thread.is_alive() for thread in threads):
        time.sleep(0.002)
        ticks += 1
    elapsed = time.monotonic() - start
    # Each sleep lasts at least 2 ms; with the lock released the count reaches
    # a good share of the possible number, held it would stay near zero.
    assert ticks > 0.1 * elapsed / 0.002, (ticks, elapsed)
    for name, result in zip(names, results):
        expected = example_hazard(name)[0].warned
        assert result.warned.aru == expected.aru
        assert numpy.array_equal(result.warned.section_hazard, expected.section_hazard)


def test_ctrl_c_stops_a_run_at_its_next_progress_point(examples, example_hazard):
    shot = korva.read_krv(examples / "FRIED150.KRV")
    # Four shots in a row: a run lasting well past the wait for Ctrl-C,
    # however fast one shot's run is.
    waveform = korva.Waveform.from_array(numpy.tile(shot.samples, 4), shot.rate, shot.mic_location)
    full_run = 4 * example_hazard("FRIED150")[1]
    elapsed = seconds_until_ctrl_c_stops(lambda: korva.hazard(waveform), after=0.1)
    assert elapsed < 0.5 * full_run, (elapsed, full_run)
