"""Which calls release the GIL, and how driver exceptions reach Python."""

import pytest

import vantrel_core as vc
import vantrel_sim as vs
from gil_probe import ticks_during
from simcam import open_camera, sim  # noqa: F401

DELAY = 0.25


def longest_pause_of_another_thread(call):
    """The longest stretch during `call` in which another Python thread could not run."""
    ticks, _, _ = ticks_during(call)
    return max(b - a for a, b in zip(ticks, ticks[1:]))


def _streaming(camera):
    assert camera.start()
    return camera


# (driver operation, how to call it, releases the GIL)
CASES = [
    ("ICamera::start", lambda c, s: c.start(), True),
    ("ICamera::stop", lambda c, s: _streaming(c).stop(), True),
    ("ICamera::close", lambda c, s: c.close(), True),
    ("ICamera::getNextBatch", lambda c, s: c.get_next_batch(), True),
    ("ICamera::firmwareUpgrade", lambda c, s: c.firmware_upgrade("missing.img"), True),
    ("ICamera::unregisterEventBatchCallback", lambda c, s: c.unregister_event_batch_callback(1), True),
    ("ICamera::setStatisticsCallback", lambda c, s: c.set_statistics_callback(print), True),
    ("ICamera::startRecording", lambda c, s: c.start_recording("/nonexistent-dir/x.vtr"), True),
    ("EvCameraService::refresh", lambda c, s: s.refresh(), True),
    ("EvCameraService::open", lambda c, s: s.open("T"), True),
    ("ICamera::getWidth", lambda c, s: c.get_width(), False),
    ("ICamera::getHeight", lambda c, s: c.get_height(), False),
    ("ICamera::isConnected", lambda c, s: c.is_connected(), False),
    ("ICamera::setBatchEventsNum", lambda c, s: c.set_batch_events_num(5), False),
    ("ICamera::registerEventBatchCallback", lambda c, s: c.register_event_batch_callback(print), False),
    ("ICamera::getToolsInfo", lambda c, s: c.get_tools_info(), False),
    ("EvCameraService::listCameras", lambda c, s: s.list_cameras(), False),
]


@pytest.mark.parametrize("operation, call, releases", CASES, ids=[c[0] for c in CASES])
def test_gil_rule(sim, operation, call, releases):
    camera = open_camera("T")
    service = vc.EvCameraService()
    vs.inject_fault(operation, "delay", delay=DELAY)
    pause = longest_pause_of_another_thread(lambda: call(camera, service))
    if releases:
        assert pause < DELAY * 0.6
    else:
        assert pause >= DELAY * 0.9


TRANSLATION = [
    ("out_of_range", IndexError, "boom"),
    ("invalid_argument", ValueError, "boom"),
    ("domain_error", ValueError, "boom"),
    ("length_error", ValueError, "boom"),
    ("range_error", ValueError, "boom"),
    ("overflow_error", OverflowError, "boom"),
    ("runtime_error", RuntimeError, "boom"),
    ("exception", RuntimeError, "boom"),
    ("bad_alloc", MemoryError, None),
    ("unknown", RuntimeError, "Caught an unknown exception!"),
]


@pytest.mark.parametrize("kind, exc, text", TRANSLATION, ids=[t[0] for t in TRANSLATION])
def test_driver_exceptions_reach_python(sim, kind, exc, text):
    camera = open_camera("T")
    service = vc.EvCameraService()
    for operation, call in [("ICamera::getWidth", camera.get_width),  # GIL held
                            ("ICamera::start", camera.start),  # GIL released
                            ("EvCameraService::open", lambda: service.open("T")),
                            ("ICamera::getDescription", camera.get_description)]:
        vs.inject_fault(operation, kind, message="boom")
        with pytest.raises(exc) as info:
            call()
        assert type(info.value) is exc
        if text is not None:
            assert str(info.value) == text
    # Nothing is left broken: the camera still works.
    assert camera.get_width() == 64 and camera.start()


def test_fail_faults_give_each_operation_its_failure_result(sim):
    camera = open_camera("T")
    service = vc.EvCameraService()
    for operation in ("ICamera::getWidth", "ICamera::start", "EvCameraService::open", "EvCameraService::refresh",
                      "ICamera::registerEventBatchCallback", "ICamera::isConnected"):
        vs.inject_fault(operation, "fail")
    assert camera.get_width() == 0
    assert camera.start() is False
    assert service.open("T") is None
    assert service.refresh() == 0
    assert camera.register_event_batch_callback(print) == 0
    assert camera.is_connected() is False
    # Each was armed for one call.
    assert camera.get_width() == 64 and camera.start() and camera.is_connected()
