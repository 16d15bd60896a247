"""The `vantrel` command line: list cameras, record, inspect, export and render
recordings, move camera configurations in and out of files, and view a camera
or a recording live in the browser (`vantrel view`, vantrel.viewer).

Exit status: 0 on success, 1 when the operation failed, 2 for bad usage, 130
when interrupted (Ctrl-C). Errors are one line on standard error.
"""

from __future__ import annotations

import argparse
import json
import logging
import math
import os
import sys
from typing import Any, NoReturn

import vantrel_core as vc
import vantrel_sim as vs
from vantrel import handles


class CommandError(Exception):
    """A failure to report as one line on standard error, with exit status 1."""


class Parser(argparse.ArgumentParser):
    """Usage errors as one line (and exit status 2), the way every other error is."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, "%s: error: %s (see %s --help)\n" % (self.prog, message, self.prog))


def _open_camera(serial: str) -> vc.ICamera:
    try:
        return handles.open_camera(serial).camera
    except (LookupError, RuntimeError) as error:
        raise CommandError(str(error)) from None


def _open_recording(path: str) -> vc.EvFileReader:
    try:
        return handles.open_recording(path).reader
    except (OSError, handles.UnreadableRecording) as error:
        raise CommandError(str(error)) from None


def cmd_list(args: argparse.Namespace) -> int:
    service = vc.EvCameraService()
    if service.refresh() == 0:
        print("no cameras")
        return 0
    for d in service.list_cameras():
        print("%s  %s (%s)  firmware %s  %s  vid:pid %04x:%04x" % (
            d.serial, d.product, d.manufacturer, d.firmware_version, d.interface_type.name, d.vid, d.pid))
    return 0


def _held(result: handles.RecordResult | None, path: str) -> str:
    if result is None:
        return "%s is not a readable recording" % path
    return "%s holds %d events (%d bytes)" % (path, result.events, result.bytes)


def cmd_record(args: argparse.Namespace) -> int:
    camera = _open_camera(args.serial)
    try:
        result = handles.record(camera, args.out, args.seconds, overwrite=args.force, compression=args.compression)
    except FileExistsError:
        raise CommandError("%s exists (use --force to replace it)" % args.out) from None
    except handles.RecordingInterrupted as stopped:
        print("vantrel record: %s; %s" % (stopped, _held(stopped.result, args.out)), file=sys.stderr)
        return 130
    except handles.CameraUnplugged as stopped:
        raise CommandError("camera %s was unplugged after %.1f s; %s" % (
            args.serial, stopped.result.seconds if stopped.result else 0.0, _held(stopped.result, args.out))) from None
    except (OSError, RuntimeError) as error:
        raise CommandError("cannot record to %s: %s" % (args.out, error)) from None
    finally:
        camera.close()
    print("recorded %d events in %.1f s to %s (%d bytes, %.2f bytes/event)" % (
        result.events, args.seconds, args.out, result.bytes, result.bytes / result.events if result.events else 0.0))
    return 0


def _describe(path: str, reader: vc.EvFileReader) -> dict[str, Any]:
    info = reader.get_file_metadata()
    count = reader.get_event_count() or 0
    start, end = reader.get_start_time(), reader.get_end_time()
    size = os.path.getsize(path)
    when = info.local_time if info is not None else None
    duration_us = max(end - start, 1) if start is not None and end is not None and count else None
    return {
        "file": path,
        "bytes": size,
        "serial": info.serial_number if info is not None else None,
        "width": info.width if info is not None else None,
        "height": info.height if info is not None else None,
        "recorded": when.isoformat(sep=" ") if when else None,
        "events": count,
        "start_us": start if count else None,
        "end_us": end if count else None,
        "duration_s": duration_us / 1e6 if duration_us else None,
        "events_per_s": count / (duration_us / 1e6) if duration_us else None,
        "bytes_per_event": size / count if count else None,
    }


def cmd_info(args: argparse.Namespace) -> int:
    facts = _describe(args.file, _open_recording(args.file))
    if args.json:
        print(json.dumps(facts, indent=2))
        return 0
    print("file:       %s (%d bytes)" % (facts["file"], facts["bytes"]))
    if facts["width"] is not None:
        print("camera:     %s, %dx%d" % (facts["serial"] or "(no serial)", facts["width"], facts["height"]))
        print("recorded:   %s" % (facts["recorded"] or "(unknown)"))
    print("events:     %d" % facts["events"])
    if facts["duration_s"] is not None:
        print("time:       %d .. %d us (%.6f s)" % (facts["start_us"], facts["end_us"], facts["duration_s"]))
        print("mean rate:  %.0f events/s" % facts["events_per_s"])
        print("size:       %.2f bytes/event" % facts["bytes_per_event"])
    return 0


def cmd_export(args: argparse.Namespace) -> int:
    if args.end < args.start:
        raise CommandError("--end must not be before --start")
    reader = _open_recording(args.file)
    if not reader.export_events_to_raw(args.start, args.end, args.out):
        raise CommandError("export to %s failed (see the log above)" % args.out)
    out = _open_recording(args.out)
    print("exported %d events (%d .. %d us) to %s" % (out.get_event_count() or 0, args.start, args.end, args.out))
    return 0


def _check_output_file(path: str) -> None:
    if os.path.isdir(path):
        raise CommandError("%s is a directory; give a file name" % path)
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise CommandError("cannot write %s: the folder %s does not exist" % (path, folder))


def cmd_render(args: argparse.Namespace) -> int:
    from vantrel import render

    _check_output_file(args.out)
    reader = _open_recording(args.file)
    width, height = reader.get_width(), reader.get_height()
    first, last = reader.get_start_time(), reader.get_end_time()
    if first is None or last is None or not reader.get_event_count():
        raise CommandError("%s holds no events" % args.file)
    start = args.at if args.at is not None else first
    if start > last:
        raise CommandError("--at %d is past the end of %s (its last event is at %d us)" % (start, args.file, last))
    if start + args.window <= first:
        raise CommandError("the window %d .. %d us ends before the first event of %s (at %d us)" % (
            start, start + args.window, args.file, first))
    events = reader.read_events_by_time_interval_from_timestamp(start, args.window)
    try:
        if args.kind == "frame":
            picture = render.polarity_frame(events, width, height)
        else:
            picture = render.time_surface_image(events, width, height, tau_us=max(args.window / 4, 1.0),
                                                t_ref=start + args.window - 1)
    except ValueError as error:
        raise CommandError("%s: %s" % (args.file, error)) from None
    render.save_png(picture, args.out)
    print("rendered %d events from %d us (+%d us) to %s" % (len(events), start, args.window, args.out))
    return 0


def cmd_config(args: argparse.Namespace) -> int:
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


def cmd_view(args: argparse.Namespace) -> int:
    try:
        from vantrel.viewer import server, sources
    except ImportError as error:
        raise CommandError("the viewer needs the 'viewer' extra (pip install 'vantrel[viewer]'): %s" % error) from None
    if not os.path.isdir(args.out_dir):
        raise CommandError("--out-dir %s is not a folder" % args.out_dir)
    try:
        source = sources.open_source(args.source, out_dir=args.out_dir)
    except FileNotFoundError as error:
        raise CommandError(str(error)) from None
    except (LookupError, RuntimeError, OSError, handles.UnreadableRecording) as error:
        raise CommandError(str(error)) from None
    # What the server does (pages coming and going, refusals, recordings), one line each.
    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("vantrel view: %(message)s"))
    viewer_log = logging.getLogger("vantrel.viewer")
    was = viewer_log.level, viewer_log.propagate
    viewer_log.addHandler(handler)
    viewer_log.setLevel(logging.INFO)
    viewer_log.propagate = False
    try:
        server.serve(source, port=args.port, open_browser=not args.no_browser)
    except OSError as error:
        raise CommandError("cannot serve on 127.0.0.1:%d: %s" % (args.port, error.strerror or error)) from None
    finally:
        source.close()
        viewer_log.removeHandler(handler)
        viewer_log.setLevel(was[0])
        viewer_log.propagate = was[1]
    print("vantrel view: stopped; %s closed" % ("camera" if source.kind == "camera" else "recording"))
    return 0


def _port(text: str) -> int:
    value = _non_negative_int(text)
    if value > 65535:
        raise argparse.ArgumentTypeError("must be a port number up to 65535, got %d" % value)
    return value


def _non_negative_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("must be a whole number, got %r" % text) from None
    if value < 0:
        raise argparse.ArgumentTypeError("must be >= 0, got %d" % value)
    return value


def _positive_int(text: str) -> int:
    value = _non_negative_int(text)
    if value == 0:
        raise argparse.ArgumentTypeError("must be positive, got 0")
    return value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("must be a number of seconds, got %r" % text) from None
    if not (value > 0 and math.isfinite(value)):
        raise argparse.ArgumentTypeError("must be a positive, finite number of seconds, got %s" % text)
    return value


def build_parser() -> argparse.ArgumentParser:
    from vantrel import __version__

    formatter = argparse.ArgumentDefaultsHelpFormatter
    parser = Parser(prog="vantrel", description="Vantrel event-camera SDK tools.", formatter_class=formatter)
    parser.add_argument("--version", action="version", version="vantrel %s" % __version__)
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, text: str) -> argparse.ArgumentParser:
        return sub.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".",
                              formatter_class=formatter)

    command("list", "list the connected cameras").set_defaults(run=cmd_list)

    p = command("record", "record a camera's stream to a file")
    p.add_argument("serial", help="serial of the camera (see vantrel list)")
    p.add_argument("out", help="recording to write")
    p.add_argument("--seconds", type=_seconds, default=3.0, help="how long to record")
    p.add_argument("--force", action="store_true", help="replace OUT if it exists")
    p.add_argument("--compression", choices=vs.recording_compressions(), default=vs.recording_compression(),
                   help="how the event blocks are stored: packed words, or those compressed with zstd")
    p.set_defaults(run=cmd_record)

    p = command("info", "describe a recording")
    p.add_argument("file", help="recording to describe")
    p.add_argument("--json", action="store_true", help="print the facts as a JSON object")
    p.set_defaults(run=cmd_info)

    p = command("export", "copy the events of a time range to a new recording")
    p.add_argument("file", help="recording to read")
    p.add_argument("out", help="recording to write")
    p.add_argument("--start", type=_non_negative_int, required=True, help="first timestamp (us)")
    p.add_argument("--end", type=_non_negative_int, required=True, help="last timestamp (us), inclusive")
    p.set_defaults(run=cmd_export)

    p = command("render", "render a time window of a recording to PNG")
    p.add_argument("file", help="recording to read")
    p.add_argument("out", help="PNG file to write")
    p.add_argument("--at", type=_non_negative_int, default=None,
                   # "%(default).0s" prints nothing: it keeps the formatter from adding "(default: None)".
                   help="window start (us) (default: the first event)%(default).0s")
    p.add_argument("--window", type=_positive_int, default=10_000, help="window length (us)")
    p.add_argument("--kind", choices=("frame", "surface"), default="frame",
                   help="polarity frame or time surface")
    p.set_defaults(run=cmd_render)

    p = command("config", "export or import a camera configuration file")
    p.add_argument("action", choices=("export", "import"), help="direction")
    p.add_argument("serial", help="serial of the camera")
    p.add_argument("file", help="JSON configuration file")
    p.set_defaults(run=cmd_config)

    p = command("view", "show a camera or a recording live in the browser")
    p.add_argument("source", nargs="?", default=None,
                   help="camera serial or recording (default: the first camera)%(default).0s")
    p.add_argument("--port", type=_port, default=0, help="port on 127.0.0.1 (0: a free one, printed)")
    p.add_argument("--no-browser", action="store_true", help="do not open the page in a browser")
    p.add_argument("--out-dir", default=".", help="folder for recordings made from the page")
    p.set_defaults(run=cmd_view)
    return parser


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args)
        return status
    except CommandError as error:
        print("vantrel %s: %s" % (args.command, error), file=sys.stderr)
        return 1
    except OSError as error:  # "out.png: Permission denied" rather than "[Errno 13] ..."
        text = "%s: %s" % (error.filename, error.strerror) if error.filename and error.strerror else str(error)
        print("vantrel %s: %s" % (args.command, text), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("vantrel %s: interrupted" % args.command, file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
