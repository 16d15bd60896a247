"""The least a training loader does with a map-style dataset, in worker
processes: the dataset goes to each worker (pickled under spawn, inherited
under fork), indices go out on one queue, items come back on another."""

import multiprocessing
import os

import numpy as np

from vantrel import _readers


def _work(dataset, indices, results):
    while (i := indices.get()) is not None:
        try:
            results.put((i, dataset[i], os.getpid()))
        except Exception as error:  # handed back, raised by the loader
            results.put((i, error, os.getpid()))


def load(dataset, *, workers, method, timeout=60):
    """[(item, worker pid)] for every index of the dataset, in index order."""
    context = multiprocessing.get_context(method)
    indices, results = context.Queue(), context.Queue()
    processes = [context.Process(target=_work, args=(dataset, indices, results), daemon=True)
                 for _ in range(workers)]
    for p in processes:
        p.start()
    try:
        for i in range(len(dataset)):
            indices.put(i)
        for _ in processes:
            indices.put(None)
        got = dict((i, (item, pid)) for i, item, pid in (results.get(timeout=timeout) for _ in range(len(dataset))))
    finally:
        for p in processes:
            p.join(timeout=timeout)
            if p.is_alive():
                p.kill()
    for item, _ in got.values():
        if isinstance(item, Exception):
            raise item
    return [got[i] for i in range(len(dataset))]


def frame_and_readers(events):
    """A transform that also says which process's readers read the window."""
    pid, opened, _ = _readers.statistics()
    return int(len(events)), int(events["x"].astype(np.int64).sum()), pid, opened
