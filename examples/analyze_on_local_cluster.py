#!/usr/bin/env python3
"""The hazard and energy metrics of a set of shots on a Dask cluster.

A cluster of two local worker processes stands in for a real one: with a
scheduler and workers started on several machines (`dask scheduler`,
`dask worker tcp://HOST:8786`), give Client the scheduler's address instead
and the same call spreads the files over the machines.

    PYTHONPATH=build/default/python python3 examples/analyze_on_local_cluster.py [FILE.KRV...]

Without files it analyses the bundled examples. Prints one row per file and
writes them all to shots.csv.
"""

import pathlib
import sys

from distributed import Client, LocalCluster

import korva

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "data" / "examples"


def main(files):
    files = files or sorted(map(str, EXAMPLES.glob("*.KRV")))
    # Worker processes on this machine only, without the web dashboard.
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        frame = korva.analyze_files(files, client=client)
    frame.to_csv("shots.csv", index=False)
    shown = ["file", "warned_aru", "warned_allowed", "unwarned_aru", "unwarned_allowed",
             "LAeq8hr", "error"]
    print(frame[shown].to_string(index=False, float_format="{:.4g}".format))
    print(f"\n{len(frame)} files, {frame['error'].notna().sum()} failed; all rows in shots.csv")


if __name__ == "__main__":  # the worker processes import this file too
    main(sys.argv[1:])
