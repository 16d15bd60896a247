"""The viewer's web server (aiohttp): the page, and one WebSocket per page
that carries pictures one way and commands the other.

- Bound to 127.0.0.1 only. Every request must name the server itself in its
  Host header (127.0.0.1:PORT or localhost:PORT), which defeats DNS
  rebinding, and may carry no Origin but the server's own; a WebSocket must
  carry that Origin. So a page from anywhere else can neither read the
  server's answers nor drive the camera.
- Pictures go out at most `fps` times a second, and only while the page has
  credit: it starts with CREDITS and earns one back with each `ready`
  message, sent once it has drawn a picture. A slow page gets fewer
  pictures, an absent one none; the camera's stream, its delivery thread and
  a recording never wait for a page.
- Every message from a page is checked (vantrel.viewer.protocol); a bad one
  is answered with an `error` message.
- Calls into the driver run on worker threads, never on the event loop.
"""

from __future__ import annotations

import asyncio
import dataclasses
import importlib.resources
import json
import logging
import math
import signal
import socket
import sys
import threading
import time
import webbrowser
from collections import deque
from concurrent.futures import ThreadPoolExecutor
from types import TracebackType
from typing import Any, Callable, TextIO

from aiohttp import WSMsgType, hdrs, web

from vantrel.viewer import protocol
from vantrel.viewer.controls import refused_param, result_words
from vantrel.viewer.frames import FrameSettings
from vantrel.viewer.protocol import BadMessage
from vantrel.viewer.sources import LiveSource, PlaybackSource

log = logging.getLogger("vantrel.viewer")

Source = LiveSource | PlaybackSource

#: Frames a page may have in flight before it says `ready`.
CREDITS = 2
#: How often every page gets the status (statistics, rate plot, recording).
STATUS_INTERVAL_S = 0.25
#: Longest wait for a page to take a message before it is left out.
SEND_TIMEOUT_S = 5.0

STATIC_FILES = {
    "index.html": "text/html",
    "viewer.js": "text/javascript",
    "viewer.css": "text/css",
}


class Client:
    """One page connected over a WebSocket."""

    def __init__(self, ws: web.WebSocketResponse) -> None:
        self.ws = ws
        self.settings = FrameSettings()
        self.credits = CREDITS
        self.ready = asyncio.Event()
        self.number = 0
        self.shown: tuple[int, FrameSettings] | None = None
        self.drawn: deque[float] = deque(maxlen=64)  # when the page said it drew a frame

    def frames_per_second(self, now: float) -> float:
        recent = [t for t in self.drawn if now - t <= 2.0]
        return len(recent) / 2.0


class Viewer:
    """Serves `source` (a LiveSource or a PlaybackSource) on 127.0.0.1:`port`
    (0: a free port). `start` returns the page's address; `close` ends the
    server and closes the source."""

    def __init__(self, source: Source, *, port: int = 0, fps: float = 30.0) -> None:
        if not 0 <= port <= 65535:
            raise ValueError(f"port must be from 0 to 65535, got {port}")
        if not 0 < fps <= 240:
            raise ValueError(f"fps must be above 0 and at most 240, got {fps}")
        self.source = source
        self.port = port
        self.period = 1.0 / fps
        self.clients: set[Client] = set()
        self.refused = 0  # requests refused for their Host or Origin
        self._hosts: set[str] = set()
        self._origins: set[str] = set()
        self._runner: web.AppRunner | None = None
        self._tasks: set[asyncio.Task[None]] = set()
        self._render = ThreadPoolExecutor(1, thread_name_prefix="vantrel-viewer-render")
        self._workers = ThreadPoolExecutor(2, thread_name_prefix="vantrel-viewer-driver")
        self._files = {name: (importlib.resources.files("vantrel.viewer") / "static" / name).read_bytes()
                       for name in STATIC_FILES}
        self._closed = False

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.port}/"

    async def start(self) -> str:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            sock.bind(("127.0.0.1", self.port))
            sock.listen(16)
            sock.setblocking(False)
        except OSError:
            sock.close()
            raise
        self.port = sock.getsockname()[1]
        self._hosts = {f"127.0.0.1:{self.port}", f"localhost:{self.port}"}
        self._origins = {f"http://{host}" for host in self._hosts}
        app = web.Application(middlewares=[self._guard])
        app.router.add_get("/", self._index)
        app.router.add_get("/static/{name}", self._static)
        app.router.add_get("/ws", self._socket)
        self._runner = web.AppRunner(app, access_log=None, handle_signals=False, shutdown_timeout=5.0)
        await self._runner.setup()
        await web.SockSite(self._runner, sock).start()
        self._spawn(self._status_loop())
        log.debug("serving on %s", self.url)
        return self.url

    async def close(self) -> None:
        if self._closed:
            return
        self._closed = True
        for task in list(self._tasks):
            task.cancel()
        # A page that no longer reads does not hold up the end.
        await asyncio.gather(*(asyncio.wait_for(client.ws.close(code=1001, message=b"the viewer stopped"), 2.0)
                               for client in list(self.clients)), return_exceptions=True)
        if self._runner is not None:
            await self._runner.cleanup()
        await asyncio.get_running_loop().run_in_executor(self._workers, self.source.close)
        self._render.shutdown()
        self._workers.shutdown()

    def _spawn(self, work: Any) -> None:
        task = asyncio.create_task(work)
        self._tasks.add(task)
        task.add_done_callback(self._tasks.discard)

    async def _call(self, fn: Callable[..., Any], *args: Any) -> Any:
        return await asyncio.get_running_loop().run_in_executor(self._workers, fn, *args)

    # -- HTTP ------------------------------------------------------------------
    @web.middleware
    async def _guard(self, request: web.Request, handler: Any) -> web.StreamResponse:
        host = request.headers.get(hdrs.HOST, "").lower()
        origin = request.headers.get(hdrs.ORIGIN)
        reason = None
        if host not in self._hosts:
            reason = f"Host {host or '(none)'} is not this server"
        elif origin is not None and origin.lower() not in self._origins:
            reason = f"Origin {origin} is not this server's"
        elif origin is None and request.path == "/ws":
            reason = "a WebSocket needs the Origin of this server's page"
        if reason is not None:
            self.refused += 1
            log.warning("refused %s %s: %s", request.method, request.path, reason)
            response: web.StreamResponse = web.Response(status=403, text=f"refused: {reason}\n")
        else:
            response = await handler(request)
        self._secure(response)
        return response

    def _secure(self, response: web.StreamResponse) -> None:
        connect = " ".join(f"ws://{host}" for host in sorted(self._hosts))
        response.headers.setdefault(hdrs.CACHE_CONTROL, "no-store")
        response.headers.setdefault("X-Content-Type-Options", "nosniff")
        response.headers.setdefault("X-Frame-Options", "DENY")
        response.headers.setdefault("Referrer-Policy", "no-referrer")
        response.headers.setdefault(
            "Content-Security-Policy",
            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
            f"connect-src 'self' {connect}; frame-ancestors 'none'; base-uri 'none'; form-action 'none'")

    async def _index(self, request: web.Request) -> web.Response:
        return web.Response(body=self._files["index.html"], content_type=STATIC_FILES["index.html"], charset="utf-8")

    async def _static(self, request: web.Request) -> web.Response:
        name = request.match_info["name"]
        if name not in STATIC_FILES or name == "index.html":
            raise web.HTTPNotFound(text="no such file\n")
        return web.Response(body=self._files[name], content_type=STATIC_FILES[name], charset="utf-8")

    # -- WebSocket ---------------------------------------------------------------
    async def _socket(self, request: web.Request) -> web.WebSocketResponse:
        # aiohttp's own limit only guards memory; longer messages than the
        # protocol allows are answered by protocol.parse.
        ws = web.WebSocketResponse(max_msg_size=16 * protocol.MAX_MESSAGE_BYTES, compress=False)
        await ws.prepare(request)
        client = Client(ws)
        self.clients.add(client)
        log.info("a page connected (%d open)", len(self.clients))
        pump = asyncio.create_task(self._pump(client))
        try:
            await self._send(client, await self._guarded(self._info))
            await self._send(client, await self._guarded(self._status))
            async for message in ws:
                if message.type == WSMsgType.TEXT:
                    answer = await self._answer(client, message.data)
                elif message.type == WSMsgType.BINARY:
                    answer = {"type": "error", "message": "the viewer takes JSON text messages only"}
                else:
                    break
                if answer is not None:
                    await self._send(client, answer)
        except (ConnectionError, asyncio.TimeoutError):
            pass
        finally:
            pump.cancel()
            self.clients.discard(client)
            log.info("a page left (%d open)", len(self.clients))
        return ws

    async def _info(self) -> dict[str, Any]:
        return {"type": "info", **await self._call(self.source.info)}

    async def _guarded(self, make: Callable[[], Any]) -> dict[str, Any]:
        """The message `make` builds, or an error message should the driver fail."""
        try:
            message: dict[str, Any] = await make()
            return message
        except Exception as error:
            log.error("%s failed: %s: %s", make.__name__.strip("_"), type(error).__name__, error)
            return {"type": "error", "message": f"{make.__name__.strip('_')} failed: {type(error).__name__}: {error}"}

    async def _answer(self, client: Client, text: str) -> dict[str, Any] | None:
        doc: dict[str, Any] = {}
        try:
            doc = protocol.parse(text)
            message = protocol.check(doc)
            return await self._dispatch(client, message)
        except BadMessage as error:
            answer: dict[str, Any] = {"type": "error", "message": str(error)}
        except Exception as error:  # the driver (or the viewer) failed, not the page
            log.error("handling %.200s failed: %s: %s", text, type(error).__name__, error)
            log.debug("details", exc_info=True)
            answer = {"type": "error", "message": f"failed: {type(error).__name__}: {error}"}
        if isinstance(doc.get("id"), int) and not isinstance(doc.get("id"), bool):
            answer["id"] = doc["id"]
        return answer

    async def _dispatch(self, client: Client, message: dict[str, Any]) -> dict[str, Any] | None:
        kind = message["type"]
        reply: dict[str, Any] = {"type": "result", "request": kind}
        if "id" in message:
            reply["id"] = message["id"]
        source = self.source
        if kind == "ready":
            client.credits = min(CREDITS, client.credits + 1)
            client.drawn.append(time.monotonic())
            client.ready.set()
            return None
        if kind == "settings":
            fields = {k: message[k] for k in ("mode", "polarity", "window_us") if k in message}
            client.settings = dataclasses.replace(client.settings, **fields)
            client.ready.set()
            return {**reply, "ok": True, "text": "view changed", "settings": dataclasses.asdict(client.settings)}
        if kind in ("start", "stop"):
            ok, words = await self._call(source.start if kind == "start" else source.stop)
            self._spawn(self._broadcast_status())
            return {**reply, "ok": ok, "text": words}
        if kind in ("set", "apply", "record", "record_stop"):
            if not isinstance(source, LiveSource):
                raise BadMessage(f"{kind}: a recording has no camera to {'record' if 'record' in kind else 'set'}")
            if kind in ("set", "apply"):
                tool_id = message["tool"]
                if kind == "set":
                    result, values = await self._call(source.set, tool_id, message["name"], message["value"])
                else:
                    result, values = await self._call(source.apply, tool_id, message["values"])
                self._spawn(self._broadcast({"type": "tool", "tool": tool_id, "values": values}))
                return {**reply, "ok": bool(result.ok), "tool": tool_id, "text": result_words(result, tool_id),
                        "param": None if result.ok else refused_param(result)}
            if kind == "record":
                ok, words = await self._call(source.start_recording, message.get("name"))
            else:
                ok, words = await self._call(source.stop_recording)
            self._spawn(self._broadcast_status())
            return {**reply, "ok": ok, "text": words}
        if kind in ("seek", "speed"):
            if not isinstance(source, PlaybackSource):
                raise BadMessage(f"{kind}: only a recording can be {'moved through' if kind == 'seek' else 'sped up'}")
            if kind == "seek":
                ok, words = await self._call(source.seek, message["t_us"])
            else:
                ok, words = await self._call(source.set_speed, message["speed"])
            for other in self.clients:
                other.ready.set()
            self._spawn(self._broadcast_status())
            return {**reply, "ok": ok, "text": words}
        raise BadMessage(f"unknown message type {kind!r}")  # MESSAGES and this method disagree

    async def _pump(self, client: Client) -> None:
        """Sends the page a new picture whenever there is one and it has credit,
        at most once a period."""
        loop = asyncio.get_running_loop()
        accumulator = self.source.accumulator
        due = loop.time()
        try:
            while not client.ws.closed:
                if client.credits <= 0:
                    client.ready.clear()
                    await client.ready.wait()
                    continue
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                version, settings = accumulator.version, client.settings
                if client.shown == (version, settings):
                    client.ready.clear()
                    try:
                        await asyncio.wait_for(client.ready.wait(), self.period)
                    except asyncio.TimeoutError:
                        pass
                    continue
                try:
                    frame = await loop.run_in_executor(self._render, accumulator.frame, settings)
                except Exception as error:
                    log.error("drawing a picture failed: %s: %s", type(error).__name__, error)
                    return
                data = frame.encode(client.number)
                client.credits -= 1
                client.shown = (version, settings)
                client.number += 1
                await asyncio.wait_for(client.ws.send_bytes(data), SEND_TIMEOUT_S)
                due = max(due + self.period, loop.time())
        except (ConnectionError, asyncio.TimeoutError, RuntimeError):
            pass  # the page went away; its socket handler cleans up

    # -- status ------------------------------------------------------------------
    async def _status(self) -> dict[str, Any]:
        status = await self._call(self.source.status)
        now = time.monotonic()
        status["pages"] = [{"frames_per_s": c.frames_per_second(now), "frames": c.number} for c in self.clients]
        status["refused"] = self.refused
        return {"type": "status", **status}

    async def _status_loop(self) -> None:
        while True:
            await asyncio.sleep(STATUS_INTERVAL_S)
            if self.clients:
                try:
                    await self._broadcast_status()
                except Exception as error:
                    log.error("status failed: %s: %s", type(error).__name__, error)

    async def _broadcast_status(self) -> None:
        await self._broadcast(await self._status())

    async def _broadcast(self, message: dict[str, Any]) -> None:
        await asyncio.gather(*(self._send(c, message) for c in list(self.clients)), return_exceptions=True)

    async def _send(self, client: Client, message: dict[str, Any]) -> None:
        if client.ws.closed:
            return
        await asyncio.wait_for(client.ws.send_str(_json(message)), SEND_TIMEOUT_S)


def _json(message: dict[str, Any]) -> str:
    """JSON that a browser parses: non-finite numbers (which the driver may
    hold in a real parameter) become null."""
    try:
        return json.dumps(message, allow_nan=False)
    except ValueError:
        return json.dumps(_finite(message), allow_nan=False)


def _finite(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(v) for v in value]
    return value


class ViewerThread:
    """A viewer served by a thread of its own, for notebooks and tests:
    `url` is its address; `close()` (or leaving a `with` block) stops it and
    closes the source."""

    def __init__(self, source: Source, *, port: int = 0, fps: float = 30.0) -> None:
        self.viewer = Viewer(source, port=port, fps=fps)
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, name="vantrel-viewer", daemon=True)
        self._thread.start()
        try:
            self.url = asyncio.run_coroutine_threadsafe(self.viewer.start(), self._loop).result(30)
        except BaseException:
            self._stop_loop()
            raise

    @property
    def source(self) -> Source:
        return self.viewer.source

    def close(self) -> None:
        if self._loop.is_closed():
            return
        try:
            asyncio.run_coroutine_threadsafe(self.viewer.close(), self._loop).result(60)
        finally:
            self._stop_loop()

    def _stop_loop(self) -> None:
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join()
        self._loop.close()

    def __enter__(self) -> ViewerThread:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()


def describe(source: Source) -> str:
    if isinstance(source, PlaybackSource):
        return f"recording {source.path}"
    return f"camera {source.info()['description']['serial']} ({source.width}x{source.height})"


def serve(source: Source, *, port: int = 0, open_browser: bool = True, out: TextIO | None = None) -> None:
    """Serves `source` until Ctrl-C or SIGTERM, then closes it. Prints the
    address on `out` (standard output by default) and opens it in the
    default browser when there is one and `open_browser` is set. OSError
    when the port cannot be had."""
    asyncio.run(_serve(source, port, open_browser, out or sys.stdout))


async def _serve(source: Source, port: int, open_browser: bool, out: TextIO) -> None:
    loop = asyncio.get_running_loop()
    stop = asyncio.Event()

    def on_signal(signum: int) -> None:
        stop.set()
        # A second Ctrl-C interrupts at once, should closing ever hang.
        loop.remove_signal_handler(signum)

    viewer = Viewer(source, port=port)
    try:
        url = await viewer.start()
        for signum in (signal.SIGINT, signal.SIGTERM):
            loop.add_signal_handler(signum, on_signal, signum)
        print(f"vantrel view: {describe(source)} at {url} (Ctrl-C to stop)", file=out, flush=True)
        if open_browser:
            threading.Thread(target=_open_browser, args=(url, out), daemon=True).start()
        await stop.wait()
    finally:
        await viewer.close()


def _open_browser(url: str, out: TextIO) -> None:
    try:
        opened = webbrowser.open(url)
    except Exception:
        opened = False
    if not opened:
        print(f"vantrel view: no browser found; open {url} in one", file=out, flush=True)
