"""Pictures of events: accumulated polarity frames, time surfaces and event
rate plots, as NumPy arrays or PNG files.

Events are event arrays as vantrel_core returns them (structured arrays with
the fields x, y, polarity and timestamp); any array with those fields works.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any

import numpy as np

from vantrel.transforms import event_frame, time_surface

if TYPE_CHECKING:
    from PIL import Image

#: Grey level of a pixel without events in a polarity frame.
BACKGROUND = 128
#: Grey-level step per event of net polarity (ON brightens, OFF darkens).
STEP = 64


def accumulate(events: np.ndarray, width: int, height: int) -> np.ndarray:
    """Net polarity per pixel: ON events (polarity > 0) count +1, OFF events -1.

    Returns an int32 array of shape (height, width).
    """
    return event_frame(events, width, height, mode="polarity")


def polarity_frame(events: np.ndarray, width: int, height: int) -> np.ndarray:
    """Grey picture of accumulated polarity: background grey, brighter where ON
    events dominate, darker where OFF events do. uint8, shape (height, width)."""
    net = accumulate(events, width, height)
    return np.clip(BACKGROUND + STEP * net.astype(np.int64), 0, 255).astype(np.uint8)


def time_surface_image(events: np.ndarray, width: int, height: int, *, tau_us: float = 50_000.0,
                       t_ref: int | None = None) -> np.ndarray:
    """A time surface as a uint8 grey picture (0 = no recent event, 255 = an event at t_ref)."""
    surface = time_surface(events, width, height, tau_us=tau_us, t_ref=t_ref)
    return np.round(surface * 255.0).astype(np.uint8)


def event_rate(events: np.ndarray, bin_us: int) -> tuple[np.ndarray, np.ndarray]:
    """Events per second in consecutive bins of `bin_us` microseconds, starting at the
    first event. Returns (bin start timestamps, rates)."""
    if bin_us <= 0:
        raise ValueError("bin_us must be positive")
    if len(events) == 0:
        return np.zeros(0, dtype=np.uint64), np.zeros(0, dtype=np.float64)
    ts = events["timestamp"].astype(np.int64)
    start = int(ts.min())
    bins = (ts - start) // bin_us
    counts = np.bincount(bins)
    starts = (start + np.arange(len(counts), dtype=np.int64) * bin_us).astype(np.uint64)
    return starts, counts * (1e6 / bin_us)


def rate_plot(events: np.ndarray, bin_us: int, *, size: tuple[int, int] = (800, 300),
              title: str = "event rate") -> "Image.Image":
    """A line plot of the event rate over time, as a Pillow image."""
    from PIL import Image, ImageDraw

    width, height = size
    if width < 120 or height < 80:
        raise ValueError("plot size must be at least 120x80")
    starts, rates = event_rate(events, bin_us)
    image = Image.new("RGB", size, "white")
    draw = ImageDraw.Draw(image)
    left, right, top, bottom = 70, width - 10, 25, height - 30
    draw.rectangle([left, top, right, bottom], outline="black")
    draw.text((left, 5), title, fill="black")
    peak = float(rates.max()) if len(rates) else 0.0
    draw.text((5, top), _si(peak) + "/s", fill="black")
    draw.text((5, bottom - 10), "0/s", fill="black")
    if len(starts):
        span_s = (len(starts) * bin_us) / 1e6
        draw.text((left, bottom + 8), "%.3f s" % (int(starts[0]) / 1e6), fill="black")
        draw.text((right - 70, bottom + 8), "+%.3f s" % span_s, fill="black")
    if len(rates) and peak > 0:
        xs = np.linspace(left, right, num=len(rates)) if len(rates) > 1 else np.array([left, right])
        ys = bottom - (rates / peak) * (bottom - top)
        if len(rates) == 1:
            ys = np.array([ys[0], ys[0]])
        draw.line(list(zip(xs.tolist(), ys.tolist())), fill=(31, 119, 180), width=2)
    return image


def _si(value: float) -> str:
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if value >= scale:
            return "%.1f%s" % (value / scale, unit)
    return "%.0f" % value


def save_png(picture: Any, path: str | os.PathLike[str]) -> str:
    """Writes a uint8 array (grey or RGB) or a Pillow image as PNG; returns the path."""
    from PIL import Image

    if isinstance(picture, np.ndarray):
        if picture.dtype != np.uint8:
            raise TypeError("pictures must be uint8 arrays")
        picture = Image.fromarray(picture)
    picture.save(os.fspath(path), format="PNG")
    return os.fspath(path)
