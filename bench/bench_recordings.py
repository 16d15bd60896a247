"""Recordings: read speed, size on disk, seek cost and recording rate.

Each figure is printed with the baseline it is compared with, measured in the
same run:

* read: events per second of EvFileReader.read_events(1_000_000) over a whole
  recording, against numpy.fromfile of the same events stored as plain
  16-byte records (both from the page cache, best of a few runs);
* size: bytes per event of recordings of the simulated default scene and of
  uniform noise, against the 16 bytes of an event record;
* seek: microseconds per seek_to_timestamp and seek_to_event_index on
  recordings of growing size, against the smallest one (flat is 1.0);
* record: the highest simulated event rate a camera recorded with nothing
  dropped, against the simulator's default rate of 1M events/s.

Usage: python bench/bench_recordings.py [--scale S]
S (default 1) scales every size down, e.g. 0.1 for a quick run: 5M events
read, seeks on 100k/1M/10M events.
"""

import argparse
import os

# An idle OpenBLAS pool spins on a core; neither side of any figure uses it.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
import pathlib
import sys
import tempfile
import time

import numpy as np

import vantrel_core as vc
import vantrel_sim as vs

EVENT_DTYPE = np.dtype({
    "names": ("x", "y", "polarity", "timestamp"),
    "formats": ("<u2", "<u2", "u1", "<u8"),
    "offsets": (8, 10, 12, 0),
    "itemsize": 16,
})
CHUNK = 1_000_000


def scene_like(n, seed=0):
    """Events like the default scene's: 640x480, about 1M events/s."""
    rng = np.random.default_rng(seed)
    events = np.empty(n, dtype=EVENT_DTYPE)
    for lo in range(0, n, 10_000_000):
        hi = min(n, lo + 10_000_000)
        m = hi - lo
        events["x"][lo:hi] = rng.integers(0, 640, m, dtype=np.uint16)
        events["y"][lo:hi] = rng.integers(0, 480, m, dtype=np.uint16)
        events["polarity"][lo:hi] = rng.integers(0, 2, m, dtype=np.uint8)
        steps = rng.integers(0, 3, m, dtype=np.uint64)
        base = 0 if lo == 0 else int(events["timestamp"][lo - 1])
        events["timestamp"][lo:hi] = base + np.cumsum(steps)
    return events


def best_of(runs, fn):
    best = float("inf")
    for _ in range(runs):
        begin = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - begin)
    return best


def bench_read(folder, n):
    events = scene_like(n)
    recording = str(folder / "read.vtr")
    plain = folder / "read.bin"
    t_write = best_of(1, lambda: vs.write_recording(recording, events))
    t_tofile = best_of(1, lambda: events.tofile(plain))
    print(f"write {n:,} events: {n / t_write / 1e6:.0f}M events/s; numpy.tofile of 16-byte records: "
          f"{n / t_tofile / 1e6:.0f}M events/s; ratio {t_tofile / t_write:.2f}")
    del events

    def read_plain():
        total = 0
        with open(plain, "rb") as f:
            while True:
                part = np.fromfile(f, dtype=EVENT_DTYPE, count=CHUNK)
                if len(part) == 0:
                    break
                total += len(part)
        assert total == n

    def read_recording():
        reader = vc.EvFileReader.create_file_reader(recording)
        assert reader.open()
        total = 0
        while True:
            part = reader.read_events(CHUNK)
            if len(part) == 0:
                break
            total += len(part)
        assert total == n

    read_plain()  # both into the page cache
    read_recording()
    t_plain, t_rec = float("inf"), float("inf")
    for _ in range(3):  # interleaved, so that both see the same machine
        t_plain = min(t_plain, best_of(1, read_plain))
        t_rec = min(t_rec, best_of(1, read_recording))
    size = os.path.getsize(recording)
    print(f"read {n:,} events in {CHUNK:,}-event reads: {n / t_rec / 1e6:.0f}M events/s; "
          f"numpy.fromfile of 16-byte records: {n / t_plain / 1e6:.0f}M events/s; "
          f"ratio {t_plain / t_rec:.2f}")
    print(f"size of these events: {size / n:.3f} bytes/event ({size / (16 * n):.3f} of 16-byte records)")
    os.remove(plain)
    os.remove(recording)


def record_camera(folder, name, scene, events_wanted, **options):
    """Records a simulated camera until it produced `events_wanted` events;
    returns (events in the file, bytes, dropped?) ."""
    serial = "BENCH-" + name
    vs.add_camera(serial, scene=scene, **options)
    camera = vc.EvCameraService().open(serial)
    path = folder / f"{name}.vtr"
    log = folder / f"{name}.log"
    vc.Logger.instance().set_log_file(str(log))
    produced = [0]
    camera.set_statistics_callback(lambda s: produced.__setitem__(0, produced[0] + s.events_count))
    assert camera.start_recording(str(path))
    assert camera.start()
    begin = time.monotonic()
    while produced[0] < events_wanted and time.monotonic() - begin < 60:
        time.sleep(0.01)
    elapsed = time.monotonic() - begin
    camera.stop()
    assert camera.stop_recording()
    camera.close()
    vc.Logger.instance().set_log_file("")
    vs.remove_camera(serial)
    reader = vc.EvFileReader.create_file_reader(str(path))
    assert reader.open()
    count = reader.get_event_count()
    size = os.path.getsize(path)
    dropped = "cannot keep up" in log.read_text()
    os.remove(path)
    return count, size, dropped, elapsed


def bench_size(folder, n):
    for name, scene in (("default", "default"), ("noise", "noise")):
        count, size, _, _ = record_camera(folder, name, scene, n, realtime=True)
        print(f"size, {name} scene: {size / count:.3f} bytes/event over {count:,} events "
              f"({size / (16 * count):.3f} of 16-byte records)")


def bench_seek(folder, sizes):
    rng = np.random.default_rng(1)
    costs = []
    for n in sizes:
        events = scene_like(n, seed=2)
        path = str(folder / f"seek_{n}.vtr")
        vs.write_recording(path, events)
        t_last = int(events["timestamp"][-1])
        del events
        reader = vc.EvFileReader.create_file_reader(path)
        assert reader.open()
        stamps = rng.integers(0, t_last, 300).tolist()
        indices = rng.integers(0, n, 300).tolist()
        for t in stamps[:20]:  # warm the page cache around the index
            reader.seek_to_timestamp(t)
        t_ts = best_of(3, lambda: [reader.seek_to_timestamp(t) for t in stamps]) / len(stamps)
        t_ix = best_of(3, lambda: [reader.seek_to_event_index(i) for i in indices]) / len(indices)
        costs.append((n, t_ts, t_ix))
        del reader
        os.remove(path)
    n0, ts0, ix0 = costs[0]
    for n, t_ts, t_ix in costs:
        print(f"seek in {n:,} events: seek_to_timestamp {t_ts * 1e6:.0f} us ({t_ts / ts0:.2f} x {n0:,}), "
              f"seek_to_event_index {t_ix * 1e6:.0f} us ({t_ix / ix0:.2f} x {n0:,})")


def bench_record(folder, seconds):
    best = 0
    rate = 1e6
    while rate <= 1024e6:
        count, _, dropped, elapsed = record_camera(folder, f"rate{int(rate)}", "noise", int(rate * seconds),
                                                  realtime=True, event_rate=rate)
        reached = count / elapsed
        print(f"record at {rate / 1e6:.0f}M events/s: {count:,} events in {elapsed:.1f} s, "
              f"{'nothing dropped' if not dropped else 'events DROPPED'}"
              f"{'' if reached >= 0.8 * rate else ' (the simulator fell behind this rate)'}")
        if dropped or reached < 0.8 * rate:
            break
        best = rate
        rate *= 2
    print(f"highest simulated rate recorded with nothing dropped: {best / 1e6:.0f}M events/s "
          f"({best / 1e6:.0f} x the default scene's 1M events/s)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=1.0)
    args, _ = parser.parse_known_args()
    s = args.scale
    vs.reset()
    with tempfile.TemporaryDirectory(prefix="vantrel_bench_") as tmp:
        folder = pathlib.Path(tmp)
        bench_read(folder, int(50_000_000 * s))
        bench_size(folder, int(3_000_000 * max(s, 0.34)))
        bench_seek(folder, [int(1_000_000 * s), int(10_000_000 * s), int(100_000_000 * s)])
        bench_record(folder, 2.0 * max(s, 0.5))
    vs.reset()
    vs.add_camera(vs.DEFAULT_SERIAL)
    return 0


if __name__ == "__main__":
    sys.exit(main())
