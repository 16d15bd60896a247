"""The callback bridge: registration and ids, errors reported as unraisable,
ownership of the callables, and delivery rules around unregistration."""

import gc
import subprocess
import sys
import textwrap
import threading
import time
import traceback

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, open_camera, scripted, sim, wait_for  # noqa: F401


def test_registration_needs_a_callable(scripted):
    for bad in (None, 42, "f"):
        with pytest.raises(TypeError):
            scripted.register_event_batch_callback(bad)
        with pytest.raises(TypeError):
            scripted.register_event_batch_callback_nocopy(bad)
        with pytest.raises(TypeError):
            scripted.register_trigger_in_callback(bad)
        with pytest.raises(TypeError):
            scripted.set_statistics_callback(bad)
    for bad in (-1, 2**32, 1.0, "1"):
        with pytest.raises(TypeError):
            scripted.unregister_event_batch_callback(bad)


def test_ids_are_shared_between_batch_kinds_and_never_zero(scripted):
    a = scripted.register_event_batch_callback(lambda arr: None)
    b = scripted.register_event_batch_callback_nocopy(lambda arr: None)
    t = scripted.register_trigger_in_callback(lambda e: None)
    assert 0 not in (a, b, t) and len({a, b, t}) == 3
    assert scripted.unregister_event_batch_callback(b)
    assert not scripted.unregister_event_batch_callback(b)
    assert not scripted.unregister_event_batch_callback(t)
    assert not scripted.unregister_trigger_in_callback(a)
    assert scripted.unregister_trigger_in_callback(t)
    assert scripted.unregister_event_batch_callback(a)


def test_a_dropped_callable_keeps_receiving(scripted):
    got = []

    def make():
        return lambda arr: got.append(len(arr))

    scripted.register_event_batch_callback(make())
    gc.collect()
    for n in (1, 2, 3):
        vs.push_batch("S", make_events(n))
    assert wait_for(lambda: got == [1, 2, 3])


def failing(arg):
    return 1 / 0  # the line a report must show


REGISTRATIONS = {
    "batch": ("register_event_batch_callback", lambda: vs.push_batch("S", make_events(1))),
    "batch-nocopy": ("register_event_batch_callback_nocopy", lambda: vs.push_batch("S", make_events(1))),
    "trigger": ("register_trigger_in_callback", lambda: vs.push_trigger("S", 1, 1, 10)),
    "statistics": ("set_statistics_callback", lambda: vs.push_statistics("S", 16, 1)),
}


@pytest.mark.parametrize("kind", REGISTRATIONS)
def test_a_raising_callback_reaches_the_unraisable_hook_and_the_stream_goes_on(scripted, unraisable, kind):
    register, deliver = REGISTRATIONS[kind]
    getattr(scripted, register)(failing)
    for _ in range(2):
        assert deliver()
    assert wait_for(lambda: len(unraisable) == 2)
    for exc_type, exc_value, tb, obj in unraisable:
        assert exc_type is ZeroDivisionError and isinstance(exc_value, ZeroDivisionError)
        assert obj is failing  # the report names the callable
        assert tb is not None and traceback.extract_tb(tb)[-1].name == "failing"
    # Registration and removal still work afterwards.
    if kind != "statistics":
        late = getattr(scripted, register)(lambda arg: None)
        remove = "unregister_trigger_in_callback" if kind == "trigger" else "unregister_event_batch_callback"
        assert getattr(scripted, remove)(late)


def test_other_callbacks_still_get_every_batch(scripted, unraisable):
    good = []
    scripted.register_event_batch_callback(failing)
    scripted.register_event_batch_callback(lambda arr: good.append(len(arr)))
    for n in (1, 2):
        vs.push_batch("S", make_events(n))
    assert wait_for(lambda: good == [1, 2] and len(unraisable) == 2)


def test_the_default_report_shows_the_traceback(tmp_path):
    script = tmp_path / "failing_callback.py"  # a file, so that the traceback can show its lines
    script.write_text(textwrap.dedent("""
        import time, vantrel_core as vc, vantrel_sim as vs
        from vantrel import make_events
        vs.reset()
        vs.add_camera("S", scene="scripted", realtime=False)
        camera = vc.EvCameraService().open("S")
        def on_batch(events):
            return 1 / 0
        camera.register_event_batch_callback(on_batch)
        camera.start()
        vs.push_batch("S", make_events(x=[1], y=[1], polarity=1, timestamp=[1]))
        camera.stop()
        camera.close()
    """))
    result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "Exception ignored in: <function on_batch" in result.stderr
    assert "Traceback (most recent call last):" in result.stderr
    assert "return 1 / 0" in result.stderr and "ZeroDivisionError: division by zero" in result.stderr


@pytest.mark.parametrize("kind, exc_type, text", [
    ("bad_alloc", MemoryError, "std::bad_alloc"),
    ("out_of_range", IndexError, "argument fault"),
    ("overflow_error", OverflowError, "argument fault"),
    ("invalid_argument", ValueError, "argument fault"),
    ("exception", RuntimeError, "argument fault"),
    ("unknown", RuntimeError, "Caught an unknown exception!"),
])
def test_cpp_exceptions_while_building_the_argument_are_reported(scripted, unraisable, kind, exc_type, text):
    got = []
    callback = lambda arr: got.append(len(arr))  # noqa: E731
    scripted.register_event_batch_callback(callback)
    vs.inject_fault("Callback::buildArgument", kind, message="argument fault")
    vs.push_batch("S", make_events(1))
    vs.push_batch("S", make_events(2))
    assert wait_for(lambda: got == [2])  # the first delivery failed, the next one arrived
    [(reported_type, value, _, obj)] = unraisable
    assert reported_type is exc_type and str(value) == text and obj is callback


def test_trigger_and_statistics_callbacks_get_new_records(scripted):
    edges, stats = [], []
    scripted.register_trigger_in_callback(edges.append)
    scripted.set_statistics_callback(stats.append)
    assert vs.push_trigger("S", 3, -1, 1000)
    assert vs.push_trigger("S", 4, 1, 2000)
    assert vs.push_statistics("S", 160, 10)
    assert wait_for(lambda: len(edges) == 2 and len(stats) == 1)
    assert isinstance(edges[0], vc.EventTriggerIn) and edges[0] is not edges[1]
    assert (edges[0].id, edges[0].polarity, edges[0].timestamp) == (3, -1, 1000)
    assert (edges[1].id, edges[1].polarity, edges[1].timestamp) == (4, 1, 2000)
    assert (stats[0].bandwidth_byte, stats[0].events_count) == (160, 10)
    edges[0].id = 99
    assert vs.push_trigger("S", 3, -1, 3000)
    assert wait_for(lambda: len(edges) == 3)
    assert edges[2].id == 3


def test_replacing_the_statistics_callback_ends_the_old_one(scripted):
    old, new = [], []
    scripted.set_statistics_callback(old.append)
    vs.push_statistics("S", 1, 1)
    assert wait_for(lambda: len(old) == 1)
    scripted.set_statistics_callback(new.append)
    vs.push_statistics("S", 2, 2)
    assert wait_for(lambda: len(new) == 1)
    assert len(old) == 1


def test_periodic_statistics_count_the_delivered_events(sim):
    camera = open_camera("N", event_rate=2e5)
    reports = []
    camera.set_statistics_callback(reports.append)
    camera.set_batch_events_num(1000)
    assert camera.start()
    polled = 0
    while len(reports) < 3:
        polled += len(camera.get_next_batch())
    camera.close()
    for r in reports:
        assert r.bandwidth_byte == 16 * r.events_count
    # One report per second of stream time at 2e5 events per second.
    assert all(abs(r.events_count - 200_000) < 10_000 for r in reports[:2])


def test_no_call_after_unregister_returns(scripted):
    calls = []
    entered = threading.Event()

    def slow(arr):
        calls.append(time.monotonic())
        entered.set()
        time.sleep(0.05)

    cid = scripted.register_event_batch_callback(slow)
    for _ in range(5):
        vs.push_batch("S", make_events(1))
    assert entered.wait(10)
    assert scripted.unregister_event_batch_callback(cid)
    returned = time.monotonic()
    count = len(calls)
    for _ in range(3):
        vs.push_batch("S", make_events(1))
    time.sleep(0.2)
    assert len(calls) == count
    assert all(t < returned for t in calls)


def test_callbacks_may_unregister_themselves_and_stop_the_camera(scripted):
    seen = []
    ids = {}

    def once(arr):
        seen.append(len(arr))
        assert scripted.unregister_event_batch_callback(ids["once"])

    ids["once"] = scripted.register_event_batch_callback(once)
    vs.push_batch("S", make_events(1))
    vs.push_batch("S", make_events(2))
    stopped = threading.Event()

    def stopper(arr):
        scripted.stop()
        stopped.set()

    scripted.register_event_batch_callback(stopper)
    vs.push_batch("S", make_events(3))
    assert stopped.wait(10)
    assert seen == [1]
    assert not vs.push_batch("S", make_events(1))  # no longer streaming


def test_a_callback_may_close_the_camera(scripted):
    closed = threading.Event()
    scripted.register_event_batch_callback_nocopy(lambda arr: (scripted.close(), closed.set()))
    vs.push_batch("S", make_events(1))
    assert closed.wait(10)
    assert len(scripted.get_next_batch()) == 0


def test_callables_are_released_safely_after_a_sub_interpreter_existed(python_subprocess):
    # Once a sub-interpreter has existed, PyGILState_Check() answers 1 on every
    # thread; releasing a callable must not trust it.
    result = python_subprocess("""
        import _interpreters, vantrel_core as vc, vantrel_sim as vs
        _interpreters.destroy(_interpreters.create())
        vs.reset()
        vs.add_camera("A", realtime=False, scene="noise")
        cam = vc.EvCameraService().open("A")
        cb = cam.register_trigger_in_callback(lambda e: None)
        assert cam.unregister_trigger_in_callback(cb)
        cam.register_event_batch_callback(lambda e: None)
        assert cam.start()
        del cam
        print("done")
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "done"
