"""Tools: a camera's settings, grouped by tool, each with a schema the driver
checks every write against.

Lists the tools and their parameters, writes single values and several at
once, shows a refused write, moves settings as dictionaries, and saves and
restores the whole configuration as a file.

    python examples/tools.py
"""

from __future__ import annotations

import os
import tempfile

import vantrel_core as vc


def constraint_text(descriptor: vc.ParamDescriptor) -> str:
    """One of five constraint kinds is set; the accessors of the others give None."""
    c = descriptor.constraint
    if (r := c.get_int_range()) is not None:
        return f"{r.min}..{r.max}, default {r.default_value}"
    if (f := c.get_float_range()) is not None:
        return f"{f.min:g}..{f.max:g}, default {f.default_value:g}"
    if (e := c.get_enum_def()) is not None:
        return f"one of {', '.join(e.options)}, default {e.default_value!r}"
    if (b := c.get_bool_def()) is not None:
        return f"default {b.default_value}"
    if (s := c.get_string_def()) is not None:
        return f"text, default {s.default_value!r}"
    return "unconstrained"


def show_result(call: str, result: vc.ParamResult) -> None:
    if result.ok:
        print(f"  {call}: ok")
    else:
        print(f"  {call}: refused, {result.error.param}: {result.error.message}")


def main() -> int:
    camera = vc.EvCameraService().open("VTR-SIM-0001")
    if camera is None:
        print("cannot open the default camera")
        return 1

    print("Tools and their parameters:")
    for info in camera.get_tools_info():
        tool = camera.get_tool(info.type)
        if tool is None:
            continue
        print(f"  {info.id} ({info.display_name}): {info.description}")
        for d in tool.schema():
            unit = f" [{d.unit}]" if d.unit else ""
            print(f"    {d.name}: {vc.param_type_to_string(d.type)}{unit}, {constraint_text(d)}")

    bias = camera.get_tool(vc.ToolType.TOOL_BIAS)
    roi = camera.get_tool_by_id("roi")
    if bias is None or roi is None:
        print("the camera lacks the bias or roi tool")
        return 1

    print("Writes:")
    show_result("bias.set('gain', 1.5)", bias.set("gain", 1.5))
    show_result("bias.set('threshold_on', 2.5)", bias.set("threshold_on", 2.5))  # INT takes no float
    show_result("roi.set('x', 700)", roi.set("x", 700))  # outside the sensor
    # Each of these alone would put the window off the sensor; together they fit.
    show_result("roi.apply(window)", roi.apply({"enabled": True, "x": 400, "width": 200, "y": 100, "height": 100}))
    print(f"  roi.get('x') = {roi.get('x')}, bias.get('gain') = {bias.get('gain')}")

    print("As dictionaries:")
    saved = roi.to_json()
    print(f"  roi.to_json() = {saved}")
    show_result("roi.from_json({'enabled': False})", roi.from_json({"enabled": False}))
    show_result("roi.from_json(saved)", roi.from_json(saved))
    print(f"  roi enabled again: {roi.get('enabled')}")

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "camera.json")
        print("Configuration file:")
        print(f"  export_camera_config -> {camera.export_camera_config(path)}, {os.path.getsize(path)} bytes")
        bias.apply({"gain": 1.0, "threshold_on": -10})
        roi.set("enabled", False)
        print(f"  changed: gain {bias.get('gain')}, threshold_on {bias.get('threshold_on')}, "
              f"roi enabled {roi.get('enabled')}")
        print(f"  import_camera_config -> {camera.import_camera_config(path)}")
        print(f"  restored: gain {bias.get('gain')}, threshold_on {bias.get('threshold_on')}, "
              f"roi enabled {roi.get('enabled')}")
        # A file that is not a configuration is refused whole (the log says why).
        with open(path, "w") as broken:
            broken.write('{"format": "something else"}')
        print(f"  import of a foreign file -> {camera.import_camera_config(path)}")
    camera.close()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
