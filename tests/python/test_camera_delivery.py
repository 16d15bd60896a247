"""Delivery under pressure: every drop counted per queue and logged, stop()
bounded when the callbacks are behind, one delivery thread per camera."""

import threading
import time

import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, open_camera, sim, wait_for  # noqa: F401

NOTHING = {"batches": 0, "events": 0, "edges": 0, "reports": 0}


def test_a_slow_callback_drops_counted_warned_and_summed_up(sim, capfd):
    # 1 ms batches into a callback that needs 30 ms: the delivery queue
    # overflows while the unpolled poll queue overflows too (routinely).
    camera = open_camera("D", realtime=True, event_rate=2e5)
    camera.set_batch_events_time(1000)
    calls = []
    stop_began = []

    def slow(events):
        calls.append(time.monotonic())
        time.sleep(0.03)

    camera.register_event_batch_callback(slow)
    assert vs.stream_drops("D") == {"poll": NOTHING, "delivery": NOTHING, "recorder": NOTHING}
    assert camera.start()
    assert wait_for(lambda: vs.stream_drops("D")["delivery"]["batches"] > 50)
    stop_began.append(time.monotonic())
    assert camera.stop()
    drops = vs.stream_drops("D")
    err = capfd.readouterr().err
    # Each queue has its own limiter: the routine poll-queue overflow does not
    # silence the delivery queue.
    assert "WARNING camera D: delivery queue: full" in err
    assert "poll queue" not in err.split("the stream stopped")[0]  # nobody polls: routine, not warned
    summary = next(line for line in err.splitlines() if "the stream stopped; in all it dropped" in line)
    assert "WARNING" in summary and f"delivery queue {drops['delivery']['batches']} batches" in summary
    assert drops["delivery"]["events"] > 0 and drops["recorder"] == NOTHING
    # Bounded: once the call in progress returned, at most 100 ms more of
    # deliveries (30 ms each); the rest of the queue was dropped.
    assert sum(t >= stop_began[0] for t in calls) <= 6
    camera.close()


def test_callbacks_that_keep_up_lose_nothing(sim):
    camera = open_camera("K", realtime=True, event_rate=2e5)
    camera.set_batch_events_time(1000)
    got = []
    camera.register_event_batch_callback(lambda events: got.append(len(events)))
    assert camera.start()
    assert wait_for(lambda: len(got) > 200)
    assert camera.stop()
    drops = vs.stream_drops("K")
    assert drops["delivery"] == NOTHING and drops["recorder"] == NOTHING


def test_a_slow_poller_drops_are_warned(sim, log_file):
    camera = open_camera("P", realtime=True, event_rate=2e5)
    camera.set_batch_events_time(1000)
    assert camera.start()
    assert wait_for(lambda: vs.stream_drops("P")["poll"]["batches"] > 0)
    assert len(camera.get_next_batch()) > 0
    # Polling the log file: reading captured output while the driver writes
    # to it can lose the line.
    assert wait_for(lambda: "WARNING camera P: poll queue: full" in log_file.read_text())
    camera.close()


def test_stop_from_inside_a_callback_drops_what_was_queued_and_says_so(sim, log_file):
    camera = open_camera("S", scene="scripted")
    pushed, done = threading.Event(), threading.Event()

    def first_stops(events):
        if events["timestamp"][0] == 0:
            assert pushed.wait(10)
            assert camera.stop()
            done.set()

    camera.register_event_batch_callback(first_stops)
    assert camera.start()
    for i in range(5):
        assert vs.push_batch("S", make_events(2, start=i * 10))
    pushed.set()
    assert done.wait(10)
    assert wait_for(lambda: vs.stream_drops("S")["delivery"] == {**NOTHING, "batches": 4, "events": 8})
    assert wait_for(lambda: "stopped from inside a callback" in log_file.read_text())


def test_stream_drops_arguments(sim):
    with pytest.raises(ValueError):
        vs.stream_drops("nobody")
    with pytest.raises(TypeError):
        vs.stream_drops(3)


def ordered_slow_callback(camera):
    """Registers a callback that sleeps 10 ms and notes its order and whether
    another call ran at the same time."""
    record = {"seen": [], "overlaps": 0, "active": 0}
    lock = threading.Lock()

    def on_batch(events):
        with lock:
            record["active"] += 1
            record["overlaps"] += record["active"] > 1
        record["seen"].append(int(events["timestamp"][0]))
        time.sleep(0.01)
        with lock:
            record["active"] -= 1

    camera.register_event_batch_callback(on_batch)
    return record


def test_start_during_a_stop_waits_for_its_deliveries(sim):
    camera = open_camera("W", scene="scripted")
    record = ordered_slow_callback(camera)
    assert camera.start()
    for i in range(20):
        assert vs.push_batch("W", make_events(1, start=1000 + i))
    stopper = threading.Thread(target=camera.stop)
    stopper.start()
    assert wait_for(lambda: len(record["seen"]) >= 2)
    assert camera.start()  # waits for the stop's deliveries, not refused
    stopper.join(10)
    for i in range(10):
        assert vs.push_batch("W", make_events(1, start=i))
    assert wait_for(lambda: record["seen"][-1:] == [9])
    camera.close()
    seen = record["seen"]
    assert record["overlaps"] == 0
    old, new = [t for t in seen if t >= 1000], [t for t in seen if t < 1000]
    assert seen == old + new and old == sorted(old) and new == list(range(10))


def test_start_from_a_callback_of_the_stream_that_is_stopping_is_refused(sim, capfd):
    camera = open_camera("R", scene="scripted")
    results = []

    def restart(events):
        if not results:
            assert camera.stop()
            results.append(camera.start())

    camera.register_event_batch_callback(restart)
    assert camera.start()
    vs.push_batch("R", make_events(1))
    assert wait_for(lambda: results)
    assert results == [False]
    assert "start refused: called from a callback of the stream that is stopping" in capfd.readouterr().err
    assert camera.start()  # from here, once that thread ended
    camera.close()
