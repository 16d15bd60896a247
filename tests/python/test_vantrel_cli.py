"""The `vantrel` command line, run in-process through cli.main and once as a
console script."""

import json
import os
import shutil
import signal
import subprocess
import sys
import time

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
    status, _, err = run(capsys, "info", str(tmp_path))
    assert status == 1 and "is a directory" in err and "no such file" not in err
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


def test_usage_errors_exit_with_2_and_one_line(capsys):
    for argv in ([], ["frobnicate"], ["export", "a", "b", "--start", "-5", "--end", "1"],
                 *[["record", "S", "o.vtr", "--seconds", bad] for bad in ("nan", "-1", "inf", "0", "x")],
                 ["render", "a", "b", "--window", "0"]):
        with pytest.raises(SystemExit) as stop:
            cli.main(argv)
        assert stop.value.code == 2
        out, err = capsys.readouterr()
        assert len(err.splitlines()) == 1 and "error:" in err, (argv, err)
    with pytest.raises(SystemExit):
        cli.main(["record", "S", "o.vtr", "--seconds", "nan"])
    assert "--seconds: must be a positive, finite number of seconds, got nan" in capsys.readouterr().err


def test_version_and_help_say_every_default(capsys):
    with pytest.raises(SystemExit) as stop:
        cli.main(["--version"])
    assert stop.value.code == 0
    assert capsys.readouterr().out.strip() == "vantrel " + vc.get_version()
    parser = cli.build_parser()
    commands = parser._subparsers._group_actions[0].choices
    for name, sub in commands.items():
        text = sub.format_help()
        for action in sub._actions:
            if action.dest == "help":
                continue
            assert action.help, (name, action.dest)
            if action.option_strings and action.nargs != 0:  # an option with a value says its default
                entry = text.split(action.option_strings[0], 2)[-1].split("\n  -")[0]
                assert "(default: " in entry, (name, entry)


def test_render_errors_are_one_line(capsys, recording, tmp_path):
    path, _ = recording
    cases = [
        (["render", path, str(tmp_path / "missing" / "f.png")], "the folder"),
        (["render", path, str(tmp_path)], "is a directory"),
        (["render", path, str(tmp_path / "f.png"), "--at", "40000"], "--at 40000 is past the end"),
    ]
    for argv, message in cases:
        status, out, err = run(capsys, *argv)
        assert status == 1 and message in err and len(err.splitlines()) == 1, (argv, err)
        assert out == ""
    assert run(capsys, "render", path, str(tmp_path / "f.png"), "--at", "39990")[0] == 0  # the last event


def test_render_of_events_outside_the_sensor(capsys, sim, tmp_path):
    vs.add_camera("OUT", scene="scripted", realtime=False, width=16, height=8)
    camera = vc.EvCameraService().open("OUT")
    path = str(tmp_path / "outside.vtr")
    assert camera.start_recording(path) and camera.start()
    events = make_events(5, width=64, height=32)  # x up to 4 on a 16-wide sensor is fine...
    events["x"][3] = 40                            # ...but not 40
    assert vs.push_batch("OUT", events)
    camera.close()
    status, _, err = run(capsys, "render", path, str(tmp_path / "f.png"))
    assert status == 1 and "outside a 16x8 sensor" in err and len(err.splitlines()) == 1


def test_info_json(capsys, recording):
    path, _ = recording
    status, out, _ = run(capsys, "info", path, "--json")
    facts = json.loads(out)
    assert status == 0 and facts["events"] == 4000 and (facts["width"], facts["height"]) == (64, 32)
    assert (facts["start_us"], facts["end_us"], facts["serial"]) == (0, 39990, "REC")


def test_record_refuses_to_overwrite_without_force(capsys, tmp_path, sim):
    vs.add_camera("W", realtime=False, scene="noise", width=64, height=32, event_rate=100_000)
    target = tmp_path / "w.vtr"
    target.write_bytes(b"precious")
    status, _, err = run(capsys, "record", "W", str(target), "--seconds", "0.1")
    assert status == 1 and "exists (use --force" in err and target.read_bytes() == b"precious"
    status, out, _ = run(capsys, "record", "W", str(target), "--seconds", "0.1", "--force")
    assert status == 0 and "recorded" in out and target.read_bytes() != b"precious"


def test_record_tells_the_truth_about_an_unplug(capsys, tmp_path, sim):
    import threading

    vs.add_camera("UN", scene="noise", width=64, height=32, event_rate=100_000)
    threading.Timer(0.3, vs.remove_camera, ("UN",)).start()
    out_file = tmp_path / "un.vtr"
    status, _, err = run(capsys, "record", "UN", str(out_file), "--seconds", "5")
    reader, events = read_all(str(out_file))
    assert status == 1
    assert f"camera UN was unplugged after" in err and f"holds {len(events)} events" in err
    assert "could not be completed" not in err and len(events) > 0


def test_ctrl_c_during_record_finishes_the_file(tmp_path):
    out_file = tmp_path / "int.vtr"
    process = subprocess.Popen([sys.executable, "-m", "vantrel", "record", vs.DEFAULT_SERIAL, str(out_file),
                                "--seconds", "30"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and not (out_file.exists() and out_file.stat().st_size > 4096):
        time.sleep(0.05)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=30)
    assert process.returncode == 130, err
    _, events = read_all(str(out_file))
    last = err.strip().splitlines()[-1]
    assert last.startswith("vantrel record: interrupted after ") and f"holds {len(events)} events" in last
    assert "Traceback" not in err and len(events) > 0


def test_console_script_and_module(recording):
    path, _ = recording
    script = shutil.which("vantrel", path=os.path.dirname(sys.executable))
    assert script is not None
    for command in ([script, "info", path], [sys.executable, "-m", "vantrel", "info", path]):
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert "events:     4000" in done.stdout
