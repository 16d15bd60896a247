"""A small text progress bar for long steps of the demo and the command line."""

from __future__ import annotations

import sys
import time
from types import TracebackType
from typing import TextIO


class ProgressBar:
    """Draws `label [#####.....]  42%` on one line of a stream, redrawn in place on
    a terminal and at most every 10 % otherwise. Use as a context manager."""

    def __init__(self, label: str, total: float, *, stream: TextIO | None = None, width: int = 30) -> None:
        if total <= 0:
            raise ValueError("total must be positive")
        self.label, self.total, self.width = label, float(total), width
        self.stream = stream if stream is not None else sys.stderr
        self._tty = bool(getattr(self.stream, "isatty", lambda: False)())
        self._done = 0.0
        self._last_step = -1
        self._started = time.monotonic()

    def update(self, done: float) -> None:
        self._done = min(max(done, 0.0), self.total)
        fraction = self._done / self.total
        step = int(fraction * 10)
        if self._tty:
            self._draw(fraction, end="\r")
        elif step != self._last_step:
            self._draw(fraction, end="\n")
        self._last_step = step

    def _draw(self, fraction: float, end: str) -> None:
        filled = int(round(fraction * self.width))
        bar = "#" * filled + "." * (self.width - filled)
        self.stream.write("%s [%s] %3d%%%s" % (self.label, bar, int(fraction * 100), end))
        self.stream.flush()

    def close(self) -> None:
        if self._last_step != 10:
            self._draw(self._done / self.total, end="\n")
        elif self._tty:
            self.stream.write("\n")
            self.stream.flush()

    def __enter__(self) -> "ProgressBar":
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()
