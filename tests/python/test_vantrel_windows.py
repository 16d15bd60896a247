"""Time windows: one definition, the same windows from arrays, recordings and
streams of batches, and binary-search slicing by time."""

import numpy as np
import pytest

import vantrel_sim as vs
from simcam import make_events as sample
from vantrel import time_slice, window_bounds, window_index, windows


def stream(timestamps):
    events = sample(len(timestamps))
    events["timestamp"] = timestamps
    return events


def reference_windows(timestamps, every):
    """Window k holds the events with t0 + k*every <= t < t0 + (k+1)*every."""
    t0 = timestamps[0]
    last = (timestamps[-1] - t0) // every
    return [[t for t in timestamps if t0 + k * every <= t < t0 + (k + 1) * every] for k in range(last + 1)]


def test_window_index_and_bounds_agree():
    t0, every = 1_000, 250
    ts = np.array([1_000, 1_249, 1_250, 1_999, 2_000, 10_000], dtype=np.uint64)
    assert window_index(ts, t0, every).tolist() == [0, 0, 1, 3, 4, 36]
    assert window_index(999, t0, every) == -1
    for t, k in zip(ts.tolist(), window_index(ts, t0, every).tolist()):
        start, end = window_bounds(k, t0, every)
        assert start <= t < end and end - start == every
    with pytest.raises(ValueError, match="every_us"):
        window_index(ts, t0, 0)
    with pytest.raises(ValueError, match="every_us"):
        window_bounds(1, t0, 2.5)


@pytest.mark.parametrize("every", [1, 7, 100, 10_000])
def test_every_event_is_in_exactly_one_window_as_the_reference_says(every):
    rng = np.random.default_rng(every)
    ts = np.sort(rng.integers(5_000, 6_000, 300)).tolist()
    got = list(windows(stream(ts), every_us=every))
    want = reference_windows(ts, every)
    assert [w.events["timestamp"].tolist() for w in got] == want
    assert [w.index for w in got] == list(range(len(want)))
    assert all(w.start == ts[0] + w.index * every and w.end == w.start + every for w in got)


def test_windows_of_a_recording_and_of_a_stream_of_batches_match_the_array(tmp_path, monkeypatch):
    import sys

    ts = np.cumsum(np.random.default_rng(1).integers(0, 40, 5_000)).tolist()
    events = stream(ts)
    path = tmp_path / "w.vtr"
    vs.write_recording(path, events, width=64, height=32)
    monkeypatch.setattr(sys.modules["vantrel.windows"], "READ_CHUNK", 333)  # windows cut across reads
    expected = [(w.index, w.events.tolist()) for w in windows(events, every_us=1_000)]
    from_file = [(w.index, w.events.tolist()) for w in windows(path, every_us=1_000)]
    batches = (events[i:i + 97] for i in range(0, len(events), 97))
    from_batches = [(w.index, w.events.tolist()) for w in windows(batches, every_us=1_000)]
    assert from_file == expected and from_batches == expected
    assert sum(len(e) for _, e in expected) == len(events)


def test_count_windows():
    events = stream(list(range(10)))
    got = list(windows(events, events=4))
    assert [w.events["timestamp"].tolist() for w in got] == [[0, 1, 2, 3], [4, 5, 6, 7], [8, 9]]
    assert (got[1].start, got[1].end) == (4, 8)
    pieces = [events[:3], events[3:3], events[3:]]
    assert [len(w.events) for w in windows(iter(pieces), events=4)] == [4, 4, 2]


def test_windows_refuse_bad_arguments_and_disorder():
    events = stream([0, 5, 3])
    with pytest.raises(ValueError, match="exactly one"):
        list(windows(events))
    with pytest.raises(ValueError, match="exactly one"):
        list(windows(events, every_us=5, events=2))
    with pytest.raises(ValueError, match="decrease at event 2"):
        list(windows(events, every_us=5))
    with pytest.raises(ValueError, match="decrease at event 3"):
        list(windows(iter([stream([0, 5, 6]), stream([4])]), events=2))
    with pytest.raises(ValueError, match="before t0"):
        list(windows(stream([5, 6]), every_us=5, t0=10))
    with pytest.raises(TypeError, match="cannot cut int"):
        windows(42, every_us=5)
    assert list(windows(stream([]), every_us=5)) == []


def test_t0_lines_up_windows_of_several_sources():
    a = list(windows(stream([10, 25]), every_us=10, t0=0))
    b = list(windows(stream([31, 35]), every_us=10, t0=0))
    assert [(w.index, w.start) for w in a] == [(1, 10), (2, 20)]
    assert [(w.index, w.start) for w in b] == [(3, 30)]


def test_time_slice_is_a_binary_search_view():
    events = stream([1, 3, 3, 3, 7, 9, 12])
    part = time_slice(events, 3, 9)
    assert part["timestamp"].tolist() == [3, 3, 3, 7]
    assert part.base is not None  # a view, nothing copied
    assert time_slice(events, None, 3)["timestamp"].tolist() == [1]
    assert time_slice(events, 10)["timestamp"].tolist() == [12]
    assert len(time_slice(events, 20, 30)) == 0 and len(time_slice(events, 5, 5)) == 0
