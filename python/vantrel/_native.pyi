"""
Native helpers of the vantrel package (private)
"""
from __future__ import annotations
import numpy.dtypes
import typing
__all__: list[str] = ['EVENT_DTYPE', 'capture_log', 'recording_layout', 'release_log', 'take_log_records']
def capture_log() -> None:
    """
    Send the driver's log lines to the queue that take_log_records empties, instead of the log file or standard error
    """
def recording_layout(path: str) -> dict[str, typing.Any]:
    """
    The event blocks of the recording at `path` as its index lists them (found by a scan when it has none): {'event_count', 'monotonic', 'recovered', 'blocks'}, blocks a structured array with first_event, count, first/last/min/max_timestamp and sorted per block, in file order. ValueError when the file is not a readable recording.
    """
def release_log() -> None:
    """
    Send the driver's log lines to its log file or standard error again
    """
def take_log_records(timeout: typing.SupportsFloat | typing.SupportsIndex) -> tuple[list[tuple[int, float, str]], int]:
    """
    Wait up to `timeout` seconds for captured log lines (GIL released) and return ([(level, unix_time, text), ...], lines dropped so far because the queue was full)
    """
EVENT_DTYPE: numpy.dtypes.VoidDType
