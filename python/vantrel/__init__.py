"""The Python side of the Vantrel SDK, on top of the extension module
vantrel_core (cameras, recordings, tools) and vantrel_sim (simulated cameras).

Handles:      open_camera, open_recording, batches, record
Time windows: windows, window_index, window_bounds, time_slice
Partitions:   partitions (independent pieces of a recording), release_readers
Event arrays: EVENT_DTYPE, make_events, pack, unpack, to_xytp, to_dataframe, to_tensor
Transforms:   event_frame, time_surface, voxel_grid, denoise, hot_pixels, remove_hot_pixels
Pictures:     polarity_frame, time_surface_image, rate_plot, save_png
Logging:      log_to_python, stop_log_to_python

Optional modules, imported on first use (they need packages the base
install does not bring): vantrel.dask (many recordings on Dask, the `dask`
extra) and vantrel.torch (training data for PyTorch-style loaders).

The `vantrel` command line is vantrel.cli.
"""

import vantrel_core as _core

from vantrel.events import (
    EVENT_DTYPE,
    PACKED_DTYPE,
    XYTP_DTYPE,
    make_events,
    pack,
    to_dataframe,
    to_tensor,
    to_xytp,
    unpack,
)
from vantrel.handles import (
    BatchStream,
    CameraUnplugged,
    OpenCamera,
    OpenRecording,
    RecordingInterrupted,
    RecordResult,
    UnreadableRecording,
    batches,
    open_camera,
    open_recording,
    record,
)
from vantrel.logs import log_to_python, stop_log_to_python
from vantrel.partitions import EventPiece, TimePiece, partitions, release_readers
from vantrel.render import (
    accumulate,
    event_rate,
    polarity_frame,
    rate_plot,
    save_png,
    time_surface_image,
)
from vantrel.transforms import (
    denoise,
    event_frame,
    hot_pixels,
    remove_hot_pixels,
    time_surface,
    voxel_grid,
)
from vantrel.windows import Window, time_slice, window_bounds, window_index, windows

__version__ = _core.get_version()

__all__ = [
    "EVENT_DTYPE",
    "PACKED_DTYPE",
    "XYTP_DTYPE",
    "make_events",
    "pack",
    "unpack",
    "to_xytp",
    "to_dataframe",
    "to_tensor",
    "open_camera",
    "open_recording",
    "batches",
    "record",
    "OpenCamera",
    "OpenRecording",
    "BatchStream",
    "RecordResult",
    "RecordingInterrupted",
    "CameraUnplugged",
    "UnreadableRecording",
    "Window",
    "windows",
    "window_index",
    "window_bounds",
    "time_slice",
    "partitions",
    "EventPiece",
    "TimePiece",
    "release_readers",
    "event_frame",
    "time_surface",
    "voxel_grid",
    "denoise",
    "hot_pixels",
    "remove_hot_pixels",
    "accumulate",
    "event_rate",
    "polarity_frame",
    "rate_plot",
    "save_png",
    "time_surface_image",
    "log_to_python",
    "stop_log_to_python",
]


# Not imported with the package: importing vantrel must not import Dask or
# PyTorch, which may be missing and take long to import.
_OPTIONAL_MODULES = ("dask", "torch")


def __getattr__(name: str) -> object:
    if name in _OPTIONAL_MODULES:
        import importlib

        return importlib.import_module(f"vantrel.{name}")
    raise AttributeError(f"module 'vantrel' has no attribute {name!r}")
