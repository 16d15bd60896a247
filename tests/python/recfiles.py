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


def _crc32c_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0x82F63B78 if c & 1 else c >> 1
        table.append(c)
    return table


_CRC32C = _crc32c_table()


def crc32c(data):
    c = 0xFFFFFFFF
    for byte in data:
        c = _CRC32C[(c ^ byte) & 0xFF] ^ (c >> 8)
    return c ^ 0xFFFFFFFF


def falsify_event_block(path, k):
    """Changes one time step in event block k and signs the result again
    (payload and header checksums, the index's copy of the header, the
    index and footer checksums): a block whose checksums all match but whose
    events disagree with its header, as only a faulty writer makes. Readers
    find out when they decode it, provided the block has no escaped event
    after the change (an escape sets the time again, hiding the lie)."""
    start, size = event_block_spans(path)[k]
    data = bytearray(open(path, "rb").read())
    header = start - 64
    word = start + 4 * 10  # an ordinary word of an ordinary block: its delta field is the top bits
    data[word + 3] ^= 0x40
    data[header + 52:header + 56] = crc32c(data[start:start + size]).to_bytes(4, "little")
    data[header + 60:header + 64] = crc32c(data[header:header + 60]).to_bytes(4, "little")
    footer = len(data) - 32
    index = int.from_bytes(data[footer:footer + 8], "little")
    index_size = int.from_bytes(data[footer + 8:footer + 16], "little")
    for entry in range(index + 24, index + index_size, 80):
        if int.from_bytes(data[entry:entry + 8], "little") == header:
            data[entry + 16:entry + 80] = data[header:header + 64]
    data[footer + 16:footer + 20] = crc32c(data[index:index + index_size]).to_bytes(4, "little")
    data[footer + 20:footer + 24] = crc32c(data[footer:footer + 20]).to_bytes(4, "little")
    open(path, "wb").write(data)
