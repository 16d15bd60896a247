"""Callbacks: the camera's delivery thread calls Python with every batch, every
trigger-in edge and a statistics report once a second.

- a copying batch callback may keep its array;
- a no-copy callback gets a read-only view into the driver's buffer that is
  valid only during the call: reduce it to plain numbers there, never keep it;
- the trigger-in tool feeds a square wave into the trigger input.

    python examples/callbacks.py
"""

from __future__ import annotations

import threading

import numpy as np
import numpy.typing as npt

import vantrel_core as vc


class Totals:
    """What the no-copy callback keeps: numbers only, never the view."""

    def __init__(self) -> None:
        self.events = 0
        self.on = 0
        self.last_timestamp = 0

    def add(self, view: npt.NDArray[np.void]) -> None:
        self.events += len(view)
        self.on += int(np.count_nonzero(view["polarity"]))
        self.last_timestamp = int(view["timestamp"][-1])


def main() -> int:
    camera = vc.EvCameraService().open("VTR-SIM-0001")
    if camera is None:
        print("cannot open the default camera")
        return 1

    kept: list[npt.NDArray[np.void]] = []  # list.append is safe from another thread
    totals = Totals()
    edges: list[vc.EventTriggerIn] = []
    reports: list[vc.EvCameraStatisticInfo] = []
    reported = threading.Event()

    def on_statistics(info: vc.EvCameraStatisticInfo) -> None:
        reports.append(info)
        reported.set()

    copy_id = camera.register_event_batch_callback(kept.append)
    view_id = camera.register_event_batch_callback_nocopy(totals.add)
    trigger_id = camera.register_trigger_in_callback(edges.append)
    camera.set_statistics_callback(on_statistics)

    trigger = camera.get_tool(vc.ToolType.TOOL_TRIGGER_IN)
    if trigger is None:
        print("this camera has no trigger input")
        return 1
    print(f"trigger_in: {trigger.apply({'enabled': True, 'frequency_hz': 50.0})!r}")

    camera.set_batch_events_time(10_000)
    camera.start()
    # The first report comes after one second of stream time.
    if not reported.wait(timeout=5.0):
        print("no statistics report within 5 s")
    camera.stop()  # once stop() returns, no callback of this stream runs any more

    camera.unregister_event_batch_callback(copy_id)
    camera.unregister_event_batch_callback(view_id)
    camera.unregister_trigger_in_callback(trigger_id)
    camera.close()

    copied = int(sum(len(batch) for batch in kept))
    print(f"copy callback: {len(kept)} batches, {copied} events kept")
    print(f"no-copy callback: {totals.events} events, {totals.on / max(totals.events, 1):.0%} ON, "
          f"last at {totals.last_timestamp} us")
    print(f"both saw the same stream: {copied == totals.events}")
    rising = [e.timestamp for e in edges if e.polarity == 1]
    print(f"trigger-in: {len(edges)} edges, rising ones at {rising[:4]} ... us")
    for info in reports:
        print(f"statistics: {info.events_count} events, {info.bandwidth_byte} bytes in one second")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
