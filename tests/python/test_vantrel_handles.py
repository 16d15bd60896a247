"""open_camera, open_recording, batches and record: the handles a newcomer
uses, their errors, and their clean-up on every way out."""

import io
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import vantrel
import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, restore_default_devices, sim  # noqa: F401


def test_open_camera_picks_the_first_or_names_the_ones_found(sim):
    with pytest.raises(LookupError, match="no camera is connected"):
        vantrel.open_camera()
    vs.add_camera("A-1", realtime=False)
    vs.add_camera("B-2", realtime=False)
    with vantrel.open_camera() as cam:
        assert cam.get_description().serial == "A-1"
    with pytest.raises(LookupError, match=r"no camera with serial 'C-3' \(connected: A-1, B-2\)"):
        vantrel.open_camera("C-3")


def test_open_camera_stops_and_closes_also_on_an_exception(sim, tmp_path):
    vs.add_camera("S", scene="noise", realtime=False, width=64, height=32)
    with pytest.raises(ZeroDivisionError):
        with vantrel.open_camera("S") as cam:
            assert cam.start_recording(str(tmp_path / "r.vtr"))
            assert cam.start()
            1 / 0
    assert not vs.push_batch("S", make_events(1))  # no longer streaming
    assert not cam.start()  # closed
    with vantrel.open_recording(tmp_path / "r.vtr") as reader:  # the recording was finished
        assert reader.get_event_count() is not None


def test_open_recording_errors(tmp_path):
    with pytest.raises(FileNotFoundError, match="no such file"):
        vantrel.open_recording(tmp_path / "none.vtr")
    with pytest.raises(IsADirectoryError):
        vantrel.open_recording(tmp_path)
    (tmp_path / "junk.vtr").write_bytes(b"junk" * 100)
    with pytest.raises(vantrel.UnreadableRecording, match="not a readable recording"):
        vantrel.open_recording(os.fsencode(tmp_path / "junk.vtr"))


@pytest.fixture
def scripted_camera(sim):
    vs.add_camera("P", scene="scripted", realtime=False, width=64, height=32)
    with vantrel.open_camera("P") as cam:
        yield cam


def pusher(batches, delay=0.02):
    def push():
        for batch in batches:
            time.sleep(delay)
            assert vs.push_batch("P", batch)
    thread = threading.Thread(target=push)
    thread.start()
    return thread


def test_batches_in_order_until_the_event_count(scripted_camera):
    pushed = [make_events(n, start=100 * i) for i, n in enumerate((5, 7, 9))]
    stream = vantrel.batches(scripted_camera, events=15, timeout=5)
    thread = pusher(pushed)
    got = list(stream)
    thread.join()
    assert [len(b) for b in got] == [5, 7, 3]
    assert np.array_equal(np.concatenate(got), np.concatenate(pushed)[:15])
    assert not vs.push_batch("P", make_events(1))  # stopped: batches started it


def test_batches_timeout_is_finer_than_the_poll(scripted_camera):
    began = time.monotonic()
    with pytest.raises(TimeoutError, match="no batch from camera P within 0.2 s"):
        next(vantrel.batches(scripted_camera, timeout=0.2))
    assert time.monotonic() - began < 0.9
    assert scripted_camera.start()  # the stream was stopped and the callback removed


def test_batches_for_a_time_on_a_camera_already_streaming(scripted_camera):
    assert scripted_camera.start()
    with pytest.raises(RuntimeError, match="start=False"):
        vantrel.batches(scripted_camera, seconds=1)
    thread = pusher([make_events(3)] * 3)
    began = time.monotonic()
    got = list(vantrel.batches(scripted_camera, seconds=0.5, start=False))
    thread.join()
    assert 0.45 < time.monotonic() - began < 2 and sum(map(len, got)) == 9
    assert vs.push_batch("P", make_events(1))  # still streaming: it was not ours to stop


def test_batches_end_with_connection_error_on_unplug(scripted_camera):
    stream = vantrel.batches(scripted_camera)
    threading.Timer(0.1, vs.remove_camera, ("P",)).start()
    with pytest.raises(ConnectionError, match="unplugged"):
        next(stream)


def test_batches_refuse_bad_limits(scripted_camera):
    for kwargs in (dict(seconds=float("nan")), dict(seconds=-1), dict(timeout=float("inf")), dict(events=0)):
        with pytest.raises(ValueError):
            vantrel.batches(scripted_camera, **kwargs)


def test_record_for_a_time_and_refuse_to_overwrite(sim, tmp_path):
    vs.add_camera("R", scene="noise", width=64, height=32, event_rate=100_000)
    out = io.StringIO()
    with vantrel.open_camera("R") as cam:
        result = vantrel.record(cam, tmp_path / "r.vtr", 0.3, progress=out)
        assert result.events > 1000 and result.path == str(tmp_path / "r.vtr")
        assert out.getvalue().splitlines()[-1].endswith("100%")
        with vantrel.open_recording(result.path) as reader:
            assert reader.get_event_count() == result.events
        with pytest.raises(FileExistsError, match="overwrite=True"):
            vantrel.record(cam, tmp_path / "r.vtr", 0.1, progress=False)
        assert vantrel.record(cam, tmp_path / "r.vtr", 0.1, progress=False, overwrite=True).events > 0
        with pytest.raises(FileNotFoundError):
            vantrel.record(cam, tmp_path / "missing" / "r.vtr", 0.1)
        for seconds in (0, -1, float("nan"), float("inf")):
            with pytest.raises(ValueError):
                vantrel.record(cam, tmp_path / "x.vtr", seconds)


def test_record_reports_an_unplug_with_what_the_file_holds(sim, tmp_path):
    vs.add_camera("U", scene="noise", width=64, height=32, event_rate=100_000)
    with vantrel.open_camera("U") as cam:
        threading.Timer(0.3, vs.remove_camera, ("U",)).start()
        with pytest.raises(vantrel.CameraUnplugged) as stopped:
            vantrel.record(cam, tmp_path / "u.vtr", 5, progress=False)
    result = stopped.value.result
    assert result is not None and result.events > 0 and result.seconds < 2
    with vantrel.open_recording(tmp_path / "u.vtr") as reader:
        assert reader.get_event_count() == result.events


NEWCOMER = """
import numpy as np
import vantrel, vantrel_sim

with vantrel.open_camera() as cam:
    events = np.concatenate(list(vantrel.batches(cam, seconds=2)))
np.save("events.npy", vantrel.pack(events))
again = vantrel.unpack(np.load("events.npy"))
vantrel_sim.write_recording("events.vtr", again)
with vantrel.open_recording("events.vtr") as rec:
    print(len(events), rec.get_event_count(), (rec.read_events(len(events)) == events).all())
"""


def test_a_newcomers_ten_lines_work_as_written(tmp_path):
    assert len(NEWCOMER.strip().splitlines()) <= 11
    done = subprocess.run([sys.executable, "-c", NEWCOMER], cwd=tmp_path, capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    count, in_file, same = done.stdout.split()
    assert int(count) > 1_000_000 and int(in_file) == int(count) and same == "True"


def test_ctrl_c_in_batches_stops_the_stream_promptly(tmp_path):
    code = textwrap.dedent("""
        import os, signal, threading, time, vantrel
        with vantrel.open_camera() as cam:
            threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
            began = time.monotonic()
            try:
                for batch in vantrel.batches(cam, seconds=30):
                    pass
            except KeyboardInterrupt:
                print("interrupted after %.1f s" % (time.monotonic() - began))
                print("start again:", cam.start())
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    seconds = float(done.stdout.split()[2])
    assert seconds < 1.5 and "start again: True" in done.stdout
