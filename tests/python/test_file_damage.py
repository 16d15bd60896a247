"""Damaged recordings: cut short, a byte flipped, writer killed mid-way.
They open and give back every intact block, and never a wrong event (the
driver tests flip bytes at random)."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import vantrel_core as vc
from recfiles import same, scene_events, write

BLOCK = 65536  # events per block of write_recording


def read_everything(path):
    r = vc.EvFileReader.create_file_reader(str(path))
    if r is None or not r.open():
        return None
    return r.read_events(2**64 - 1)


def test_a_file_cut_short_keeps_its_complete_blocks(tmp_path, log_file):
    events = scene_events(5 * BLOCK + 100)
    data = open(write(tmp_path / "full.vtr", events), "rb").read()
    cut = tmp_path / "cut.vtr"
    for length in (0, 20, 35):  # not even the header
        cut.write_bytes(data[:length])
        assert read_everything(cut) is None
    cut.write_bytes(data[:36])  # the header alone
    assert len(read_everything(cut)) == 0
    for fraction in (0.3, 0.61, 0.999):
        cut.write_bytes(data[: int(len(data) * fraction)])
        got = read_everything(cut)
        assert len(got) % BLOCK == 0 or len(got) == len(events)
        assert same(got, events[: len(got)])
        # each block is about a fifth of the file
        assert len(got) >= BLOCK * int(fraction * 5.0 - 0.2)
    assert "rebuilt the index by scanning" in log_file.read_text()


def test_a_flipped_byte_loses_its_block_only_and_is_logged(tmp_path, log_file):
    events = scene_events(3 * BLOCK)
    path = write(tmp_path / "a.vtr", events)
    data = bytearray(open(path, "rb").read())
    data[len(data) // 2] ^= 0x01  # inside the second block's words
    open(path, "wb").write(data)
    r = vc.EvFileReader.create_file_reader(path)
    assert r.open()
    assert r.get_event_count() == len(events)  # the index still counts it
    got = r.read_events(2**64 - 1)
    assert same(got, np.concatenate([events[:BLOCK], events[2 * BLOCK:]]))
    assert "is damaged (payload checksum mismatch)" in log_file.read_text()
    assert r.seek_to_event_index(BLOCK + 5)  # inside the damaged block: lands after it
    assert r.get_current_event_index() == 2 * BLOCK


def test_a_recording_killed_mid_way_opens_and_reads_back(tmp_path):
    path = tmp_path / "killed.vtr"
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import sys, time
        import vantrel_core as vc, vantrel_sim as vs
        vs.reset()
        vs.add_camera("K", realtime=True, scene="noise", event_rate=4e6)
        camera = vc.EvCameraService().open("K")
        assert camera.start_recording({str(path)!r})
        assert camera.start()
        print("recording", flush=True)
        time.sleep(60)
    """)], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "recording"
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and (not path.exists() or path.stat().st_size < 3_000_000):
            time.sleep(0.01)
        assert path.stat().st_size >= 3_000_000
    finally:
        child.send_signal(signal.SIGKILL)
        child.wait(timeout=30)
    assert child.returncode == -signal.SIGKILL
    r = vc.EvFileReader.create_file_reader(str(path))
    assert r.open()
    count = r.get_event_count()
    assert count >= 500_000
    got = r.read_events(2**64 - 1)
    assert len(got) == count
    ts = got["timestamp"].astype(np.int64)
    assert np.all(np.diff(ts) >= 0)
    assert got["x"].max() < 640 and got["y"].max() < 480
