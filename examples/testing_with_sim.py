"""Testing an application without hardware: vantrel_sim plugs in a camera
whose stream carries exactly the events a test pushes, and makes any driver
operation fail on demand, so a test can check the application's results and
its reaction to faults. In a project these checks would be pytest tests.

    python examples/testing_with_sim.py
"""

from __future__ import annotations

import threading

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
import vantrel_sim as vs
from vantrel import make_events

# ---- the application under test --------------------------------------------


class MonitorError(Exception):
    pass


class HotPixelMonitor:
    """Counts each pixel's events and reports the pixels that fire too often."""

    def __init__(self, serial: str, limit: int) -> None:
        try:
            camera = vc.EvCameraService().open(serial)
        except RuntimeError as e:  # a driver failure raised through the bindings
            raise MonitorError(f"camera {serial}: {e}") from e
        if camera is None:
            raise MonitorError(f"camera {serial} is not available")
        self.camera, self.limit, self.events = camera, limit, 0
        self.counts = np.zeros((camera.get_height(), camera.get_width()), np.int64)
        self._changed = threading.Condition()
        camera.register_event_batch_callback_nocopy(self._on_batch)
        if not camera.start():
            camera.close()
            raise MonitorError(f"camera {serial} did not start")

    def _on_batch(self, view: npt.NDArray[np.void]) -> None:  # on the delivery thread
        with self._changed:
            np.add.at(self.counts, (view["y"], view["x"]), 1)
            self.events += len(view)
            self._changed.notify_all()

    def wait_for_events(self, n: int, timeout: float = 5.0) -> bool:
        with self._changed:
            return self._changed.wait_for(lambda: self.events >= n, timeout)

    def hot_pixels(self) -> list[tuple[int, int]]:
        with self._changed:
            ys, xs = np.nonzero(self.counts > self.limit)
        return [(int(x), int(y)) for x, y in zip(xs, ys)]

    def healthy(self) -> bool:
        return self.camera.is_connected()

    def close(self) -> None:
        self.camera.close()


# ---- the checks ---------------------------------------------------------------

SERIAL = "TEST-CAM"


def plug_test_camera() -> None:
    vs.reset()  # no cameras, no faults
    vs.add_camera(SERIAL, width=64, height=48, scene="scripted", realtime=False)


def events(pixels: list[tuple[int, int]]) -> npt.NDArray[np.void]:
    """ON events at these pixels, 10 us apart."""
    xs, ys = zip(*pixels)
    return make_events(x=xs, y=ys, polarity=1, timestamp=np.arange(len(pixels)) * 10)


def check_finds_the_hot_pixel() -> None:
    plug_test_camera()
    monitor = HotPixelMonitor(SERIAL, limit=20)
    batch = events([(10, 5)] * 50 + [(x, 30) for x in range(40)])
    assert vs.push_batch(SERIAL, batch)
    assert monitor.wait_for_events(len(batch)), "the pushed batch never arrived"
    assert monitor.hot_pixels() == [(10, 5)], monitor.hot_pixels()
    monitor.close()


def check_reports_a_camera_that_does_not_start() -> None:
    plug_test_camera()
    vs.inject_fault("ICamera::start", "fail")
    try:
        HotPixelMonitor(SERIAL, limit=20)
    except MonitorError as e:
        assert str(e) == "camera TEST-CAM did not start", e
    else:
        raise AssertionError("a failed start went unnoticed")


def check_reports_a_driver_exception() -> None:
    plug_test_camera()
    vs.inject_fault("EvCameraService::open", "runtime_error", message="USB stack crashed")
    try:
        HotPixelMonitor(SERIAL, limit=20)
    except MonitorError as e:
        assert "USB stack crashed" in str(e), e
    else:
        raise AssertionError("the driver's exception went unnoticed")


def check_notices_an_unplugged_camera() -> None:
    plug_test_camera()
    monitor = HotPixelMonitor(SERIAL, limit=20)
    assert monitor.healthy()
    vs.remove_camera(SERIAL)
    assert not monitor.healthy()
    assert not vs.push_batch(SERIAL, events([(1, 1)]))  # nothing streams any more
    monitor.close()


def main() -> int:
    checks = [check_finds_the_hot_pixel, check_reports_a_camera_that_does_not_start,
              check_reports_a_driver_exception, check_notices_an_unplugged_camera]
    for check in checks:
        check()
        print(f"ok  {check.__name__}")
    vs.reset()
    print(f"all {len(checks)} checks passed")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
