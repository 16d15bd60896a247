"""Recordings: reads, writes, size, compression, seeks and live recording,
each against its physical limit measured in the same run (see measure.py:
interleaved medians, NUMPY_MADVISE_HUGEPAGE=0, the load printed).

* whole read: EvFileReader.read_events(get_event_count()) against
  numpy.fromfile of the same events stored as plain 16-byte records, read
  whole (the limit for filling one fresh array), and against the same
  recording read in 1M-event calls; its peak memory (in a fresh process)
  above that of the chunked loop, against the size of the result;
* small files: the same for a 1M-event recording;
* write: vantrel_sim.write_recording against numpy.tofile of the records;
* compressed (zstd): bytes/event of a live recording of the default scene,
  read speed, write speed;
* seek: seek_to_timestamp and seek_to_event_index from 1M to 100M events,
  against the 1M-event file (flat is 1.00), beside the limit: a binary
  search of the same timestamps held in memory;
* record: the highest simulated rate recorded with nothing dropped, and a
  compressed recording at 40M events/s.

Usage: python bench/bench_recordings.py [--scale S]
S (default 1) scales every size, e.g. 0.1 for a quick run.
"""

import measure  # noqa: F401  (sets NumPy's environment first)

import argparse  # noqa: E402
import os  # noqa: E402
import pathlib  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import vantrel_core as vc  # noqa: E402
import vantrel_sim as vs  # noqa: E402
from measure import interleaved, load  # noqa: E402

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


def opened(path):
    reader = vc.EvFileReader.create_file_reader(str(path))
    assert reader is not None and reader.open()
    return reader


def read_whole(path, n):
    reader = opened(path)
    assert len(reader.read_events(reader.get_event_count())) == n


def read_chunked(path, n):
    reader = opened(path)
    total = 0
    while len(part := reader.read_events(CHUNK)):
        total += len(part)
    assert total == n


def fromfile_whole(raw, n):
    assert len(np.fromfile(raw, dtype=EVENT_DTYPE)) == n


# Peak memory of one read, in a process of its own: the growth of its
# largest resident size (VmHWM, which starts afresh with the process image;
# ru_maxrss would keep the benchmark's own) over what it had after opening
# the file.
PEAK_SCRIPT = """
import sys
import numpy as np
import vantrel_core as vc

def peak():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) * 1024

r = vc.EvFileReader.create_file_reader(sys.argv[1]); assert r.open()
before = peak()
if sys.argv[2] == "whole":
    a = r.read_events(r.get_event_count())
else:
    while len(r.read_events(1_000_000)):
        pass
print(peak() - before)
"""


def peak_growth(path, how):
    out = subprocess.run([sys.executable, "-c", PEAK_SCRIPT, str(path), how], check=True,
                         capture_output=True, text=True, env=os.environ)
    return int(out.stdout.strip())


def bench_whole_reads(folder, n, repetitions):
    events = scene_like(n)
    recording, raw = folder / "read.vtr", folder / "read.bin"
    vs.write_recording(str(recording), events, compression="none")
    events.tofile(raw)
    del events
    read_whole(recording, n)  # both into the page cache
    fromfile_whole(raw, n)
    t = interleaved({"whole": lambda: read_whole(recording, n), "fromfile": lambda: fromfile_whole(raw, n),
                     "chunked": lambda: read_chunked(recording, n)}, repetitions)
    print(f"read_events(get_event_count()), {n:,} events: {n / t['whole'] / 1e6:.0f}M events/s, "
          f"{t['fromfile'] / t['whole']:.2f} x numpy.fromfile of 16-byte records read whole "
          f"({n / t['fromfile'] / 1e6:.0f}M/s); {t['chunked'] / t['whole']:.2f} x the same recording in "
          f"1M-event reads ({n / t['chunked'] / 1e6:.0f}M/s) [{load()}]", flush=True)
    if n >= 5_000_000:
        whole, chunked = peak_growth(recording, "whole"), peak_growth(recording, "chunked")
        result = 16 * n
        print(f"peak memory of the whole read: {whole / 1e6:.0f} MB for a {result / 1e6:.0f} MB result; "
              f"above the chunked loop's {chunked / 1e6:.0f} MB: {(whole - chunked) / result:.2f} x the result",
              flush=True)
    os.remove(raw)
    return recording


def bench_write(folder, n, repetitions):
    events = scene_like(n, seed=4)
    paths = {c: folder / f"write-{c}.vtr" for c in ("none", "zstd")}
    raw = folder / "write.bin"

    def write(c):
        paths[c].unlink(missing_ok=True)
        vs.write_recording(str(paths[c]), events, compression=c)

    def tofile():
        events.tofile(raw)

    t = interleaved({"none": lambda: write("none"), "zstd": lambda: write("zstd"), "tofile": tofile}, repetitions)
    sizes = {c: os.path.getsize(p) / n for c, p in paths.items()}
    print(f"write_recording, {n:,} events: {n / t['none'] / 1e6:.0f}M events/s ({sizes['none']:.2f} bytes/event), "
          f"{t['tofile'] / t['none']:.2f} x numpy.tofile of 16-byte records ({n / t['tofile'] / 1e6:.0f}M/s); "
          f"zstd: {n / t['zstd'] / 1e6:.0f}M events/s, {t['tofile'] / t['zstd']:.2f} x, "
          f"{sizes['zstd']:.2f} bytes/event [{load()}]", flush=True)
    os.remove(raw)
    return paths["zstd"], n


def bench_compressed_reads(path, n, repetitions):
    read_whole(path, n)
    t = interleaved({"whole": lambda: read_whole(path, n), "chunked": lambda: read_chunked(path, n)}, repetitions)
    print(f"reading the zstd recording of {n:,} events: whole {n / t['whole'] / 1e6:.0f}M events/s, "
          f"1M-event reads {n / t['chunked'] / 1e6:.0f}M events/s [{load()}]", flush=True)


def bench_small_files(folder, repetitions):
    n = 1_000_000
    events = scene_like(n, seed=3)
    recording, raw = folder / "small.vtr", folder / "small.bin"
    vs.write_recording(str(recording), events)
    events.tofile(raw)
    del events
    t = interleaved({"whole": lambda: read_whole(recording, n), "fromfile": lambda: fromfile_whole(raw, n)},
                    repetitions)
    print(f"read_events of a whole 1M-event recording: {t['whole'] * 1e3:.2f} ms, {t['fromfile'] / t['whole']:.2f} x "
          f"numpy.fromfile of its records ({t['fromfile'] * 1e3:.2f} ms) [{load()}]", flush=True)


def record_camera(folder, name, scene, events_wanted, compression="none", **options):
    """Records a simulated camera until it produced `events_wanted` events;
    returns (events in the file, bytes, dropped?, seconds)."""
    serial = "BENCH-" + name
    vs.add_camera(serial, scene=scene, **options)
    camera = vc.EvCameraService().open(serial)
    path = folder / f"{name}.vtr"
    vc.Logger.instance().set_log_file(str(folder / f"{name}.log"))
    produced = [0]
    camera.set_statistics_callback(lambda s: produced.__setitem__(0, produced[0] + s.events_count))
    was = vs.recording_compression()
    vs.set_recording_compression(compression)
    try:
        assert camera.start_recording(str(path))
    finally:
        vs.set_recording_compression(was)
    assert camera.start()
    begin = time.monotonic()
    while produced[0] < events_wanted and time.monotonic() - begin < 60:
        time.sleep(0.01)
    elapsed = time.monotonic() - begin
    camera.stop()
    assert camera.stop_recording()
    dropped = vs.stream_drops(serial)["recorder"]["events"] > 0
    camera.close()
    vc.Logger.instance().set_log_file("")
    vs.remove_camera(serial)
    count = opened(path).get_event_count()
    size = os.path.getsize(path)
    os.remove(path)
    return count, size, dropped, elapsed


def bench_size(folder, n):
    for name, scene in (("default", "default"), ("noise", "noise")):
        figures = []
        for compression in ("none", "zstd"):
            count, size, _, _ = record_camera(folder, f"{name}-{compression}", scene, n, compression, realtime=True)
            figures.append(f"{compression} {size / count:.2f}")
        print(f"size of a live recording of the {name} scene ({n:,} events), bytes/event: {', '.join(figures)} "
              f"(16 in memory)", flush=True)


def bench_seek(folder, sizes, repetitions):
    """seek_to_timestamp and seek_to_event_index, and their limit: a binary
    search (numpy.searchsorted) of the same timestamps held in memory."""
    rng = np.random.default_rng(1)
    readers, in_memory = {}, {}
    for n in sizes:
        events = scene_like(n, seed=2)
        path = folder / f"seek_{n}.vtr"
        vs.write_recording(str(path), events)
        in_memory[n] = events["timestamp"].copy()
        del events
        reader = opened(path)
        stamps = rng.integers(0, int(in_memory[n][-1]), 200).tolist()
        indices = rng.integers(0, n, 200).tolist()
        readers[n] = (reader, stamps, indices)

    def by_time(n):
        reader, stamps, _ = readers[n]
        for t in stamps:
            reader.seek_to_timestamp(t)

    def by_index(n):
        reader, _, indices = readers[n]
        for i in indices:
            reader.seek_to_event_index(i)

    def search(n):
        timestamps, stamps = in_memory[n], typed_stamps[n]
        for t in stamps:
            timestamps.searchsorted(t)

    # Of the array's own type: a Python int would make NumPy convert the array.
    typed_stamps = {n: [np.uint64(t) for t in readers[n][1]] for n in sizes}
    for n in sizes:  # the index and the blocks' pages into memory
        by_time(n)
        by_index(n)
        search(n)
    fns = {}
    for n in sizes:
        fns[("t", n)] = lambda n=n: by_time(n)
        fns[("i", n)] = lambda n=n: by_index(n)
        fns[("s", n)] = lambda n=n: search(n)
    t = interleaved(fns, repetitions)
    n0 = sizes[0]
    for n in sizes:
        ts, ix, ss = t[("t", n)] / 200, t[("i", n)] / 200, t[("s", n)] / 200
        print(f"seek in {n:,} events: seek_to_timestamp {ts * 1e6:.1f} us ({t[('t', n)] / t[('t', n0)]:.2f} x "
              f"{n0:,}), seek_to_event_index {ix * 1e6:.1f} us ({t[('i', n)] / t[('i', n0)]:.2f} x); "
              f"limit, numpy.searchsorted of the timestamps in memory: {ss * 1e6:.1f} us "
              f"({t[('s', n)] / t[('s', n0)]:.2f} x) [{load()}]", flush=True)
    in_memory.clear()


def bench_record(folder, seconds):
    best = 0
    rate = 1e6
    while rate <= 1024e6:
        count, _, dropped, elapsed = record_camera(folder, f"rate{int(rate)}", "noise", int(rate * seconds),
                                                  realtime=True, event_rate=rate)
        reached = count / elapsed
        if dropped or reached < 0.8 * rate:
            print(f"record at {rate / 1e6:.0f}M events/s: {'events DROPPED' if dropped else ''}"
                  f"{' the simulator fell behind this rate' if reached < 0.8 * rate else ''}", flush=True)
            break
        best = rate
        rate *= 2
    print(f"highest simulated rate recorded with nothing dropped: {best / 1e6:.0f}M events/s "
          f"({best / 1e6:.0f} x the default scene's 1M events/s) [{load()}]", flush=True)
    rate = 40e6
    count, size, dropped, elapsed = record_camera(folder, "zstd40", "default", int(rate * seconds), "zstd",
                                                  realtime=True, event_rate=rate)
    print(f"zstd recording of the default scene at 40M events/s: {count:,} events in {elapsed:.1f} s "
          f"({count / elapsed / 1e6:.0f}M/s), {size / count:.2f} bytes/event, "
          f"{'events DROPPED' if dropped else 'nothing dropped'} [{load()}]", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=1.0)
    args, _ = parser.parse_known_args()
    s = args.scale
    vs.reset()
    print(f"[{load()}, NUMPY_MADVISE_HUGEPAGE={os.environ['NUMPY_MADVISE_HUGEPAGE']}]", flush=True)
    with tempfile.TemporaryDirectory(prefix="vantrel_bench_") as tmp:
        folder = pathlib.Path(tmp)
        recording = bench_whole_reads(folder, int(20_000_000 * s), 5)
        os.remove(recording)
        bench_small_files(folder, 21)
        packed, n = bench_write(folder, int(20_000_000 * s), 3)
        bench_compressed_reads(packed, n, 5)
        for p in folder.glob("write-*.vtr"):
            os.remove(p)
        bench_size(folder, int(3_000_000 * max(s, 0.34)))
        bench_seek(folder, [int(1_000_000 * s), int(10_000_000 * s), int(100_000_000 * s)], 7)
        for p in folder.glob("seek_*.vtr"):
            os.remove(p)
        bench_record(folder, 2.0 * max(s, 0.5))
    vs.reset()
    vs.add_camera(vs.DEFAULT_SERIAL)
    return 0


if __name__ == "__main__":
    sys.exit(main())
