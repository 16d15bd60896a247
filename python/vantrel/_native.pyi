"""
Native helpers of the vantrel package (private)
"""
from __future__ import annotations
import numpy.dtypes
import typing
__all__: list[str] = ['EVENT_DTYPE', 'capture_log', 'release_log', 'take_log_records']
def capture_log() -> None:
    """
    Send the driver's log lines to the queue that take_log_records empties, instead of the log file or standard error
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
