"""Readers at the same time: several of one file in one process and across
processes, of a file still being written, and many open at once with their
file descriptors bounded and released."""

import concurrent.futures
import multiprocessing
import os
import threading
import time

import numpy as np
import pytest

import vantrel
from recfiles import same, scene_events, write
from simcam import open_camera, sim  # noqa: F401 (fixture)
from vantrel import _readers
from vantrel.partitions import layout, partitions


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    events = scene_events(600_000, seed=5)
    return write(tmp_path_factory.mktemp("conc") / "c.vtr", events), events


def open_fds(under):
    """File descriptors of this process open on files in the folder `under`
    (other threads may open sockets and pipes meanwhile)."""
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            target = os.readlink(f"/proc/self/fd/{fd}")
        except OSError:  # closed meanwhile
            continue
        count += target.startswith(str(under))
    return count


def test_threads_read_pieces_of_one_file_with_readers_of_their_own(recording):
    path, events = recording
    pieces = list(partitions(path, events=20_000))
    vantrel.release_readers()
    _, opened_before, _ = _readers.statistics()
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        got = list(pool.map(lambda piece: piece.read(), pieces * 3))
    assert all(same(part, events[p.start:p.end]) for p, part in zip(pieces * 3, got))
    _, opened, idle = _readers.statistics()
    assert 1 <= opened - opened_before <= 4 and idle == opened - opened_before  # one per thread at most
    # Borrowers at the same time never share a reader.
    together = threading.Barrier(4)

    def borrow_while_others_do(_):
        with _readers.borrow(path) as reader:
            together.wait(timeout=10)
            return id(reader)

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        assert len(set(pool.map(borrow_while_others_do, range(4)))) == 4


def test_processes_read_pieces_of_one_file_at_once(recording):
    path, events = recording
    pieces = list(partitions(path, every_us=50_000))
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        got = list(pool.map(type(pieces[0]).read, pieces))
    assert same(np.concatenate(got), events)


def test_a_recording_still_being_written_reads_as_what_is_complete(tmp_path, sim):
    path = str(tmp_path / "live.vtr")
    camera = open_camera("W", realtime=True, scene="noise", event_rate=2e6, width=640, height=480)
    assert camera.start_recording(path) and camera.start()
    seen = []
    try:
        deadline = time.monotonic() + 1.5
        while time.monotonic() < deadline:
            time.sleep(0.15)
            if os.path.getsize(path) < 200:
                continue
            pieces = partitions(path, events=100_000)
            assert pieces.layout.recovered  # no index yet: the complete blocks, found by a scan
            if len(pieces):  # none until the first block is complete
                seen.append(np.concatenate([p.read() for p in pieces]))
    finally:
        camera.stop()
        assert camera.stop_recording()
        camera.close()
    final = vantrel.open_recording(path).reader.read_events(2**64 - 1)
    counts = [len(s) for s in seen]
    assert len(counts) >= 2 and counts == sorted(counts) and counts[-1] > counts[0], counts
    assert all(same(s, final[:len(s)]) for s in seen)
    assert not layout(path).recovered


def test_many_open_readers_hold_one_descriptor_each_and_give_it_back(recording):
    path, _ = recording
    vantrel.release_readers()
    assert open_fds(path) == 0
    readers = [vantrel.open_recording(path).reader for _ in range(300)]
    assert open_fds(path) == 300
    assert all(r.get_event_count() == 600_000 for r in readers)
    del readers
    assert open_fds(path) == 0


def test_the_readers_left_open_for_pieces_are_bounded(tmp_path):
    vantrel.release_readers()
    paths = [write(tmp_path / f"r{i}.vtr", scene_events(1_000, seed=i)) for i in range(3 * _readers.MAX_IDLE)]
    lock = threading.Lock()
    most = 0

    def read_all(path):
        nonlocal most
        for piece in partitions(path, events=300):
            piece.read()
            with lock:
                most = max(most, open_fds(tmp_path))

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        list(pool.map(read_all, paths))
    assert most <= _readers.MAX_IDLE + 4  # idle ones plus one per reading thread
    assert open_fds(tmp_path) <= _readers.MAX_IDLE
    vantrel.release_readers()
    assert open_fds(tmp_path) == 0
