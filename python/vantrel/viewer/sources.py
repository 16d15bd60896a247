"""What the viewer shows: a live camera or a recording played back.

Both feed an Accumulator and answer the same few calls (start, stop, status,
close); the camera adds its tools and recording, the recording its position
and pace. Calls that wait for the driver (start, stop, recording, seeks,
close) are made from worker threads, never from the server's event loop.
"""

from __future__ import annotations

import datetime
import logging
import os
import threading
import time
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
from vantrel.handles import UnreadableRecording, open_camera, open_recording
from vantrel.viewer import controls
from vantrel.viewer.frames import WINDOW_MAX_US, Accumulator
from vantrel.viewer.protocol import BadMessage

log = logging.getLogger("vantrel.viewer")

#: The extension of the recordings the viewer writes.
RECORDING_SUFFIX = ".vtr"


def _text(read: Any) -> str:
    try:
        return str(read())
    except UnicodeDecodeError:
        return "(not readable text)"


@dataclass
class _Recording:
    path: str
    began: float
    delivered_at_start: int


class LiveSource:
    """A camera: its batches reach the accumulator through a no-copy callback
    on the camera's delivery thread, its statistics reports are kept, its
    tools are read and written, and its stream can be recorded to files in
    `out_dir`. With `owns` (the default) closing the source closes the camera."""

    kind = "camera"

    def __init__(self, camera: vc.ICamera, *, out_dir: str | os.PathLike[str] = ".", owns: bool = True) -> None:
        self.camera = camera
        self.out_dir = os.fspath(out_dir)
        self.owns = owns
        self.width, self.height = camera.get_width(), camera.get_height()
        self.accumulator = Accumulator(self.width, self.height)
        self._control = threading.Lock()  # one start, stop, recording change or close at a time
        self._streaming = False
        self._closed = False
        self._delivered = 0
        self._failures = 0
        self._statistics: tuple[float, int, int] | None = None
        self._recording: _Recording | None = None
        self._last_recording: dict[str, Any] | None = None
        self._callback = camera.register_event_batch_callback_nocopy(self._on_batch)
        camera.set_statistics_callback(self._on_statistics)

    # -- the delivery thread ------------------------------------------------
    def _on_batch(self, view: npt.NDArray[np.void]) -> None:
        try:
            self.accumulator.add(view)
            self._delivered += len(view)
        except Exception:  # never let a picture problem reach the driver's thread
            self._failures += 1
            if self._failures == 1:
                log.exception("a batch could not be drawn; later failures are only counted")

    def _on_statistics(self, info: vc.EvCameraStatisticInfo) -> None:
        self._statistics = (time.monotonic(), info.events_count, info.bandwidth_byte)

    # -- what the page shows ------------------------------------------------
    def info(self) -> dict[str, Any]:
        d = self.camera.get_description()
        return {
            "source": self.kind,
            "width": self.width,
            "height": self.height,
            "description": {
                "serial": _text(lambda: d.serial),
                "product": _text(lambda: d.product),
                "manufacturer": _text(lambda: d.manufacturer),
                "firmware": _text(lambda: d.firmware_version),
                "interface": d.interface_type.name,
                "vid_pid": "%04x:%04x" % (d.vid, d.pid),
            },
            "tools": controls.describe_tools(self.camera),
        }

    def status(self) -> dict[str, Any]:
        recording = self._recording
        stats = self._statistics
        connected = self.camera.is_connected()
        return {
            "streaming": self._streaming and connected,
            "connected": connected,
            "clock_us": self.accumulator.clock,
            "events": self._delivered,
            "ignored": self.accumulator.ignored,
            "rate": self.accumulator.rates(),
            "driver": None if stats is None else {
                "age_s": time.monotonic() - stats[0], "events_per_s": stats[1], "bytes_per_s": stats[2]},
            "recording": None if recording is None else {
                "path": recording.path,
                "events": self._delivered - recording.delivered_at_start,
                "bytes": _size(recording.path),
                "seconds": time.monotonic() - recording.began,
            },
            "last_recording": self._last_recording,
        }

    # -- controls (worker threads) --------------------------------------------
    def start(self) -> tuple[bool, str]:
        with self._control:
            if self._streaming and self.camera.is_connected():
                return True, "already streaming"
            self._streaming = False
            if not self.camera.start():
                return False, "the camera did not start (unplugged or closed; the driver's log says which)"
            self._streaming = True
            return True, "streaming"

    def stop(self) -> tuple[bool, str]:
        with self._control:
            if not self._streaming:
                return True, "already stopped"
            self._streaming = False
            if not self.camera.is_connected():
                return True, "stopped: the camera is unplugged"
            if not self.camera.stop():
                return False, "the camera did not stop cleanly (see the driver's log)"
            return True, "stopped"

    def tool(self, tool_id: str) -> vc.CameraTool:
        tool = self.camera.get_tool_by_id(tool_id)
        if tool is None:
            raise BadMessage(f"this camera has no tool {tool_id!r}")
        return tool

    def set(self, tool_id: str, name: str, value: Any) -> tuple[vc.ParamResult, dict[str, Any]]:
        tool = self.tool(tool_id)
        result = tool.set(name, controls.checked_value(tool, tool_id, name, value))
        return result, controls.tool_values(tool)

    def apply(self, tool_id: str, values: dict[str, Any]) -> tuple[vc.ParamResult, dict[str, Any]]:
        tool = self.tool(tool_id)
        checked = {name: controls.checked_value(tool, tool_id, name, v) for name, v in values.items()}
        result = tool.apply(checked)
        return result, controls.tool_values(tool)

    def start_recording(self, name: str | None) -> tuple[bool, str]:
        with self._control:
            if self._recording is not None:
                return False, f"already recording to {self._recording.path}"
            if name is None:
                serial = _text(lambda: self.camera.get_description().serial)
                name = "%s-%s" % (serial, datetime.datetime.now().strftime("%Y%m%d-%H%M%S"))
            if not name.endswith(RECORDING_SUFFIX):
                name += RECORDING_SUFFIX
            path = os.path.join(self.out_dir, name)
            if os.path.exists(path):
                return False, f"{path} exists: choose another name"
            delivered = self._delivered
            if not self.camera.start_recording(path):
                return False, f"cannot record to {path} (see the driver's log)"
            self._recording = _Recording(path, time.monotonic(), delivered)
            self._last_recording = None
            log.info("recording to %s", path)
            return True, f"recording to {path}"

    def stop_recording(self) -> tuple[bool, str]:
        with self._control:
            return self._finish_recording()

    def _finish_recording(self) -> tuple[bool, str]:
        recording, self._recording = self._recording, None
        if recording is None:
            return False, "not recording"
        completed = self.camera.stop_recording()
        events = _event_count(recording.path)
        self._last_recording = {"path": recording.path, "events": events, "bytes": _size(recording.path),
                                "completed": completed}
        if not completed and events is not None and not self.camera.is_connected():
            return False, f"the camera was unplugged: {recording.path} holds {events} events"
        if not completed or events is None:
            return False, f"the recording {recording.path} could not be completed (see the driver's log)"
        words = f"recorded {events} events ({_size(recording.path)} bytes) to {recording.path}"
        log.info(words)
        return True, words

    def close(self) -> None:
        """Finishes a recording in progress and lets the camera go: closed when
        the source owns it, otherwise stopped if the viewer started it."""
        with self._control:
            if self._closed:
                return
            self._closed = True
            if self._recording is not None:
                self._finish_recording()
            if self.owns:
                self.camera.close()
            else:
                self.camera.unregister_event_batch_callback(self._callback)
                # Lets go of this source; the caller's own statistics callback,
                # if it had one, was replaced when the viewer started.
                self.camera.set_statistics_callback(_ignore)
                if self._streaming:
                    self.camera.stop()
            self._streaming = False


def _ignore(info: vc.EvCameraStatisticInfo) -> None:
    pass


def _size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _event_count(path: str) -> int | None:
    reader = vc.EvFileReader.create_file_reader(path)
    if reader is None or not reader.open():
        return None
    return reader.get_event_count() or 0


class PlaybackSource:
    """A recording played back at `speed` times real time by a thread of its
    own, which reads the events of each step by time interval and hands them
    to the accumulator. `seek` moves to a time (the reader's seek) and shows
    the window before it at once, playing or not. A step never covers more
    than MAX_STEP_S of wall time: when reading and drawing fall behind, the
    playback slows down rather than skip events."""

    kind = "recording"
    #: Wall time between two steps.
    STEP_S = 0.01
    MAX_STEP_S = 0.05

    def __init__(self, path: str | os.PathLike[str], *, speed: float = 1.0) -> None:
        self.path = os.fspath(path)
        self.reader = open_recording(self.path).reader
        count = self.reader.get_event_count() or 0
        first, last = self.reader.get_start_time(), self.reader.get_end_time()
        if not count or first is None or last is None:
            raise UnreadableRecording(f"{self.path}: holds no events")
        self.first, self.last = int(first), int(last)
        self.count = count
        self.width, self.height = self.reader.get_width(), self.reader.get_height()
        self.accumulator = Accumulator(self.width, self.height)
        self._changed = threading.Condition()
        self._playing = False
        self._closed = False
        self._speed = speed
        self._seek_to: int | None = self.first
        self._reanchor = False
        self._position = self.first
        self._done = threading.Event()  # set when the thread has handled the latest command
        self._thread = threading.Thread(target=self._run, name="vantrel-viewer-playback", daemon=True)
        self._thread.start()

    def info(self) -> dict[str, Any]:
        meta = self.reader.get_file_metadata()
        when = None
        if meta is not None:
            try:
                local = meta.local_time
                when = local.isoformat(sep=" ", timespec="seconds") if local else None
            except (OverflowError, OSError, ValueError):
                when = None
        return {
            "source": self.kind,
            "width": self.width,
            "height": self.height,
            "description": {
                "file": os.path.basename(self.path),
                "serial": _text(lambda: meta.serial_number) if meta is not None else "",
                "recorded": when,
                "events": self.count,
            },
            "playback": {"start_us": self.first, "end_us": self.last},
            "tools": [],
        }

    def status(self) -> dict[str, Any]:
        return {
            "streaming": self._playing,
            "connected": True,
            "clock_us": self.accumulator.clock,
            "events": self.accumulator.events,
            "ignored": self.accumulator.ignored,
            "rate": self.accumulator.rates(),
            "driver": None,
            "recording": None,
            "last_recording": None,
            "playback": {"position_us": self._position, "speed": self._speed,
                         "start_us": self.first, "end_us": self.last},
        }

    def start(self) -> tuple[bool, str]:
        with self._changed:
            if self._position > self.last:
                self._seek_to = self.first  # played to the end: from the start again
            self._playing = True
            self._changed.notify_all()
        return True, "playing"

    def stop(self) -> tuple[bool, str]:
        with self._changed:
            self._playing = False
            self._changed.notify_all()
        return True, "paused"

    def seek(self, t_us: int) -> tuple[bool, str]:
        if not self.first <= t_us <= self.last + 1:
            raise BadMessage(f"seek: {t_us} us is outside the recording ({self.first} .. {self.last} us)")
        with self._changed:
            self._seek_to = t_us
            self._done.clear()
            self._changed.notify_all()
        self._done.wait(5.0)
        return True, f"at {t_us} us"

    def set_speed(self, speed: float) -> tuple[bool, str]:
        with self._changed:
            self._speed = speed
            self._reanchor = True
            self._changed.notify_all()
        return True, f"speed {speed:g}x"

    def close(self) -> None:
        with self._changed:
            self._closed = True
            self._changed.notify_all()
        if self._thread is not threading.current_thread():
            self._thread.join()

    # -- the playback thread -------------------------------------------------
    def _run(self) -> None:
        while True:
            try:
                self._play()
                return
            except Exception as error:  # the reader failed: pause, say why, and wait for the next command
                log.error("playing %s: %s: %s", self.path, type(error).__name__, error)
                with self._changed:
                    self._playing = False
                    self._done.set()

    def _play(self) -> None:
        anchor: tuple[float, int] | None = None  # (wall time, stream time) of the last (re)start
        while True:
            with self._changed:
                while not self._closed and not self._playing and self._seek_to is None:
                    self._done.set()
                    self._changed.wait()
                if self._closed:
                    self._done.set()
                    return
                seek, self._seek_to = self._seek_to, None
                speed = self._speed
                if self._reanchor:
                    self._reanchor, anchor = False, None
            if seek is not None:
                self._show(seek)
                anchor = None
                self._done.set()
                continue
            now = time.monotonic()
            if anchor is None:
                anchor = (now, self._position)
            target = anchor[1] + int((now - anchor[0]) * speed * 1e6)
            furthest = self._position + int(self.MAX_STEP_S * speed * 1e6)
            if target > furthest:  # behind: go on from here at the asked pace
                target, anchor = furthest, (now, furthest)
            target = min(target, self.last + 1)  # the end: one past the last event
            if target > self._position:
                self._step(target)
            if self._position > self.last:
                with self._changed:
                    self._playing = False
                continue
            with self._changed:
                if self._playing and self._seek_to is None and not self._closed:
                    self._changed.wait(self.STEP_S)

    def _step(self, target: int) -> None:
        start = self._position
        if start <= self.last:
            self.accumulator.add(self.reader.read_events_by_time_interval_from_timestamp(start, target - start))
        self.accumulator.advance(target)
        self._position = target

    def _show(self, t_us: int) -> None:
        self.accumulator.reset(t_us)
        start = max(self.first, t_us - WINDOW_MAX_US)
        if t_us > start:
            self.accumulator.add(self.reader.read_events_by_time_interval_from_timestamp(start, t_us - start))
        self._position = t_us


def open_source(name: str | None, *, out_dir: str = ".") -> LiveSource | PlaybackSource:
    """The camera with serial `name` (streaming), the recording at path `name`
    (playing), or the first camera found for None. LookupError,
    FileNotFoundError, UnreadableRecording or RuntimeError, each with a
    sentence, otherwise."""
    if name is not None and (os.path.exists(name) or os.sep in name or name.endswith(RECORDING_SUFFIX)):
        if not os.path.exists(name):
            raise FileNotFoundError(f"{name}: no such recording")
        playback = PlaybackSource(name)
        playback.start()
        return playback
    camera = open_camera(name).camera
    try:
        source = LiveSource(camera, out_dir=out_dir)
        ok, words = source.start()
    except BaseException:
        camera.close()
        raise
    if not ok:
        source.close()
        raise RuntimeError(f"{f'camera {name}' if name else 'the camera'}: {words}")
    return source
