"""Hazard and metrics of many files: on local threads or on a Dask cluster.

Each file is one task: it is opened where the task runs (on a cluster, by the
worker, from a path all machines share), so no waveform travels between
machines; only the row of numbers comes back.
"""

import concurrent.futures
import os
import sys

from korva import _korva

#: The columns of the frame analyze_files returns, in order: those of
#: korva-cli report --csv (the file, its waveform, the interval, the impulse
#: descriptors, the energy metrics, each listener's hazard, the error).
COLUMNS = tuple(name for name, _ in _korva._columns())

# Fixed types, so that a frame does not depend on which values happen to be
# missing (a batch where every file failed has the same types as any other).
_TYPES = {
    name: {"integer": "Int64", "number": "float64"}[kind]
    for name, kind in _korva._columns()
    if kind != "text"
}

# Fewer files than this finish before a progress bar would tell much.
_MANY_FILES = 10

_LISTENERS = ("both", "warned", "unwarned")


def analyze_files(paths, client=None, listener="both", model=None, jobs=None, progress=None):
    """Opens each file as the window's Open does and returns a pandas.DataFrame
    with one row per file, in the order given.

    Columns (COLUMNS), those of korva-cli report --csv: file, samples, rate,
    mic_location; from_ms, to_ms (the whole waveform); the impulse
    descriptors as describe() gives them; the metrics as metrics() gives
    them; per listener warned_aru, warned_aru_text, warned_allowed,
    warned_allowed_text, warned_worst_section, warned_fft_length and the same
    for unwarned (the hazard in A.R.U. and 500 / hazard; NaN for a listener
    not run or a hazard of 0); and error: None, or the message of what failed
    for that file (the other parts go on). A failing file does not stop the
    batch.

    client: None runs the files on `jobs` local threads (default: the cores
    this process may use); a dask.distributed.Client submits one task per
    file to its cluster (every worker needs korva and the files at the same
    paths) and gives the same frame. Files run in parallel; the listeners
    and cochlear places of each run on the process's pool of threads (in a
    Dask worker, as many as the worker's threads).
    listener: "both", "warned" or "unwarned".
    model: the ear-model parameter file; None for the default. Locally it is
    found and checked once before any work; on a cluster each worker finds
    its own default (give a shared path to be sure all use the same file).
    progress: show a progress bar (tqdm when installed; else Dask's own, or a
    line on standard error). None shows one on a terminal or in Jupyter when
    there are many files.

    Ctrl-C (KeyboardInterrupt) stops the local threads at their next progress
    point, or cancels the cluster's tasks that have not finished.
    """
    import pandas  # only the batch needs it, so `import korva` works without it

    paths = [os.fspath(path) for path in paths]
    if listener not in _LISTENERS:
        raise ValueError(f'listener must be "both", "warned" or "unwarned", not {listener!r}')
    show = progress if progress is not None else len(paths) >= _MANY_FILES and _interactive()
    if client is None:
        rows = _run_local(paths, listener, model, jobs, show)
    else:
        rows = _run_on_cluster(paths, client, listener, model, show)
    return pandas.DataFrame.from_records(rows, columns=COLUMNS).astype(_TYPES)


def _analyze_on_worker(path, listener, model):
    return _korva._analyze_file(path, listener, model)


def _run_local(paths, listener, model, jobs, show):
    if jobs is None:
        jobs = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    if jobs < 1:
        raise ValueError("jobs must be at least 1")
    model = _korva._model_file(model)
    stop = _korva.StopToken()
    rows = [None] * len(paths)
    bar = _Bar(len(paths), show)
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, min(jobs, len(paths)))) as pool:
        index = {
            pool.submit(_korva._analyze_file, path, listener, model, stop): i
            for i, path in enumerate(paths)
        }
        try:
            for future in concurrent.futures.as_completed(index):
                rows[index[future]] = future.result()
                bar.update()
        except BaseException:
            # The running files stop at their next progress point, the
            # others never start; the pool is joined on leaving the block.
            stop.request()
            for future in index:
                future.cancel()
            raise
        finally:
            bar.close()
    return rows


def _run_on_cluster(paths, client, listener, model, show):
    futures = client.map(_analyze_on_worker, paths, listener=listener, model=model, pure=False)
    try:
        if show:
            _follow(futures)
        return client.gather(futures)
    except BaseException:
        client.cancel(futures)
        raise


def _follow(futures):
    """Shows the progress of the cluster's tasks until they are done."""
    try:
        from tqdm.auto import tqdm
    except ImportError:
        from distributed import progress

        progress(futures, notebook=False)
        return
    from distributed import as_completed

    with tqdm(total=len(futures), unit="file") as bar:
        for _ in as_completed(futures):
            bar.update()


def _interactive():
    return "ipykernel" in sys.modules or sys.stderr.isatty()


class _Bar:
    """tqdm's bar when tqdm is installed, else a line on standard error."""

    def __init__(self, total, show):
        self._total, self._done, self._tqdm = total, 0, None
        self._show = show
        if show:
            try:
                from tqdm.auto import tqdm
            except ImportError:
                pass
            else:
                self._tqdm = tqdm(total=total, unit="file")

    def update(self):
        self._done += 1
        if self._tqdm is not None:
            self._tqdm.update()
        elif self._show:
            sys.stderr.write(f"\ranalyze_files: {self._done} of {self._total} files")
            sys.stderr.flush()

    def close(self):
        if self._tqdm is not None:
            self._tqdm.close()
        elif self._show and self._done:
            sys.stderr.write("\n")
