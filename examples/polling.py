"""Polling: open the default camera, ask for batches of a fixed size, then of a
fixed time span, poll them from this thread and print counts and rates.

    python examples/polling.py
"""

from __future__ import annotations

import time

import numpy as np
import numpy.typing as npt

import vantrel_core as vc


def describe(batch: npt.NDArray[np.void]) -> str:
    first, last = int(batch["timestamp"][0]), int(batch["timestamp"][-1])
    span_us = max(last - first, 1)
    on = int(np.count_nonzero(batch["polarity"]))
    return (f"{len(batch):6d} events, {first:>8d}..{last:<8d} us, "
            f"{len(batch) / span_us:.2f} M events/s, {on / len(batch):.0%} ON")


def poll(camera: vc.ICamera, polls: int) -> int:
    """Polls `polls` batches and prints each; returns the number of events."""
    total = 0
    for i in range(polls):
        # Waits for the next batch, at most 1 s; an empty array means nothing came.
        batch = camera.get_next_batch()
        if len(batch) == 0:
            print(f"  poll {i + 1}: nothing")
            continue
        print(f"  poll {i + 1}: {describe(batch)}")
        total += len(batch)
    return total


def main() -> int:
    service = vc.EvCameraService()  # scans for cameras once
    cameras = service.list_cameras()
    if not cameras:
        print("no camera found")
        return 1
    camera = service.open(cameras[0].serial)
    if camera is None:
        print(f"cannot open {cameras[0].serial}")
        return 1
    print(f"opened {cameras[0].serial}, {camera.get_width()}x{camera.get_height()} pixels")

    started = time.monotonic()
    camera.set_batch_events_num(20_000)
    if not camera.start():
        print("the camera did not start")
        return 1
    print("batches of 20000 events:")
    total = poll(camera, 8)

    # A new condition takes effect on the running stream.
    camera.set_batch_events_time(5_000)
    print("batches of 5 ms of camera time:")
    total += poll(camera, 8)

    camera.stop()  # batches not yet polled are discarded
    camera.close()
    elapsed = time.monotonic() - started
    print(f"polled {total} events in {elapsed:.2f} s ({total / elapsed / 1e6:.2f} M events/s)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
