"""Helpers shared by the camera, event and simulator tests: simulated cameras
that are quick to set up and a way to wait for a condition without sleeping
for a fixed time."""

import time

import pytest

import vantrel_core as vc
import vantrel_sim as vs


def restore_default_devices():
    """What a fresh process has: only the default camera."""
    vs.reset()
    vs.add_camera(vs.DEFAULT_SERIAL)


@pytest.fixture
def sim():
    """A simulator with no camera plugged in; restored afterwards."""
    vs.reset()
    try:
        yield vs
    finally:
        restore_default_devices()


@pytest.fixture
def scripted(sim):
    """A started camera "S" that streams only what is pushed into it."""
    camera = open_camera("S", scene="scripted")
    assert camera.start()
    yield camera
    camera.close()


def open_camera(serial="T", *, realtime=False, scene="noise", width=64, height=32, **options):
    vs.add_camera(serial, realtime=realtime, scene=scene, width=width, height=height, **options)
    service = vc.EvCameraService()
    camera = service.open(serial)
    assert camera is not None
    return camera


def wait_for(predicate, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.002)
    return predicate()


def make_events(n, *, start=0, width=64, height=32):
    import numpy as np

    events = np.zeros(n, dtype=event_dtype())
    events["x"] = np.arange(n) % width
    events["y"] = (np.arange(n) // width) % height
    events["polarity"] = np.arange(n) % 2
    events["timestamp"] = start + np.arange(n)
    return events


def event_dtype():
    import numpy as np

    return np.dtype({
        "names": ("x", "y", "polarity", "timestamp"),
        "formats": ("<u2", "<u2", "u1", "<u8"),
        "offsets": (8, 10, 12, 0),
        "itemsize": 16,
    })
