"""Many recordings on a Dask cluster: a folder of recordings made by the
simulator (three cameras, two scenes, two seeds each), cut into 50 ms
windows; per window the event rate, the share of ON events and a small
event frame, computed by the workers of a LocalCluster, written to Parquet
with pyarrow. The same work runs with one worker and with two, timed.

    python examples/many_recordings.py [--out DIR] [--seconds S]

Needs the dask extra: pip install 'vantrel[dask]'. On a cluster of several
machines, give Client the scheduler's address instead of a LocalCluster: the
workers must see the recordings under the same paths (a shared file system),
and nothing else changes.
"""

from __future__ import annotations

import argparse
import os
import tempfile
import time
from typing import Any

import distributed
import numpy as np
# pyarrow and distributed's classes carry no type annotations.
import pyarrow as pa  # type: ignore[import-untyped]
import pyarrow.parquet as pq  # type: ignore[import-untyped]

import vantrel
import vantrel.dask
import vantrel_sim as vs
from vantrel.partitions import Events, RecordingWindow

EVERY_US = 50_000
SHRINK = 8  # frames are pooled over SHRINK x SHRINK pixels
# serial, sensor size, scene, events per second
CAMERAS = [("CAM-A", 640, 480, "default", 1e6), ("CAM-B", 320, 240, "noise", 4e5), ("CAM-C", 160, 120, "default", 2e5)]
SEEDS = (1, 2)


def make_recordings(folder: str, seconds: float) -> list[str]:
    """One recording per camera and seed, of `seconds` of camera time."""
    paths = []
    vs.reset()
    for serial, width, height, scene, rate in CAMERAS:
        for seed in SEEDS:
            name = f"{serial}-{seed}"
            vs.add_camera(name, width=width, height=height, scene=scene, seed=seed, event_rate=rate, realtime=False)
            with vantrel.open_camera(name) as camera:
                events = np.concatenate(list(vantrel.batches(camera, events=int(rate * seconds))))
            path = os.path.join(folder, f"{name}.vtr")
            vs.write_recording(path, events, width=width, height=height, serial=serial)
            paths.append(path)
    vs.reset()
    vs.add_camera(vs.DEFAULT_SERIAL)
    return paths


def summary(events: Events, window: RecordingWindow) -> dict[str, Any]:
    """What each window gives: its rate, its ON share and a pooled frame."""
    frame = vantrel.event_frame(events, window.width, window.height, mode="polarity")
    h, w = window.height // SHRINK, window.width // SHRINK
    pooled = frame[:h * SHRINK, :w * SHRINK].reshape(h, SHRINK, w, SHRINK).sum(axis=(1, 3))
    on = int(np.count_nonzero(events["polarity"]))
    return {
        "recording": os.path.basename(window.path),
        "window": window.index,
        "start_us": window.start,
        "events": len(events),
        "rate_hz": len(events) * 1e6 / (window.end - window.start),
        "on_share": on / len(events) if len(events) else 0.0,
        "frame_height": h,
        "frame_width": w,
        "frame": pooled.astype(np.int32).ravel(),
    }


def warm_up() -> None:
    """Imports what the tasks need, in a worker, before the clock starts."""
    import vantrel.dask  # noqa: F401


def run(paths: list[str], workers: int) -> tuple[list[dict[str, Any]], float]:
    """The summaries of every window on a LocalCluster of `workers` processes, and the time it took."""
    with (distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,  # type: ignore[no-untyped-call]
                                   dashboard_address=None) as cluster,
          distributed.Client(cluster) as client):  # type: ignore[no-untyped-call]
        bag = vantrel.dask.map_windows(paths, summary, every_us=EVERY_US, windows_per_task=8)
        client.run(warm_up)
        began = time.perf_counter()
        rows: list[dict[str, Any]] = client.compute(bag).result()
        return rows, time.perf_counter() - began


def write_parquet(rows: list[dict[str, Any]], out: str) -> tuple[str, str]:
    rates = pa.Table.from_pylist([{k: v for k, v in row.items() if not k.startswith("frame")} for row in rows])
    frames = pa.table({
        "recording": [row["recording"] for row in rows],
        "window": [row["window"] for row in rows],
        "height": [row["frame_height"] for row in rows],
        "width": [row["frame_width"] for row in rows],
        "frame": pa.array([row["frame"] for row in rows], type=pa.list_(pa.int32())),
    })
    rates_path, frames_path = os.path.join(out, "rates.parquet"), os.path.join(out, "frames.parquet")
    pq.write_table(rates, rates_path)
    pq.write_table(frames, frames_path)
    return rates_path, frames_path


def main() -> None:
    parser = argparse.ArgumentParser(description="per-window rates and frames of many recordings on Dask")
    parser.add_argument("--out", default=None, help="folder for the recordings and the Parquet files")
    parser.add_argument("--seconds", type=float, default=4.0, help="camera time per recording")
    args = parser.parse_args()
    out = args.out or tempfile.mkdtemp(prefix="vantrel-many-")
    paths = make_recordings(out, args.seconds)
    total = sum(vantrel.open_recording(p).reader.get_event_count() or 0 for p in paths)
    print(f"{len(paths)} recordings, {total} events, in {out}")

    one, t1 = run(paths, 1)
    two, t2 = run(paths, 2)
    print(f"1 worker: {t1:.2f} s, 2 workers: {t2:.2f} s ({t1 / t2:.2f} x)")

    same = [(r["recording"], r["window"], r["events"]) for r in one] == [(r["recording"], r["window"], r["events"])
                                                                          for r in two]
    expected = sum(sum(1 for _ in vantrel.windows(p, every_us=EVERY_US)) for p in paths)
    print(f"{len(two)} windows (expected {expected}), the same with one worker and two: {same}")
    busiest = max(two, key=lambda r: r["rate_hz"])
    print(f"busiest window: {busiest['recording']} #{busiest['window']} at {busiest['rate_hz'] / 1e6:.2f} M events/s")
    rates_path, frames_path = write_parquet(two, out)
    back = pq.read_table(rates_path)
    print(f"wrote {back.num_rows} rows to {rates_path} and {frames_path}")


if __name__ == "__main__":
    main()
