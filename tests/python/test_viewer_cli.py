"""`vantrel view` from the command line: served until Ctrl-C or SIGTERM in a
process of its own, the browser it opens, and its one-line errors."""

import os
import re
import signal
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, restore_default_devices, sim  # noqa: F401
from viewerpage import Page, run
from vantrel import cli


def start_view(*args, cwd, env=None):
    """`vantrel view ...` in a new process; (process, page address, first line)."""
    process = subprocess.Popen([sys.executable, "-m", "vantrel", "view", *args], cwd=cwd, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, env={**os.environ, **(env or {})})
    line = process.stdout.readline()
    found = re.search(r"at (http://127\.0\.0\.1:\d+/) \(Ctrl-C to stop\)$", line)
    if not found:
        process.kill()
        raise AssertionError(f"no address: {line!r} {process.communicate()}")
    return process, found.group(1), line


def finish(process, signum):
    process.send_signal(signum)
    out, err = process.communicate(timeout=60)
    return process.returncode, out, err


def test_ctrl_c_stops_the_server_and_finishes_a_recording(tmp_path):
    process, url, _ = start_view("--no-browser", "--out-dir", str(tmp_path), cwd=tmp_path)
    try:
        async def scenario():
            async with Page.open(url) as page:
                info = await page.expect(lambda m: isinstance(m, dict) and m["type"] == "info")
                assert info["description"]["serial"] == vs.DEFAULT_SERIAL and info["width"] == 640
                await page.frame(lambda fields, pixels: fields["lit"] > 0)          # the first camera, live
                assert (await page.request({"type": "record", "name": "at-exit"}))["ok"]
                await page.expect(lambda m: isinstance(m, dict) and m["type"] == "status"
                                  and m["recording"] and m["recording"]["events"] > 100_000)
        run(scenario())
    finally:
        status, out, err = finish(process, signal.SIGINT)
    assert status == 0, err
    assert out.splitlines()[-1] == "vantrel view: stopped; camera closed"
    assert "Traceback" not in err
    reader = vc.EvFileReader.create_file_reader(str(tmp_path / "at-exit.vtr"))
    assert reader.open() and reader.get_event_count() > 0


def test_a_recording_opens_in_the_default_browser_and_stops_on_sigterm(tmp_path):
    path = tmp_path / "rec.vtr"
    vs.write_recording(str(path), make_events(100), width=64, height=32)
    opened = tmp_path / "opened.txt"
    browser = f"{sys.executable} -c \"import sys; open('{opened}', 'w').write(sys.argv[1])\" %s"
    process, url, line = start_view(str(path), cwd=tmp_path, env={"BROWSER": browser})
    try:
        deadline = time.monotonic() + 30
        while not (opened.exists() and opened.read_text()) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert opened.read_text() == url
        with urllib.request.urlopen(url, timeout=10) as response:
            assert b"Vantrel viewer" in response.read()
    finally:
        status, out, err = finish(process, signal.SIGTERM)
    assert status == 0 and "Traceback" not in err, err
    assert line == f"vantrel view: recording {path} at {url} (Ctrl-C to stop)\n"
    assert out == "vantrel view: stopped; recording closed\n"


def test_errors_are_one_line(capsys, tmp_path):
    restore_default_devices()
    (tmp_path / "text.vtr").write_text("not a recording")
    busy = socket.socket()
    busy.bind(("127.0.0.1", 0))
    busy.listen(1)
    port = busy.getsockname()[1]
    cases = [
        (["view", str(tmp_path / "missing.vtr")], "missing.vtr: no such recording"),
        (["view", str(tmp_path / "text.vtr")], "not a readable recording"),
        (["view", "NO-SUCH-CAMERA"], "no camera with serial 'NO-SUCH-CAMERA'"),
        (["view", "--out-dir", str(tmp_path / "none")], "is not a folder"),
        (["view", "--no-browser", "--port", str(port)], f"cannot serve on 127.0.0.1:{port}: Address already in use"),
    ]
    try:
        for argv, words in cases:
            assert cli.main(argv) == 1, argv
            err = capsys.readouterr().err
            assert len(err.splitlines()) == 1 and words in err, (argv, err)
    finally:
        busy.close()
    # The camera that could not be served was closed: it opens again.
    camera = vc.EvCameraService().open(vs.DEFAULT_SERIAL)
    assert camera is not None and camera.start()
    camera.close()
    with pytest.raises(SystemExit) as usage:
        cli.main(["view", "--port", "70000"])
    assert usage.value.code == 2


def test_without_the_viewer_extra_view_says_what_to_install(capsys, monkeypatch):
    import vantrel.viewer

    monkeypatch.setitem(sys.modules, "aiohttp", None)          # as if aiohttp were not installed
    monkeypatch.delitem(sys.modules, "vantrel.viewer.server", raising=False)
    monkeypatch.delattr(vantrel.viewer, "server", raising=False)
    assert cli.main(["view", "missing.vtr"]) == 1              # (fails, rather than serves, if aiohttp loads)
    err = capsys.readouterr().err
    assert len(err.splitlines()) == 1 and "pip install 'vantrel[viewer]'" in err


def test_a_camera_of_the_caller_is_left_open_and_stopped(sim, tmp_path):
    """vantrel.viewer.start on an open camera starts its stream, and at the
    end stops it again but leaves the camera open for the caller."""
    import vantrel.viewer

    vs.add_camera("MINE", width=32, height=16, scene="scripted")
    camera = vc.EvCameraService().open("MINE")
    with vantrel.viewer.start(camera, out_dir=tmp_path) as view:
        assert view.url.startswith("http://127.0.0.1:")
        assert vs.push_batch("MINE", make_events(4, width=32, height=16))   # streaming
    assert not vs.push_batch("MINE", make_events(4, width=32, height=16))   # stopped
    assert camera.start()                                                    # still open
    events = make_events(2, width=32, height=16)
    assert vs.push_batch("MINE", events)
    assert (camera.get_next_batch() == events).all()
    camera.close()
