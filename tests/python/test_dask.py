"""vantrel.dask: many recordings as a dask DataFrame and as a Bag of results
per window, on the threaded scheduler and on a distributed LocalCluster
whose workers are processes that open the recordings themselves."""

import logging
import os
import sys

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
import cloudpickle  # noqa: E402  (comes with distributed)

import vantrel  # noqa: E402
import vantrel.dask as vd  # noqa: E402
from recfiles import damage_event_blocks, scene_events, write  # noqa: E402
from vantrel.partitions import layout  # noqa: E402

# The workers cannot import this test module: functions defined here travel by value.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

BLOCK = 65536


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """Three recordings one after another in time (the middle one damaged)
    and, elsewhere, one that overlaps the first."""
    root = tmp_path_factory.mktemp("recordings")
    events = {}
    for i, (n, width, height) in enumerate([(150_000, 640, 480), (3 * BLOCK, 320, 240), (40_000, 64, 48)]):
        ev = scene_events(n, seed=i, start=1_000 + i * 2_000_000, width=width, height=height)
        path = write(root / f"rec{i}.vtr", ev, width=width, height=height)
        events[path] = ev
    damaged = str(root / "rec1.vtr")
    damage_event_blocks(damaged, [1])
    events[damaged] = np.concatenate([events[damaged][:BLOCK], events[damaged][2 * BLOCK:]])
    overlapping = write(tmp_path_factory.mktemp("more") / "late.vtr", scene_events(20_000, seed=9, start=5_000))
    return str(root), events, overlapping


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=logging.ERROR) as cluster:
        with distributed.Client(cluster, set_as_default=False) as c:
            yield c


def expected_frame(events_by_path):
    frames = [vantrel.to_dataframe(ev) for ev in events_by_path.values()]
    return pd.concat(frames, ignore_index=True)


def same_frame(got, want):
    assert list(got.columns) == ["x", "y", "t", "p"]
    assert got.index.name == vd.INDEX and np.array_equal(got.index.to_numpy(), got["t"].to_numpy())
    pd.testing.assert_frame_equal(got.reset_index(drop=True), want)


def window_summary(events, window):
    return (os.path.basename(window.path), window.index, window.start, window.end, window.width, len(events),
            int(events["x"].astype(np.int64).sum()), os.getpid())


def reference_windows(folder, events_by_path, every):
    return [(os.path.basename(path), w.index, w.start, w.end, layout(path).width,
             len(w.events), int(w.events["x"].astype(np.int64).sum()))
            for path in events_by_path for w in vantrel.windows(path, every_us=every)]


def test_read_on_the_threaded_scheduler(folder):
    root, events, overlapping = folder
    frame = vd.read(root, every_us=100_000)
    assert frame.known_divisions  # each recording ends before the next starts
    assert frame.npartitions == sum(len(vantrel.partitions(p, every_us=100_000)) for p in events)
    same_frame(frame.compute(scheduler="threads"), expected_frame(events))
    # The divisions let a time range be read from the pieces that hold it.
    second = list(events)[1]
    lo, hi = int(events[second]["timestamp"][1000]), int(events[second]["timestamp"][90_000])
    part = frame.loc[lo:hi].compute(scheduler="threads")
    ts = events[second]["timestamp"]
    assert len(part) == int(np.count_nonzero((ts >= lo) & (ts <= hi)))

    by_events = vd.read([*events, overlapping], events=30_000, path_column="recording")
    assert not by_events.known_divisions  # the last one overlaps the first in time
    sizes = by_events.groupby("recording", observed=True).size().compute(scheduler="threads")
    assert sizes.to_dict() == {path: len(ev) for path, ev in events.items()} | {overlapping: 20_000}


def test_map_windows_on_the_threaded_scheduler(folder):
    root, events, _ = folder
    bag = vd.map_windows(root, window_summary, every_us=20_000, windows_per_task=7)
    got = [row[:-1] for row in bag.compute(scheduler="threads")]
    assert got == reference_windows(root, events, 20_000)
    assert bag.npartitions > len(events)


def test_read_and_map_windows_on_worker_processes(folder, client):
    root, events, _ = folder
    frame = vd.read(root, every_us=250_000)
    same_frame(client.compute(frame).result(), expected_frame(events))

    rows = client.compute(vd.map_windows(root, window_summary, every_us=20_000)).result()
    assert [row[:-1] for row in rows] == reference_windows(root, events, 20_000)
    workers = set(client.run(os.getpid).values())
    assert {row[-1] for row in rows} <= workers and os.getpid() not in workers
    # Every worker process opened readers of its own from the paths.
    from vantrel import _readers
    opened = client.run(_readers.statistics)
    assert all(pid in workers and count > 0 for pid, count, _ in opened.values())


def test_no_recordings_and_bad_arguments(tmp_path, folder):
    empty = vd.read(tmp_path, every_us=1_000)
    assert len(empty.compute(scheduler="threads")) == 0 and list(empty.columns) == ["x", "y", "t", "p"]
    assert vd.map_windows(tmp_path, window_summary, every_us=1_000).compute(scheduler="threads") == []
    root, _, _ = folder
    with pytest.raises(ValueError, match="exactly one"):
        vd.read(root)
    with pytest.raises(ValueError, match="windows_per_task"):
        vd.map_windows(root, window_summary, every_us=1_000, windows_per_task=0)
    with pytest.raises(FileNotFoundError):
        vd.read([tmp_path / "missing.vtr"], events=10)


def test_importing_vantrel_imports_neither_dask_nor_torch(python_subprocess):
    done = python_subprocess("""
        import sys, vantrel
        print(sorted(m for m in ("dask", "torch", "pandas", "distributed") if m in sys.modules))
        vantrel.dask.read
        print("dask" in sys.modules)
    """)
    assert done.stdout.split("\n")[:2] == ["[]", "True"], done.stderr
