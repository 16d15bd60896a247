"""Helpers of the tool tests: streaming a simulated camera up to a point of
its clock, and reading what its tools received."""

import time

import numpy as np

import vantrel_sim as vs


def collect(camera, until_us, *, timeout=30.0, settle=None):
    """Starts the camera, polls until its clock passed `until_us`, stops it;
    returns the events stamped before `until_us`. Before stopping, waits
    for `settle()` to hold (callbacks still queued are dropped by stop)."""
    assert camera.start()
    parts = []
    deadline = time.monotonic() + timeout
    try:
        while time.monotonic() < deadline:
            batch = camera.get_next_batch()
            if len(batch):
                parts.append(batch)
                if int(batch["timestamp"][-1]) >= until_us:
                    break
        else:
            raise AssertionError(f"the stream did not reach {until_us} us within {timeout} s")
        while settle is not None and not settle() and time.monotonic() < deadline:
            time.sleep(0.002)
    finally:
        camera.stop()
    events = np.concatenate(parts)
    return events[events["timestamp"] < until_us]


def last_write(serial):
    """The latest write the camera's tools received."""
    return vs.tool_writes(serial)[-1]
