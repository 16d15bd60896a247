"""The page's side of the viewer's WebSocket, for tests that drive the
server without a browser, and the set-up shared by the viewer's tests."""

import asyncio
import contextlib
import json

import aiohttp
import numpy as np
import pytest

import vantrel_sim as vs
from vantrel.viewer.frames import decode_frame
from vantrel.viewer.server import ViewerThread
from simcam import make_events
from vantrel.viewer.sources import PlaybackSource, open_source


class Page:
    def __init__(self, ws):
        self.ws = ws
        self.next_id = 1
        self.seen = []          # JSON messages received, in order

    @classmethod
    @contextlib.asynccontextmanager
    async def open(cls, url, *, origin=None):
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(url + "ws", origin=origin or url.rstrip("/")) as ws:
                yield cls(ws)

    async def receive(self, timeout=10.0):
        """The next message: bytes for a frame, a dict otherwise."""
        message = await self.ws.receive(timeout)
        if message.type == aiohttp.WSMsgType.BINARY:
            return message.data
        if message.type != aiohttp.WSMsgType.TEXT:
            raise ConnectionError(f"the socket closed: {message}")
        doc = json.loads(message.data)
        self.seen.append(doc)
        return doc

    async def send(self, message):
        await self.ws.send_str(message if isinstance(message, str) else json.dumps(message))

    async def request(self, message, timeout=10.0):
        """Sends `message` with an id; the answer with that id."""
        ident = self.next_id
        self.next_id += 1
        await self.send({**message, "id": ident})
        return await self.expect(lambda m: isinstance(m, dict) and m.get("id") == ident, timeout)

    async def expect(self, predicate, timeout=10.0):
        """The first message that satisfies `predicate` (frames are acknowledged)."""
        loop = asyncio.get_running_loop()
        deadline = loop.time() + timeout
        while True:
            message = await self.receive(max(deadline - loop.time(), 0.001))
            if isinstance(message, bytes):
                await self.send('{"type": "ready"}')
            if predicate(message):
                return message

    async def frame(self, predicate=lambda fields, pixels: True, timeout=10.0):
        """The first frame that satisfies `predicate`, as (fields, pixels)."""
        def wanted(message):
            return isinstance(message, bytes) and predicate(*decode_frame(message))
        return decode_frame(await self.expect(wanted, timeout))


def run(scenario):
    return asyncio.run(asyncio.wait_for(scenario, 60))


@pytest.fixture
def scripted_view(sim, tmp_path):
    """A viewer of a streaming 64x48 camera "VIEW" that shows only what is pushed."""
    vs.add_camera("VIEW", width=64, height=48, scene="scripted")
    with ViewerThread(open_source("VIEW", out_dir=str(tmp_path))) as view:
        yield view


def square(x0, y0, size, polarity, t, width=64, height=48):
    """size x size events, one per pixel, at time t."""
    events = make_events(size * size, width=width, height=height)
    events["x"] = x0 + np.arange(size * size) % size
    events["y"] = y0 + np.arange(size * size) // size
    events["polarity"] = polarity
    events["timestamp"] = t
    return events


@pytest.fixture
def playback(sim, tmp_path):
    """A paused viewer of a 64x48 recording with a square of ON events at 1 s
    and one of OFF events at 3 s."""
    events = np.concatenate([square(2, 2, 4, 1, 1_000_000), square(40, 30, 6, 0, 3_000_000)])
    path = str(tmp_path / "two.vtr")
    vs.write_recording(path, events, width=64, height=48, serial="REC-7")
    with ViewerThread(PlaybackSource(path)) as view:
        yield view
