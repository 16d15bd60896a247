"""ICamera's stream control: batch conditions, polling, stop/close/unplug,
pacing, firmware upgrade and the tool lookups."""

import threading
import time

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, open_camera, sim, wait_for  # noqa: F401


def test_icamera_has_no_constructor():
    with pytest.raises(TypeError, match=r"^vantrel_core\.ICamera: No constructor defined!$"):
        vc.ICamera()


def test_polling_a_camera_that_does_not_stream_returns_an_empty_array_at_once(sim):
    camera = open_camera()
    begin = time.monotonic()
    arr = camera.get_next_batch()
    assert time.monotonic() - begin < 0.5
    assert arr.shape == (0,) and arr.dtype.names == ("x", "y", "polarity", "timestamp")


def test_count_batches_are_exact_and_time_never_goes_back(sim):
    camera = open_camera(width=100, height=50)
    assert (camera.get_width(), camera.get_height()) == (100, 50)
    camera.set_batch_events_num(500)
    last = 0
    for _ in range(2):
        assert camera.start()
        assert not camera.start()
        for _ in range(10):
            arr = camera.get_next_batch()
            assert len(arr) == 500
            ts = arr["timestamp"]
            assert ts[0] >= last and np.all(np.diff(ts.astype(np.int64)) >= 0)
            assert arr["x"].max() < 100 and arr["y"].max() < 50
            last = ts[-1]
        assert camera.stop()
        assert not camera.stop()


def test_time_windows_and_the_default_cadence(sim):
    camera = open_camera(event_rate=1e5)
    camera.set_batch_events_num(100)
    camera.set_batch_events_time(2000)  # the last condition wins
    assert camera.start()
    starts = []
    for _ in range(10):
        arr = camera.get_next_batch()
        assert 100 < len(arr) < 300  # ~200 events per 2 ms window
        starts.append(int(arr["timestamp"][0]))
        assert arr["timestamp"][-1] - arr["timestamp"][0] < 2000
    windows = [(s - starts[0] + 50) // 2000 for s in starts]
    assert windows == list(range(10))
    camera.stop()
    camera.set_batch_events_time(0)  # back to 10 ms windows
    assert camera.start()
    spans = [camera.get_next_batch()["timestamp"] for _ in range(5)]
    assert all(900 < len(s) < 1100 and s[-1] - s[0] < 10_000 for s in spans)


def test_batch_condition_arguments(sim):
    camera = open_camera()
    for bad in (-1, 1.5, 2**64, "1"):
        with pytest.raises(TypeError):
            camera.set_batch_events_num(bad)
        with pytest.raises(TypeError):
            camera.set_batch_events_time(bad)
    camera.set_batch_events_num(0)
    camera.set_batch_events_num(n=2**64 - 1)  # clamped by the driver, with a warning


def test_descriptions_are_new_copies(sim):
    camera = open_camera("D", firmware_version="1.2")
    d = camera.get_description()
    assert d.serial == "D" and d.firmware_version == "1.2"
    d.serial = "changed"
    assert camera.get_description().serial == "D"
    assert camera.get_description() is not camera.get_description()


def test_stop_wakes_a_thread_blocked_in_get_next_batch(sim):
    camera = open_camera(scene="scripted")
    assert camera.start()
    result = {}

    def poll():
        begin = time.monotonic()
        result["arr"] = camera.get_next_batch()
        result["took"] = time.monotonic() - begin

    t = threading.Thread(target=poll)
    t.start()
    time.sleep(0.05)
    assert camera.stop()
    t.join(5)
    assert not t.is_alive()
    assert len(result["arr"]) == 0 and result["took"] < 0.9


def test_a_poll_without_data_gives_up_after_the_timeout_quietly(sim, capfd):
    camera = open_camera(scene="scripted")
    assert camera.start()
    begin = time.monotonic()
    assert len(camera.get_next_batch()) == 0
    assert 0.9 < time.monotonic() - begin < 3
    # A quiet camera is normal: the timeout is not worth a warning.
    assert "no batch within" not in capfd.readouterr().err
    logger = vc.Logger.instance()
    logger.set_log_level(vc.LOG_DEBUG)
    try:
        assert len(camera.get_next_batch()) == 0
    finally:
        logger.set_log_level(vc.LOG_WARNING)
    assert "DEBUG" in next(line for line in capfd.readouterr().err.splitlines() if "no batch within" in line)


def test_a_closed_camera_fails_cleanly_and_old_arrays_survive(sim, capfd):
    camera = open_camera()
    camera.set_batch_events_num(10)
    assert camera.start()
    kept = camera.get_next_batch()
    copy = kept.copy()
    camera.close()
    assert np.array_equal(kept, copy)
    assert not camera.start() and not camera.stop()
    assert len(camera.get_next_batch()) == 0
    assert camera.register_event_batch_callback(lambda a: None) == 0
    assert not camera.start_recording("never.vtr") and not camera.stop_recording()
    assert camera.get_width() == 0
    camera.close()
    assert "the camera is closed" in capfd.readouterr().err


def test_unplugging_ends_the_stream(sim):
    camera = open_camera()
    assert camera.start() and camera.is_connected()
    assert vs.remove_camera("T")
    assert not camera.is_connected()
    assert len(camera.get_next_batch()) == 0
    assert not camera.start()
    assert vc.EvCameraService().open("T") is None


def test_realtime_streams_keep_to_the_wall_clock(sim):
    camera = open_camera(realtime=True, event_rate=2e5)
    assert camera.start()
    begin = time.monotonic()
    first = last = None
    while time.monotonic() - begin < 0.3:
        arr = camera.get_next_batch()
        if len(arr):
            first = arr["timestamp"][0] if first is None else first
            last = arr["timestamp"][-1]
    elapsed = time.monotonic() - begin
    camera.close()
    assert last - first <= elapsed * 1e6 + 20_000


def test_firmware_upgrade(sim, tmp_path, capfd):
    camera = open_camera("F", firmware_version="1.0.0")
    good = tmp_path / "good.img"
    vs.write_firmware_image(good, "2.0.0")
    data = good.read_bytes()
    (tmp_path / "short.img").write_bytes(data[:-1])
    (tmp_path / "flip.img").write_bytes(data[:30] + bytes([data[30] ^ 1]) + data[31:])
    (tmp_path / "magic.img").write_bytes(b"X" + data[1:])
    for name, why in [("missing.img", "cannot open"), ("short.img", "truncated"),
                      ("flip.img", "CRC-32 mismatch"), ("magic.img", "wrong magic")]:
        assert not camera.firmware_upgrade(str(tmp_path / name))
        assert why in capfd.readouterr().err
    assert camera.get_description().firmware_version == "1.0.0"
    assert camera.start()
    assert not camera.firmware_upgrade(str(good))
    assert "stop the stream first" in capfd.readouterr().err
    camera.stop()
    assert camera.firmware_upgrade(str(good))
    assert camera.get_description().firmware_version == "2.0.0"
    service = vc.EvCameraService()
    assert service.list()[0].firmware_version == "2.0.0"
    camera.close()
    assert service.open("F").get_description().firmware_version == "2.0.0"


def test_tool_lookup_arguments(sim, tmp_path):
    camera = open_camera(tools=[vc.ToolType.TOOL_BIAS])
    with pytest.raises(TypeError):
        camera.get_tool_info(0)
    with pytest.raises(TypeError):
        camera.get_tool(6)
    with pytest.raises(TypeError):
        camera.get_tool_by_id(None)
    assert isinstance(camera.export_camera_config(str(tmp_path / "c.json")), bool)


@pytest.mark.skipif(not hasattr(vc, "CameraTool"), reason="camera tools are not bound in this build")
def test_tool_lookups_find_the_device_tools(sim):
    camera = open_camera(tools=[vc.ToolType.TOOL_BIAS, vc.ToolType.TOOL_ROI])
    assert camera.get_tool(vc.ToolType.TOOL_SYNC) is None
    assert camera.get_tool_by_id("no-such-tool") is None
    infos = camera.get_tools_info()
    assert infos is not camera.get_tools_info()
    assert [i.type for i in infos] == [vc.ToolType.TOOL_BIAS, vc.ToolType.TOOL_ROI]
    bias = camera.get_tool(vc.ToolType.TOOL_BIAS)
    assert bias is camera.get_tool(vc.ToolType.TOOL_BIAS)
    assert camera.get_tool_by_id("roi") is not None
    assert camera.get_tool_info(vc.ToolType.TOOL_ROI).id == "roi"
