"""Replay: turn an event array into a recording with vantrel_sim, then plug in
a camera whose stream is that recording, so a program written for live
cameras runs on recorded (or synthetic) data unchanged.

    python examples/replay.py
"""

from __future__ import annotations

import os
import tempfile
import time

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
import vantrel_sim as vs
from vantrel import EVENT_DTYPE

WIDTH, HEIGHT = 320, 240


def circling_dot(n: int, duration_us: int) -> npt.NDArray[np.void]:
    """A dot going round the sensor's centre once: n events over duration_us."""
    events = np.zeros(n, EVENT_DTYPE)
    t = np.sort(np.random.default_rng(7).integers(0, duration_us, n))
    angle = 2 * np.pi * t / duration_us
    events["timestamp"] = t
    events["x"] = (WIDTH / 2 + 80 * np.cos(angle)).astype(np.uint16)
    events["y"] = (HEIGHT / 2 + 80 * np.sin(angle)).astype(np.uint16)
    events["polarity"] = np.arange(n) % 2
    return events


def main() -> int:
    source = circling_dot(300_000, 1_500_000)
    triggers = [(0, 1, 500_000), (0, 0, 1_000_000)]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "dot.vtr")
        vs.write_recording(path, source, width=WIDTH, height=HEIGHT, serial="SYNTH-1", triggers=triggers)
        print(f"wrote {len(source)} events and {len(triggers)} trigger edges to {path}, "
              f"{os.path.getsize(path)} bytes")

        # realtime=False: as fast as this program takes the batches, not in 1.5 s.
        vs.add_camera("REPLAY-1", source=path, realtime=False)
        service = vc.EvCameraService()
        camera = service.open("REPLAY-1")
        if camera is None:
            print("cannot open the replay camera")
            return 1
        print(f"opened REPLAY-1: {camera.get_width()}x{camera.get_height()} (the recording's sensor)")

        edges: list[vc.EventTriggerIn] = []
        camera.register_trigger_in_callback(edges.append)
        camera.set_batch_events_num(50_000)
        camera.start()
        batches: list[npt.NDArray[np.void]] = []
        received = 0
        deadline = time.monotonic() + 10.0
        while received < len(source) and time.monotonic() < deadline:
            batch = camera.get_next_batch()
            batches.append(batch)
            received += len(batch)
        camera.close()  # the stream stays open and quiet once the recording is over

    replayed = np.concatenate(batches)
    same_pixels = all(np.array_equal(replayed[f], source[f]) for f in ("x", "y", "polarity"))
    # The recording is shifted in time to start when the stream starts.
    shift = int(replayed["timestamp"][0]) - int(source["timestamp"][0])
    times = replayed["timestamp"].astype(np.int64) - shift
    same_times = np.array_equal(times, source["timestamp"].astype(np.int64))
    print(f"replayed {len(replayed)} events in {len(batches)} batches; pixels and polarities identical: "
          f"{same_pixels}; timestamps identical after a shift of {shift} us: {same_times}")
    print(f"trigger edges: {[(e.polarity, e.timestamp - shift) for e in edges]}")
    return 0 if same_pixels and same_times else 1


if __name__ == "__main__":
    raise SystemExit(main())
