"""
Control of the Vantrel driver's simulated cameras
"""
from __future__ import annotations
import collections.abc
import numpy
import numpy.typing
import os
import typing
import vantrel_core
__all__: list[str] = ['DEFAULT_SERIAL', 'add_camera', 'cameras', 'clear_faults', 'fault_operations', 'inject_fault', 'push_batch', 'push_statistics', 'push_trigger', 'recording_compression', 'recording_compressions', 'remove_camera', 'reset', 'set_recording_compression', 'set_tool_document', 'stream_drops', 'tool_writes', 'write_firmware_image', 'write_recording']
def _bench_call(fn: collections.abc.Callable[[None], object], n: typing.SupportsIndex) -> float:
    """
    Benchmark baseline: call fn(None) n times from a C++ thread, taking the GIL for each call; returns the seconds taken
    """
def add_camera(serial: str | bytes, *, width: typing.SupportsIndex = 640, height: typing.SupportsIndex = 480, product: str | bytes = 'Vantrel Simulated Event Camera', manufacturer: str | bytes = 'Vantrel', vid: typing.SupportsIndex = 22100, pid: typing.SupportsIndex = 1, interface_type: vantrel_core.InterfaceType = vantrel_core.InterfaceType.USB, firmware_version: str | bytes = '1.0.0', event_rate: typing.SupportsFloat | typing.SupportsIndex = 1000000.0, scene: str = 'default', seed: int = 0, realtime: bool = True, tools: collections.abc.Iterable[vantrel_core.ToolType] | None = None, source: str | bytes | os.PathLike[str] | os.PathLike[bytes] | None = None) -> None:
    """
    Plug in a simulated camera; it is visible after the next EvCameraService.refresh(). ValueError for a duplicate serial or a bad option
    """
def cameras() -> list[str | bytes]:
    """
    Serials of the plugged-in simulated cameras, in the order they were plugged in
    """
def clear_faults() -> None:
    """
    Disarm every injected fault
    """
def fault_operations() -> list[str]:
    """
    Qualified names of the driver operations that accept faults
    """
def inject_fault(operation: str, kind: str, *, message: str = 'injected fault', count: typing.SupportsIndex = 1, delay: typing.SupportsFloat | typing.SupportsIndex = 0.0) -> None:
    """
    Arm a fault for the next `count` calls of a driver operation such as 'ICamera::start' (0: until cleared). kind: 'fail', 'delay' (sleep `delay` seconds, then run normally), 'out_of_range', 'invalid_argument', 'domain_error', 'length_error', 'range_error', 'overflow_error', 'runtime_error', 'bad_alloc', 'exception' or 'unknown'
    """
def push_batch(serial: str | bytes, events: numpy.typing.NDArray[typing.Any]) -> bool:
    """
    While the camera streams, deliver exactly one batch holding exactly these events to every batch callback and to the poll queue; False when it is not streaming
    """
def push_statistics(serial: str | bytes, bandwidth_byte: typing.SupportsIndex, events_count: typing.SupportsIndex) -> bool:
    """
    While the camera streams, deliver one statistics report to its statistics callback; False when it is not streaming
    """
def push_trigger(serial: str | bytes, id: typing.SupportsIndex, polarity: typing.SupportsIndex, timestamp: typing.SupportsIndex) -> bool:
    """
    While the camera streams, deliver one trigger-in edge to its trigger-in callbacks; False when it is not streaming
    """
def recording_compression() -> str:
    """
    The compression that set_recording_compression chose ('none' until then)
    """
def recording_compressions() -> list[str]:
    """
    The names of the compressions a recording's event blocks may have, the default first: 'none' (packed 32-bit words, about 4 bytes per event) and 'zstd' (those words compressed with zstd, block by block: about 2.5 to 3 bytes per event)
    """
def remove_camera(serial: str | bytes) -> bool:
    """
    Unplug a simulated camera; False when no camera has that serial
    """
def reset() -> None:
    """
    Unplug every simulated camera (the default one too), clear injected faults and recorded tool writes
    """
def set_recording_compression(name: str) -> None:
    """
    Compress the recordings that cameras start from now on (ICamera.start_recording) and those of write_recording given no compression as `name` says, for the whole process; ValueError for an unknown name
    """
def set_tool_document(serial: str, tool_id: str, json_text: str) -> None:
    """
    Make the tool's next to_json return this JSON document instead of its parameters (ValueError for an unknown serial or tool, or text that is not JSON)
    """
def stream_drops(serial: str | bytes) -> dict[str, dict[str, int]]:
    """
    What the camera's current stream, or its last one once stopped, dropped: a dict from queue name ('poll', 'delivery', 'recorder') to a dict of counts ('batches', 'events', 'edges', 'reports'); all zero before the first start. ValueError when no open camera has that serial
    """
def tool_writes(serial: str) -> list[dict[str, typing.Any]]:
    """
    Every write the camera's tools received since the camera was added, oldest first, refused ones included (ValueError for an unknown serial)
    """
def write_firmware_image(path: str | bytes | os.PathLike[str] | os.PathLike[bytes], version: str) -> None:
    """
    Write a firmware image carrying `version` that ICamera.firmware_upgrade accepts
    """
def write_recording(path: str | bytes | os.PathLike[str] | os.PathLike[bytes], events: numpy.typing.NDArray[typing.Any], *, width: typing.SupportsIndex = 640, height: typing.SupportsIndex = 480, serial: str | bytes = '', triggers: collections.abc.Iterable[tuple[int, int, int]] | None = None, local_time_ticks: typing.SupportsIndex = 0, compression: str | None = None) -> None:
    """
    Write a recording holding exactly these events (an event-dtype array with non-decreasing timestamps, every pixel on the width x height sensor) and trigger edges (a sequence of (id, polarity, timestamp)), its event blocks compressed as `compression` names (one of recording_compressions(); None: as recording_compression() says). ValueError for data a recording of this sensor cannot hold or an unknown compression, RuntimeError when the file cannot be written.
    """
DEFAULT_SERIAL: str = 'VTR-SIM-0001'
