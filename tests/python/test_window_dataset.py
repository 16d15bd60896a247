"""vantrel.torch.WindowDataset: every window of many recordings, read in the
worker processes of a loader (started by fork or by spawn) with readers of
their own, and in a PyTorch DataLoader where PyTorch is installed."""

import functools
import os
import threading

import numpy as np
import pytest

import vantrel
from minimal_loader import frame_and_readers, load
from recfiles import same, scene_events, write
from vantrel.torch import WindowDataset

EVERY = 20_000


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    root = tmp_path_factory.mktemp("dataset")
    return [write(root / "a.vtr", scene_events(30_000, seed=1, width=64, height=48), width=64, height=48),
            write(root / "b.vtr", scene_events(50_000, seed=2, start=7_000_000, width=320, height=240),
                  width=320, height=240)]


def reference(paths):
    return [(path, w) for path in paths for w in vantrel.windows(path, every_us=EVERY)]


def test_the_items_are_the_windows_of_every_recording(paths):
    data = WindowDataset(paths, every_us=EVERY)
    want = reference(paths)
    assert len(data) == len(want)
    for i, (path, w) in enumerate(want):
        window = data.window(i)
        assert (window.path, window.index, window.start, window.end) == (path, w.index, w.start, w.end)
        assert same(data[i], w.events)
    assert data.window(-1) == data.window(len(data) - 1) and (data.window(0).width, data.window(-1).width) == (64, 320)
    with pytest.raises(IndexError):
        data[len(data)]
    frames = WindowDataset(paths[:1], every_us=EVERY, transform=functools.partial(vantrel.event_frame, width=64,
                                                                                  height=48))
    assert np.array_equal(frames[2], vantrel.event_frame(want[2][1].events, 64, 48))
    assert len(WindowDataset([], every_us=EVERY)) == 0
    with pytest.raises(ValueError):
        WindowDataset(paths, every_us=0)


# Forking while another thread runs is the point here.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_a_loader_with_worker_processes_gets_every_window(paths, method):
    data = WindowDataset(paths, every_us=EVERY, transform=frame_and_readers)
    parent = [data[i] for i in range(len(data))]  # readers open in this process before the fork
    # Another thread of the parent keeps borrowing readers while workers start.
    stop = threading.Event()

    def keep_reading():
        while not stop.is_set():
            data[len(data) // 2]

    busy = threading.Thread(target=keep_reading)
    busy.start()
    try:
        got = load(data, workers=2, method=method)
    finally:
        stop.set()
        busy.join()
    assert [item[:2] for item, _ in got] == [item[:2] for item in parent]
    workers = {pid for _, pid in got}
    assert os.getpid() not in workers and len(workers) <= 2
    # Each worker read with readers it opened itself.
    assert all(item[2] == pid and item[3] >= 1 for item, pid in got)


def test_a_torch_data_loader_with_workers(paths):
    torch = pytest.importorskip("torch")
    data = WindowDataset(paths, every_us=EVERY, transform=functools.partial(vantrel.event_frame, width=64, height=48))
    loader = torch.utils.data.DataLoader(WindowDataset(paths[:1], every_us=EVERY, transform=data.transform),
                                         batch_size=4, num_workers=2, multiprocessing_context="spawn")
    frames = torch.cat(list(loader))
    want = np.stack([vantrel.event_frame(w.events, 64, 48) for w in vantrel.windows(paths[0], every_us=EVERY)])
    assert np.array_equal(frames.numpy(), want)
