"""Many recordings on Dask: as one dask DataFrame of events, or as a dask Bag
of results computed per time window.

    import vantrel.dask

    frame = vantrel.dask.read(["a.vtr", "b.vtr"], every_us=1_000_000)
    rates = vantrel.dask.map_windows("recordings/", lambda events, w: len(events), every_us=10_000)

Each partition or task is a piece of a recording (vantrel.partitions): a path
and a range, read by the worker that runs it with a reader it opens there.
Nothing native travels between processes, so the same code runs on the
threaded scheduler, on worker processes and on the machines of a cluster,
provided every worker can open the recordings by the same paths.

Needs the `dask` extra: pip install 'vantrel[dask]'.
"""

from __future__ import annotations

import importlib
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from typing import Any, TypeVar

try:
    # By name: Dask and pandas are optional and ship no complete type
    # information, so their objects are typed Any here.
    db: Any = importlib.import_module("dask.bag")
    dd: Any = importlib.import_module("dask.dataframe")
    pd: Any = importlib.import_module("pandas")
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("vantrel.dask needs Dask: pip install 'vantrel[dask]'") from error

import numpy as np

from vantrel._native import EVENT_DTYPE
from vantrel.events import xytp_columns
from vantrel.partitions import (
    Events,
    PathArg,
    Piece,
    Pieces,
    RecordingWindow,
    TimePiece,
    _positive,
    partitions,
    recordings,
    time_layout,
    window_count,
)
from vantrel.windows import window_bounds

__all__ = ["recordings", "read", "map_windows", "RecordingWindow"]

#: The name of the index of read()'s DataFrames: the events' timestamps (us).
INDEX = "timestamp"

#: Events a task of map_windows reads at once when the caller leaves it open.
TASK_EVENTS = 4_000_000

R = TypeVar("R")


@dataclass(frozen=True)
class _EmptyPiece:
    """Reads as no events: for the frame that tells Dask the columns."""

    path: str

    def read(self) -> Events:
        return np.empty(0, dtype=EVENT_DTYPE)


def _frame(piece: Piece | _EmptyPiece, paths: list[str] | None, path_column: str | None) -> Any:
    columns = xytp_columns(piece.read())
    frame = pd.DataFrame(columns, index=pd.Index(columns["t"], name=INDEX, copy=False), copy=False)
    if path_column is not None:
        assert paths is not None
        codes = np.full(len(frame), paths.index(piece.path), dtype=np.int32)
        frame[path_column] = pd.Categorical.from_codes(codes, categories=paths)
    return frame


def _divisions(all_pieces: list[Pieces]) -> list[int] | None:
    """Divisions of the whole frame, where every recording has them and each
    one ends before the next begins."""
    nonempty = [pieces for pieces in all_pieces if len(pieces)]
    # Whether the recordings follow one another is known from their first
    # and last events; only then are their cuts worth reading.
    for a, b in zip(nonempty, nonempty[1:]):
        assert a.layout.last_timestamp is not None and b.layout.first_timestamp is not None
        if not a.layout.last_timestamp < b.layout.first_timestamp:
            return None
    bounds: list[int] = []
    for pieces in nonempty:
        own = pieces.divisions()
        if own is None:
            return None
        bounds = bounds[:-1] + own
    return bounds or None


def read(paths: PathArg | Iterable[PathArg], *, every_us: int | None = None, events: int | None = None,
         path_column: str | None = None) -> Any:
    """The events of the recordings as a dask DataFrame: columns x, y, t, p
    (the layout of vantrel.to_dataframe), indexed by timestamp, one partition
    per piece of `every_us` microseconds or of `events` events (give one).

    Divisions are known where the recordings' indexes prove the timestamps
    non-decreasing and the recordings follow one another in time; otherwise
    they are unknown. `path_column` adds a categorical column of that name
    holding each event's recording.
    """
    files = recordings(paths)
    all_pieces = [partitions(path, events=events, every_us=every_us) for path in files]
    flat = [piece for pieces in all_pieces for piece in pieces]
    meta = _frame(_EmptyPiece(files[0] if files else ""), files, path_column)
    if not flat:
        return dd.from_pandas(meta, npartitions=1)
    return dd.from_map(_frame, flat, args=(files if path_column else None, path_column), meta=meta,
                       divisions=_divisions(all_pieces), label="vantrel-read", enforce_metadata=False)


@dataclass(frozen=True)
class _WindowTask:
    """Windows first .. stop - 1 of a recording, read as one piece."""

    piece: TimePiece
    t0: int
    every_us: int
    first: int
    stop: int
    width: int
    height: int


def _run(tasks: Iterable[_WindowTask], fn: Callable[[Events, RecordingWindow], R]) -> list[R]:
    results: list[R] = []
    for task in tasks:
        events = task.piece.read()
        starts = [window_bounds(k, task.t0, task.every_us)[0] for k in range(task.first, task.stop + 1)]
        cuts = np.searchsorted(events["timestamp"], np.asarray(starts, dtype=np.uint64), side="left")
        for j, k in enumerate(range(task.first, task.stop)):
            window = RecordingWindow(task.piece.path, k, starts[j], starts[j + 1], task.width, task.height)
            results.append(fn(events[cuts[j]:cuts[j + 1]], window))
    return results


def map_windows(paths: PathArg | Iterable[PathArg], fn: Callable[[Events, RecordingWindow], R], *,
                every_us: int, windows_per_task: int | None = None) -> Any:
    """fn(events, window) for every time window of every recording, as a dask
    Bag in order: recording by recording, window by window. The windows are
    those of vantrel.windows(path, every_us=...) (from each recording's first
    event, empty ones included); `events` is the window's event array and
    `window` a vantrel.partitions.RecordingWindow.

    Each task reads `windows_per_task` consecutive windows with one read (by
    default as many as hold about TASK_EVENTS events). The recordings'
    timestamps must never decrease, as their indexes must prove (ValueError).
    """
    every = _positive(every_us, "every_us")
    per_task = None if windows_per_task is None else _positive(windows_per_task, "windows_per_task")
    tasks: list[_WindowTask] = []
    for path in recordings(paths):
        described = time_layout(path)
        count = window_count(described, every)
        if count == 0:
            continue
        assert described.first_timestamp is not None and described.last_timestamp is not None
        span = max(1, described.last_timestamp - described.first_timestamp)
        m = per_task or max(1, int(TASK_EVENTS * span / max(1, described.event_count) / every))
        for first in range(0, count, m):
            stop = min(first + m, count)
            start, _ = window_bounds(first, described.first_timestamp, every)
            _, end = window_bounds(stop - 1, described.first_timestamp, every)
            tasks.append(_WindowTask(TimePiece(described.path, start, end), described.first_timestamp, every,
                                     first, stop, described.width, described.height))
    if not tasks:
        return db.from_sequence([], npartitions=1)
    return db.from_sequence(tasks, partition_size=1).map_partitions(_run, fn)
