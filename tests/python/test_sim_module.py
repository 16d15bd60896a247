"""The vantrel_sim contract: plugging cameras, pushing data, faults and
firmware images."""

import os

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, open_camera, sim  # noqa: F401


def test_reset_unplugs_everything_including_the_default_camera(sim):
    vs.add_camera("A")
    assert vs.cameras() == ["A"]
    vs.inject_fault("ICamera::getWidth", "fail", count=0)
    vs.reset()
    assert vs.cameras() == []
    assert vc.EvCameraService().refresh() == 0
    camera = open_camera("B")
    assert camera.get_width() == 64  # the fault is gone too


def test_add_camera_options_and_their_defaults(sim):
    vs.add_camera("A")
    vs.add_camera(b"B", width=1, height=65535, product=b"P", manufacturer="M", vid=65535, pid=0,
                  interface_type=vc.InterfaceType.MIPI, firmware_version=b"fw", event_rate=0,
                  scene="scripted", seed=2**64 - 1, realtime=False, tools=[], source=None)
    assert vs.cameras() == ["A", "B"]
    service = vc.EvCameraService()
    a, b = service.list()
    assert (a.product, a.manufacturer, a.vid, a.pid, a.firmware_version) == (
        "Vantrel Simulated Event Camera", "Vantrel", 0x5654, 0x0001, "1.0.0")
    assert a.interface_type == vc.InterfaceType.USB
    assert (b.serial, b.product, b.manufacturer, b.vid, b.firmware_version) == ("B", "P", "M", 65535, "fw")
    camera = service.open("B")
    assert (camera.get_width(), camera.get_height()) == (1, 65535)


@pytest.mark.parametrize("options", [
    dict(width=0), dict(height=70000), dict(vid=-1), dict(pid=65536), dict(event_rate=-1.0),
    dict(event_rate=float("nan")), dict(scene="sunset"), dict(seed=-1),
    dict(tools=[vc.ToolType.TOOL_BIAS, vc.ToolType.TOOL_BIAS]), dict(source="/nonexistent/recording.vtr"),
])
def test_add_camera_refuses_bad_options(sim, options):
    with pytest.raises(ValueError):
        vs.add_camera("X", **options)
    assert vs.cameras() == []


def test_add_camera_argument_kinds(sim):
    vs.add_camera("A")
    with pytest.raises(ValueError, match="already plugged in"):
        vs.add_camera("A")
    with pytest.raises(ValueError):
        vs.add_camera("")
    with pytest.raises(TypeError):
        vs.add_camera("B", 640)  # options are keyword-only
    with pytest.raises(TypeError):
        vs.add_camera(42)
    with pytest.raises(TypeError):
        vs.add_camera("B", tools=[6])
    with pytest.raises(TypeError):
        vs.add_camera("B", interface_type=1)


def test_remove_camera(sim):
    vs.add_camera("A")
    vs.add_camera("B")
    assert vs.remove_camera(b"A")
    assert not vs.remove_camera("A")
    assert vs.cameras() == ["B"]


def test_pushes_need_a_streaming_camera(sim):
    assert not vs.push_batch("nobody", make_events(1))
    camera = open_camera("S", scene="scripted")
    assert not vs.push_batch("S", make_events(1))
    assert not vs.push_trigger("S", 1, 1, 1)
    assert not vs.push_statistics("S", 1, 1)
    assert camera.start()
    assert vs.push_trigger("S", 1, 1, 1) and vs.push_statistics("S", 1, 1)
    camera.stop()
    assert not vs.push_batch("S", make_events(1))


def test_push_batch_takes_arrays_of_the_event_dtype(sim):
    camera = open_camera("S", scene="scripted")
    assert camera.start()
    with pytest.raises(TypeError):
        vs.push_batch("S", [(1, 2, 1, 3)])
    with pytest.raises(ValueError):
        vs.push_batch("S", np.zeros(3, dtype=np.uint64))
    with pytest.raises(ValueError):
        vs.push_batch("S", make_events(4).reshape(2, 2))
    every_other = make_events(10)[::2]  # not contiguous
    assert vs.push_batch("S", every_other)
    assert np.array_equal(camera.get_next_batch(), every_other)


def test_inject_fault_arguments_and_counts(sim):
    with pytest.raises(ValueError):
        vs.inject_fault("ICamera::fly", "fail")
    with pytest.raises(ValueError):
        vs.inject_fault("ICamera::start", "explode")
    with pytest.raises(ValueError):
        vs.inject_fault("ICamera::start", "delay", delay=-1.0)
    with pytest.raises(TypeError):
        vs.inject_fault("ICamera::start", "fail", "message")  # keyword-only options
    assert "ICamera::getNextBatch" in vs.fault_operations()
    camera = open_camera()
    vs.inject_fault("ICamera::getWidth", "fail", count=2)
    assert [camera.get_width() for _ in range(3)] == [0, 0, 64]
    vs.inject_fault("ICamera::getWidth", "fail", count=0)
    assert [camera.get_width() for _ in range(5)] == [0] * 5
    vs.clear_faults()
    assert camera.get_width() == 64
    vs.inject_fault("ICamera::getWidth", "runtime_error", message="custom text")
    with pytest.raises(RuntimeError, match="^custom text$"):
        camera.get_width()


def test_write_firmware_image(sim, tmp_path):
    path = tmp_path / "fw.img"
    vs.write_firmware_image(os.fspath(path), "7.0")
    assert path.read_bytes()[:8] == b"VTRFWIMG"
    with pytest.raises(ValueError):
        vs.write_firmware_image(tmp_path / "bad.img", "")
    with pytest.raises(RuntimeError):
        vs.write_firmware_image(tmp_path / "missing-dir" / "fw.img", "7.0")
    camera = open_camera()
    assert camera.firmware_upgrade(str(path))
    assert camera.get_description().firmware_version == "7.0"


def test_help_shows_every_function_by_its_signature():
    import inspect
    import pydoc

    from vantrel_sim import _sim

    extension = {name for name in dir(_sim) if not name.startswith("__")}
    assert extension <= set(dir(vs)) and set(vs.__all__) == {n for n in extension if not n.startswith("_")}
    page = pydoc.render_doc(vs, renderer=pydoc.plaintext)
    assert "pybind11" not in page and "push_batch(serial: object, events: object) -> bool" in page
    signature = inspect.signature(vs.add_camera)
    width = signature.parameters["width"]
    assert list(signature.parameters)[:2] == ["serial", "width"]
    assert (width.kind, width.default) == (inspect.Parameter.KEYWORD_ONLY, 640)
    assert vs.add_camera.__doc__.startswith("Plug in a simulated camera")
