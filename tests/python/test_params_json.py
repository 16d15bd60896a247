"""CameraTool.to_json/from_json: the two converters, both directions, with
the unsigned-integer and nesting-depth mends."""

import json
import os

import pytest

import vantrel_core as vc
import vantrel_sim as vs

import simcam  # noqa: E402
from toolcam import last_write  # noqa: E402

sim = simcam.sim

SERIAL = "JSON"
CAST_ERROR = (
    "Unable to cast Python instance of type {} to C++ type '?' "
    "(#define PYBIND11_DETAILED_ERROR_MESSAGES or compile in debug mode for details)"
)


@pytest.fixture
def bias(sim):
    return simcam.open_camera(SERIAL).get_tool_by_id("bias")


def document_of(tool, obj):
    """The compact JSON text the driver received from from_json(obj)."""
    tool.from_json(obj)
    write = last_write(SERIAL)
    assert write["op"] == "from_json"
    return write["json"]


def returned(tool, text):
    vs.set_tool_document(SERIAL, tool.info().id, text)
    return tool.to_json()


def nested_list(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def test_to_json_gives_every_parameter(bias):
    doc = bias.to_json()
    assert doc == {"gain": 1.0, "threshold_off": 0, "threshold_on": 0}
    assert list(doc) == ["gain", "threshold_off", "threshold_on"]
    assert isinstance(doc["gain"], float) and isinstance(doc["threshold_on"], int)


def test_from_json_takes_the_same_shape_back(bias):
    assert bias.from_json({"gain": 0.7, "threshold_on": -9})
    doc = bias.to_json()
    assert doc["gain"] == 0.699999988079071
    assert bias.from_json(doc)
    assert bias.to_json() == doc
    result = bias.from_json({"threshold_on": 1, "threshold_off": 2.0})
    assert (result.ok, result.error.param, result.error.message) == (
        False, "threshold_off", "expects int, got JSON real")
    assert bias.get("threshold_on") == -9  # all or nothing
    result = bias.from_json([1, 2])
    assert repr(result) == ("<ParamResult failed:  - expects a JSON object of parameter names and values, "
                            "got JSON array>")


def test_python_to_json_conversions(bias):
    assert document_of(bias, {"a": True, "b": 3, "c": 2.5, "d": "x", "e": None, "f": (1, 2)}) == \
        '{"a":true,"b":3,"c":2.5,"d":"x","e":null,"f":[1,2]}'
    assert document_of(bias, {1, 2}) == '"{1, 2}"'
    assert document_of(bias, None) == "null"
    assert document_of(bias, {}) == "{}"
    assert document_of(bias, [vc.ToolType.TOOL_ROI]) == '["ToolType.TOOL_ROI"]'
    assert document_of(bias, {b"raw": b"x"}) == '{"raw":"b\'x\'"}'
    assert document_of(bias, [2**63 - 1, -(2**63)]) == "[9223372036854775807,-9223372036854775808]"
    assert document_of(bias, [float("inf")]) == "[null]"  # the JSON text cannot hold an infinity
    # A dict walked in its order; the same key bytes again replace the value.
    assert document_of(bias, {"k": 1, b"k": 2}) == '{"k":2}'


@pytest.mark.parametrize("obj, type_text", [
    ({1: "a"}, "<class 'int'>"),
    ([2**63], "<class 'int'>"),
    ({"deep": [{"x": -(2**63) - 1}]}, "<class 'int'>"),
    ({"s": "\udc80"}, "<class 'str'>"),
])
def test_values_that_cannot_be_cast_raise_before_the_driver(bias, obj, type_text):
    with pytest.raises(RuntimeError) as caught:
        bias.from_json(obj)
    assert str(caught.value) == CAST_ERROR.format(type_text)
    assert vs.tool_writes(SERIAL) == []


def test_exceptions_from_python_code_propagate(bias):
    class Bad:
        def __str__(self):
            raise ZeroDivisionError("str failed")

    class BrokenList(list):
        def __getitem__(self, index):
            raise LookupError("no item")

    with pytest.raises(ZeroDivisionError, match="str failed"):
        bias.from_json({"x": [Bad()]})
    with pytest.raises(LookupError, match="no item"):
        bias.from_json(BrokenList([1]))
    assert vs.tool_writes(SERIAL) == []


def test_json_to_python_conversions(bias):
    doc = returned(bias, '{"b": 1, "a": [1.0, 1, -1, true, null, "t\\u00e9xt", {"z": {}}]}')
    assert list(doc) == ["a", "b"]
    assert doc["a"] == [1.0, 1, -1, True, None, "t\u00e9xt", {"z": {}}]
    assert isinstance(doc["a"][0], float) and isinstance(doc["a"][1], int)
    # The document is returned once; then the parameters again.
    assert "gain" in bias.to_json()
    assert returned(bias, "[]") == []
    assert returned(bias, '"just text"') == "just text"


def test_unsigned_integers_keep_their_value(bias):
    # Read as signed, the largest would come back as -1.
    doc = returned(bias, '{"max": 18446744073709551615, "big": 9223372036854775808, "small": 5}')
    assert doc == {"big": 2**63, "max": 2**64 - 1, "small": 5}


def test_deep_nesting_raises_recursion_error_instead_of_crashing(bias):
    with pytest.raises(RecursionError):
        bias.from_json(nested_list(100_000))
    loop = []
    loop.append(loop)
    with pytest.raises(RecursionError):
        bias.from_json(loop)
    cycle = {}
    cycle["self"] = cycle
    with pytest.raises(RecursionError):
        bias.from_json({"a": cycle})
    assert vs.tool_writes(SERIAL) == []

    vs.set_tool_document(SERIAL, "bias", "[" * 100_000 + "]" * 100_000)
    with pytest.raises(RecursionError):
        bias.to_json()


def test_deep_nesting_is_safe_on_the_smallest_thread_stack(python_subprocess):
    # Python threads may run on as little as 32 KiB of stack: neither
    # converter may let the nesting decide how much of it they use. (What
    # the conversions build is freed by the main thread: Python's own
    # deallocation of deep structures needs more stack than that.)
    done = python_subprocess("""
        import threading
        import vantrel_core as vc, vantrel_sim as vs
        vs.reset()
        vs.add_camera("J", realtime=False)
        bias = vc.EvCameraService().open("J").get_tool_by_id("bias")
        deep = []
        for _ in range(100_000):
            deep = [deep]
        nearly = 1
        for _ in range(4_000):
            nearly = {"a": [nearly]}
        outcome, kept = [], []

        def convert(call):
            try:
                kept.append(call())
                outcome.append("converted")
            except RecursionError:
                outcome.append("RecursionError")

        def run():
            convert(lambda: bias.from_json(deep))
            vs.set_tool_document("J", "bias", "[" * 100_000 + "]" * 100_000)
            convert(bias.to_json)
            convert(lambda: bias.from_json(nearly))
            vs.set_tool_document("J", "bias", '{"a": [' * 4_000 + "1" + "]}" * 4_000)
            convert(bias.to_json)

        threading.stack_size(32 * 1024)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
        print(outcome)
        if outcome[2:] == ["converted", "converted"]:
            print(kept[-1] == nearly, '{"a":[' * 4_000 + "1" in vs.tool_writes("J")[-1]["json"])
    """)
    assert done.returncode == 0, done.stderr[-1000:]
    lines = done.stdout.splitlines()
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        # Instrumented frames are several times larger: 4,000 levels may be
        # refused there too, but never by crashing.
        assert lines[0].startswith("['RecursionError', 'RecursionError', "), lines
        return
    assert lines == ["['RecursionError', 'RecursionError', 'converted', 'converted']", "True True"]


def test_moderate_nesting_round_trips(bias):
    value = nested_list(500)
    assert json.loads(document_of(bias, value)) == value
    assert returned(bias, json.dumps(value)) == value


def test_set_tool_document_checks_its_arguments(bias):
    with pytest.raises(ValueError):
        vs.set_tool_document(SERIAL, "bias", "{not json")
    with pytest.raises(ValueError, match="number overflow"):
        vs.set_tool_document(SERIAL, "bias", "[1e999]")
    with pytest.raises(ValueError):
        vs.set_tool_document(SERIAL, "laser", "{}")
    with pytest.raises(ValueError):
        vs.set_tool_document("NO-SUCH-CAMERA", "bias", "{}")
    with pytest.raises(ValueError):
        vs.tool_writes("NO-SUCH-CAMERA")
