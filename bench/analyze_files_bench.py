#!/usr/bin/env python3
"""Files per second of korva.analyze_files with 1 and 2 workers: local
threads (jobs=1, 2) and a Dask cluster of local worker processes (1 and 2
workers of one thread each), beside korva-cli hazard -j 1, 2 on the same
files. Not part of ctest: it measures.

    PYTHONPATH=build/default/python python3 bench/analyze_files_bench.py \
        [--files N] [--samples S] [--cli build/default/app/korva-cli]

The shots are Friedlander waves of 140 to 170 dB peak written as KRV files
into a temporary folder; both listeners run for each file. With the
interpreter lock released, two threads finish in about half the time of
one on a machine with two free cores.
"""

import argparse
import pathlib
import subprocess
import tempfile
import time

import numpy
from distributed import Client, LocalCluster

import korva


def write_shots(folder, count, samples, rate=200000.0):
    t = numpy.arange(samples) / rate - 0.005
    paths = []
    for i in range(count):
        peak = 20e-6 * 10 ** ((140 + 30 * i / max(1, count - 1)) / 20)
        wave = numpy.where(t >= 0, peak * (1 - t / 0.001) * numpy.exp(-t / 0.001), 0.0)
        shot = korva.Waveform.from_array(wave, rate, 1, f"shot {i}")
        paths.append(str(korva.write_krv(pathlib.Path(folder) / f"SHOT{i:03d}.KRV", shot)))
    return paths


def timed(run):
    start = time.perf_counter()
    frame = run()
    elapsed = time.perf_counter() - start
    assert frame["error"].isna().all(), frame["error"].dropna().tolist()
    return elapsed, frame


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--samples", type=int, default=16384)
    default_cli = pathlib.Path(__file__).resolve().parent.parent / "build/default/app/korva-cli"
    parser.add_argument("--cli", default=str(default_cli), help="korva-cli to compare with")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        paths = write_shots(folder, args.files, args.samples)
        korva.analyze_files(paths[:1], jobs=1)  # warm the file cache and the module
        print(f"{args.files} files of {len(korva.read_krv(paths[0]))} samples, both listeners")
        print(f"{'run':<28}{'seconds':>9}{'files/s':>9}")
        reference = None
        for jobs in (1, 2):
            elapsed, frame = timed(lambda: korva.analyze_files(paths, jobs=jobs))
            reference = frame if reference is None else reference
            print(f"{f'threads, jobs={jobs}':<28}{elapsed:9.2f}{args.files / elapsed:9.2f}")
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                              host="127.0.0.1", dashboard_address=None) as cluster, \
                    Client(cluster) as client:
                client.run(lambda: __import__("korva"))  # import before the clock starts
                elapsed, frame = timed(lambda: korva.analyze_files(paths, client=client))
            assert frame.equals(reference)
            print(f"{f'Dask, {workers} worker process(es)':<28}{elapsed:9.2f}"
                  f"{args.files / elapsed:9.2f}")
        if pathlib.Path(args.cli).exists():
            # The hazard alone (no metrics), started as a process, as a script calls it.
            for jobs in (1, 2):
                start = time.perf_counter()
                subprocess.run([args.cli, "hazard", "--json", "-j", str(jobs), *paths],
                               check=True, capture_output=True)
                elapsed = time.perf_counter() - start
                print(f"{f'korva-cli hazard -j {jobs}':<28}{elapsed:9.2f}"
                      f"{args.files / elapsed:9.2f}")


if __name__ == "__main__":
    main()
