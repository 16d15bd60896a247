"""The driver's log in Python's `logging`.

`log_to_python()` sends every line the driver logs to a Python logger
instead of standard error or the driver's log file. Driver threads only put
the lines into a bounded queue (they never wait for the interpreter); a
daemon thread of this module forwards them as log records, with the driver's
time of each line. Should Python fall that far behind, the oldest lines are
dropped and a warning says how many.
"""

from __future__ import annotations

import atexit
import logging
import threading

import vantrel_core as vc
from vantrel import _native

# Driver level -> Python level, most severe first.
_LEVELS = (
    (vc.LogLevelType.LOG_FATAL, logging.CRITICAL),
    (vc.LogLevelType.LOG_ERROR, logging.ERROR),
    (vc.LogLevelType.LOG_WARNING, logging.WARNING),
    (vc.LogLevelType.LOG_INFO, logging.INFO),
    (vc.LogLevelType.LOG_DEBUG, logging.DEBUG),
)
_TO_PYTHON = {int(driver.value): python for driver, python in _LEVELS}


def driver_level(level: int | str) -> vc.LogLevelType:
    """The driver level that lets through every message a Python logger at
    `level` shows (logging.INFO -> LOG_INFO, logging.NOTSET -> LOG_DEBUG)."""
    number = logging.getLevelName(level) if isinstance(level, str) else level
    if not isinstance(number, int):
        raise ValueError(f"unknown logging level {level!r}")
    chosen = vc.LogLevelType.LOG_OFF
    for driver, python in _LEVELS:
        if python >= number:
            chosen = driver
    return chosen


class _Forwarder:
    """The thread that moves captured lines into a Python logger."""

    def __init__(self) -> None:
        self.logger = logging.getLogger("vantrel")
        self._stop = threading.Event()
        self._dropped = 0
        self._thread = threading.Thread(target=self._run, name="vantrel-log", daemon=True)
        self._thread.start()

    def _run(self) -> None:
        while not self._stop.is_set():
            records, dropped = _native.take_log_records(0.2)
            self.forward(records, dropped)

    def forward(self, records: list[tuple[int, float, str]], dropped: int) -> None:
        logger = self.logger
        for level, when, text in records:
            python_level = _TO_PYTHON.get(level, logging.ERROR)
            if not logger.isEnabledFor(python_level):
                continue
            record = logger.makeRecord(logger.name, python_level, "(driver)", 0, text, (), None)
            record.created = when
            record.msecs = (when - int(when)) * 1000.0
            logger.handle(record)
        if dropped > self._dropped:
            logger.warning("%d driver log lines dropped: Python did not take them fast enough",
                           dropped - self._dropped)
            self._dropped = dropped

    def stop(self) -> None:
        self._stop.set()
        if self._thread is not threading.current_thread():
            self._thread.join()
        # What was logged before the capture ended still reaches the logger.
        self.forward(*_native.take_log_records(0.0))


_lock = threading.Lock()
_forwarder: _Forwarder | None = None


def log_to_python(logger_name: str = "vantrel", level: int | str | None = None) -> logging.Logger:
    """Routes the driver's log lines into the Python logger `logger_name`
    (returned), until `stop_log_to_python()`. With `level` (a logging level),
    the logger and the driver are both set to it; otherwise the driver keeps
    its level (LOG_WARNING unless changed). Calling it again moves the lines
    to another logger or level."""
    global _forwarder
    logger = logging.getLogger(logger_name)
    if level is not None:
        logger.setLevel(level)
        vc.Logger.instance().set_log_level(driver_level(level))
    with _lock:
        if _forwarder is None:
            _native.capture_log()
            _forwarder = _Forwarder()
        _forwarder.logger = logger
    return logger


def stop_log_to_python() -> None:
    """The driver logs to its log file or standard error again; lines already
    captured are forwarded first."""
    global _forwarder
    with _lock:
        forwarder, _forwarder = _forwarder, None
        if forwarder is None:
            return
        _native.release_log()
        forwarder.stop()


atexit.register(stop_log_to_python)
