"""Recordings: record the default camera for two seconds, read the file back
with seeks, count and interval reads, and export a slice of it.

    python examples/recording.py
"""

from __future__ import annotations

import os
import tempfile
import time

import numpy as np
import numpy.typing as npt

import vantrel_core as vc


def record(path: str, seconds: float) -> int:
    """Records the default camera; returns the number of events it delivered."""
    camera = vc.EvCameraService().open("VTR-SIM-0001")
    if camera is None:
        raise RuntimeError("cannot open the default camera")
    delivered = 0

    def count(view: npt.NDArray[np.void]) -> None:
        nonlocal delivered
        delivered += len(view)

    camera.register_event_batch_callback_nocopy(count)
    if not camera.start_recording(path):  # the log says why
        raise RuntimeError(f"cannot record to {path}")
    camera.start()
    time.sleep(seconds)  # the recording's own thread writes meanwhile
    camera.stop()
    camera.stop_recording()
    camera.close()
    return delivered


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "two_seconds.vtr")
        delivered = record(path, 2.0)
        size = os.path.getsize(path)
        print(f"recorded {delivered} events to {path}: {size / 1e6:.1f} MB, {size / delivered:.2f} bytes/event")

        reader = vc.EvFileReader.create_file_reader(path)
        if reader is None or not reader.open():
            print("cannot read the recording")
            return 1
        start, end, count = reader.get_start_time(), reader.get_end_time(), reader.get_event_count()
        info = reader.get_file_metadata()
        if start is None or end is None or count is None or info is None:
            print("the recording has no events")
            return 1
        print(f"{info!r}: {count} events from {start} to {end} us, recorded {info.local_time}")

        middle = (start + end) // 2
        reader.seek_to_timestamp(middle)  # the first event at or after `middle`
        print(f"seek_to_timestamp({middle}): event #{reader.get_current_event_index()} "
              f"at {reader.get_current_timestamp()} us")
        window = reader.read_events_by_time_interval(10_000)
        print(f"read_events_by_time_interval(10000): {len(window)} events, "
              f"{int(window['timestamp'][0])}..{int(window['timestamp'][-1])} us; "
              f"now at event #{reader.get_current_event_index()}")
        head = reader.read_events_from_event_index(0, 3)
        print(f"read_events_from_event_index(0, 3): timestamps {head['timestamp'].tolist()}")

        # Walk the whole file in 250 ms steps.
        reader.seek_to_event_index(0)
        steps = []
        while not reader.is_end_reached():
            steps.append(len(reader.read_events_by_time_interval(250_000)))
        print(f"250 ms steps: {steps}, {sum(steps)} events in all")
        read_bytes, decoded = reader.get_decode_statistics() or (0, 0)
        print(f"decoded {decoded} events from {read_bytes} bytes so far")

        lo, hi = start + 500_000, start + 700_000
        out = os.path.join(tmp, "slice.vtr")
        if not reader.export_events_to_raw(lo, hi, out):
            print("export failed")
            return 1
        part = vc.EvFileReader.create_file_reader(out)
        if part is None or not part.open():
            print("cannot read the exported slice")
            return 1
        expected = len(reader.read_events_by_time_interval_from_timestamp(lo, hi - lo + 1))
        print(f"exported [{lo}, {hi}] us: {part.get_event_count()} events "
              f"(interval read of the same span: {expected}), {os.path.getsize(out)} bytes")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
