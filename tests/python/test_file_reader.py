"""EvFileReader on recordings built with vantrel_sim.write_recording: every
read method against a NumPy oracle, seeks, metadata, statistics, trigger
callbacks, export and the lock rules."""

import gc
import threading
import time
import weakref

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from gil_probe import ticks_during
from recfiles import EVENT_DTYPE, same, scene_events, write
from simcam import wait_for


@pytest.fixture
def events():
    ev = scene_events(200_000, seed=1)
    ev["timestamp"][1000:1010] = ev["timestamp"][999]  # a run of equal timestamps
    return ev


@pytest.fixture
def reader(tmp_path, events):
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "a.vtr", events, serial="S-1", width=640, height=480))
    assert r.open()
    return r


def first_at_or_after(events, t):
    return int(np.searchsorted(events["timestamp"], t, side="left"))


def is_empty_event_array(a):
    return isinstance(a, np.ndarray) and a.shape == (0,) and a.dtype == EVENT_DTYPE


def test_construction_and_files_that_are_not_recordings(tmp_path):
    with pytest.raises(TypeError, match=r"^vantrel_core\.EvFileReader: No constructor defined!$"):
        vc.EvFileReader()
    assert vc.EvFileReader.create_file_reader(str(tmp_path / "missing.vtr")) is None
    assert vc.EvFileReader.create_file_reader(str(tmp_path)) is None
    (tmp_path / "notes.txt").write_text("not a recording, just some text that is long enough")
    r = vc.EvFileReader.create_file_reader(filepath=str(tmp_path / "notes.txt"))
    assert r is not None and r.open() is False


def test_before_open_nothing_is_available(tmp_path, events):
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "a.vtr", events[:10]))
    assert r.get_start_time() is None and r.get_end_time() is None and r.get_event_count() is None
    assert r.get_file_metadata() is None and r.get_decode_statistics() is None
    assert r.is_end_reached() is False and r.seek_to_event_index(0) is False
    assert (r.get_width(), r.get_height(), r.get_current_timestamp(), r.get_current_event_index()) == (0, 0, 0, 0)
    assert is_empty_event_array(r.read_events(5))
    assert r.export_events_to_raw(0, 10, str(tmp_path / "x.vtr")) is False


def test_metadata_and_getters(reader, events):
    assert reader.get_start_time() == int(events["timestamp"][0])
    assert reader.get_end_time() == int(events["timestamp"][-1])
    assert reader.get_event_count() == len(events)
    assert (reader.get_width(), reader.get_height()) == (640, 480)
    info = reader.get_file_metadata()
    assert isinstance(info, vc.EvFileInfo)
    assert (info.start_timestamp, info.end_timestamp, info.max_events) == (
        events["timestamp"][0], events["timestamp"][-1], len(events))
    assert repr(info) == "<EvFileInfo events=200000 size=640x480 serial='S-1'>"
    info.width = 1  # a copy: the reader is not affected
    assert reader.get_file_metadata().width == 640


def test_sequential_reads_return_every_event_exactly(reader, events):
    parts = []
    while not reader.is_end_reached():
        part = reader.read_events(n=33_333)
        assert part.flags.owndata and part.flags.writeable and part.dtype == EVENT_DTYPE
        parts.append(part)
        assert reader.get_current_event_index() == sum(map(len, parts))
    assert same(np.concatenate(parts), events)
    assert is_empty_event_array(reader.read_events(10))
    assert is_empty_event_array(reader.read_events_by_time_interval(10**6))
    stats = reader.get_decode_statistics()
    assert isinstance(stats, tuple) and len(stats) == 2
    assert stats[1] == len(events)
    assert len(events) * 4 < stats[0] < len(events) * 5  # about four bytes per event


def test_every_read_method_matches_the_oracle(reader, events):
    ts = events["timestamp"]
    rng = np.random.default_rng(7)
    for _ in range(60):
        k = int(rng.integers(0, len(events)))
        n = int(rng.integers(0, 5000))
        start = int(rng.integers(int(ts[0]) - 10, int(ts[-1]) + 10))
        interval = int(rng.integers(0, 3000))
        i = first_at_or_after(events, start)

        assert same(reader.read_events_from_event_index(event_num=k, n=n), events[k:k + n])
        assert same(reader.read_events(n), events[min(k + n, len(events)):k + 2 * n])

        got = reader.read_events_from_timestamp(start=start, n=n)
        assert same(got, events[i:i + n]) if i < len(events) else is_empty_event_array(got)

        j = first_at_or_after(events, start + interval)
        got = reader.read_events_by_time_interval_from_timestamp(start=start, interval=interval)
        assert same(got, events[i:j]) if i < len(events) else is_empty_event_array(got)

        kj = first_at_or_after(events, int(ts[k]) + interval)
        assert same(reader.read_events_by_time_interval_from_event_index(event_num=k, interval=interval), events[k:kj])
        assert reader.seek_to_event_index(n_event=k)
        assert reader.get_current_timestamp() == ts[k]
        assert same(reader.read_events_by_time_interval(interval=interval), events[k:kj])
        assert reader.get_current_event_index() == max(k, kj)


def test_every_read_returns_an_owning_array_of_exact_bytes(reader, events):
    # Reads decode straight into the array they return, which a read by time
    # makes from a bound and shortens: still an owning array with no base,
    # its padding bytes zero, sharing memory with no other read.
    ts = events["timestamp"]
    t = int(ts[150_000])
    results = [
        reader.read_events(70_000),
        reader.read_events_from_timestamp(t, 1000),
        reader.read_events_from_event_index(5, 123_456),
        reader.read_events_by_time_interval(2_000),
        reader.read_events_by_time_interval_from_timestamp(t, 777),
        reader.read_events_by_time_interval_from_event_index(190_000, 2**64 - 1),
    ]
    for a in results:
        assert len(a) > 0 and a.dtype == EVENT_DTYPE
        assert a.flags.owndata and a.flags.writeable and a.flags.c_contiguous and a.base is None
        assert not a.view(np.uint8).reshape(-1, 16)[:, 13:].any()
    assert same(results[4], events[first_at_or_after(events, t):first_at_or_after(events, t + 777)])
    assert same(results[5], events[190_000:])
    for i, a in enumerate(results):
        for b in results[i + 1:]:
            assert not np.shares_memory(a, b)


def test_a_whole_recording_read_takes_no_more_memory_than_its_result(tmp_path, python_subprocess):
    # The result is the only copy of the events: the peak above the start
    # stays near its size, whether the read goes by count or by time.
    path = write(tmp_path / "big.vtr", scene_events(4_000_000, seed=3))
    for read in ("r.read_events(r.get_event_count())", "r.read_events_by_time_interval_from_timestamp(0, 2**64 - 1)"):
        result = python_subprocess(f"""
            import numpy
            import vantrel_core as vc
            def peak():
                return next(int(line.split()[1]) * 1024 for line in open("/proc/self/status")
                            if line.startswith("VmHWM"))
            r = vc.EvFileReader.create_file_reader({path!r})
            assert r.open() and len(r.read_events_from_event_index(3_999_990, 10)) == 10  # NumPy loaded
            assert r.seek_to_event_index(0)
            open("/proc/self/clear_refs", "w").write("5")  # the peak starts again from here
            before = peak()
            a = {read}
            assert len(a) == 4_000_000
            print((peak() - before) / a.nbytes)
        """)
        assert result.returncode == 0, result.stderr
        assert float(result.stdout) < 1.2, (read, result.stdout)


def test_seeks(reader, events):
    ts = events["timestamp"]
    assert reader.seek_to_timestamp(t=int(ts[999]))
    assert reader.get_current_event_index() == first_at_or_after(events, ts[999]) <= 999  # first of the run
    assert reader.seek_to_timestamp(0) and reader.get_current_event_index() == 0
    assert not reader.seek_to_timestamp(2**64 - 1)  # reaches the driver, finds nothing
    assert reader.get_current_event_index() == 0
    assert not reader.seek_to_event_index(len(events))
    with pytest.raises(TypeError):
        reader.seek_to_timestamp(-1)
    with pytest.raises(TypeError):
        reader.seek_to_event_index(2**64)
    with pytest.raises(TypeError):
        reader.read_events(1.5)
    with pytest.raises(TypeError):
        reader.read_events(None)


def test_arrays_outlive_further_reads_and_the_reader(reader, events):
    a = reader.read_events(1000)
    reader.seek_to_event_index(5000)
    b = reader.read_events(1000)
    del reader
    gc.collect()
    assert same(a, events[:1000]) and same(b, events[5000:6000])


def test_trigger_edges_arrive_during_reads(tmp_path):
    ev = scene_events(50_000, seed=3)
    triggers = [(7, 1, 0)] + [(i % 3, i % 2, int(ev["timestamp"][i])) for i in range(0, len(ev), 997)]
    triggers.append((9, 0, int(ev["timestamp"][-1]) + 50))
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "t.vtr", ev, triggers=triggers))
    assert r.open()
    got = []
    thread_ids = set()

    def on_edge(edge):
        assert isinstance(edge, vc.EventTriggerIn)
        got.append((edge.id, edge.polarity, edge.timestamp))
        thread_ids.add(threading.get_ident())

    callback_id = r.register_trigger_in_callback(callback=on_edge)
    assert isinstance(callback_id, int)
    r.read_events(1)
    assert got[0] == triggers[0]  # before the first event: delivered with the first read
    while not r.is_end_reached():
        before = len(got)
        lo = r.get_current_timestamp()
        r.read_events_by_time_interval(5_000)
        hi = r.get_current_timestamp() if not r.is_end_reached() else 2**64
        assert all(lo <= t < hi for _, _, t in got[before:])
    assert got == triggers
    assert thread_ids == {threading.get_ident()}  # on the reading thread

    got.clear()
    t = int(ev["timestamp"][997 * 3])
    r.read_events_by_time_interval_from_timestamp(t, 1)
    assert got[0] == triggers[4]

    assert r.unregister_trigger_in_callback(callback_id=callback_id)
    assert not r.unregister_trigger_in_callback(callback_id)
    got.clear()
    r.read_events_from_event_index(0, len(ev))
    assert got == []
    with pytest.raises(TypeError):
        r.register_trigger_in_callback(None)
    with pytest.raises(TypeError):
        r.unregister_trigger_in_callback(-1)


def test_a_raising_trigger_callback_is_reported_and_reading_goes_on(tmp_path, unraisable):
    ev = scene_events(1000)
    triggers = [(1, 1, int(ev["timestamp"][5])), (2, 0, int(ev["timestamp"][600]))]
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "t.vtr", ev, triggers=triggers))
    assert r.open()
    calls = []

    def broken(edge):
        calls.append(edge.id)
        raise ZeroDivisionError("edge")

    r.register_trigger_in_callback(broken)
    assert len(r.read_events(1000)) == 1000
    assert calls == [1, 2]
    assert [(t, str(v), o) for t, v, _, o in unraisable] == [(ZeroDivisionError, "edge", broken)] * 2


def test_no_trigger_call_after_unregister_returned_also_from_a_read_on_another_thread(tmp_path):
    ev = scene_events(2000)
    triggers = [(1, 1, int(t)) for t in ev["timestamp"]]
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "t.vtr", ev, triggers=triggers))
    assert r.open()
    removed, stop = threading.Event(), threading.Event()
    calls, calls_after = [], []

    def on_edge(edge):
        calls.append(1)
        if removed.is_set():
            calls_after.append(1)

    def read_on():
        while not stop.is_set():
            r.read_events_from_event_index(0, len(ev))

    callback_id = r.register_trigger_in_callback(on_edge)
    reader = threading.Thread(target=read_on)
    reader.start()
    try:
        assert wait_for(lambda: len(calls) > 10)
        assert r.unregister_trigger_in_callback(callback_id)
        removed.set()
        time.sleep(0.05)
    finally:
        stop.set()
        reader.join()
    assert calls_after == []


def test_dropping_the_reader_releases_its_callables(tmp_path):
    r = vc.EvFileReader.create_file_reader(write(tmp_path / "a.vtr", scene_events(10)))
    assert r.open()

    class Callback:
        def __call__(self, edge):
            pass

    cb = Callback()
    ref = weakref.ref(cb)
    r.register_trigger_in_callback(cb)
    del cb
    assert ref() is not None
    del r
    gc.collect()
    assert ref() is None


def test_export_holds_exactly_the_inclusive_range(tmp_path, reader, events):
    ts = events["timestamp"]
    start, end = int(ts[10_000]), int(ts[20_000])
    out = tmp_path / "part.vtr"
    assert reader.seek_to_event_index(123)
    assert reader.export_events_to_raw(start=start, end=end, out_file_path=str(out))
    assert reader.get_current_event_index() == 123
    part = vc.EvFileReader.create_file_reader(str(out))
    assert part.open()
    expected = events[(ts >= start) & (ts <= end)]
    assert same(part.read_events(10**9), expected)
    a, b = reader.get_file_metadata(), part.get_file_metadata()
    assert (a.serial_number, a.width, a.height, a.local_time) == (b.serial_number, b.width, b.height, b.local_time)
    assert b.start_timestamp == start and b.end_timestamp == end
    assert reader.export_events_to_raw(end, end, str(tmp_path / "one.vtr"))
    assert not reader.export_events_to_raw(end, start, str(tmp_path / "bad.vtr"))
    assert not reader.export_events_to_raw(0, 1, str(tmp_path / "no" / "dir.vtr"))
    assert not (tmp_path / "bad.vtr").exists()


def test_injected_driver_exceptions_surface_translated(reader):
    vs.inject_fault("EvFileReader::readEvents", "out_of_range", message="no such event")
    with pytest.raises(IndexError, match="no such event"):
        reader.read_events(1)
    vs.inject_fault("EvFileReader::open", "exception", message="plain")
    with pytest.raises(RuntimeError, match="plain"):
        reader.open()
    vs.inject_fault("EvFileReader::getEventCount", "fail")
    assert reader.get_event_count() is None
    vs.clear_faults()


def test_reads_and_seeks_run_without_the_gil(reader):
    # While the driver holds a read for 0.3 s, another Python thread runs.
    for operation, call in (("EvFileReader::readEvents", lambda: reader.read_events(10)),
                            ("EvFileReader::seekToTimestamp", lambda: reader.seek_to_timestamp(0)),
                            ("EvFileReader::exportEventsToRaw", lambda: reader.export_events_to_raw(1, 0, "/nonexistent/x"))):
        vs.inject_fault(operation, "delay", delay=0.3)
        ticks, begin, end = ticks_during(call)
        assert end - begin >= 0.3
        assert sum(begin + 0.05 < t < end - 0.05 for t in ticks) > 10, operation
    vs.clear_faults()


def test_getters_keep_the_gil(reader):
    vs.inject_fault("EvFileReader::getEventCount", "delay", delay=0.3)
    ticks, begin, end = ticks_during(reader.get_event_count)
    assert sum(begin + 0.05 < t < end - 0.05 for t in ticks) == 0
    vs.clear_faults()


def test_dropping_a_reader_with_callbacks_after_a_subinterpreter_existed(tmp_path, python_subprocess):
    # Once any sub-interpreter has existed, CPython's PyGILState_Check()
    # always answers yes; releasing the callables must not rely on it.
    path = write(tmp_path / "a.vtr", scene_events(10))
    result = python_subprocess(f"""
        import _interpreters
        _interpreters.destroy(_interpreters.create())
        import gc, vantrel_core as vc
        r = vc.EvFileReader.create_file_reader({path!r})
        assert r.open()
        r.register_trigger_in_callback(lambda e: None)
        del r
        gc.collect()
        print("ok")
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"
