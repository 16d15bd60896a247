"""Helpers of the recording tests: exact event arrays and recordings built
from them."""

import numpy as np

import vantrel_sim as vs

EVENT_DTYPE = np.dtype({
    "names": ("x", "y", "polarity", "timestamp"),
    "formats": ("<u2", "<u2", "u1", "<u8"),
    "offsets": (8, 10, 12, 0),
    "itemsize": 16,
})


def scene_events(n, *, start=1000, seed=0, width=640, height=480, max_step=4):
    """Sensor-like events: non-decreasing timestamps in small steps."""
    rng = np.random.default_rng(seed)
    events = np.zeros(n, dtype=EVENT_DTYPE)
    events["x"] = rng.integers(0, width, n)
    events["y"] = rng.integers(0, height, n)
    events["polarity"] = rng.integers(0, 2, n)
    events["timestamp"] = start + np.cumsum(rng.integers(0, max_step, n))
    return events


def write(path, events, **options):
    vs.write_recording(str(path), events, **options)
    return str(path)


def same(a, b):
    """Equal field by field (the padding bytes do not count)."""
    return len(a) == len(b) and all(np.array_equal(a[f], b[f]) for f in EVENT_DTYPE.names)


def event_block_spans(path):
    """(first payload byte, payload size) of each event block of a recording,
    in file order, found by walking its blocks as docs/file_format.md lays
    them out."""
    data = open(path, "rb").read()
    pos = 36 + int.from_bytes(data[24:28], "little")  # after the header and its serial
    spans = []
    while pos + 64 <= len(data) and data[pos:pos + 4] == b"VBLK":
        size = int.from_bytes(data[pos + 48:pos + 52], "little")
        if data[pos + 4] == 1:
            spans.append((pos + 64, size))
        pos += 64 + size
    return spans


def damage_event_blocks(path, blocks):
    """Flips one byte in the middle of the payload of each of these event
    blocks (numbered in file order): their checksums no longer match."""
    spans = event_block_spans(path)
    data = bytearray(open(path, "rb").read())
    for k in blocks:
        start, size = spans[k]
        data[start + size // 2] ^= 0x10
    open(path, "wb").write(data)
