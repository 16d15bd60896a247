"""Time windows of an event stream: the one definition that the iterators, the
viewer and the processing of many recordings share.

Window k of a stream whose first event has the timestamp t0 is the half-open
interval

    [t0 + k * every_us, t0 + (k + 1) * every_us)

so every event falls in exactly one window, k = (t - t0) // every_us. The
first event opens window 0; windows are numbered on from there whether or not
they hold events. Two programs that agree on t0 and every_us agree on every
window: `window_index` and `window_bounds` are the definition, pure functions
of timestamps; `windows` cuts a recording, an event array or a stream of
batches by it; `time_slice` finds the events of any time range of an array
by binary search.
"""

from __future__ import annotations

import bisect
import os
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import Any, overload

import numpy as np
import numpy.typing as npt

import vantrel_core as vc

Events = npt.NDArray[np.void]

#: Events read from a recording at a time when cutting it into windows.
READ_CHUNK = 1 << 20


def _check_every(every_us: int) -> int:
    if isinstance(every_us, bool) or not isinstance(every_us, (int, np.integer)) or every_us <= 0:
        raise ValueError(f"every_us must be a positive whole number of microseconds, got {every_us!r}")
    return int(every_us)


@overload
def window_index(timestamps: int, t0: int, every_us: int) -> int: ...
@overload
def window_index(timestamps: npt.ArrayLike, t0: int, every_us: int) -> npt.NDArray[np.int64]: ...


def window_index(timestamps: Any, t0: int, every_us: int) -> Any:
    """The window of each timestamp, (t - t0) // every_us: an int for an int,
    an int64 array for an array. Timestamps before t0 give negative indices."""
    every = _check_every(every_us)
    if isinstance(timestamps, (int, np.integer)):
        return (int(timestamps) - int(t0)) // every
    ts = np.asarray(timestamps)
    # Differences in int64: exact for the microsecond clocks of cameras.
    return (ts.astype(np.int64) - np.int64(t0)) // np.int64(every)


def window_bounds(k: int, t0: int, every_us: int) -> tuple[int, int]:
    """The time range [start, end) of window k, in microseconds."""
    every = _check_every(every_us)
    return int(t0) + int(k) * every, int(t0) + (int(k) + 1) * every


def time_slice(events: Events, start: int | None = None, end: int | None = None) -> Events:
    """The events with start <= timestamp < end (either bound may be None), as a
    view of `events`. Found by binary search: the timestamps must not decrease."""
    timestamps = events["timestamp"]
    lo = 0 if start is None else bisect.bisect_left(timestamps, start)
    hi = len(events) if end is None else bisect.bisect_left(timestamps, end, lo)
    return events[lo:hi]


@dataclass(frozen=True)
class Window:
    """One window: its number, its time range [start, end) in microseconds and
    its events. For windows of a number of events, start is the first event's
    timestamp and end the last one's plus one."""

    index: int
    start: int
    end: int
    events: Events


def windows(source: Any, *, every_us: int | None = None, events: int | None = None,
            t0: int | None = None) -> Iterator[Window]:
    """Cuts `source` into consecutive windows, in order: time windows of
    `every_us` microseconds (every window from the first event's to the last
    event's, empty ones included), or windows of `events` events (the last
    may hold fewer). Give exactly one of the two.

    `source` is a recording (a path, or an opened vantrel_core.EvFileReader,
    read from its first event on), an event array, or any iterable of event
    arrays such as `vantrel.batches(camera)`. `t0` overrides the first event's
    timestamp as the origin of time windows, to line up the windows of several
    sources (the first window given is then the first event's). Timestamps
    must not decrease: ValueError where they do.
    """
    if (every_us is None) == (events is None):
        raise ValueError("give exactly one of every_us (time windows) and events (windows of n events)")
    chunks = _chunks(source)
    if events is not None:
        if isinstance(events, bool) or not isinstance(events, (int, np.integer)) or events <= 0:
            raise ValueError(f"events must be a positive whole number, got {events!r}")
        return _count_windows(chunks, int(events))
    return _time_windows(chunks, _check_every(every_us), t0)  # type: ignore[arg-type]


def _chunks(source: Any) -> Iterator[Events]:
    if isinstance(source, np.ndarray):
        return iter((source,))
    if isinstance(source, (str, bytes, os.PathLike)):
        from vantrel.handles import open_recording

        return _reader_chunks(open_recording(source).reader)
    if isinstance(source, vc.EvFileReader):
        return _reader_chunks(source)
    if isinstance(source, Iterable):
        return iter(source)
    raise TypeError(f"cannot cut {type(source).__name__} into windows: give a recording path, an "
                    "EvFileReader, an event array or an iterable of event arrays")


def _reader_chunks(reader: vc.EvFileReader) -> Iterator[Events]:
    chunk = reader.read_events_from_event_index(0, READ_CHUNK)
    while len(chunk):
        yield chunk
        chunk = reader.read_events(READ_CHUNK)


def _ordered(chunks: Iterator[Events]) -> Iterator[tuple[Events, npt.NDArray[np.uint64]]]:
    """Non-empty chunks with their timestamps, checked to never decrease."""
    last: int | None = None
    seen = 0
    for chunk in chunks:
        if len(chunk) == 0:
            continue
        ts = np.ascontiguousarray(chunk["timestamp"])
        back = np.flatnonzero(ts[1:] < ts[:-1])
        if len(back) or (last is not None and int(ts[0]) < last):
            i = int(back[0]) + 1 if len(back) else 0
            before = int(ts[i - 1]) if i else last
            raise ValueError(f"timestamps decrease at event {seen + i} ({int(ts[i])} us after {before} us): "
                             "windows need events in time order")
        last = int(ts[-1])
        seen += len(chunk)
        yield chunk, ts


def _joined(parts: list[Events]) -> Events:
    return parts[0] if len(parts) == 1 else np.concatenate(parts)


def _time_windows(chunks: Iterator[Events], every: int, t0: int | None) -> Iterator[Window]:
    k = -1  # the window of the first event, once seen
    pending: list[Events] = []
    for chunk, ts in _ordered(chunks):
        if t0 is None:
            t0 = int(ts[0])
        if k < 0:
            if int(ts[0]) < t0:
                raise ValueError(f"an event at {int(ts[0])} us lies before t0 = {t0} us")
            k = window_index(int(ts[0]), t0, every)
        last = window_index(int(ts[-1]), t0, every)
        # The ends of windows k .. last-1 cut this chunk; what follows the
        # last cut stays pending for window `last`.
        ends = np.int64(t0) + np.int64(every) * np.arange(k + 1, last + 1, dtype=np.int64)
        cuts = np.searchsorted(ts.astype(np.int64), ends, side="left")
        for piece in np.split(chunk, cuts):
            if k == last:
                pending.append(piece)
                break
            pending.append(piece)
            start, end = window_bounds(k, t0, every)
            yield Window(k, start, end, _joined(pending))
            pending = []
            k += 1
    if pending and t0 is not None:
        start, end = window_bounds(k, t0, every)
        yield Window(k, start, end, _joined(pending))


def _count_windows(chunks: Iterator[Events], n: int) -> Iterator[Window]:
    k = 0
    pending: list[Events] = []
    held = 0
    for chunk, _ in _ordered(chunks):
        while len(chunk):
            take = chunk[:n - held]
            chunk = chunk[len(take):]
            pending.append(take)
            held += len(take)
            if held == n:
                yield _count_window(k, _joined(pending))
                k, pending, held = k + 1, [], 0
    if pending:
        yield _count_window(k, _joined(pending))


def _count_window(k: int, events: Events) -> Window:
    return Window(k, int(events["timestamp"][0]), int(events["timestamp"][-1]) + 1, events)
