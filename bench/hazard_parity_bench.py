#!/usr/bin/env python3
"""korva.hazard against korva-cli hazard on the same file with the same
threads: both listeners, the file read by each. Not part of ctest: it
measures. Prints the least wall time of a few runs of each and their ratio,
with the load average (the machine may be shared).

    PYTHONPATH=build/default/python python3 bench/hazard_parity_bench.py \
        [--file data/examples/FRIED160.KRV] [--cli build/default/app/korva-cli] [--runs 5]

The Python package sizes its pool to the cores the process may use, so the
threads are set for both by the CPU affinity (`taskset -c 0 ...` for one),
and korva-cli gets -j with the same count.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import time

import korva

ROOT = pathlib.Path(__file__).resolve().parent.parent


def least(run, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--file", default=str(ROOT / "data/examples/FRIED160.KRV"))
    parser.add_argument("--cli", default=str(ROOT / "build/default/app/korva-cli"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    threads = len(os.sched_getaffinity(0))
    python = least(lambda: korva.hazard(korva.read_krv(args.file)), args.runs)
    command = [args.cli, "hazard", "--json", "-j", str(threads), args.file]
    cli = least(lambda: subprocess.run(command, check=True, capture_output=True), args.runs)
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"{pathlib.Path(args.file).name}, both listeners, {threads} thread(s), "
          f"least of {args.runs}; load average {load}")
    print(f"korva.hazard (read_krv included)  {python:7.3f} s")
    print(f"korva-cli hazard -j {threads}            {cli:7.3f} s")
    print(f"Python / CLI                      {python / cli:7.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
