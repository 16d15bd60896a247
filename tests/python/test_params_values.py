"""CameraTool.get/set/apply: what the driver receives for each Python value,
the conversion errors, and the driver's judgement of the values."""

import enum

import numpy as np
import pytest

import vantrel_core as vc
import vantrel_sim as vs

import simcam  # noqa: E402
from toolcam import last_write  # noqa: E402

sim = simcam.sim

CAST_ERROR = (
    "Unable to cast Python instance of type {} to C++ type '?' "
    "(#define PYBIND11_DETAILED_ERROR_MESSAGES or compile in debug mode for details)"
)


@pytest.fixture
def sync(sim):
    camera = simcam.open_camera("VALUES")
    return camera.get_tool(vc.ToolType.TOOL_SYNC)


def received(tool, value):
    """Sets primary_serial (a string parameter) and returns (type, value) as the driver got them."""
    tool.set("primary_serial", value)
    write = last_write("VALUES")
    assert (write["op"], write["name"]) == ("set", "primary_serial")
    return write["type"], write["value"]


class Colour(enum.IntEnum):
    RED = 7


class MyFloat(float):
    pass


class MyStr(str):
    pass


class Unprintable:
    def __str__(self):
        raise KeyError("no text")


@pytest.mark.parametrize(
    "value, expected",
    [
        (True, ("bool", True)),
        (False, ("bool", False)),
        (1, ("int", 1)),
        (-2147483648, ("int", -2147483648)),
        (2147483647, ("int", 2147483647)),
        (Colour.RED, ("int", 7)),
        (1.0, ("float", 1.0)),
        (0.1, ("float", 0.10000000149011612)),
        (MyFloat(2.5), ("float", 2.5)),
        (1e300, ("float", float("inf"))),
        ("1", ("string", "1")),
        (MyStr("abc"), ("string", "abc")),
        (None, ("string", "None")),
        ([1, 2], ("string", "[1, 2]")),
        (vc.ToolType.TOOL_ROI, ("string", "ToolType.TOOL_ROI")),
        (np.int64(5), ("string", "5")),
        (np.bool_(True), ("string", "True")),
    ],
)
def test_value_detection(sync, value, expected):
    assert received(sync, value) == expected


@pytest.mark.parametrize("value, type_text", [(2147483648, "<class 'int'>"), (-2147483649, "<class 'int'>"),
                                              ("\ud800", "<class 'str'>")])
def test_values_that_cannot_be_cast_raise_before_the_driver(sync, value, type_text):
    before = vs.tool_writes("VALUES")
    with pytest.raises(RuntimeError) as caught:
        sync.set("primary_serial", value)
    assert str(caught.value) == CAST_ERROR.format(type_text)
    assert vs.tool_writes("VALUES") == before


def test_a_failing_str_propagates_unchanged(sync):
    with pytest.raises(KeyError, match="no text"):
        sync.set("primary_serial", Unprintable())
    assert vs.tool_writes("VALUES") == []


def test_names_may_be_bytes_and_must_be_text(sync):
    assert sync.set(b"mode", "primary")
    assert sync.get(bytearray(b"mode")) == "primary"
    with pytest.raises(TypeError):
        sync.set(3, "primary")
    with pytest.raises(TypeError):
        sync.get(None)


def test_apply_sends_one_sorted_map(sync):
    assert sync.apply({"primary_serial": "P-9", "mode": "secondary"})
    assert last_write("VALUES") == {
        "tool": "sync",
        "op": "apply",
        "values": [("mode", "string", "secondary"), ("primary_serial", "string", "P-9")],
    }
    # The same bytes as str and bytes: the later entry wins.
    sync.apply({"offset_us": 5, b"offset_us": 6.0})
    assert last_write("VALUES")["values"] == [("offset_us", "float", 6.0)]
    sync.apply({})
    assert last_write("VALUES")["values"] == []


def test_apply_converts_everything_before_writing(sync):
    count = len(vs.tool_writes("VALUES"))
    with pytest.raises(RuntimeError) as caught:
        sync.apply({"mode": "primary", 5: "x"})
    assert str(caught.value) == CAST_ERROR.format("<class 'int'>")
    with pytest.raises(RuntimeError) as caught:
        sync.apply({"mode": "primary", "offset_us": 2**40})
    assert str(caught.value) == CAST_ERROR.format("<class 'int'>")
    assert len(vs.tool_writes("VALUES")) == count
    assert sync.get("mode") == "standalone"
    with pytest.raises(TypeError):
        sync.apply([("mode", "primary")])


def test_apply_survives_a_dict_changed_while_converting(sync):
    values = {}

    class Shrinking:
        def __str__(self):
            values.clear()
            return "standalone"

    values["mode"] = Shrinking()
    values["primary_serial"] = "P"
    assert sync.apply(values)
    assert last_write("VALUES")["values"] == [("mode", "string", "standalone"), ("primary_serial", "string", "P")]


def test_get_returns_each_type(sim):
    camera = simcam.open_camera("VALUES")
    bias = camera.get_tool_by_id("bias")
    assert bias.set("threshold_on", -5)
    assert bias.get("threshold_on") == -5
    assert bias.set("gain", 0.7)
    assert bias.get("gain") == 0.699999988079071
    roi = camera.get_tool_by_id("roi")
    assert roi.get("enabled") is False
    assert camera.get_tool_by_id("sync").get("mode") == "standalone"
    assert bias.get("no_such") is None


def test_schema_and_info_are_copies(sim):
    camera = simcam.open_camera("VALUES", width=200, height=100)
    roi = camera.get_tool(vc.ToolType.TOOL_ROI)
    info = roi.info()
    assert (info.type, info.id, info.display_name) == (vc.ToolType.TOOL_ROI, "roi", "Region of Interest")
    first, second = roi.schema(), roi.schema()
    assert first is not second
    assert [d.name for d in first] == ["enabled", "x", "y", "width", "height"]
    width = first[3]
    assert (width.type, width.unit) == (vc.ParamType.INT, "px")
    limits = width.constraint.get_int_range()
    assert (limits.min, limits.max, limits.default_value) == (1, 200, 200)
    width.name = "changed"
    width.constraint = vc.ParamConstraint()
    assert roi.schema()[3].name == "width"
    assert roi.schema()[3].constraint.get_int_range().max == 200
    with pytest.raises(TypeError, match="No constructor defined!"):
        vc.CameraTool()


def test_every_tool_has_a_complete_schema_and_all_types_occur(sim):
    camera = simcam.open_camera("VALUES")
    types = set()
    for info in camera.get_tools_info():
        tool = camera.get_tool(info.type)
        for d in tool.schema():
            types.add(d.type)
            assert d.description
            kinds = [getattr(d.constraint, a)() for a in
                     ("get_int_range", "get_float_range", "get_bool_def", "get_enum_def", "get_string_def")]
            held = [k for k in kinds if k is not None]
            assert len(held) == 1
            assert tool.get(d.name) == (held[0].default_value if d.type != vc.ParamType.FLOAT
                                        else pytest.approx(held[0].default_value))
    assert types == {vc.ParamType.INT, vc.ParamType.FLOAT, vc.ParamType.BOOL, vc.ParamType.STRING,
                     vc.ParamType.ENUM}


@pytest.mark.parametrize(
    "tool_id, name, value, message",
    [
        ("bias", "threshold_on", 51, "value 51 is outside the range -50..50"),
        ("bias", "threshold_on", 1.0, "expects int, got float"),
        ("bias", "threshold_on", True, "expects int, got bool"),
        ("bias", "threshold_on", "3", "expects int, got string"),
        ("bias", "gain", 0.25, "value 0.25 is outside the range 0.5..2"),
        ("bias", "gain", float("nan"), "value is not a number"),
        ("bias", "gain", "1.0", "expects float, got string"),
        ("roi", "enabled", 1, "expects bool, got int"),
        ("roi", "x", 640, "value 640 is outside the range 0..639"),
        ("roi", "x", 1, "window columns 1..640 reach outside the sensor (width 640): x + width must not exceed 640"),
        ("sync", "mode", "tertiary", "'tertiary' is not one of: standalone, primary, secondary"),
        ("sync", "mode", 1, "expects enum, got int"),
        ("sync", "primary_serial", "x" * 33, "a serial has at most 32 characters, got 33"),
        ("anti_flicker", "low_frequency_hz", 500,
         "band 500..130 Hz is empty: low_frequency_hz must not exceed high_frequency_hz"),
        ("trigger_in", "frequency", 5, "no parameter of this name in tool 'trigger_in'"),
    ],
)
def test_refused_writes_name_the_parameter_and_change_nothing(sim, tool_id, name, value, message):
    camera = simcam.open_camera("VALUES", width=640, height=480)
    tool = camera.get_tool_by_id(tool_id)
    before = tool.to_json()
    result = tool.set(name, value)
    assert not result
    assert (result.error.param, result.error.message) == (name, message)
    assert repr(result) == f"<ParamResult failed: {name} - {message}>"
    assert tool.to_json() == before
    assert last_write("VALUES")["name"] == name  # refused writes are journaled too


def test_an_int_is_taken_for_a_real_parameter(sim):
    bias = simcam.open_camera("VALUES").get_tool_by_id("bias")
    result = bias.set("gain", 2)
    assert result and repr(result) == "<ParamResult ok>"
    assert bias.get("gain") == 2.0 and isinstance(bias.get("gain"), float)


def test_apply_is_all_or_nothing_and_rules_see_the_whole_set(sim):
    camera = simcam.open_camera("VALUES", width=640, height=480)
    roi = camera.get_tool_by_id("roi")
    result = roi.apply({"enabled": True, "x": 600, "width": 41})
    assert (result.ok, result.error.param) == (False, "x")
    assert roi.to_json() == {"enabled": False, "height": 480, "width": 640, "x": 0, "y": 0}
    assert roi.apply({"enabled": True, "x": 600, "width": 40})
    assert roi.to_json() == {"enabled": True, "height": 480, "width": 40, "x": 600, "y": 0}


def test_settings_belong_to_the_device(sim):
    camera = simcam.open_camera("VALUES")
    tool = camera.get_tool_by_id("bias")
    assert tool.set("threshold_off", 12)
    camera.close()
    # The tool object stays usable, and a reopened camera sees the setting.
    assert tool.get("threshold_off") == 12
    again = vc.EvCameraService().open("VALUES")
    assert again.get_tool_by_id("bias").get("threshold_off") == 12


def test_injected_faults_give_each_operations_failure_result(sim):
    bias = simcam.open_camera("VALUES").get_tool_by_id("bias")
    for op in ("set", "apply", "fromJson"):
        vs.inject_fault(f"CameraTool::{op}", "fail")
    assert not bias.set("gain", 1.0)
    assert not bias.apply({"gain": 1.0})
    assert not bias.from_json({"gain": 1.0})
    vs.inject_fault("CameraTool::toJson", "fail")
    assert bias.to_json() is None
    vs.inject_fault("CameraTool::get", "fail")
    assert bias.get("gain") is None
    vs.inject_fault("CameraTool::schema", "fail")
    assert bias.schema() == []
    vs.inject_fault("CameraTool::set", "out_of_range", message="boom")
    with pytest.raises(IndexError, match="boom"):
        bias.set("gain", 1.0)
    assert bias.get("gain") == 1.0
