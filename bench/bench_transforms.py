"""Throughput of vantrel's event conversions and transforms on 10M events of
the default simulated scene (a moving pattern, noise, hot pixels), each as
millions of events per second and as a ratio to one NumPy pass that every
per-pixel transform needs (pixel index and np.bincount), measured in the same
run.

    python bench/bench_transforms.py [--events N] [--repeat R]
"""

import argparse
import time

import numpy as np

import vantrel
import vantrel_core as vc
import vantrel_sim as vs

WIDTH, HEIGHT = 640, 480


def scene_events(n):
    vs.add_camera("BENCH-T", realtime=False, width=WIDTH, height=HEIGHT, event_rate=2e7, seed=3)
    camera = vc.EvCameraService().open("BENCH-T")
    camera.set_batch_events_num(1_000_000)
    camera.start()
    batches, got = [], 0
    while got < n:
        batches.append(camera.get_next_batch())
        got += len(batches[-1])
    camera.close()
    vs.remove_camera("BENCH-T")
    return np.concatenate(batches)[:n]


def baseline(events):
    pixels = events["y"].astype(np.int64) * WIDTH + events["x"].astype(np.int64)
    return np.bincount(pixels, minlength=WIDTH * HEIGHT)


def best_seconds(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        begin = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - begin)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--events", type=int, default=10_000_000)
    parser.add_argument("--repeat", type=int, default=2)
    args, _ = parser.parse_known_args()
    events = scene_events(args.events)
    packed = vantrel.pack(events)
    w, h = WIDTH, HEIGHT
    cases = [
        ("pack", lambda: vantrel.pack(events)),
        ("unpack (checked)", lambda: vantrel.unpack(packed)),
        ("to_xytp", lambda: vantrel.to_xytp(events)),
        ("event_frame count", lambda: vantrel.event_frame(events, w, h)),
        ("event_frame polarity", lambda: vantrel.event_frame(events, w, h, mode="polarity")),
        ("time_surface", lambda: vantrel.time_surface(events, w, h, tau_us=10_000)),
        ("voxel_grid, 5 bins", lambda: vantrel.voxel_grid(events, w, h, 5)),
        ("denoise, 3x3, 10 ms", lambda: vantrel.denoise(events, w, h, dt_us=10_000)),
        ("remove_hot_pixels", lambda: vantrel.remove_hot_pixels(events, w, h)),
        ("windows of 10 ms", lambda: sum(1 for _ in vantrel.windows(events, every_us=10_000))),
    ]
    base = best_seconds(lambda: baseline(events), args.repeat)
    n = len(events)
    print(f"{n / 1e6:.0f}M events of the default scene, {w}x{h}; baseline (pixel index + bincount): "
          f"{n / base / 1e6:.0f} M events/s")
    print(f"{'transform':<24} {'M events/s':>11} {'x baseline':>11}")
    for name, fn in cases:
        seconds = best_seconds(fn, args.repeat)
        print(f"{name:<24} {n / seconds / 1e6:>11.1f} {base / seconds:>11.2f}")


if __name__ == "__main__":
    main()
