"""The `vantrel` command line: list cameras, record, inspect, export and render
recordings, and move camera configurations in and out of files.

Exit status: 0 on success, 1 when the operation failed, 2 for bad usage.
"""

from __future__ import annotations

import argparse
import os
import sys
import time

from vantrel.progress import ProgressBar


class CommandError(Exception):
    """A failure to report as one line on standard error, with exit status 1."""


def _core():
    import vantrel_core

    return vantrel_core


def _open_camera(serial: str):
    vc = _core()
    service = vc.EvCameraService()
    service.refresh()
    camera = service.open(serial)
    if camera is None:
        known = ", ".join(d.serial for d in service.list_cameras()) or "none"
        raise CommandError("no camera with serial %r (connected: %s)" % (serial, known))
    return camera


def _open_recording(path: str):
    vc = _core()
    reader = vc.EvFileReader.create_file_reader(path)
    if reader is None:
        raise CommandError("%s: no such file" % path)
    if not reader.open():
        raise CommandError("%s: not a readable recording" % path)
    return reader


def cmd_list(args) -> int:
    vc = _core()
    service = vc.EvCameraService()
    count = service.refresh()
    if count == 0:
        print("no cameras")
        return 0
    for d in service.list_cameras():
        print("%s  %s (%s)  firmware %s  %s  vid:pid %04x:%04x" % (
            d.serial, d.product, d.manufacturer, d.firmware_version, d.interface_type.name, d.vid, d.pid))
    return 0


def cmd_record(args) -> int:
    if args.seconds <= 0:
        raise CommandError("--seconds must be positive")
    camera = _open_camera(args.serial)
    counted = [0]
    callback_id = camera.register_event_batch_callback(lambda events: counted.__setitem__(0, counted[0] + len(events)))
    try:
        if not camera.start_recording(args.out):
            raise CommandError("cannot record to %s (see the log above)" % args.out)
        if not camera.start():
            camera.stop_recording()
            raise CommandError("camera %s did not start" % args.serial)
        started = time.monotonic()
        with ProgressBar("recording", args.seconds) as bar:
            while (elapsed := time.monotonic() - started) < args.seconds:
                bar.update(elapsed)
                time.sleep(min(0.1, args.seconds - elapsed))
            bar.update(args.seconds)
        camera.stop()
        if not camera.stop_recording():
            raise CommandError("the recording %s could not be completed" % args.out)
    finally:
        camera.unregister_event_batch_callback(callback_id)
        camera.close()
    size = os.path.getsize(args.out)
    events = counted[0]
    print("recorded %d events in %.1f s to %s (%d bytes, %.2f bytes/event)" % (
        events, args.seconds, args.out, size, size / events if events else 0.0))
    return 0


def cmd_info(args) -> int:
    reader = _open_recording(args.file)
    info = reader.get_file_metadata()
    count = reader.get_event_count() or 0
    start, end = reader.get_start_time(), reader.get_end_time()
    print("file:       %s (%d bytes)" % (args.file, os.path.getsize(args.file)))
    if info is not None:
        print("camera:     %s, %dx%d" % (info.serial_number or "(no serial)", info.width, info.height))
        when = info.local_time
        print("recorded:   %s" % (when.isoformat(sep=" ") if when else "(unknown)"))
    print("events:     %d" % count)
    if start is not None and end is not None and count:
        duration_us = max(end - start, 1)
        print("time:       %d .. %d us (%.6f s)" % (start, end, duration_us / 1e6))
        print("mean rate:  %.0f events/s" % (count / (duration_us / 1e6)))
        if count:
            print("size:       %.2f bytes/event" % (os.path.getsize(args.file) / count))
    return 0


def cmd_export(args) -> int:
    if args.end < args.start:
        raise CommandError("--end must not be before --start")
    reader = _open_recording(args.file)
    if not reader.export_events_to_raw(args.start, args.end, args.out):
        raise CommandError("export to %s failed (see the log above)" % args.out)
    out = _open_recording(args.out)
    print("exported %d events (%d .. %d us) to %s" % (out.get_event_count() or 0, args.start, args.end, args.out))
    return 0


def cmd_render(args) -> int:
    from vantrel import render

    if args.window <= 0:
        raise CommandError("--window must be positive")
    reader = _open_recording(args.file)
    width, height = reader.get_width(), reader.get_height()
    start = args.at if args.at is not None else (reader.get_start_time() or 0)
    events = reader.read_events_by_time_interval_from_timestamp(start, args.window)
    if args.kind == "frame":
        picture = render.polarity_frame(events, width, height)
    else:
        picture = render.time_surface_image(events, width, height, tau_us=max(args.window / 4, 1.0),
                                            t_ref=start + args.window - 1)
    render.save_png(picture, args.out)
    print("rendered %d events from %d us (+%d us) to %s" % (len(events), start, args.window, args.out))
    return 0


def cmd_config(args) -> int:
    camera = _open_camera(args.serial)
    try:
        if args.action == "export":
            ok = camera.export_camera_config(args.file)
        else:
            ok = camera.import_camera_config(args.file)
    finally:
        camera.close()
    if not ok:
        raise CommandError("config %s %s failed (see the log above)" % (args.action, args.file))
    print("%sed the configuration of %s %s %s" % (args.action, args.serial,
                                                   "to" if args.action == "export" else "from", args.file))
    return 0


def _non_negative_int(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be >= 0")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="vantrel", description="Vantrel event-camera SDK tools.")
    sub = parser.add_subparsers(dest="command", required=True)

    sub.add_parser("list", help="list the connected cameras").set_defaults(run=cmd_list)

    p = sub.add_parser("record", help="record a camera's stream to a file")
    p.add_argument("serial")
    p.add_argument("out")
    p.add_argument("--seconds", type=float, default=3.0)
    p.set_defaults(run=cmd_record)

    p = sub.add_parser("info", help="describe a recording")
    p.add_argument("file")
    p.set_defaults(run=cmd_info)

    p = sub.add_parser("export", help="copy the events of a time range to a new recording")
    p.add_argument("file")
    p.add_argument("out")
    p.add_argument("--start", type=_non_negative_int, required=True, help="first timestamp (us)")
    p.add_argument("--end", type=_non_negative_int, required=True, help="last timestamp (us), inclusive")
    p.set_defaults(run=cmd_export)

    p = sub.add_parser("render", help="render a time window of a recording to PNG")
    p.add_argument("file")
    p.add_argument("out")
    p.add_argument("--at", type=_non_negative_int, default=None, help="window start (us); default: the first event")
    p.add_argument("--window", type=_non_negative_int, default=10_000, help="window length (us)")
    p.add_argument("--kind", choices=("frame", "surface"), default="frame")
    p.set_defaults(run=cmd_render)

    p = sub.add_parser("config", help="export or import a camera configuration file")
    p.add_argument("action", choices=("export", "import"))
    p.add_argument("serial")
    p.add_argument("file")
    p.set_defaults(run=cmd_config)
    return parser


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except CommandError as error:
        print("vantrel %s: %s" % (args.command, error), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
