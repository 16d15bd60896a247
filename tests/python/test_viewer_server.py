"""The viewer's server without a browser: what it serves and refuses, the
checks of page messages, tool writes, frames and their pacing, recording,
statistics, and playback of recordings."""

import asyncio
import logging
import socket

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, sim  # noqa: F401
from viewerpage import Page, playback, run, scripted_view, square  # noqa: F401
from vantrel.viewer import server as viewer_server
from vantrel.viewer.frames import OFF, ON

W, H = 64, 48


def http(view, path="/", *, host=None, origin=None, headers=()):
    """A raw HTTP/1.1 GET: (status, headers text, body)."""
    lines = [f"GET {path} HTTP/1.1", f"Host: {host or f'127.0.0.1:{view.viewer.port}'}", "Connection: close"]
    if origin:
        lines.append(f"Origin: {origin}")
    lines.extend(headers)
    with socket.create_connection(("127.0.0.1", view.viewer.port), timeout=10) as s:
        s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return int(head.split()[1]), head.decode("latin-1"), body


def test_the_page_is_served_with_a_strict_policy(scripted_view):
    status, head, body = http(scripted_view)
    assert status == 200 and b'<script src="/static/viewer.js">' in body
    assert "Content-Security-Policy: default-src 'none'" in head and "X-Frame-Options: DENY" in head
    for name in ("viewer.js", "viewer.css"):
        assert http(scripted_view, f"/static/{name}")[0] == 200
    for path in ("/static/index.html", "/static/..%2fserver.py", "/static/nothing.js", "/etc/passwd"):
        assert http(scripted_view, path)[0] == 404
    assert http(scripted_view, host=f"localhost:{scripted_view.viewer.port}")[0] == 200


def test_requests_from_other_hosts_and_origins_are_refused(scripted_view, caplog):
    port = scripted_view.viewer.port
    upgrade = ("Upgrade: websocket", "Connection: Upgrade", "Sec-WebSocket-Version: 13",
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==")
    refused = [
        dict(host=f"evil.example:{port}"),                   # DNS rebinding: the name is not ours
        dict(host="127.0.0.1"),                              # nor is another port
        dict(origin="http://evil.example"),                  # a page from elsewhere
        dict(origin=f"http://127.0.0.1:{port + 1}"),
        dict(origin="null"),                                 # a sandboxed or file page
        dict(path="/ws", headers=upgrade, origin="http://evil.example"),
        dict(path="/ws", headers=upgrade),                   # a WebSocket must say where it comes from
    ]
    with caplog.at_level(logging.WARNING, "vantrel.viewer"):
        for request in refused:
            status, _, body = http(scripted_view, **request)
            assert status == 403 and body.startswith(b"refused: "), request
    assert scripted_view.viewer.refused == len(refused)
    assert len([r for r in caplog.records if r.message.startswith("refused GET")]) == len(refused)

    async def foreign_socket():
        with pytest.raises(Exception, match="403"):
            async with Page.open(scripted_view.url, origin="http://evil.example"):
                pass
        assert not scripted_view.viewer.clients
    run(foreign_socket())
    assert scripted_view.source.camera.get_tool_by_id("roi").get("enabled") is False


def test_bad_messages_are_answered_with_errors(scripted_view, caplog):
    bad = [
        ("not json at all", "not JSON"),
        ('{"type": "set", "tool": "bias", "name": "threshold_on", "value": 2147483648}', "32-bit integer"),
        ('{"type": "set", "tool": "bias", "name": "threshold_on", "value": 1.5}', "whole number"),
        ('{"type": "set", "tool": "roi", "name": "enabled", "value": 1}', "true or false"),
        ('{"type": "set", "tool": "sync", "name": "mode", "value": 3}', "a text"),
        ('{"type": "set", "tool": "laser", "name": "power", "value": 3}', "no tool 'laser'"),
        ('{"type": "apply", "tool": "roi", "values": {"x": true}}', "whole number"),
        ('{"type": "seek", "t_us": 5}', "only a recording"),
        ('{"type": "settings", "window_us": 0}', "from 1000 to 100000"),
    ]

    async def scenario():
        async with Page.open(scripted_view.url) as page:
            for i, (text, words) in enumerate(bad):
                await page.send(text[:-1] + f', "id": {i}}}' if text.startswith("{") else text)
                answer = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "error")
                assert words in answer["message"], (text, answer)
                assert answer.get("id") == (i if text.startswith("{") else None)
            await page.ws.send_bytes(b"\x00\x01")
            answer = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "error")
            assert "JSON text messages only" in answer["message"]
            assert (await page.request({"type": "settings", "window_us": 5000}))["ok"]   # still served
    with caplog.at_level(logging.DEBUG, "vantrel.viewer"):
        run(scenario())
    assert not [r for r in caplog.records if r.levelno >= logging.ERROR or r.exc_info]
    assert [e["type"] for e in vs.tool_writes("VIEW")] == []    # nothing bad reached the camera


def test_tool_writes_show_the_drivers_answer_and_values(scripted_view):
    camera = scripted_view.source.camera

    async def scenario():
        async with Page.open(scripted_view.url) as page:
            info = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "info")
            assert info["description"]["serial"] == "VIEW" and info["description"]["firmware"] == "1.0.0"
            tools = {t["id"]: t for t in info["tools"]}
            assert [p["name"] for p in tools["roi"]["params"]] == [d.name for d in camera.get_tool_by_id("roi").schema()]
            threshold = next(p for p in tools["bias"]["params"] if p["name"] == "threshold_on")
            assert (threshold["type"], threshold["min"], threshold["max"]) == ("int", -50, 50)
            assert next(p for p in tools["sync"]["params"] if p["name"] == "mode")["options"][0] == "standalone"

            refused = await page.request({"type": "set", "tool": "bias", "name": "threshold_on", "value": 51})
            assert not refused["ok"] and refused["param"] == "threshold_on"
            assert refused["text"] == "bias.threshold_on refused by the camera: value 51 is outside the range -50..50"
            accepted = await page.request({"type": "set", "tool": "bias", "name": "threshold_on", "value": 10})
            assert accepted["ok"] and accepted["text"] == "bias: accepted"
            report = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "tool")
            assert report["tool"] == "bias" and report["values"]["threshold_on"] == 10

            window = {"enabled": True, "x": 8, "y": 4, "width": 20, "height": 10}
            assert (await page.request({"type": "apply", "tool": "roi", "values": window}))["ok"]
            report = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "tool" and m["tool"] == "roi")
            assert report["values"] == window
            outside = await page.request({"type": "set", "tool": "roi", "name": "x", "value": 60})
            assert not outside["ok"] and "reach outside the sensor" in outside["text"]
    run(scenario())
    assert camera.get_tool_by_id("bias").get("threshold_on") == 10
    assert camera.get_tool_by_id("roi").get("x") == 8


def test_frames_show_the_pushed_events_and_wait_for_the_page(scripted_view):
    on = square(4, 6, 5, 1, 1_000)
    off = square(30, 20, 3, 0, 1_500)

    async def scenario():
        async with Page.open(scripted_view.url) as page:
            await page.request({"type": "settings", "window_us": 100_000, "polarity": "both"})
            assert vs.push_batch("VIEW", np.concatenate([on, off]))
            fields, pixels = await page.frame(lambda f, p: f["lit"] == 34)
            assert fields["end"] == 1_501 and fields["start"] == 0 and fields["kind"] == 0
            assert (pixels[6:11, 4:9] == ON).all() and (pixels[20:23, 30:33] == OFF).all()
            await page.request({"type": "settings", "polarity": "off", "mode": "surface"})
            fields, pixels = await page.frame(lambda f, p: f["kind"] == 1 and f["polarity"] == 2)
            assert (pixels[20:23, 30:33] == 255).all() and pixels.sum() == 9 * 255

            # Without `ready` the page gets no more than its credit, however many events come.
            await page.request({"type": "settings", "mode": "frame", "polarity": "both"})
            frames = 0
            for k in range(6):
                vs.push_batch("VIEW", square(k, 0, 1, 1, 2_000 + k))
                frames += await frames_within(page, 0.3)
            assert frames == viewer_server.CREDITS
            await page.send('{"type": "ready"}')
            fields, _ = await page.frame()
            assert fields["end"] == 2_006
    run(scenario())


async def frames_within(page, seconds):
    """How many frames the page receives in this time (it acknowledges none)."""
    loop = asyncio.get_running_loop()
    deadline = loop.time() + seconds
    frames = 0
    while (left := deadline - loop.time()) > 0:
        try:
            frames += isinstance(await page.receive(left), bytes)
        except TimeoutError:
            break
    return frames


def test_recording_holds_every_event_while_the_page_draws_nothing(scripted_view, tmp_path):
    batches = [make_events(1_000, start=i * 1_000, width=W, height=H) for i in range(40)]

    async def scenario():
        async with Page.open(scripted_view.url) as page:
            started = await page.request({"type": "record", "name": "run-1"})
            assert started["ok"] and started["text"] == f"recording to {tmp_path / 'run-1.vtr'}"
            again = await page.request({"type": "record", "name": "other"})
            assert not again["ok"] and "already recording" in again["text"]
            for batch in batches:   # the page never says ready
                assert vs.push_batch("VIEW", batch)
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                                       and m["recording"] and m["recording"]["events"] == 40_000)
            assert status["recording"]["path"] == str(tmp_path / "run-1.vtr")
            stopped = await page.request({"type": "record_stop"})
            assert stopped["ok"] and stopped["text"].startswith("recorded 40000 events (")
            assert not (await page.request({"type": "record_stop"}))["ok"]
            taken = await page.request({"type": "record", "name": "run-1.vtr"})
            assert not taken["ok"] and "exists" in taken["text"]
    run(scenario())
    reader = vc.EvFileReader.create_file_reader(str(tmp_path / "run-1.vtr"))
    assert reader.open()
    assert (reader.read_events(100_000) == np.concatenate(batches)).all()


def test_start_stop_and_the_drivers_statistics(scripted_view):
    async def scenario():
        async with Page.open(scripted_view.url) as page:
            assert vs.push_statistics("VIEW", 16_000, 1_000)
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status" and m["driver"])
            assert (status["driver"]["events_per_s"], status["driver"]["bytes_per_s"]) == (1_000, 16_000)
            assert status["streaming"] and status["connected"]
            assert (await page.request({"type": "stop"}))["text"] == "stopped"
            assert not vs.push_batch("VIEW", make_events(3, width=W, height=H))
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status")
            assert not status["streaming"]
            assert (await page.request({"type": "start"}))["text"] == "streaming"
            assert vs.push_batch("VIEW", make_events(3, width=W, height=H))
    run(scenario())


def test_a_recording_seeks_and_plays_to_its_end(playback):
    async def scenario():
        async with Page.open(playback.url) as page:
            info = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "info")
            assert info["playback"] == {"start_us": 1_000_000, "end_us": 3_000_000}
            assert info["tools"] == [] and info["description"]["serial"] == "REC-7"
            await page.request({"type": "settings", "window_us": 50_000})
            await page.request({"type": "stop"})
            assert (await page.request({"type": "seek", "t_us": 1_000_001}))["ok"]
            _, pixels = await page.frame(lambda f, p: f["end"] == 1_000_001)
            assert (pixels[2:6, 2:6] == ON).all() and np.count_nonzero(pixels) == 16
            assert (await page.request({"type": "seek", "t_us": 3_000_001}))["ok"]     # the slider's end
            _, pixels = await page.frame(lambda f, p: f["end"] == 3_000_001)
            assert (pixels[30:36, 40:46] == OFF).all() and np.count_nonzero(pixels) == 36
            far = await page.request({"type": "seek", "t_us": 9_000_000})
            assert far["type"] == "error" and "outside the recording" in far["message"]
            refused = await page.request({"type": "set", "tool": "roi", "name": "x", "value": 1})
            assert refused["type"] == "error" and "a recording has no camera" in refused["message"]

            await page.request({"type": "seek", "t_us": 2_990_000})
            await page.request({"type": "speed", "speed": 2})
            await page.request({"type": "start"})
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                                       and not m["streaming"] and m["playback"]["position_us"] > 3_000_000)
            assert status["playback"]["speed"] == 2 and status["playback"]["position_us"] == 3_000_001
            await page.request({"type": "settings", "window_us": 60_000})
            _, pixels = await page.frame(lambda f, p: f["end"] == 3_000_001)
            assert np.count_nonzero(pixels) == 36   # the last window of the recording stays
    run(scenario())


def test_driver_failures_and_an_unplug_are_told_in_words(scripted_view, caplog):
    async def scenario():
        async with Page.open(scripted_view.url) as page:
            vs.inject_fault("CameraTool::set", "runtime_error", message="bus error")
            failed = await page.request({"type": "set", "tool": "bias", "name": "gain", "value": 1.5})
            assert failed == {"type": "error", "message": "failed: RuntimeError: bus error", "id": failed["id"]}
            assert (await page.request({"type": "stop"}))["ok"]
            vs.inject_fault("ICamera::start", "fail")
            refused = await page.request({"type": "start"})
            assert not refused["ok"] and refused["text"].startswith("the camera did not start")
            assert (await page.request({"type": "start"}))["ok"]

            assert (await page.request({"type": "record", "name": "cut"}))["ok"]
            assert vs.push_batch("VIEW", make_events(500, width=W, height=H))
            await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                              and m["recording"] and m["recording"]["events"] == 500)
            assert vs.remove_camera("VIEW")
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                                       and not m["connected"])
            assert not status["streaming"]
            stopped = await page.request({"type": "record_stop"})
            assert not stopped["ok"] and stopped["text"].endswith("cut.vtr holds 500 events")
            assert not (await page.request({"type": "start"}))["ok"]
    with caplog.at_level(logging.DEBUG, "vantrel.viewer"):
        run(scenario())
    assert [r.message for r in caplog.records if r.levelno >= logging.ERROR] == [
        'handling {"type": "set", "tool": "bias", "name": "gain", "value": 1.5, "id": 1} failed: '
        'RuntimeError: bus error']


def test_a_failing_reader_pauses_the_playback(playback, caplog):
    async def scenario():
        async with Page.open(playback.url) as page:
            vs.inject_fault("EvFileReader::readEventsByTimeIntervalFromTimestamp", "runtime_error",
                            message="disk gone")
            await page.request({"type": "start"})
            status = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                                       and not m["streaming"])
            assert status["playback"]["position_us"] == 1_000_000
            assert (await page.request({"type": "seek", "t_us": 1_000_001}))["ok"]   # the next read works
            _, pixels = await page.frame(lambda f, p: f["end"] == 1_000_001)
            assert np.count_nonzero(pixels) == 16
    with caplog.at_level(logging.ERROR, "vantrel.viewer"):
        run(scenario())
    assert [r.message for r in caplog.records] == [f"playing {playback.source.path}: RuntimeError: disk gone"]
