"""Training data from recordings: every time window of many recordings as one
map-style dataset.

    import functools, torch.utils.data, vantrel, vantrel.torch

    frames = functools.partial(vantrel.voxel_grid, width=640, height=480, bins=5)
    data = vantrel.torch.WindowDataset(["a.vtr", "b.vtr"], every_us=50_000, transform=frames)
    loader = torch.utils.data.DataLoader(data, batch_size=8, num_workers=2, shuffle=True)

The dataset needs nothing of PyTorch: any loader that calls len() and indexes
it works, with or without worker processes. It holds paths and numbers only;
each process reads windows with readers it opens itself, so worker processes
started by fork or by spawn never share a reader with their parent.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import Any

import numpy as np

from vantrel.partitions import (
    Events,
    PathArg,
    RecordingWindow,
    TimePiece,
    _positive,
    recordings,
    time_layout,
    window_count,
)
from vantrel.windows import window_bounds

__all__ = ["WindowDataset"]


class WindowDataset:
    """Window i of the recordings (paths, or directories standing for their
    *.vtr files in name order), in order (recording by recording, window by
    window): the windows of vantrel.windows(path, every_us=...), from each
    recording's first event, empty ones included.

    `dataset[i]` is `transform(events)` of the window's event array, or the
    array itself without a transform; `dataset.window(i)` says which window
    it is (a vantrel.partitions.RecordingWindow, with the sensor size). The
    recordings' timestamps must never decrease, as their indexes must prove
    (ValueError otherwise).
    """

    def __init__(self, paths: PathArg | Iterable[PathArg], *, every_us: int,
                 transform: Callable[[Events], Any] | None = None) -> None:
        self.every_us = _positive(every_us, "every_us")
        self.transform = transform
        # Per recording: path, first event's timestamp, sensor size.
        self._recordings: list[tuple[str, int, int, int]] = []
        counts = []
        for path in recordings(paths):
            described = time_layout(path)
            count = window_count(described, self.every_us)
            if count:
                assert described.first_timestamp is not None
                self._recordings.append((described.path, described.first_timestamp, described.width,
                                         described.height))
                counts.append(count)
        self._ends = np.cumsum(np.asarray(counts, dtype=np.int64))

    def __len__(self) -> int:
        return int(self._ends[-1]) if len(self._ends) else 0

    def window(self, i: int) -> RecordingWindow:
        """Which window item i is."""
        n = len(self)
        i = int(i)
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError(f"window {i} of {n}")
        r = int(np.searchsorted(self._ends, i, side="right"))
        k = i - (int(self._ends[r - 1]) if r else 0)
        path, t0, width, height = self._recordings[r]
        start, end = window_bounds(k, t0, self.every_us)
        return RecordingWindow(path, k, start, end, width, height)

    def events(self, i: int) -> Events:
        """The event array of window i (one seek and one read)."""
        w = self.window(i)
        return TimePiece(w.path, w.start, w.end).read()

    def __getitem__(self, i: int) -> Any:
        events = self.events(i)
        return events if self.transform is None else self.transform(events)

    def __repr__(self) -> str:
        return (f"<WindowDataset of {len(self._recordings)} recording(s), every_us={self.every_us}: "
                f"{len(self)} windows>")
