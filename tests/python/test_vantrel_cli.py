"""The `vantrel` command line, run in-process through cli.main and once as a
console script."""

import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, restore_default_devices, sim  # noqa: F401
from vantrel import cli, render


def run(capsys, *argv):
    status = cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def recording(tmp_path):
    """A 64x32 recording of 4000 events, 10 us apart, serial REC."""
    events = make_events(4000)
    events["timestamp"] = np.arange(4000) * 10
    path = str(tmp_path / "rec.vtr")
    vs.write_recording(path, events, width=64, height=32, serial="REC")
    return path, events


def read_all(path):
    reader = vc.EvFileReader.create_file_reader(path)
    assert reader is not None and reader.open()
    return reader, reader.read_events(reader.get_event_count())


def test_list_shows_the_plugged_cameras(capsys, sim):
    vs.add_camera("CLI-A", realtime=False)
    vs.add_camera("CLI-B", realtime=False, firmware_version="2.1.0")
    status, out, _ = run(capsys, "list")
    assert status == 0
    lines = out.splitlines()
    assert [line.split()[0] for line in lines] == ["CLI-A", "CLI-B"]
    assert "firmware 2.1.0" in lines[1]
    vs.reset()
    assert run(capsys, "list")[:2] == (0, "no cameras\n")


def test_record_then_info(capsys, tmp_path):
    restore_default_devices()
    out_file = str(tmp_path / "cam.vtr")
    status, out, err = run(capsys, "record", vs.DEFAULT_SERIAL, out_file, "--seconds", "0.3")
    assert status == 0, err
    reader, events = read_all(out_file)
    assert f"recorded {len(events)} events" in out
    assert len(events) > 1000
    assert "recording [" in err  # the progress bar
    status, out, _ = run(capsys, "info", out_file)
    assert status == 0
    assert f"events:     {len(events)}" in out
    assert f"camera:     {vs.DEFAULT_SERIAL}, 640x480" in out


def test_record_failures(capsys, tmp_path, sim):
    status, _, err = run(capsys, "record", "NOPE", str(tmp_path / "x.vtr"), "--seconds", "0.1")
    assert status == 1 and "no camera with serial 'NOPE'" in err
    vs.add_camera("R", realtime=False)
    status, _, err = run(capsys, "record", "R", str(tmp_path / "missing" / "x.vtr"), "--seconds", "0.1")
    assert status == 1 and "cannot record to" in err
    status, _, err = run(capsys, "record", "R", str(tmp_path / "x.vtr"), "--seconds", "0")
    assert status == 1 and "--seconds must be positive" in err


def test_info_of_a_written_recording(capsys, recording):
    path, events = recording
    status, out, _ = run(capsys, "info", path)
    assert status == 0
    assert "events:     4000" in out
    assert "time:       0 .. 39990 us" in out
    assert "camera:     REC, 64x32" in out


def test_export_writes_exactly_the_range(capsys, recording, tmp_path):
    path, events = recording
    out_file = str(tmp_path / "part.vtr")
    status, out, _ = run(capsys, "export", path, out_file, "--start", "100", "--end", "200")
    assert status == 0
    _, part = read_all(out_file)
    expected = events[(events["timestamp"] >= 100) & (events["timestamp"] <= 200)]
    assert (part == expected).all() and len(part) == 11
    assert "exported 11 events" in out
    status, _, err = run(capsys, "export", path, out_file, "--start", "200", "--end", "100")
    assert status == 1 and "--end must not be before --start" in err


def test_render_matches_the_events(capsys, recording, tmp_path):
    path, events = recording
    png = str(tmp_path / "frame.png")
    status, out, _ = run(capsys, "render", path, png, "--at", "5000", "--window", "1000")
    assert status == 0
    window = events[(events["timestamp"] >= 5000) & (events["timestamp"] < 6000)]
    assert f"rendered {len(window)} events" in out
    assert (np.asarray(Image.open(png)) == render.polarity_frame(window, 64, 32)).all()
    status, _, _ = run(capsys, "render", path, str(tmp_path / "s.png"), "--kind", "surface")
    assert status == 0 and Image.open(tmp_path / "s.png").size == (64, 32)


def test_unreadable_files(capsys, tmp_path):
    status, _, err = run(capsys, "info", str(tmp_path / "none.vtr"))
    assert status == 1 and "no such file" in err
    junk = tmp_path / "junk.vtr"
    junk.write_bytes(b"not a recording at all" * 10)
    status, _, err = run(capsys, "info", str(junk))
    assert status == 1 and "not a readable recording" in err


def test_config_export_and_import(capsys, tmp_path, sim):
    vs.add_camera("CFG", realtime=False)
    config = str(tmp_path / "cfg.json")
    camera = vc.EvCameraService().open("CFG")
    assert camera.get_tool_by_id("roi").apply({"enabled": True, "x": 10, "width": 100})
    camera.close()
    assert run(capsys, "config", "export", "CFG", config)[0] == 0
    saved = json.loads(open(config).read())
    camera = vc.EvCameraService().open("CFG")
    assert camera.get_tool_by_id("roi").apply({"enabled": False, "x": 0})
    camera.close()
    status, out, _ = run(capsys, "config", "import", "CFG", config)
    assert status == 0 and "imported" in out
    camera = vc.EvCameraService().open("CFG")
    assert camera.get_tool_by_id("roi").get("x") == 10
    camera.close()
    (tmp_path / "bad.json").write_text("{")
    status, _, err = run(capsys, "config", "import", "CFG", str(tmp_path / "bad.json"))
    assert status == 1 and "failed" in err
    assert saved  # the exported document is JSON


def test_usage_errors_exit_with_2(capsys):
    for argv in ([], ["frobnicate"], ["export", "a", "b", "--start", "-5", "--end", "1"]):
        with pytest.raises(SystemExit) as stop:
            cli.main(argv)
        assert stop.value.code == 2
    capsys.readouterr()


def test_console_script_and_module(recording):
    path, _ = recording
    script = shutil.which("vantrel", path=os.path.dirname(sys.executable))
    assert script is not None
    for command in ([script, "info", path], [sys.executable, "-m", "vantrel", "info", path]):
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert "events:     4000" in done.stdout
