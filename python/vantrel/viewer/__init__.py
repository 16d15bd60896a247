"""`vantrel view`: a camera or a recording, live in the browser.

A local web server (aiohttp, the `viewer` extra: pip install 'vantrel[viewer]')
shows the stream as event frames or time surfaces on a page, with the
camera's tools, start and stop, recording, and a time slider for recordings.

    vantrel view                      # the first camera
    vantrel view VTR-SIM-0001 --port 8800
    vantrel view run.vtr --no-browser

From Python, `vantrel.viewer.start(...)` serves one from a thread of its own
(for notebooks) and returns a handle with the page's `url` and `close()`.

frames:    the accumulator of pictures and the binary frame layout
protocol:  the messages a page may send, and their checks
controls:  tools described from their schemas, values checked, answers in words
sources:   a live camera, a recording played back
server:    the web server, `serve` (blocking) and `ViewerThread`
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING

import vantrel_core as vc

if TYPE_CHECKING:
    from vantrel.viewer.server import ViewerThread


def start(source: vc.ICamera | str | os.PathLike[str] | None = None, *, port: int = 0,
          out_dir: str | os.PathLike[str] = ".") -> ViewerThread:
    """Serves a viewer from a thread of its own and returns its handle.

    `source` is an open camera (left open, and left streaming only if it
    was), a camera serial, a recording's path, or None for the first camera
    found. Recordings made from the page go to `out_dir`.
    """
    from vantrel.viewer.server import ViewerThread
    from vantrel.viewer.sources import LiveSource, open_source

    if isinstance(source, vc.ICamera):
        live = LiveSource(source, out_dir=out_dir, owns=False)
        live.start()
        return ViewerThread(live, port=port)
    name = None if source is None else os.fspath(source)
    return ViewerThread(open_source(name, out_dir=os.fspath(out_dir)), port=port)
