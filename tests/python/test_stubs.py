"""The type stubs: current with the built modules, installed, and what a type
checker makes of them."""

import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from typecheck import run_mypy

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def mypy_cache(tmp_path_factory):
    return tmp_path_factory.getbasetemp() / "mypy-cache"


def test_checked_in_stubs_match_the_built_modules():
    done = subprocess.run([sys.executable, str(ROOT / "scripts" / "gen_stubs.py"), "--check"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr


def test_wheel_installs_the_checked_in_stubs_and_the_typed_marker():
    site = Path(sysconfig.get_paths()["purelib"])
    for module in ("vantrel_core", "vantrel_sim"):
        installed = site / f"{module}-stubs" / "__init__.pyi"
        assert installed.read_text() == (ROOT / "stubs" / f"{module}-stubs" / "__init__.pyi").read_text()
    assert (site / "vantrel" / "py.typed").is_file()
    assert (site / "vantrel" / "_native.pyi").read_text() == (ROOT / "python" / "vantrel" / "_native.pyi").read_text()


# Each line marked `# error: code` must give exactly that error; no other line any.
MISUSE = '''
import vantrel_core as vc
import vantrel_sim as vs

service = vc.EvCameraService()
service.open("X").start()  # error: union-attr
n: int = service.list_cameras()  # error: assignment
camera = service.open("X")
assert camera is not None
camera.get_tool(vc.TOOL_ROI).set("x", 1)  # error: union-attr
camera.set_batch_events_num(1.5)  # error: arg-type
camera.register_event_batch_callback(vc.get_version)  # error: arg-type
camera.register_trigger_in_callback(lambda events: len(events))  # error: arg-type
s: str = camera.get_next_batch()  # error: assignment
tool = camera.get_tool_by_id("roi")
assert tool is not None
tool.get("x") + 1  # error: operator
vc.Logger.instance().set_log_level(0)  # error: arg-type
vc.EvFileReader.create_file_reader("f").open()  # error: union-attr
reader = vc.EvFileReader.create_file_reader("f")
assert reader is not None
reader.get_start_time() + 1  # error: operator
reader.get_decode_statistics()[0]  # error: index
info = reader.get_file_metadata()
assert info is not None
info.local_time.year  # error: union-attr
vs.add_camera("A", 320)  # error: call-arg
vs.add_camera("A", tools=[1])  # error: list-item
vs.push_batch("A", [1, 2])  # error: arg-type
'''

CORRECT = '''
import datetime
import pathlib
from typing import Any, assert_type

import numpy as np
import numpy.typing as npt

import vantrel_core as vc
import vantrel_sim as vs

vs.add_camera(b"CAM", width=64, height=48, scene="scripted", realtime=False, tools=(vc.TOOL_ROI,),
              source=pathlib.Path("x.vtr"))
service = vc.EvCameraService()
assert_type(service.list_cameras(), list[vc.CameraDescription])
assert_type(vs.cameras(), list[str | bytes])
camera = service.open("CAM")
assert_type(camera, vc.ICamera | None)
if camera is not None:
    def on_batch(events: npt.NDArray[np.void]) -> None:
        print(len(events), events["x"].max())
    camera.register_event_batch_callback(on_batch)
    camera.register_event_batch_callback_nocopy(on_batch)
    camera.register_trigger_in_callback(lambda edge: print(edge.id, edge.polarity, edge.timestamp))
    camera.set_statistics_callback(lambda info: print(info.events_count))
    camera.set_batch_events_num(np.int64(1000))
    assert_type(camera.get_next_batch(), npt.NDArray[np.void])
    assert_type(camera.get_tool(vc.ToolType.TOOL_ROI), vc.CameraTool | None)
    roi = camera.get_tool_by_id("roi")
    if roi is not None:
        assert_type(roi.get("x"), bool | int | float | str | None)
        assert_type(roi.to_json(), dict[str, Any] | None)
        result = roi.apply({"enabled": True, "x": 10})
        print(result.ok, result.error.message, bool(result))
    vs.push_batch("CAM", camera.get_next_batch())
reader = vc.EvFileReader.create_file_reader("x.vtr")
if reader is not None and reader.open():
    assert_type(reader.get_decode_statistics(), tuple[int, int] | None)
    assert_type(reader.read_events_by_time_interval(1000), npt.NDArray[np.void])
    info = reader.get_file_metadata()
    if info is not None:
        assert_type(info.local_time, datetime.datetime | None)
vs.write_recording(pathlib.Path("y.vtr"), np.zeros(0), triggers=[(0, 1, 5)])
'''


def test_mypy_reports_misuse_and_passes_correct_use(tmp_path, mypy_cache):
    misuse, correct = tmp_path / "misuse.py", tmp_path / "correct.py"
    misuse.write_text(textwrap.dedent(MISUSE))
    correct.write_text(textwrap.dedent(CORRECT))
    expected = {("misuse.py", number, line.split("# error: ")[1])
                for number, line in enumerate(misuse.read_text().splitlines(), 1) if "# error: " in line}
    status, output, errors = run_mypy([misuse, correct], cwd=tmp_path, cache_dir=mypy_cache)
    assert status == 1, output
    assert set(errors) == expected, output


def test_int_arguments_take_index_types_and_refuse_floats():
    # The stubs type integer arguments as SupportsIndex: check the bindings agree.
    camera = vc.EvCameraService().open(vs.DEFAULT_SERIAL)
    assert camera is not None
    try:
        camera.set_batch_events_num(np.int64(1000))
        with pytest.raises(TypeError):
            camera.set_batch_events_num(1.5)
    finally:
        camera.close()
    with pytest.raises(TypeError):
        vs.push_statistics(vs.DEFAULT_SERIAL, 1.0, 2)


def test_sim_arguments_take_what_the_stubs_promise(tmp_path):
    vs.reset()
    try:
        vs.add_camera(b"GEN-1", tools=(t for t in (vc.TOOL_ROI, vc.TOOL_BIAS)))
        events = np.zeros(3, dtype=vc.EvCameraService().open("GEN-1").get_next_batch().dtype)
        path = tmp_path / "r.vtr"
        vs.write_recording(path, events, triggers=[(0, 1, 0)])
        vs.add_camera("GEN-2", source=path)
        assert vs.cameras() == ["GEN-1", "GEN-2"]
    finally:
        vs.reset()


def test_the_vantrel_package_passes_a_strict_type_check(tmp_path, mypy_cache):
    # As installed: its annotations are what users' type checkers read.
    status, output, _ = run_mypy(["-p", "vantrel"], cwd=tmp_path, cache_dir=mypy_cache)
    assert status == 0, output
