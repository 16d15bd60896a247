"""Independent pieces of a recording, for reading it in parallel: in threads,
in worker processes, on the machines of a cluster.

    for piece in vantrel.partitions("run.vtr", events=5_000_000):
        events = piece.read()        # exactly the events of the piece

A piece is a small picklable value (a path and a range) and reads its events
itself, in whatever process it lands, with a reader opened there from the
path. It costs one seek: to the block of the recording's index that holds its
start. The pieces of a recording together hold every event once and only
once, also where blocks are damaged (their events are in no piece).

By time, the pieces follow the windows of vantrel.windows: piece k holds
[t0 + k * every_us, t0 + (k + 1) * every_us) from the first event's timestamp
t0, so the pieces' windows are the whole recording's windows.
"""

from __future__ import annotations

import operator
import os
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import Any, overload

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
from vantrel import _native, _readers
from vantrel._native import EVENT_DTYPE
from vantrel.handles import UnreadableRecording
from vantrel.windows import window_bounds, window_index

Events = npt.NDArray[np.void]
PathArg = str | os.PathLike[str]


def _positive(value: Any, name: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value <= 0:
        raise ValueError(f"{name} must be a positive whole number, got {value!r}")
    return int(value)


def _path_text(path: Any) -> str:
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"a recording's path must be a str or os.PathLike, got {type(path).__name__}")
    return os.fsdecode(os.fspath(path))


@dataclass(frozen=True)
class EventPiece:
    """Events start to end - 1 of a recording, in the numbering of its index
    (where blocks are damaged, the piece holds fewer)."""

    path: str
    start: int
    end: int

    def read(self) -> Events:
        """The piece's events, as an event array."""
        with _readers.borrow(self.path) as reader:
            return read_event_range(reader, self.start, self.end, self.path)


@dataclass(frozen=True)
class TimePiece:
    """The events of a recording with start <= timestamp < end (microseconds)."""

    path: str
    start: int
    end: int

    def read(self) -> Events:
        """The piece's events, as an event array."""
        with _readers.borrow(self.path) as reader:
            return read_time_range(reader, self.start, self.end, self.path)


Piece = EventPiece | TimePiece


@dataclass(frozen=True)
class RecordingWindow:
    """Time window `index` of a recording: [start, end) in microseconds, as
    vantrel.windows numbers it, and the recording's sensor size (for the
    transforms)."""

    path: str
    index: int
    start: int
    end: int
    width: int
    height: int


@dataclass(frozen=True, eq=False)
class Layout:
    """What a recording's index says about its events, and its first and last
    readable events (None, None for a recording without any)."""

    path: str
    event_count: int
    monotonic: bool  # the index proves that timestamps never decrease
    recovered: bool  # no intact index: the blocks are those a scan found
    blocks: npt.NDArray[np.void]  # first_event, count, first/last/min/max_timestamp, sorted
    width: int
    height: int
    first_timestamp: int | None
    last_timestamp: int | None


def layout(path: Any) -> Layout:
    """The layout of the recording at `path`. FileNotFoundError,
    IsADirectoryError or vantrel.UnreadableRecording when it cannot be read."""
    text = _path_text(path)
    if not os.path.isfile(text):
        with _readers.borrow(text):  # raises what is wrong with the path
            raise AssertionError("a reader opened what is not a file")
    try:
        described = _native.recording_layout(text)
    except ValueError as error:
        raise UnreadableRecording(str(error)) from None
    # The index first, the reader second: of a recording still being
    # written, the reader then sees at least the blocks the index lists.
    with _readers.borrow(text) as reader:
        first, last = _first_and_last(reader, described["blocks"])
        return Layout(text, int(described["event_count"]), bool(described["monotonic"]),
                      bool(described["recovered"]), described["blocks"], reader.get_width(),
                      reader.get_height(), first, last)


def _first_and_last(reader: vc.EvFileReader, blocks: npt.NDArray[np.void]) -> tuple[int | None, int | None]:
    """Timestamps of the first and the last readable events: damaged blocks
    are found only by reading them, so the index alone cannot tell."""
    first = reader.read_events_from_event_index(0, 1)
    if len(first) == 0:
        return None, None
    # From the last block back: a damaged block gives nothing (and is marked
    # bad, so an earlier block's read cannot land in it).
    for block in blocks[::-1]:
        last = reader.read_events_from_event_index(int(block["first_event"]) + int(block["count"]) - 1, 1)
        if len(last):
            return int(first["timestamp"][0]), int(last["timestamp"][0])
    raise AssertionError("a recording with a readable first event has a readable last one")


def window_count(described: Layout, every_us: int) -> int:
    """How many time windows of `every_us` the recording has: from its first
    event's window to its last event's, empty ones included."""
    if described.first_timestamp is None or described.last_timestamp is None:
        return 0
    return window_index(described.last_timestamp, described.first_timestamp, every_us) + 1


def time_layout(path: Any) -> Layout:
    """The layout of a recording to be cut by time: ValueError unless its
    index proves that its timestamps never decrease."""
    described = layout(path)
    if not described.monotonic:
        raise ValueError(f"{described.path}: its timestamps may decrease (the index says so), so it cannot be cut "
                         "by time; cut it by events instead")
    return described


class Pieces(Sequence[Piece]):
    """The pieces of one recording, made on demand (any number of them fits):
    a sequence of EventPiece or TimePiece, with the recording's `layout`."""

    def __init__(self, layout: Layout, *, events: int | None = None, every_us: int | None = None) -> None:
        self.layout = layout
        self.events = events
        self.every_us = every_us
        if events is not None:
            self._count = -(-layout.event_count // events)
        else:
            assert every_us is not None
            self._count = window_count(layout, every_us)

    @property
    def path(self) -> str:
        return self.layout.path

    @property
    def t0(self) -> int | None:
        """The origin of time pieces: the first readable event's timestamp."""
        return self.layout.first_timestamp

    def __len__(self) -> int:
        return self._count

    @overload
    def __getitem__(self, k: int) -> Piece: ...
    @overload
    def __getitem__(self, k: slice) -> list[Piece]: ...

    def __getitem__(self, k: int | slice) -> Piece | list[Piece]:
        if isinstance(k, slice):
            return [self[i] for i in range(*k.indices(self._count))]
        k = operator.index(k)
        if k < 0:
            k += self._count
        if not 0 <= k < self._count:
            raise IndexError(f"piece {k} of {self._count}")
        if self.events is not None:
            return EventPiece(self.path, k * self.events, min((k + 1) * self.events, self.layout.event_count))
        assert self.every_us is not None and self.t0 is not None
        return TimePiece(self.path, *window_bounds(k, self.t0, self.every_us))

    def __iter__(self) -> Iterator[Piece]:
        return (self[k] for k in range(self._count))

    def __repr__(self) -> str:
        by = f"events={self.events}" if self.events is not None else f"every_us={self.every_us}"
        return f"<Pieces of {self.path!r} by {by}: {self._count}>"

    def divisions(self) -> list[int] | None:
        """Time bounds (d0, d1, ..., dn) such that piece i holds timestamps
        d_i <= t < d_(i+1) (the last one t <= dn), or None where the recording
        cannot prove it: timestamps that may decrease, equal timestamps on both
        sides of a cut between event pieces, damage at a cut."""
        if not self.layout.monotonic or self._count == 0:
            return None
        assert self.layout.first_timestamp is not None and self.layout.last_timestamp is not None
        if self.every_us is not None:
            return [piece.start for piece in self] + [self.layout.last_timestamp]
        return _count_divisions(self)


def _count_divisions(pieces: Pieces) -> list[int] | None:
    # In a recording whose timestamps never decrease, the timestamps of the
    # events on both sides of each cut bound the pieces; ties across a cut
    # leave no bound between them.
    assert pieces.layout.first_timestamp is not None and pieces.layout.last_timestamp is not None
    bounds = [pieces.layout.first_timestamp]
    with _readers.borrow(pieces.path) as reader:
        for piece in pieces[1:]:
            before = _timestamp_at(reader, piece.start - 1)
            after = _timestamp_at(reader, piece.start)
            if before is None or after is None or not before < after:
                return None
            bounds.append(after)
    bounds.append(pieces.layout.last_timestamp)
    return bounds


def _timestamp_at(reader: vc.EvFileReader, index: int) -> int | None:
    """The timestamp of event `index`, None when it is not readable."""
    if not reader.seek_to_event_index(index) or reader.get_current_event_index() != index:
        return None
    t = reader.get_current_timestamp()
    # Finding the timestamp checks the block, which may reject it and move on.
    return t if reader.get_current_event_index() == index else None


def partitions(path: Any, events: int | None = None, every_us: int | None = None) -> Pieces:
    """The independent pieces of the recording at `path`: of `events` events
    each (the last may hold fewer), or of `every_us` microseconds each (the
    recording's time windows, empty ones included). Give exactly one.

    Pieces by time need timestamps that never decrease, as the recording's
    index must prove: ValueError otherwise (cut such a recording by events).
    FileNotFoundError, IsADirectoryError or vantrel.UnreadableRecording when
    the file cannot be read.
    """
    if (events is None) == (every_us is None):
        raise ValueError("give exactly one of events (pieces of n events) and every_us (pieces of a time span)")
    if events is not None:
        return Pieces(layout(path), events=_positive(events, "events"))
    every = _positive(every_us, "every_us")
    return Pieces(time_layout(path), every_us=every)


def _no_events() -> Events:
    return np.empty(0, dtype=EVENT_DTYPE)


def read_event_range(reader: vc.EvFileReader, start: int, end: int, path: str = "") -> Events:
    """Events start to end - 1 (index numbering) of an opened recording: one
    seek to the block holding `start`, one read; damaged blocks are left out."""
    if start >= end:
        return _no_events()
    if not reader.seek_to_event_index(start):
        raise RuntimeError(f"{path}: cannot seek to event {start}: the recording holds "
                           f"{reader.get_event_count()} events (changed since it was cut, or see the driver's log)")
    at = reader.get_current_event_index()  # past start when start's block is damaged
    if at >= end:
        return _no_events()
    events = reader.read_events(end - at)
    after = reader.get_current_event_index()
    if after - at == len(events):
        # No index was skipped: these are events at .. at + len - 1.
        if at + len(events) < end:
            raise RuntimeError(f"{path}: reading events {at} to {end - 1} gave {len(events)}: the read failed or "
                               "the recording changed since it was cut (see the driver's log)")
        return events
    # A damaged block was met inside the read, which went on past it and
    # so past `end`: read again block by block.
    return _event_range_by_blocks(reader, start, end, path)


def _event_range_by_blocks(reader: vc.EvFileReader, start: int, end: int, path: str) -> Events:
    blocks = _native.recording_layout(path)["blocks"]
    firsts = blocks["first_event"].astype(np.int64)
    counts = blocks["count"].astype(np.int64)
    k = max(int(np.searchsorted(firsts, start, side="right")) - 1, 0)
    parts = []
    while k < len(blocks) and firsts[k] < end:
        a, b = max(start, int(firsts[k])), min(end, int(firsts[k] + counts[k]))
        k += 1
        if not reader.seek_to_event_index(a) or reader.get_current_event_index() != a:
            continue  # a damaged block
        chunk = reader.read_events(b - a)
        # A block rejected during the read is marked bad: the same seek now lands elsewhere.
        if not reader.seek_to_event_index(a) or reader.get_current_event_index() != a:
            continue
        if len(chunk) != b - a:
            raise RuntimeError(f"{path}: reading events {a} to {b - 1} gave {len(chunk)} (see the driver's log)")
        parts.append(chunk)
    return np.concatenate(parts) if parts else _no_events()


def read_time_range(reader: vc.EvFileReader, start: int, end: int, path: str = "") -> Events:
    """The events with start <= timestamp < end of an opened recording whose
    timestamps never decrease: one seek to the block holding the first of
    them, one read."""
    if start >= end:
        return _no_events()
    events = reader.read_events_by_time_interval_from_timestamp(start, end - start)
    if len(events) == 0 and reader.seek_to_timestamp(start) and reader.get_current_timestamp() < end:
        # A read that fails gives nothing, as an empty range does; only the
        # latter has no event in the range.
        raise RuntimeError(f"{path}: reading the events from {start} to {end} us failed (see the driver's log)")
    return events


def recordings(paths: PathArg | Iterable[PathArg]) -> list[str]:
    """The recordings named by `paths`: a path or an iterable of paths, where
    a directory stands for its *.vtr files in name order."""
    items = [paths] if isinstance(paths, (str, bytes, os.PathLike)) else list(paths)
    found: list[str] = []
    for item in items:
        text = os.fsdecode(os.fspath(item))
        if os.path.isdir(text):
            found.extend(os.path.join(text, name) for name in sorted(os.listdir(text)) if name.endswith(".vtr"))
        else:
            found.append(text)
    return found


def release_readers() -> int:
    """Closes the idle readers that reading pieces left open in this process
    (at most vantrel._readers.MAX_IDLE of them); returns how many."""
    return _readers.release()
