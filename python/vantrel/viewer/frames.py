"""Pictures of a stream for the viewer, kept up to date from the batches as
they are delivered.

The accumulator keeps, for every pixel and polarity, the timestamp of its
latest event. Adding a batch costs a few vectorised passes over its events
(no per-event Python), and drawing a picture costs a few passes over the
sensor whatever the event rate, so the delivery thread stays cheap at ten
million events per second and the page gets pictures at its own pace.

Two pictures come out of that state, both ending at the accumulator's clock
`end` (one microsecond past the latest event of a live stream, the playback
position of a recording):

- an event frame: the pixels with an event in the window [end - window, end),
  coded NONE, OFF or ON; with both polarities shown, the more recent one of a
  pixel wins (ON on a tie);
- a time surface: exp(-(t_ref - t_last) / tau) with t_ref = end - 1 and
  tau = window / 4, as a grey level 0..255: the surface of
  `vantrel.transforms.time_surface`, the picture of
  `vantrel.render.time_surface_image`.

Pictures travel to the page as binary messages: a little-endian header
(`HEADER`) followed by height x width bytes, one per pixel, row by row. The
page's viewer.js reads the same layout.
"""

from __future__ import annotations

import struct
import threading
from dataclasses import dataclass
from typing import Literal

import numpy as np
import numpy.typing as npt

from vantrel.windows import window_bounds, window_index

#: magic, version, kind, width, height, polarity shown, frame number, window start, window end, lit pixels
HEADER = struct.Struct("<4sBBHHBxIqqI")
MAGIC = b"VTRF"
VERSION = 1

KIND_FRAME = 0
KIND_SURFACE = 1
KINDS = {"frame": KIND_FRAME, "surface": KIND_SURFACE}

#: Pixel codes of an event frame.
NONE, OFF, ON = 0, 1, 2
POLARITIES = {"both": 0, "on": 1, "off": 2}

#: The accumulation windows the viewer offers, in microseconds.
WINDOW_MIN_US = 1_000
WINDOW_MAX_US = 100_000

#: The rate plot: events counted per bin of this many microseconds of stream time...
RATE_BIN_US = 100_000
#: ...over this many bins (10 s).
RATE_BINS = 100

Mode = Literal["frame", "surface"]
Polarity = Literal["both", "on", "off"]


@dataclass(frozen=True)
class FrameSettings:
    """What a page wants to see."""

    mode: Mode = "frame"
    polarity: Polarity = "both"
    window_us: int = 20_000

    def __post_init__(self) -> None:
        if self.mode not in KINDS:
            raise ValueError(f"mode must be one of {', '.join(KINDS)}, got {self.mode!r}")
        if self.polarity not in POLARITIES:
            raise ValueError(f"polarity must be one of {', '.join(POLARITIES)}, got {self.polarity!r}")
        if not WINDOW_MIN_US <= self.window_us <= WINDOW_MAX_US:
            raise ValueError(f"window_us must be from {WINDOW_MIN_US} to {WINDOW_MAX_US}, got {self.window_us}")


@dataclass(frozen=True)
class Frame:
    """One picture: pixel codes (event frame) or grey levels (time surface),
    shape (height, width), of the window [start, end)."""

    kind: int
    polarity: int
    start: int
    end: int
    pixels: npt.NDArray[np.uint8]

    def encode(self, number: int) -> bytes:
        """The binary message of this picture, numbered `number`."""
        height, width = self.pixels.shape
        lit = int(np.count_nonzero(self.pixels))
        header = HEADER.pack(MAGIC, VERSION, self.kind, width, height, self.polarity,
                             number & 0xFFFFFFFF, self.start, self.end, lit)
        return header + self.pixels.tobytes()


def decode_frame(message: bytes) -> tuple[dict[str, int], npt.NDArray[np.uint8]]:
    """The header fields and the pixels of a binary frame message (what the
    page does, for Python clients and checks). ValueError for anything else."""
    if len(message) < HEADER.size:
        raise ValueError("too short for a frame")
    magic, version, kind, width, height, polarity, number, start, end, lit = HEADER.unpack_from(message)
    if magic != MAGIC or version != VERSION:
        raise ValueError("not a frame of this version")
    if len(message) != HEADER.size + width * height:
        raise ValueError(f"a {width}x{height} frame holds {width * height} pixels, not {len(message) - HEADER.size}")
    pixels = np.frombuffer(message, dtype=np.uint8, offset=HEADER.size).reshape(height, width)
    fields = dict(kind=kind, width=width, height=height, polarity=polarity, number=number,
                  start=start, end=end, lit=lit)
    return fields, pixels


class RateHistory:
    """Events per bin of RATE_BIN_US of stream time, for the rate plot; bins are
    time windows (vantrel.windows) from the first event seen, and only the
    latest RATE_BINS are kept."""

    def __init__(self) -> None:
        self._t0: int | None = None
        self._bins: dict[int, int] = {}
        self._newest = -1

    def add(self, ts: npt.NDArray[np.int64]) -> None:
        if len(ts) == 0:
            return
        low, high = int(ts.min()), int(ts.max())
        if self._t0 is None:
            self._t0 = low
        first = window_index(low, self._t0, RATE_BIN_US)
        last = window_index(high, self._t0, RATE_BIN_US)
        if first == last:  # the usual case: a batch is shorter than a bin
            self._bins[first] = self._bins.get(first, 0) + len(ts)
        else:
            ks = window_index(ts, self._t0, RATE_BIN_US)
            if last - first > RATE_BINS:  # a jump in time: count only the bins kept
                ks = ks[ks >= last - RATE_BINS]
                first = int(ks.min())
            counts = np.bincount(ks - first)
            for offset in np.flatnonzero(counts):
                k = first + int(offset)
                self._bins[k] = self._bins.get(k, 0) + int(counts[offset])
        if last > self._newest:
            self._newest = last
            for old in [k for k in self._bins if k < last - RATE_BINS]:
                del self._bins[old]

    def recent(self) -> dict[str, object]:
        """The last RATE_BINS complete bins (fewer early in a stream), oldest
        first, as events per second; `start` is the first bin's start (us),
        None before a bin is complete."""
        if self._t0 is None:
            return {"bin_us": RATE_BIN_US, "start": None, "rates": []}
        newest = self._newest - 1  # the newest bin is still filling
        ks = range(max(newest - RATE_BINS + 1, min(self._bins, default=0)), newest + 1)
        if not ks:
            return {"bin_us": RATE_BIN_US, "start": None, "rates": []}
        scale = 1e6 / RATE_BIN_US
        return {"bin_us": RATE_BIN_US, "start": window_bounds(ks[0], self._t0, RATE_BIN_US)[0],
                "rates": [self._bins.get(k, 0) * scale for k in ks]}


class Accumulator:
    """Latest event time of every pixel and polarity of a width x height sensor.

    `add` takes batches on the delivery thread (also read-only views of the
    driver's buffer: nothing of them is kept); `frame` draws a picture on
    any thread. Events outside the sensor, and timestamps beyond the signed
    64-bit range, are left out and counted in `ignored`.
    """

    def __init__(self, width: int, height: int) -> None:
        if not (0 < width <= 0xFFFF and 0 < height <= 0xFFFF):
            raise ValueError(f"the sensor size {width}x{height} is not one a camera has")
        self.width, self.height = width, height
        self._size = width * height
        self._lock = threading.Lock()
        # Row 0 OFF, row 1 ON; -1: no event yet.
        self._latest = np.full(2 * self._size, -1, dtype=np.int64)
        self._clock = 0
        self.events = 0
        self.ignored = 0
        #: Bumped by every change, so that an unchanged picture is not drawn again.
        self.version = 0
        self.rate = RateHistory()

    def add(self, events: npt.NDArray[np.void]) -> None:
        n = len(events)
        if n == 0:
            return
        x, y = events["x"], events["y"]
        ts = events["timestamp"].astype(np.int64)
        on = events["polarity"] != 0
        index = y.astype(np.int64)
        index *= self.width
        index += x
        if int(x.max()) >= self.width or int(y.max()) >= self.height or int(ts.min()) < 0:
            keep = (x < self.width) & (y < self.height) & (ts >= 0)
            index, ts, on = index[keep], ts[keep], on[keep]
        np.add(index, self._size, out=index, where=on)
        with self._lock:
            if len(ts):
                # maximum.at, unlike a plain assignment, is defined for repeated pixels.
                np.maximum.at(self._latest, index, ts)
                self._clock = max(self._clock, int(ts.max()) + 1)
                self.rate.add(ts)
            self.events += len(ts)
            self.ignored += n - len(ts)
            self.version += 1

    def advance(self, clock: int) -> None:
        """Moves the clock on to `clock` (a recording's playback position)."""
        with self._lock:
            if clock > self._clock:
                self._clock = clock
                self.version += 1

    def reset(self, clock: int = 0) -> None:
        """Forgets every event (a seek in a recording) and sets the clock."""
        with self._lock:
            self._latest.fill(-1)
            self._clock = clock
            self.rate = RateHistory()
            self.version += 1

    @property
    def clock(self) -> int:
        return self._clock

    def rates(self) -> dict[str, object]:
        """The rate plot's latest bins (RateHistory.recent)."""
        with self._lock:
            return self.rate.recent()

    def frame(self, settings: FrameSettings) -> Frame:
        """The picture that `settings` asks for, ending at the clock."""
        size = self._size
        with self._lock:
            end = self._clock
            # Never below 0: that is where "no event yet" (-1) would start to count.
            start = max(end - settings.window_us, 0)
            off_t, on_t = self._latest[:size], self._latest[size:]
            if settings.mode == "frame":
                pixels = self._event_frame(off_t, on_t, start, settings.polarity)
            else:
                pixels = self._surface(off_t, on_t, end - 1, settings.window_us / 4, settings.polarity)
        return Frame(KINDS[settings.mode], POLARITIES[settings.polarity], start, end,
                     pixels.reshape(self.height, self.width))

    @staticmethod
    def _event_frame(off_t: npt.NDArray[np.int64], on_t: npt.NDArray[np.int64], start: int,
                     polarity: str) -> npt.NDArray[np.uint8]:
        on = on_t >= start
        if polarity == "on":
            return on.astype(np.uint8) * np.uint8(ON)
        off = off_t >= start
        if polarity == "off":
            return off.astype(np.uint8) * np.uint8(OFF)
        on &= on_t >= off_t
        pixels = off.astype(np.uint8)  # OFF is 1
        pixels[on] = ON
        return pixels

    @staticmethod
    def _surface(off_t: npt.NDArray[np.int64], on_t: npt.NDArray[np.int64], t_ref: int, tau: float,
                 polarity: str) -> npt.NDArray[np.uint8]:
        latest = on_t if polarity == "on" else off_t if polarity == "off" else np.maximum(on_t, off_t)
        fired = latest >= 0
        pixels = np.zeros(latest.shape, dtype=np.uint8)
        age = (t_ref - latest[fired]).astype(np.float64)
        pixels[fired] = np.round(np.exp(-np.maximum(age, 0.0) / tau) * 255.0).astype(np.uint8)
        return pixels
