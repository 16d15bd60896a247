"""Reading a recording in pieces with 1, 2 and 4 workers at once.

Each figure is events per second over all the pieces of one recording (in
the page cache), best of a few passes, and its ratio to one worker of the
same kind in the same run:

* threads: a thread pool in one process, each thread reading pieces with a
  reader of its own (reads release the interpreter lock);
* processes: a pool of spawned worker processes, each opening its own
  readers from the pieces' paths and handing back the number of events
  (pickling the events back to the caller would measure the pipe instead);
* dask: vantrel.dask.read(...) on a distributed LocalCluster of that many
  single-threaded worker processes, counting the rows of every partition
  (a piece read and turned into a DataFrame where it lies).

A read of four blocks or more already shares its decoding with a second
thread of the driver, so one worker can keep both cores of a 2-core machine
busy; threads and processes are measured again with pieces of three blocks
(196,608 events), which one thread decodes.

Usage: python bench/bench_partitions.py [--scale S]
S (default 1) scales the recording (40M events) down, e.g. 0.1 for a quick run.
"""

import argparse
import concurrent.futures
import logging
import multiprocessing
import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
import pathlib
import sys
import tempfile
import time

import numpy as np

import vantrel
import vantrel_sim as vs

PIECE = 1_000_000
SMALL_PIECE = 3 * 65_536  # three blocks of write_recording: decoded by the reading thread alone
WORKERS = (1, 2, 4)


def scene_like(n, seed=0):
    rng = np.random.default_rng(seed)
    events = np.empty(n, dtype=vantrel.EVENT_DTYPE)
    events["x"] = rng.integers(0, 640, n, dtype=np.uint16)
    events["y"] = rng.integers(0, 480, n, dtype=np.uint16)
    events["polarity"] = rng.integers(0, 2, n, dtype=np.uint8)
    events["timestamp"] = np.cumsum(rng.integers(0, 3, n, dtype=np.uint64))
    return events


def read_count(piece):
    return len(piece.read())


def best_rate(runs, n, fn):
    best = float("inf")
    for _ in range(runs):
        begin = time.perf_counter()
        assert fn() == n
        best = min(best, time.perf_counter() - begin)
    return n / best


def report(kind, rates):
    base = rates[1]
    text = ", ".join(f"{w} worker{'s' if w > 1 else ''} {r / 1e6:.0f}M/s ({r / base:.2f} x)" for w, r in rates.items())
    print(f"{kind}: {text}", flush=True)


def bench_threads(pieces, n, label):
    rates = {}
    for workers in WORKERS:
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            rates[workers] = best_rate(3, n, lambda: sum(pool.map(read_count, pieces)))
        vantrel.release_readers()
    report(f"threads, {label}", rates)


def bench_processes(pieces, n, label):
    rates = {}
    context = multiprocessing.get_context("spawn")
    for workers in WORKERS:
        with concurrent.futures.ProcessPoolExecutor(workers, mp_context=context) as pool:
            list(pool.map(read_count, pieces[:workers]))  # the workers are up
            rates[workers] = best_rate(3, n, lambda: sum(pool.map(read_count, pieces)))
    report(f"processes, {label}", rates)


def bench_dask(path, n):
    import distributed

    import vantrel.dask

    rates = {}
    for workers in WORKERS:
        with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                                      silence_logs=logging.ERROR) as cluster, distributed.Client(cluster) as client:
            frame = vantrel.dask.read(path, events=PIECE)
            passes = iter(range(10))

            def count():
                # A new name each pass, so that no result of an earlier one is reused.
                rows = frame.map_partitions(len, token=f"rows-{next(passes)}").sum()
                return client.compute(rows).result()

            count()  # warm: imports and readers in the workers
            rates[workers] = best_rate(3, n, count)
    report(f"dask LocalCluster, pieces of {PIECE:,}", rates)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    n = max(PIECE, int(40_000_000 * args.scale))
    with tempfile.TemporaryDirectory() as folder:
        path = str(pathlib.Path(folder) / "pieces.vtr")
        vs.write_recording(path, scene_like(n))
        print(f"{n:,} events; {os.cpu_count()} cores", flush=True)
        for size in (PIECE, SMALL_PIECE):
            pieces = list(vantrel.partitions(path, events=size))
            label = f"{len(pieces)} pieces of {size:,}"
            bench_threads(pieces, n, label)
            bench_processes(pieces, n, label)
        try:
            bench_dask(path, n)
        except ImportError:
            print("dask: not installed (pip install 'vantrel[dask]')")
    return 0


if __name__ == "__main__":
    sys.exit(main())
