"""The event dtype, for building event arrays in Python (for example to push
into a simulated camera or to write a recording)."""

import numpy as np

#: The dtype of vantrel_core's event arrays: x, y, polarity, timestamp, laid out
#: exactly as the driver's 16-byte records.
EVENT_DTYPE = np.dtype({
    "names": ["x", "y", "polarity", "timestamp"],
    "formats": ["<u2", "<u2", "u1", "<u8"],
    "offsets": [8, 10, 12, 0],
    "itemsize": 16,
})


def make_events(x, y, polarity, timestamp) -> np.ndarray:
    """An event array from four equally long sequences (or scalars, broadcast)."""
    x, y, polarity, timestamp = np.broadcast_arrays(x, y, polarity, timestamp)
    events = np.zeros(x.shape[0] if x.ndim else 1, dtype=EVENT_DTYPE)
    events["x"], events["y"], events["polarity"], events["timestamp"] = x, y, polarity, timestamp
    return events
