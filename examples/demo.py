"""A tour of the Vantrel SDK on the default simulated camera.

Discovers and opens the camera, configures it through its tools and checks
that the stream obeys, streams through a callback and by polling, records a
few seconds, reads the recording back with seeks and interval reads, exports
a slice, and writes pictures. Run it with `./dev demo` or
`python examples/demo.py [--out DIR] [--seconds S]`.
"""

from __future__ import annotations

import argparse
import os
import threading
import time

import numpy as np

import vantrel_core as vc
from vantrel import render
from vantrel.progress import ProgressBar


def step(title: str) -> None:
    print("\n== " + title)


def stream_for(camera: vc.ICamera, seconds: float, label: str) -> np.ndarray:
    """Collects everything the camera delivers to a callback for `seconds`."""
    batches: list[np.ndarray] = []
    callback_id = camera.register_event_batch_callback(batches.append)
    camera.start()
    started = time.monotonic()
    with ProgressBar(label, seconds) as bar:
        while (elapsed := time.monotonic() - started) < seconds:
            bar.update(elapsed)
            time.sleep(0.05)
        bar.update(seconds)
    camera.stop()
    camera.unregister_event_batch_callback(callback_id)
    # A stopped camera's poll returns at once with an empty event array.
    return np.concatenate(batches) if batches else camera.get_next_batch()


def rate_of(events: np.ndarray) -> float:
    if len(events) < 2:
        return 0.0
    span = int(events["timestamp"][-1]) - int(events["timestamp"][0])
    return len(events) / (span / 1e6) if span else 0.0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="demo-output", help="folder for the recording and pictures")
    parser.add_argument("--seconds", type=float, default=3.0, help="length of the recording")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    print(f"vantrel_core {vc.get_version()} (built {vc.get_build_date()})")

    step("Discover and open")
    service = vc.EvCameraService()
    print(f"{service.refresh()} camera(s) found")
    for d in service.list_cameras():
        print(f"  {d.serial}  {d.product} by {d.manufacturer}  firmware {d.firmware_version}  "
              f"{d.interface_type.name}")
    cameras = service.list_cameras()
    if not cameras:
        print("no camera to run the demo on")
        return 1
    camera = service.open(cameras[0].serial)
    if camera is None:
        print(f"could not open {cameras[0].serial}")
        return 1
    width, height = camera.get_width(), camera.get_height()
    print(f"opened {camera.get_description().serial}: {width}x{height} pixels, "
          f"tools: {', '.join(info.id for info in camera.get_tools_info())}")

    step("Stream through a callback")
    camera.set_batch_events_time(10_000)
    plain = stream_for(camera, 1.0, "streaming")
    print(f"{len(plain)} events in 1 s of stream, {rate_of(plain) / 1e6:.2f} M events/s")

    step("Configure through tools: a region of interest and a rate limit")
    roi = camera.get_tool(vc.ToolType.TOOL_ROI)
    erc = camera.get_tool_by_id("event_rate_control")
    if roi is None or erc is None:
        print("the camera lacks the roi or event_rate_control tool")
        return 1
    window = dict(x=width // 4, y=height // 4, width=width // 2, height=height // 2)
    result = roi.apply({"enabled": True, **window})
    print(f"roi.apply({window}) -> {result!r}")
    refused = roi.set("width", width + 1)
    print(f"roi.set('width', {width + 1}) -> {refused!r}")
    limit = 200_000
    print(f"event_rate_control.apply(max {limit} ev/s) -> {erc.apply({'enabled': True, 'max_event_rate': limit})!r}")
    tuned = stream_for(camera, 1.0, "streaming")
    inside = ((tuned["x"] >= window["x"]) & (tuned["x"] < window["x"] + window["width"])
              & (tuned["y"] >= window["y"]) & (tuned["y"] < window["y"] + window["height"]))
    per_ms = np.bincount((tuned["timestamp"] // 1000).astype(np.int64))
    per_ms = per_ms[per_ms > 0]
    print(f"{len(tuned)} events, {inside.mean() * 100:.1f} % inside the window, "
          f"{rate_of(tuned) / 1e3:.0f} k events/s (limit {limit / 1e3:.0f} k), "
          f"busiest millisecond {per_ms.max() if len(per_ms) else 0} events (limit {limit // 1000})")
    erc.set("enabled", False)
    roi.set("enabled", False)

    step("Poll for batches")
    camera.set_batch_events_num(50_000)
    camera.start()
    polled = [camera.get_next_batch() for _ in range(10)]
    camera.stop()
    sizes = sorted({len(b) for b in polled})
    print(f"10 polls gave batches of {sizes} events, "
          f"{sum(len(b) for b in polled)} events in all")

    step(f"Record {args.seconds:g} s")
    path = os.path.join(args.out, "demo.vtr")
    camera.set_batch_events_time(10_000)
    if not camera.start_recording(path):
        print(f"cannot record to {path}")
        return 1
    recorded = stream_for(camera, args.seconds, "recording")
    camera.stop_recording()
    camera.close()
    size = os.path.getsize(path)
    print(f"{len(recorded)} events to {path}: {size / 1e6:.1f} MB, {size / max(len(recorded), 1):.2f} bytes/event "
          f"(16 bytes in memory)")

    step("Read the recording back")
    reader = vc.EvFileReader.create_file_reader(path)
    if reader is None or not reader.open():
        print("cannot read the recording back")
        return 1
    info = reader.get_file_metadata()
    start, end = reader.get_start_time(), reader.get_end_time()
    if info is None or start is None or end is None:
        print("the recording holds no events")
        return 1
    print(f"{info!r}, {start} .. {end} us, recorded {info.local_time:%Y-%m-%d %H:%M:%S}")
    middle = (start + end) // 2
    reader.seek_to_timestamp(middle)
    print(f"seek_to_timestamp({middle}) -> event #{reader.get_current_event_index()} "
          f"at {reader.get_current_timestamp()} us")
    slice_10ms = reader.read_events_by_time_interval(10_000)
    print(f"read_events_by_time_interval(10000): {len(slice_10ms)} events "
          f"from {int(slice_10ms['timestamp'][0])} to {int(slice_10ms['timestamp'][-1])} us")
    reader.seek_to_event_index(1000)
    first = reader.read_events(5)
    print(f"seek_to_event_index(1000) then read_events(5): timestamps {first['timestamp'].tolist()}")
    whole = reader.read_events_from_event_index(0, info.max_events)
    same = len(whole) == len(recorded) and bool((whole == recorded).all())
    print(f"all {len(whole)} events read back; identical to what the callback received: {same}")
    bandwidth, decoded = reader.get_decode_statistics() or (0, 0)
    print(f"decode statistics: {bandwidth} bytes read, {decoded} events decoded")

    step("Export a slice")
    export = os.path.join(args.out, "slice.vtr")
    if reader.export_events_to_raw(middle, middle + 100_000, export):
        part = vc.EvFileReader.create_file_reader(export)
        count = part.get_event_count() if part is not None and part.open() else 0
        print(f"events in [{middle}, {middle + 100_000}] us -> {export}: {count} events, "
              f"{os.path.getsize(export)} bytes")

    step("Pictures")
    frame = render.save_png(render.polarity_frame(slice_10ms, width, height),
                            os.path.join(args.out, "polarity.png"))
    surface = render.save_png(render.time_surface_image(whole[whole["timestamp"] <= middle + 30_000][-200_000:],
                                                        width, height, tau_us=20_000, t_ref=middle + 30_000),
                              os.path.join(args.out, "time_surface.png"))
    plot = render.save_png(render.rate_plot(whole, 10_000, title="events per second, 10 ms bins"),
                           os.path.join(args.out, "event_rate.png"))
    for picture in (frame, surface, plot):
        print(f"wrote {picture}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
