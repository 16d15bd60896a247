"""The driver's log routed into Python's logging."""

import logging
import threading

import pytest

import vantrel
import vantrel_core as vc
import vantrel_sim as vs
from simcam import open_camera, sim, wait_for  # noqa: F401
from vantrel.logs import driver_level


@pytest.fixture
def captured():
    records = []

    class Keep(logging.Handler):
        def emit(self, record):
            records.append(record)

    handler = Keep()
    logger = vantrel.log_to_python("vantrel.test", level=logging.INFO)
    logger.addHandler(handler)
    try:
        yield records
    finally:
        vantrel.stop_log_to_python()
        logger.removeHandler(handler)
        vc.Logger.instance().set_log_level(vc.LOG_WARNING)


def test_driver_lines_arrive_as_records_with_their_level(captured, tmp_path, capfd):
    assert vc.Logger.instance().get_log_level() == vc.LOG_INFO
    (tmp_path / "junk.vtr").write_bytes(b"junk")
    reader = vc.EvFileReader.create_file_reader(str(tmp_path / "junk.vtr"))
    assert not reader.open()
    assert wait_for(lambda: any("junk.vtr" in r.getMessage() for r in captured))
    record = next(r for r in captured if "junk.vtr" in r.getMessage())
    assert record.name == "vantrel.test" and record.levelno == logging.WARNING
    assert "junk.vtr" not in capfd.readouterr().err  # not on stderr as well


def test_lines_from_driver_threads_arrive_while_python_waits(captured, sim):
    vs.add_camera("L", scene="scripted", realtime=False)
    camera = vc.EvCameraService().open("L")
    camera.start()
    # Logged by another thread while the camera streams and Python waits.
    threading.Thread(target=vs.remove_camera, args=("L",)).start()
    assert wait_for(lambda: any("unplugged" in r.getMessage() for r in captured))
    camera.close()


def test_stop_returns_the_lines_to_stderr(tmp_path, capfd):
    logger = vantrel.log_to_python("vantrel.test2")
    vantrel.stop_log_to_python()
    vantrel.stop_log_to_python()  # twice is harmless
    vc.Logger.instance().set_log_level(vc.LOG_INVALID)  # refused, and logged
    assert "refusing log level" in capfd.readouterr().err
    assert logger.name == "vantrel.test2"


def test_driver_levels_follow_python_levels():
    assert driver_level(logging.DEBUG) == vc.LOG_DEBUG
    assert driver_level(logging.INFO) == vc.LOG_INFO
    assert driver_level("WARNING") == vc.LOG_WARNING
    assert driver_level(logging.ERROR) == vc.LOG_ERROR
    assert driver_level(logging.CRITICAL) == vc.LOG_FATAL
    assert driver_level(logging.CRITICAL + 1) == vc.LOG_OFF
    with pytest.raises(ValueError):
        driver_level("LOUD")


def test_dropped_lines_are_reported(captured):
    import vantrel.logs

    forwarder = vantrel.logs._forwarder
    forwarder.forward([], forwarder._dropped + 7)
    assert captured[-1].levelno == logging.WARNING
    assert captured[-1].getMessage() == "7 driver log lines dropped: Python did not take them fast enough"


def test_a_flood_is_counted_not_queued_without_bound(captured):
    from vantrel import _native

    log = vc.Logger.instance()
    vantrel.stop_log_to_python()   # nobody forwards: the queue fills
    _native.capture_log()
    try:
        for _ in range(15_000):
            log.set_log_level(vc.LOG_INVALID)  # one warning line each
        records, dropped = _native.take_log_records(0)
    finally:
        _native.release_log()
    assert len(records) == 10_000 and dropped >= 5_000
    assert all("refusing log level" in text for _, _, text in records)
