"""Camera configuration files: export then import is an identity; every
failing import says why in the log and leaves the camera as it was."""

import json

import pytest

import vantrel_core as vc
import vantrel_sim as vs

import simcam  # noqa: E402

sim = simcam.sim


def state(camera):
    return {info.id: camera.get_tool(info.type).to_json() for info in camera.get_tools_info()}


def configure(camera):
    tools = {t: camera.get_tool_by_id(t) for t in ("bias", "sync", "roi", "anti_flicker", "trigger_in")}
    assert tools["bias"].apply({"threshold_on": -17, "threshold_off": 33, "gain": 0.1 * 7})
    assert tools["sync"].apply({"mode": "secondary", "offset_us": 1234, "primary_serial": "P-1"})
    assert tools["roi"].apply({"enabled": True, "x": 3, "y": 5, "width": 40, "height": 20})
    assert tools["anti_flicker"].apply({"enabled": True, "low_frequency_hz": 45, "high_frequency_hz": 65})
    assert tools["trigger_in"].apply({"frequency_hz": 1 / 3})


def test_export_then_import_is_an_identity(sim, tmp_path):
    camera = simcam.open_camera("CFG-A")
    configure(camera)
    configured = state(camera)
    path = tmp_path / "camera.json"
    assert camera.export_camera_config(str(path))

    document = json.loads(path.read_text())
    assert (document["format"], document["version"]) == ("vantrel-camera-config", 1)
    assert document["camera"]["serial"] == "CFG-A"
    assert list(document["tools"]) == ["bias", "trigger_in", "sync", "anti_flicker", "event_trail_filter",
                                       "event_rate_control", "roi"]
    assert document["tools"]["roi"] == {"enabled": True, "x": 3, "y": 5, "width": 40, "height": 20}

    # Onto another camera of the same size: the same settings, bit for bit.
    other = simcam.open_camera("CFG-B")
    assert other.import_camera_config(str(path))
    assert state(other) == configured
    assert other.get_tool_by_id("trigger_in").get("frequency_hz") == camera.get_tool_by_id("trigger_in").get(
        "frequency_hz")
    # And back onto the first one after changing it.
    assert camera.get_tool_by_id("roi").set("enabled", False)
    assert camera.import_camera_config(str(path))
    assert state(camera) == configured
    # Imports do not pass through CameraTool writes.
    assert vs.tool_writes("CFG-B") == []


def good_document(tmp_path):
    camera = simcam.open_camera("CFG-SOURCE")
    path = tmp_path / "good.json"
    assert camera.export_camera_config(str(path))
    return json.loads(path.read_text())


def edited(document, edit):
    copy = json.loads(json.dumps(document))
    edit(copy)
    return json.dumps(copy)


def set_roi_x(doc, value):
    doc["tools"]["bias"]["gain"] = 2.0  # a valid change that must not be applied either
    doc["tools"]["roi"]["x"] = value


CASES = [
    ("missing", None, "no such file"),
    ("directory", "", "is a directory, not a file"),
    ("malformed", '{"format": "vantrel-camera-config", ', "malformed JSON: [json.exception.parse_error.101]"),
    ("empty", "", "malformed JSON"),
    ("array", "[]", "expected a JSON object at the top, got array"),
    ("no format", lambda d: d.pop("format"), 'not a camera configuration: no "format" member'),
    ("other format", lambda d: d.update(format="x"), 'not a camera configuration: format is "x"'),
    ("new version", lambda d: d.update(version=2), "unknown version 2 (this driver reads version 1)"),
    ("no tools", lambda d: d.pop("tools"), 'no "tools" member'),
    ("unknown tool", lambda d: d["tools"].update(laser={}), "unknown tool 'laser' (this camera has: bias,"),
    ("unknown member", lambda d: d.update(extra=1), "unknown member 'extra' at the top"),
    ("bad value", lambda d: set_roi_x(d, 1000), "tool 'roi', parameter 'x': value 1000 is outside the range 0..63"),
    ("off the sensor", lambda d: set_roi_x(d, 10),
     "tool 'roi', parameter 'x': window columns 10..73 reach outside the sensor (width 64)"),
    ("wrong type", lambda d: d["tools"]["sync"].update(mode=1),
     "tool 'sync', parameter 'mode': expects enum, got JSON integer"),
    ("unknown parameter", lambda d: d["tools"]["bias"].update(boost=1),
     "tool 'bias', parameter 'boost': no parameter of this name in tool 'bias'"),
    # Printing so deep a value in the message used to overflow the stack.
    ("deep format", '{"format": ' + "[" * 100_000 + "]" * 100_000 + "}",
     "the document is nested deeper than 64 levels"),
    # The JSON library reports a number too large for a double as another
    # kind of error than a syntax error; it used to escape as RuntimeError.
    ("number overflow", '{"format": 1e999}', "malformed JSON: [json.exception.out_of_range.406]"),
    ("deep tool value", lambda d: d["tools"]["bias"].update(gain=json.loads("[" * 65 + "]" * 65)),
     "the document is nested deeper than 64 levels"),
]


@pytest.mark.parametrize("name, content, reason", CASES, ids=[c[0] for c in CASES])
def test_a_bad_file_changes_nothing_and_says_why(sim, tmp_path, log_file, name, content, reason):
    document = good_document(tmp_path)
    camera = simcam.open_camera("CFG")
    assert camera.get_tool_by_id("bias").set("threshold_on", 9)
    before = state(camera)
    path = tmp_path / "case.json"
    if name == "directory":
        path = tmp_path
    elif callable(content):
        path.write_text(edited(document, content))
    elif content is not None:
        path.write_text(content)
    assert camera.import_camera_config(str(path)) is False
    assert state(camera) == before
    lines = [line for line in log_file.read_text().splitlines() if "not imported" in line]
    assert len(lines) == 1
    assert "camera CFG: configuration" in lines[0] and "nothing changed: " + reason in lines[0]
    assert " WARNING " in lines[0]


def test_a_partial_file_changes_only_what_it_names(sim, tmp_path):
    camera = simcam.open_camera("CFG")
    before = state(camera)
    path = tmp_path / "partial.json"
    path.write_text(json.dumps({"format": "vantrel-camera-config", "version": 1,
                                "tools": {"bias": {"gain": 2}}}))
    assert camera.import_camera_config(str(path))
    after = state(camera)
    assert after["bias"] == dict(before["bias"], gain=2.0)
    assert {k: v for k, v in after.items() if k != "bias"} == {k: v for k, v in before.items() if k != "bias"}


def test_a_camera_without_a_tool_refuses_a_file_naming_it(sim, tmp_path):
    full = simcam.open_camera("CFG-FULL")
    path = tmp_path / "full.json"
    assert full.export_camera_config(str(path))
    small = simcam.open_camera("CFG-SMALL", tools=[vc.ToolType.TOOL_BIAS])
    assert not small.import_camera_config(str(path))
    one = tmp_path / "one.json"
    assert small.export_camera_config(str(one))
    assert list(json.loads(one.read_text())["tools"]) == ["bias"]
    assert full.import_camera_config(str(one))


def test_a_closed_camera_refuses_both(sim, tmp_path, log_file):
    camera = simcam.open_camera("CFG")
    path = tmp_path / "c.json"
    assert camera.export_camera_config(str(path))
    camera.close()
    assert camera.export_camera_config(str(tmp_path / "d.json")) is False
    assert camera.import_camera_config(str(path)) is False
    assert not (tmp_path / "d.json").exists()
    text = log_file.read_text()
    assert "cannot export the configuration" in text and "the camera is closed" in text
    assert "cannot import the configuration" in text


def test_a_failed_export_leaves_an_existing_file(sim, tmp_path, log_file):
    camera = simcam.open_camera("CFG")
    assert not camera.export_camera_config(str(tmp_path / "missing-folder" / "c.json"))
    assert "No such file or directory" in log_file.read_text()
    assert not camera.export_camera_config(str(tmp_path))
    assert [p.name for p in tmp_path.iterdir()] == ["driver.log"]
    vs.inject_fault("ICamera::exportCameraConfig", "fail")
    assert not camera.export_camera_config(str(tmp_path / "e.json"))
    vs.inject_fault("ICamera::importCameraConfig", "runtime_error", message="disk on fire")
    with pytest.raises(RuntimeError, match="disk on fire"):
        camera.import_camera_config(str(tmp_path / "e.json"))
