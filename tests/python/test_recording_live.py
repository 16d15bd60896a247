"""Recording a live simulated camera and replaying recordings as cameras."""

import threading
import time

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from recfiles import same, scene_events, write
from simcam import open_camera, sim, wait_for  # noqa: F401


def read_file(path, edges=None):
    r = vc.EvFileReader.create_file_reader(str(path))
    assert r is not None and r.open()
    if edges is not None:
        r.register_trigger_in_callback(lambda e: edges.append((e.id, e.polarity, e.timestamp)))
    return r, r.read_events(2**64 - 1)


def test_the_file_holds_exactly_what_the_callbacks_received(sim, tmp_path):
    camera = open_camera("L", realtime=True, scene="default", event_rate=4e5, width=640, height=480)
    received = []
    lock = threading.Lock()

    def on_batch(arr):
        with lock:
            received.append(arr)

    camera.register_event_batch_callback(on_batch)
    path = tmp_path / "live.vtr"
    assert camera.start_recording(str(path))
    assert not camera.start_recording(str(tmp_path / "again.vtr"))  # already recording
    assert camera.start()
    assert wait_for(lambda: sum(map(len, received)) >= 100_000)
    assert camera.stop()
    assert camera.stop_recording()
    assert not camera.stop_recording()
    reader, recorded = read_file(path)
    with lock:
        delivered = np.concatenate(received)
    assert len(recorded) >= 100_000
    assert same(recorded, delivered)
    info = reader.get_file_metadata()
    assert (info.width, info.height, info.serial_number) == (640, 480, "L")
    assert info.local_time is not None
    assert reader.get_decode_statistics()[1] == len(recorded)


def test_a_slow_callback_still_receives_everything_recorded_before_stop(sim, tmp_path):
    # The stream runs far ahead of this callback; stop() must let it catch up.
    camera = open_camera("SLOW", realtime=False, scene="noise", event_rate=1e6)
    camera.set_batch_events_num(500)
    received = []

    def on_batch(arr):
        received.append(arr)
        time.sleep(0.001)

    camera.register_event_batch_callback(on_batch)
    path = tmp_path / "slow.vtr"
    assert camera.start_recording(str(path))
    assert camera.start()
    assert wait_for(lambda: len(received) >= 20)
    assert camera.stop()
    count = len(received)
    assert camera.stop_recording()
    _, recorded = read_file(path)
    assert len(received) == count  # nothing is delivered after stop() returned
    assert len(recorded) > 20 * 500
    assert same(recorded, np.concatenate(received))


def test_recording_while_polling(sim, tmp_path):
    camera = open_camera("P", realtime=True, scene="noise", event_rate=2e5)
    camera.set_batch_events_num(1000)
    path = tmp_path / "polled.vtr"
    assert camera.start_recording(str(path))
    assert camera.start()
    polled = [camera.get_next_batch() for _ in range(30)]
    assert camera.stop_recording()
    camera.stop()
    _, recorded = read_file(path)
    polled = np.concatenate(polled)
    assert len(polled) == 30_000
    assert same(recorded[: len(polled)], polled)


def test_pushed_data_and_trigger_edges_are_recorded(sim, tmp_path):
    camera = open_camera("E", scene="scripted", width=640, height=480)
    path = tmp_path / "pushed.vtr"
    assert camera.start_recording(str(path))
    assert camera.start()
    odd = np.zeros(3, dtype=scene_events(1).dtype)
    odd["x"], odd["y"], odd["polarity"], odd["timestamp"] = [65535, 1, 2], [65535, 0, 0], [255, 1, 7], [9, 5, 2**64 - 1]
    batches = [scene_events(5000, seed=1), odd, scene_events(10, start=3)]
    for b in batches:
        assert vs.push_batch("E", b)
    assert vs.push_trigger("E", 3, 1, 1234)
    assert vs.push_trigger("E", -2, -1, 5)
    camera.stop()
    assert camera.stop_recording()
    edges = []
    _, recorded = read_file(path, edges)
    assert same(recorded, np.concatenate(batches))  # anything pushed survives exactly
    assert sorted(edges) == sorted([(3, 1, 1234), (-2, -1, 5)])


def test_recording_refusals(sim, tmp_path):
    camera = open_camera("F")
    assert not camera.stop_recording()
    assert not camera.start_recording(str(tmp_path / "no" / "such" / "dir.vtr"))
    camera.close()
    assert not camera.start_recording(str(tmp_path / "closed.vtr"))


def test_close_finishes_the_recording(sim, tmp_path):
    camera = open_camera("C", realtime=True, scene="noise", event_rate=1e6)
    path = tmp_path / "closed.vtr"
    assert camera.start_recording(str(path))
    assert camera.start()
    assert wait_for(lambda: path.exists() and path.stat().st_size > 100_000)
    camera.close()
    data = path.read_bytes()
    assert data.endswith(b"VTRLEND\x1a")  # finished with its index
    _, recorded = read_file(path)
    assert len(recorded) > 20_000


def test_stop_recording_after_an_unplug_returns_once_the_file_is_complete(sim, tmp_path):
    # Unpaced, the recorder has a backlog to write when the camera goes:
    # the unplug finishes the file on its own thread while stop_recording
    # is called here.
    for attempt in range(5):
        camera = open_camera("U%d" % attempt, realtime=False, scene="noise", event_rate=5e7)
        path = tmp_path / ("unplugged%d.vtr" % attempt)
        assert camera.start_recording(str(path))
        assert camera.start()
        assert wait_for(lambda: path.exists() and path.stat().st_size > 4_000_000)
        unplug = threading.Thread(target=vs.remove_camera, args=("U%d" % attempt,))
        unplug.start()
        assert wait_for(lambda: not camera.is_connected())
        assert camera.stop_recording() is False
        assert path.read_bytes().endswith(b"VTRLEND\x1a")
        unplug.join()
        camera.close()


def test_replay_streams_a_recording_as_a_camera(sim, tmp_path):
    events = scene_events(120_000, start=5_000_000, width=320, height=240, seed=9)
    triggers = [(1, 1, int(events["timestamp"][i])) for i in range(0, len(events), 10_000)]
    path = write(tmp_path / "source.vtr", events, width=320, height=240, triggers=triggers)
    vs.add_camera("R", source=path, realtime=False)
    camera = vc.EvCameraService().open("R")
    assert (camera.get_width(), camera.get_height()) == (320, 240)
    received, edges = [], []
    camera.register_event_batch_callback(received.append)
    camera.register_trigger_in_callback(lambda e: edges.append((e.id, e.polarity, e.timestamp)))
    assert camera.start()
    assert wait_for(lambda: sum(map(len, received)) >= len(events) and len(edges) >= len(triggers))
    camera.stop()
    got = np.concatenate(received)
    assert len(got) == len(events)
    for field in ("x", "y", "polarity"):
        assert np.array_equal(got[field], events[field])
    shift = int(got["timestamp"][0]) - int(events["timestamp"][0])
    assert np.array_equal(got["timestamp"].astype(np.int64) - events["timestamp"].astype(np.int64),
                          np.full(len(events), shift))
    assert edges == [(i, p, t + shift) for i, p, t in triggers]


def test_replay_source_must_be_a_recording(sim, tmp_path):
    (tmp_path / "x.vtr").write_bytes(b"nothing to see here" * 10)
    with pytest.raises(ValueError):
        vs.add_camera("X", source=str(tmp_path / "x.vtr"))
    with pytest.raises(ValueError):
        vs.add_camera("Y", source=str(tmp_path / "missing.vtr"))


def test_write_recording_checks_its_input(tmp_path):
    ev = scene_events(10)
    out = str(tmp_path / "w.vtr")
    with pytest.raises(TypeError):
        vs.write_recording(out, list(ev))
    with pytest.raises(ValueError, match="dtype"):
        vs.write_recording(out, np.zeros(3, dtype=np.uint64))
    with pytest.raises(ValueError, match="one-dimensional"):
        vs.write_recording(out, ev.reshape(2, 5))
    vs.write_recording(out, ev[::2])  # strided arrays are taken too
    reader = vc.EvFileReader.create_file_reader(out)
    assert reader.open() and (reader.read_events(100) == ev[::2]).all()
    backwards = ev.copy()
    backwards["timestamp"][5] = 0
    with pytest.raises(ValueError, match="backwards"):
        vs.write_recording(out, backwards)
    with pytest.raises(ValueError, match="outside"):
        vs.write_recording(out, ev, width=10, height=10)
    for bad in ([(1, 2)], [(40000, 0, 0)], [(0, 0, -1)], [(0, 0, 5), (0, 0, 4)]):
        with pytest.raises((ValueError, TypeError)):
            vs.write_recording(out, ev, triggers=bad)
    with pytest.raises(RuntimeError):
        vs.write_recording(str(tmp_path / "no" / "dir.vtr"), ev)
    with pytest.raises(TypeError):
        vs.write_recording(out, ev, 640)  # options are keyword-only
    # an empty array, and an os.PathLike path
    vs.write_recording(tmp_path / "empty.vtr", ev[:0], serial="E", local_time_ticks=-1)
    r = vc.EvFileReader.create_file_reader(str(tmp_path / "empty.vtr"))
    assert r.open() and r.get_event_count() == 0 and r.is_end_reached()
