"""Event arrays in the layouts other tools take, and the checked conversions
between them.

- `EVENT_DTYPE`: the driver's 16-byte record, as vantrel_core returns it.
  Its fields are out of memory order, which `np.save`, HDF5 and Arrow refuse.
- `PACKED_DTYPE`: the same four fields, packed in order (13 bytes): what
  `pack` gives, for `np.save`/`np.load`, h5py and Arrow.
- `XYTP_DTYPE`: the research layout of tonic and its peers: fields x, y, t, p,
  signed (so that differences of timestamps do not wrap), p in {0, 1}.

`unpack` turns any of these, or any structured array or DataFrame with the
fields x, y, polarity, timestamp (or x, y, p, t), back into `EVENT_DTYPE`,
refusing values the driver's record cannot hold.
"""

from __future__ import annotations

import importlib
from typing import Any

import numpy as np
import numpy.typing as npt

from vantrel._native import EVENT_DTYPE as EVENT_DTYPE

Events = npt.NDArray[np.void]

#: The event fields in packed, in-order form: x, y, polarity, timestamp.
PACKED_DTYPE = np.dtype([("x", "<u2"), ("y", "<u2"), ("polarity", "u1"), ("timestamp", "<u8")])

#: The x, y, t, p layout of event-vision libraries: signed, p in {0, 1}.
XYTP_DTYPE = np.dtype([("x", "<i4"), ("y", "<i4"), ("t", "<i8"), ("p", "<i1")])

_FIELDS = ("x", "y", "polarity", "timestamp")
# Each driver field, the other names it goes by, and its type.
_ALIASES = {"x": ("x",), "y": ("y",), "polarity": ("polarity", "p"), "timestamp": ("timestamp", "t")}


def _column(name: str, values: Any, target: np.dtype[Any], *, signed_polarity: bool = False) -> np.ndarray:
    """`values` as an array of `target`, refusing what `target` cannot hold
    exactly; `name` (the field, maybe followed by its name in the source)
    names it in errors."""
    array = np.asarray(values)
    if array.dtype.kind == "b":
        return array.astype(target)
    if signed_polarity:
        if array.size and not np.isin(array, (-1, 1)).all():
            bad = array[~np.isin(array, (-1, 1))].flat[0]
            raise ValueError(f"polarity must be -1 or +1 with signed_polarity=True, got {bad}")
        return (array > 0).astype(target)
    if array.dtype.kind not in "iuf":
        raise ValueError(f"{name} must be numbers, not {array.dtype}")
    if np.can_cast(array.dtype, target, "safe"):
        return array.astype(target)
    info = np.iinfo(target)
    if array.size:
        if array.dtype.kind == "f":
            finite = np.isfinite(array)
            if not finite.all():
                raise ValueError(f"{name} must be finite, got {array[~finite].flat[0]}")
            fractional = array != np.floor(array)
            if fractional.any():
                raise ValueError(f"{name} must be whole numbers, got {array[fractional].flat[0]}")
        low, high = array.min(), array.max()
        if low < info.min:
            hint = " (pass signed_polarity=True for a -1/+1 convention)" if name.startswith("polarity") else ""
            raise ValueError(f"{name} must not be negative, got {low}{hint}")
        # Compared as Python ints: a float64 cannot hold the uint64 maximum exactly.
        if int(high) > info.max:
            raise ValueError(f"{name} must be at most {info.max}, got {high}")
    return array.astype(target)


def _field_names(source: Any) -> tuple[str, ...]:
    if isinstance(source, np.ndarray):
        if not source.dtype.names:
            raise ValueError("events must be a structured array with the fields x, y, polarity, timestamp "
                             f"(or x, y, p, t), not an array of dtype {source.dtype}")
        return tuple(source.dtype.names)
    columns = getattr(source, "columns", None)  # a pandas DataFrame
    if columns is not None:
        return tuple(str(c) for c in columns)
    raise TypeError(f"events must be a structured NumPy array or a DataFrame, not {type(source).__name__}")


def unpack(events: Any, *, signed_polarity: bool = False) -> Events:
    """The events of any structured array (or DataFrame) with the fields x, y,
    polarity, timestamp or x, y, p, t, as an array of EVENT_DTYPE.

    An array that already has EVENT_DTYPE is returned as it is. Otherwise the
    values are checked: negative values, values too large for the driver's
    record (x and y up to 65535, polarity up to 255) and non-integer values are
    a ValueError naming the field. With `signed_polarity`, polarity is read as
    -1/+1 and stored as 0/1.
    """
    names = _field_names(events)
    if isinstance(events, np.ndarray):
        if events.ndim != 1:
            raise ValueError(f"events must be one-dimensional, got shape {events.shape}")
        if events.dtype == EVENT_DTYPE and not signed_polarity:
            return events
    chosen: dict[str, str] = {}
    for field, aliases in _ALIASES.items():
        found = [a for a in aliases if a in names]
        if not found:
            raise ValueError("events need the fields x, y, polarity, timestamp (or x, y, p, t); "
                             f"found: {', '.join(names) or 'none'}")
        if len(found) > 1:
            raise ValueError(f"events have both {found[0]!r} and {found[1]!r}: which is meant?")
        chosen[field] = found[0]
    out = np.empty(len(events), dtype=EVENT_DTYPE)
    for field, source in chosen.items():
        out[field] = _column(source if source == field else f"{field} ({source})",
                             np.asarray(events[source]), EVENT_DTYPE.fields[field][0],  # type: ignore[index]
                             signed_polarity=signed_polarity and field == "polarity")
    return out


def pack(events: Any) -> npt.NDArray[np.void]:
    """The events in PACKED_DTYPE: fields x, y, polarity, timestamp packed in
    order, which np.save/np.load, h5py and Arrow take. `unpack` reverses it."""
    events = unpack(events)
    out = np.empty(len(events), dtype=PACKED_DTYPE)
    for field in _FIELDS:
        out[field] = events[field]
    return out


def to_xytp(events: Any) -> npt.NDArray[np.void]:
    """The events in XYTP_DTYPE, the layout of tonic and its peers: x, y, t, p
    with signed types (t int64, so that np.diff of timestamps never wraps) and
    p in {0, 1} (any non-zero polarity counts as 1)."""
    columns = xytp_columns(events)
    out = np.empty(len(columns["t"]), dtype=XYTP_DTYPE)
    for name, column in columns.items():
        out[name] = column
    return out


def xytp_columns(events: Any) -> dict[str, np.ndarray]:
    """The columns x, y, t, p of `to_xytp`, each a contiguous array of its
    XYTP_DTYPE type: what DataFrames are built from without a copy."""
    events = unpack(events)
    return {
        "x": events["x"].astype(XYTP_DTYPE["x"]),
        "y": events["y"].astype(XYTP_DTYPE["y"]),
        "t": _signed_timestamps(events["timestamp"]),
        "p": (events["polarity"] != 0).astype(XYTP_DTYPE["p"]),
    }


def _signed_timestamps(timestamps: np.ndarray) -> np.ndarray:
    if len(timestamps) and int(timestamps.max()) > np.iinfo(np.int64).max:
        raise ValueError("timestamps beyond 2**63 - 1 us do not fit a signed 64-bit t")
    return timestamps.astype(np.int64)


def to_dataframe(events: Any) -> Any:
    """A pandas DataFrame with the columns x, y, t, p of `to_xytp` (pandas is
    needed; `unpack` takes the DataFrame back)."""
    try:
        pandas = importlib.import_module("pandas")  # optional: imported only when asked for
    except ImportError as error:
        raise ImportError("to_dataframe needs pandas: pip install pandas") from error
    return pandas.DataFrame(xytp_columns(events), copy=False)


def to_tensor(events: Any, *, device: Any = None) -> Any:
    """A PyTorch int64 tensor of shape (n, 4) with the columns x, y, t, p of
    `to_xytp` (PyTorch is needed)."""
    try:
        torch = importlib.import_module("torch")  # optional: imported only when asked for
    except ImportError as error:
        raise ImportError("to_tensor needs PyTorch: pip install torch") from error
    xytp = to_xytp(events)
    columns = np.stack([xytp[name].astype(np.int64) for name in XYTP_DTYPE.names or ()], axis=1)
    return torch.from_numpy(columns.reshape(len(xytp), 4)).to(device)


def make_events(x: npt.ArrayLike, y: npt.ArrayLike, polarity: npt.ArrayLike, timestamp: npt.ArrayLike, *,
                width: int | None = None, height: int | None = None, signed_polarity: bool = False,
                check_order: bool = False) -> Events:
    """An event array from four equally long sequences (scalars are broadcast).

    Values are checked, each failure a ValueError: x and y non-negative whole
    numbers, inside a `width` x `height` sensor when given; polarity 0 or 1
    (or -1/+1 with `signed_polarity`, stored as 0/1); timestamps non-negative
    whole numbers, non-decreasing when `check_order` is set.
    """
    x, y, polarity, timestamp = np.broadcast_arrays(x, y, polarity, timestamp)
    if x.ndim > 1:
        raise ValueError(f"make_events takes one-dimensional sequences, got shape {x.shape}")
    n = x.shape[0] if x.ndim else 1
    events = np.empty(n, dtype=EVENT_DTYPE)
    for field, values in (("x", x), ("y", y), ("polarity", polarity), ("timestamp", timestamp)):
        events[field] = _column(field, values.reshape(n), EVENT_DTYPE.fields[field][0],  # type: ignore[index]
                                signed_polarity=signed_polarity and field == "polarity")
    if not signed_polarity and n and int(events["polarity"].max()) > 1:
        raise ValueError(f"polarity must be 0 or 1, got {events['polarity'].max()}")
    for field, size in (("x", width), ("y", height)):
        if size is not None and n and int(events[field].max()) >= size:
            raise ValueError(f"{field} must be below {size} (the sensor's "
                             f"{'width' if field == 'x' else 'height'}), got {events[field].max()}")
    if check_order and n > 1:
        ts = events["timestamp"]
        backwards = np.flatnonzero(ts[1:] < ts[:-1])
        if len(backwards):
            i = int(backwards[0])
            raise ValueError(f"timestamps must not decrease: event {i + 1} at {events['timestamp'][i + 1]} us "
                             f"follows {events['timestamp'][i]} us")
    return events
