"""Pythonic handles on cameras and recordings: context managers that open and
always close, an iterator over a camera's batches with a timeout finer than
the driver's one-second poll, and recording for a fixed time.

    with vantrel.open_camera() as cam:              # the first camera
        for batch in vantrel.batches(cam, seconds=2):
            ...

The objects handed out are vantrel_core's own (`ICamera`, `EvFileReader`):
everything vantrel_core offers stays available on them.
"""

from __future__ import annotations

import collections
import os
import threading
import time
from dataclasses import dataclass
from types import TracebackType
from typing import TextIO

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
import vantrel_sim as vs
from vantrel.progress import ProgressBar

Events = npt.NDArray[np.void]
PathLike = str | bytes | os.PathLike[str] | os.PathLike[bytes]

#: How often waits wake up to notice Ctrl-C, an unplugged camera or the end.
_TICK = 0.05


def _path(path: PathLike) -> str:
    """A path for vantrel_core, which takes str."""
    return os.fsdecode(os.fspath(path))


class OpenCamera:
    """An open camera, as a context manager: `with open_camera() as cam`
    gives the vantrel_core.ICamera and closes it (stopping its stream and any
    recording) on leaving the block, also on an exception."""

    def __init__(self, camera: vc.ICamera) -> None:
        self.camera = camera

    def __enter__(self) -> vc.ICamera:
        return self.camera

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()

    def close(self) -> None:
        """Closes the camera (it stops streaming and recording first)."""
        self.camera.close()


def open_camera(serial: str | None = None) -> OpenCamera:
    """Opens the camera with this serial, or the first camera found.

    LookupError, listing the serials found, when there is no such camera;
    RuntimeError when the driver cannot open it (the log says why).
    """
    service = vc.EvCameraService()
    service.refresh()
    serials = [d.serial for d in service.list_cameras()]
    if serial is None:
        if not serials:
            raise LookupError("no camera is connected")
        serial = serials[0]
    elif serial not in serials:
        raise LookupError(f"no camera with serial {serial!r} (connected: {', '.join(serials) or 'none'})")
    camera = service.open(serial)
    if camera is None:
        raise RuntimeError(f"camera {serial} could not be opened (see the driver's log)")
    return OpenCamera(camera)


class OpenRecording:
    """An opened recording, as a context manager: `with open_recording(path)
    as rec` gives the opened vantrel_core.EvFileReader."""

    def __init__(self, reader: vc.EvFileReader, path: str) -> None:
        self.reader, self.path = reader, path

    def __enter__(self) -> vc.EvFileReader:
        return self.reader

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()

    def close(self) -> None:
        """Lets the reader go (its file is closed once nothing else refers to it)."""
        del self.reader


class UnreadableRecording(ValueError):
    """A file that is not a readable recording."""


def open_recording(path: PathLike) -> OpenRecording:
    """Opens a recording for reading. FileNotFoundError or IsADirectoryError
    for a path that is not a file, UnreadableRecording (a ValueError) for a
    file that is not a readable recording (the driver's log says why)."""
    text = _path(path)
    if os.path.isdir(text):
        raise IsADirectoryError(f"{text}: is a directory, not a recording")
    reader = vc.EvFileReader.create_file_reader(text)
    if reader is None:
        raise FileNotFoundError(f"{text}: no such file")
    if not reader.open():
        raise UnreadableRecording(f"{text}: not a readable recording (see the driver's log)")
    return OpenRecording(reader, text)


class BatchStream:
    """The batches a camera delivers, as an iterator; made by `batches()`.

    A callback puts each batch into a queue that the iterator empties, so a
    wait can end at any time (timeouts, Ctrl-C, an unplugged camera) rather
    than at the driver's one-second poll. The queue holds at most
    `buffer_events` events: beyond that the camera's delivery thread waits,
    and a real-time camera then drops its oldest batches and logs it.
    """

    def __init__(self, camera: vc.ICamera, *, seconds: float | None = None, events: int | None = None,
                 timeout: float | None = None, start: bool = True, buffer_events: int = 4_000_000) -> None:
        for name, value in (("seconds", seconds), ("timeout", timeout)):
            if value is not None and not (value > 0 and value < float("inf")):
                raise ValueError(f"{name} must be a positive, finite number of seconds, got {value!r}")
        if events is not None and (isinstance(events, bool) or not isinstance(events, int) or events <= 0):
            raise ValueError(f"events must be a positive whole number, got {events!r}")
        self.camera = camera
        self.timeout = timeout
        self._remaining = events
        self._limit = buffer_events
        self._queue: collections.deque[Events] = collections.deque()
        self._queued = 0
        self._changed = threading.Condition()
        self._open = True
        self._started = False
        self._deadline: float | None = None
        self._callback = camera.register_event_batch_callback(self._on_batch)
        if start:
            if not camera.start():
                self.close()
                raise RuntimeError(f"camera {camera.get_description().serial} did not start: it is unplugged, "
                                   "closed or already streaming (the driver's log says which; pass start=False "
                                   "for a camera you started)")
            self._started = True
        self._deadline = None if seconds is None else time.monotonic() + seconds

    def _on_batch(self, events: Events) -> None:  # on the camera's delivery thread
        if self._deadline is not None and time.monotonic() >= self._deadline:
            return  # after the time asked for
        with self._changed:
            while self._open and self._queued >= self._limit and self._queue:
                self._changed.wait(_TICK)
            if not self._open:
                return
            self._queue.append(events)
            self._queued += len(events)
            self._changed.notify_all()

    def __iter__(self) -> BatchStream:
        return self

    def __next__(self) -> Events:
        try:
            batch, problem = self._next_batch() if self._open and self._remaining != 0 else (None, None)
        except BaseException:  # Ctrl-C while waiting: the stream ends here
            self.close()
            raise
        if batch is None:
            self.close()
            if problem is not None:
                raise problem
            raise StopIteration
        if self._remaining is not None:
            batch = batch[:self._remaining]
            self._remaining -= len(batch)
        return batch

    def _next_batch(self) -> tuple[Events | None, Exception | None]:
        """The next batch, or None at the end of the time, or None and the
        exception that ends the iteration."""
        waited_since = time.monotonic()
        while True:
            with self._changed:
                if self._queue:
                    batch = self._queue.popleft()
                    self._queued -= len(batch)
                    self._changed.notify_all()
                    return batch, None
                now = time.monotonic()
                if self._deadline is not None and now >= self._deadline:
                    return None, None
                self._changed.wait(_TICK)
            if self.timeout is not None and time.monotonic() - waited_since >= self.timeout:
                serial = self.camera.get_description().serial
                return None, TimeoutError(f"no batch from camera {serial} within {self.timeout} s")
            if not self.camera.is_connected():
                serial = self.camera.get_description().serial
                return None, ConnectionError(f"camera {serial} was unplugged")

    def close(self) -> None:
        """Stops taking batches: unregisters the callback and stops the stream
        if this iterator started it. Called at the end of the iteration."""
        with self._changed:
            if not self._open:
                return
            self._open = False
            self._queue.clear()
            self._changed.notify_all()
        self.camera.unregister_event_batch_callback(self._callback)
        if self._started:
            self.camera.stop()

    def __enter__(self) -> BatchStream:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_open", False):
            self.close()


def batches(camera: vc.ICamera, *, seconds: float | None = None, events: int | None = None,
            timeout: float | None = None, start: bool = True) -> BatchStream:
    """The camera's batches (owning event arrays), in order.

    - `seconds`: stop after this much time (from the call on);
    - `events`: stop after this many events (the last batch is cut to fit);
    - `timeout`: TimeoutError when no batch comes for this many seconds;
    - `start`: start the stream now and stop it at the end (the default); pass
      False for a camera that you started and stop yourself.

    ConnectionError when the camera is unplugged while waiting. Without
    `seconds` or `events`, the iteration goes on until you break out of it.
    """
    return BatchStream(camera, seconds=seconds, events=events, timeout=timeout, start=start)


@dataclass(frozen=True)
class RecordResult:
    """What a recording holds, read back from the file once it was finished."""

    path: str
    events: int
    bytes: int
    seconds: float


class CameraUnplugged(ConnectionError):
    """The camera was unplugged while recording; `result` says what the
    finished file holds (None when it is not a readable recording)."""

    def __init__(self, message: str, result: RecordResult | None) -> None:
        super().__init__(message)
        self.result = result


class RecordingInterrupted(KeyboardInterrupt):
    """Ctrl-C while recording, raised once the file was finished; `result`
    says what it holds. A KeyboardInterrupt, so `except Exception` lets it by."""

    def __init__(self, message: str, result: RecordResult | None) -> None:
        super().__init__(message)
        self.result = result


def _finished_recording(path: str, seconds: float) -> RecordResult | None:
    reader = vc.EvFileReader.create_file_reader(path)
    if reader is None or not reader.open():
        return None
    return RecordResult(path, reader.get_event_count() or 0, os.path.getsize(path), seconds)


def record(camera: vc.ICamera, path: PathLike, seconds: float, *, overwrite: bool = False,
           progress: bool | TextIO = True, start: bool = True, compression: str | None = None) -> RecordResult:
    """Records the camera's stream to `path` for `seconds`, drawing a progress
    bar on standard error (or on the stream given as `progress`; False for
    none), and returns what the finished file holds.

    `compression` names how the event blocks are stored, one of
    vantrel_sim.recording_compressions() ("none", "zstd"); None keeps the
    process-wide choice (vantrel_sim.recording_compression(), "none" unless
    set). ValueError for an unknown name.

    FileExistsError when `path` exists (unless `overwrite`), OSError when it
    cannot be created. The stream is started and stopped here unless `start`
    is False. Should the recording end early, the file is finished first and
    the exception carries its `result`: RecordingInterrupted (a
    KeyboardInterrupt) on Ctrl-C, CameraUnplugged (a ConnectionError) when
    the camera goes away.
    """
    if not (seconds > 0 and seconds < float("inf")):
        raise ValueError(f"seconds must be a positive, finite number, got {seconds!r}")
    if compression is not None and compression not in vs.recording_compressions():
        raise ValueError(f"unknown compression {compression!r} (known: {', '.join(vs.recording_compressions())})")
    out = _path(path)
    if os.path.isdir(out):
        raise IsADirectoryError(f"{out}: is a directory")
    if os.path.exists(out) and not overwrite:
        raise FileExistsError(f"{out} exists (pass overwrite=True to replace it)")
    folder = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(folder):
        raise FileNotFoundError(f"{folder}: no such folder")
    if not _start_recording(camera, out, compression):
        raise OSError(f"cannot record to {out} (see the driver's log)")
    began = time.monotonic()
    stopped: type[CameraUnplugged] | type[RecordingInterrupted] | None = None
    streaming = False
    try:
        if start:
            streaming = camera.start()
            if not streaming:
                raise RuntimeError(f"camera {camera.get_description().serial} did not start (see the driver's log)")
        stopped = _wait_while_recording(camera, seconds, began, _progress_bar(progress, seconds))
    finally:
        elapsed = time.monotonic() - began
        if streaming:
            camera.stop()
        completed = camera.stop_recording()
    if not completed and not camera.is_connected():
        stopped = CameraUnplugged
    result = _finished_recording(out, elapsed)
    if stopped is CameraUnplugged:
        raise CameraUnplugged(f"the camera was unplugged after {elapsed:.1f} s", result)
    if stopped is RecordingInterrupted:
        raise RecordingInterrupted(f"interrupted after {elapsed:.1f} s", result)
    if result is None or not completed:
        raise OSError(f"the recording {out} could not be completed (see the driver's log)")
    return result


_compression_choice = threading.Lock()


def _start_recording(camera: vc.ICamera, path: str, compression: str | None) -> bool:
    """start_recording with the compression chosen for this recording alone:
    the driver reads the process-wide choice when the recording starts, so
    it is set for that moment and put back."""
    if compression is None:
        return camera.start_recording(path)
    with _compression_choice:
        was = vs.recording_compression()
        vs.set_recording_compression(compression)
        try:
            return camera.start_recording(path)
        finally:
            vs.set_recording_compression(was)


def _wait_while_recording(camera: vc.ICamera, seconds: float, began: float,
                          bar: ProgressBar | None) -> type[CameraUnplugged] | type[RecordingInterrupted] | None:
    """Waits until the time is up; what stopped the recording early, if anything."""
    try:
        while (elapsed := time.monotonic() - began) < seconds:
            if not camera.is_connected():
                return CameraUnplugged
            if bar is not None:
                bar.update(elapsed)
            time.sleep(min(_TICK * 2, seconds - elapsed))
        if bar is not None:
            bar.update(seconds)
        return None
    except KeyboardInterrupt:
        return RecordingInterrupted
    finally:
        if bar is not None:
            bar.close()


def _progress_bar(progress: bool | TextIO, seconds: float) -> ProgressBar | None:
    if progress is False:
        return None
    return ProgressBar("recording", seconds, stream=None if progress is True else progress)

