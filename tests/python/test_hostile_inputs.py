"""Inputs that used to hang, eat memory, act on another file than named or
hand Python undecodable text: special files, paths holding a NUL byte,
firmware images with a version text that is not UTF-8, and a recording
write that fails half-way."""

import os
import struct
import subprocess
import sys
import textwrap
import zlib

import pytest

import vantrel_core as vc
import vantrel_sim as vs

import simcam
from recfiles import scene_events, write

sim = simcam.sim

# Reads, imports and upgrades on special files must return at once; the
# subprocess is killed (and the test fails) if one hangs, and its memory is
# capped so that reading /dev/zero cannot take the machine down.
ISOLATED = """
import os, resource, sys
if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # its shadow memory alone is over any cap
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
import vantrel_core as vc, vantrel_sim as vs
vs.reset()
vs.add_camera("H", width=64, height=32, realtime=False, scene="noise")
camera = vc.EvCameraService().open("H")
path = sys.argv[1]
"""


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "fifo"
    os.mkfifo(path)
    return str(path)


def run_isolated(body, path):
    code = ISOLATED + textwrap.dedent(body)
    env = {**os.environ, "PYTHONPATH": os.path.dirname(__file__)}
    try:
        done = subprocess.run([sys.executable, "-c", code, path], capture_output=True, text=True,
                              timeout=30, env=env)
    except subprocess.TimeoutExpired:
        pytest.fail(f"{body.strip()!r} on {path} did not return within 30 s")
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stderr


@pytest.mark.parametrize("special", ["/dev/zero", "fifo"])
def test_special_files_are_refused_at_once(fifo, special):
    path = fifo if special == "fifo" else special
    for call in ("assert camera.import_camera_config(path) is False",
                 "assert camera.firmware_upgrade(path) is False",
                 "r = vc.EvFileReader.create_file_reader(path); assert r is None or r.open() is False"):
        err = run_isolated(call, path)
        assert "is not a regular file" in err, (call, err)
    # Replaying one as a recording is refused too.
    run_isolated("""
        try:
            vs.add_camera("R", source=path)
        except ValueError as e:
            assert "is not a regular file" in str(e), e
        else:
            raise AssertionError("accepted")
    """, path)


def test_outputs_that_are_fifos_are_refused_without_waiting_for_a_reader(fifo):
    err = run_isolated("""
        from recfiles import scene_events
        assert camera.start_recording(path) is False
        assert vc.Logger.instance().set_log_file(path) is False
        try:
            vs.write_recording(path, scene_events(10))
        except RuntimeError as e:
            assert "is not a regular file (a FIFO)" in str(e), e
        else:
            raise AssertionError("written")
    """, fifo)
    assert "is not a regular file (a FIFO)" in err
    assert "cannot open log file" in err


def nul_path(tmp_path, name="x"):
    return str(tmp_path / name) + "\0.junk"


def test_paths_holding_a_nul_byte_are_refused_and_create_nothing(sim, tmp_path, log_file):
    camera = simcam.open_camera("N")
    recording = write(tmp_path / "r.vtr", scene_events(100))
    before = sorted(os.listdir(tmp_path))

    assert camera.start_recording(nul_path(tmp_path)) is False
    assert camera.export_camera_config(nul_path(tmp_path)) is False
    assert vc.Logger.instance().set_log_file(nul_path(tmp_path)) is False
    assert vc.EvFileReader.create_file_reader(recording + "\0.junk") is None
    reader = vc.EvFileReader.create_file_reader(recording)
    assert reader.open()
    assert reader.export_events_to_raw(0, 2**63, nul_path(tmp_path)) is False
    with pytest.raises(ValueError, match="NUL"):
        vs.write_recording(nul_path(tmp_path), scene_events(10))
    with pytest.raises(ValueError, match="NUL"):
        vs.write_firmware_image(nul_path(tmp_path), "1.2.3")
    with pytest.raises(ValueError, match="NUL"):
        vs.add_camera("REPLAY", source=recording + "\0.junk")
    assert sorted(os.listdir(tmp_path)) == before
    assert log_file.read_text().count("NUL byte") >= 5

    # Files that the cut-off path would name exist: they are not acted on.
    assert camera.export_camera_config(str(tmp_path / "c.json"))
    bias = camera.get_tool_by_id("bias")
    assert bias.set("threshold_on", 7)
    assert camera.import_camera_config(str(tmp_path / "c.json") + "\0.junk") is False
    assert bias.get("threshold_on") == 7
    vs.write_firmware_image(tmp_path / "fw.img", "9.9.9")
    assert camera.firmware_upgrade(str(tmp_path / "fw.img") + "\0.junk") is False
    assert camera.get_description().firmware_version == "1.0.0"


def image_with_version(version: bytes) -> bytes:
    payload = bytes(16)
    body = b"VTRFWIMG" + struct.pack("<HHI", 1, len(version), len(payload)) + version + payload
    return body + struct.pack("<I", zlib.crc32(body))


def test_firmware_version_text_must_be_utf8(sim, tmp_path, log_file):
    camera = simcam.open_camera("F", firmware_version="1.0.0")
    for bad in (b"\xff\xfe", b"1.0\xc3", b"\xed\xa0\x80", b"\xc0\xaf"):  # stray, cut, surrogate, overlong
        image = tmp_path / "bad.img"
        image.write_bytes(image_with_version(bad))
        assert camera.firmware_upgrade(str(image)) is False
    assert "corrupt image (the version text is not UTF-8)" in log_file.read_text()
    assert camera.get_description().firmware_version == "1.0.0"
    assert [d.firmware_version for d in vc.EvCameraService().list()] == ["1.0.0"]
    good = tmp_path / "good.img"
    good.write_bytes(image_with_version("2.0-β".encode()))
    assert camera.firmware_upgrade(str(good))
    assert camera.get_description().firmware_version == "2.0-β"


def test_recording_serials_reach_python_as_text(sim, tmp_path):
    with pytest.raises(ValueError, match="UTF-8"):
        vs.write_recording(tmp_path / "bytes.vtr", scene_events(5), serial=b"\xff\xfe")
    assert not (tmp_path / "bytes.vtr").exists()
    # A camera whose serial is not UTF-8 still records; the file says so readably.
    vs.add_camera(b"CAM-\xff", width=64, height=32, realtime=False, scene="noise")
    camera = vc.EvCameraService().open(b"CAM-\xff")
    path = str(tmp_path / "live.vtr")
    assert camera.start_recording(path)
    assert camera.start()
    assert simcam.wait_for(lambda: len(camera.get_next_batch()) > 0)
    camera.stop()
    assert camera.stop_recording()
    reader = vc.EvFileReader.create_file_reader(path)
    assert reader.open()
    assert reader.get_file_metadata().serial_number == "CAM-\ufffd"


def test_a_failed_write_recording_leaves_no_file(python_subprocess, tmp_path):
    # The file size limit stands in for a full disk.
    target = tmp_path / "big.vtr"
    done = python_subprocess(f"""
        import resource, signal
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (200_000, 200_000))
        import numpy as np, vantrel_sim as vs
        from recfiles import scene_events
        try:
            vs.write_recording({str(target)!r}, scene_events(200_000))
        except RuntimeError as e:
            print("refused:", e)
    """, env={"PYTHONPATH": os.path.dirname(__file__)})
    assert "refused:" in done.stdout, done.stderr
    assert not target.exists()
