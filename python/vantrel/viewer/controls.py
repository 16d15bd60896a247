"""A camera's tools as the page sees them: each tool's parameters described
from its schema (so that the page builds its controls from them, and a new
parameter needs no change of the page), values checked against their
parameter's type before the driver sees them, and the driver's answers in
plain words.
"""

from __future__ import annotations

from typing import Any

import vantrel_core as vc
from vantrel.viewer.protocol import BadMessage

INT32 = (-(2**31), 2**31 - 1)

_TYPE_NAMES = {
    vc.ParamType.INT: "int",
    vc.ParamType.FLOAT: "float",
    vc.ParamType.BOOL: "bool",
    vc.ParamType.STRING: "string",
    vc.ParamType.ENUM: "enum",
}


def _text(read: Any) -> str:
    """A text the driver gives, or a placeholder when it is not UTF-8."""
    try:
        return str(read())
    except UnicodeDecodeError:
        return "(not readable text)"


def describe_param(d: vc.ParamDescriptor) -> dict[str, Any]:
    """One parameter for the page: name, type, unit, description and its
    constraint (min, max, default, options)."""
    entry: dict[str, Any] = {
        "name": _text(lambda: d.name),
        "type": _TYPE_NAMES.get(d.type, "string"),
        "unit": _text(lambda: d.unit),
        "description": _text(lambda: d.description),
    }
    c = d.constraint
    if (i := c.get_int_range()) is not None:
        entry.update(min=i.min, max=i.max, default=i.default_value)
    elif (f := c.get_float_range()) is not None:
        entry.update(min=f.min, max=f.max, default=f.default_value)
    elif (b := c.get_bool_def()) is not None:
        entry["default"] = b.default_value
    elif (e := c.get_enum_def()) is not None:
        entry.update(options=list(e.options), default=e.default_value)
    elif (s := c.get_string_def()) is not None:
        entry["default"] = s.default_value
    return entry


def describe_tools(camera: vc.ICamera) -> list[dict[str, Any]]:
    """Every tool of the camera, in the camera's order, with its parameters and
    their current values."""
    tools = []
    for info in camera.get_tools_info():
        tool_id = _text(lambda: info.id)
        tool = camera.get_tool_by_id(tool_id)
        if tool is None:
            continue
        tools.append({
            "id": tool_id,
            "name": _text(lambda: info.display_name),
            "description": _text(lambda: info.description),
            "params": [describe_param(d) for d in tool.schema()],
            "values": tool_values(tool),
        })
    return tools


def tool_values(tool: vc.CameraTool) -> dict[str, Any]:
    """The tool's current values as the driver reports them."""
    values: dict[str, Any] = {}
    for d in tool.schema():
        try:
            values[d.name] = tool.get(d.name)
        except UnicodeDecodeError:  # a name or text value that is not UTF-8
            continue
    return values


def checked_value(tool: vc.CameraTool, tool_id: str, name: str, value: Any) -> Any:
    """`value` for parameter `name` when its type fits the parameter's, so that
    the driver judges it (ranges, options, rules over several parameters);
    BadMessage for a value of another type, which the binding would otherwise
    send as text or refuse with an exception. An unknown name passes: the
    driver refuses it in its own words."""
    kinds = {d.name: d.type for d in tool.schema()}
    kind = kinds.get(name)
    where = f"{tool_id}.{name}"
    is_int = isinstance(value, int) and not isinstance(value, bool)
    if kind == vc.ParamType.INT or (kind is None and is_int):
        if not is_int:
            raise BadMessage(f"{where} takes a whole number, got {value!r}")
        if not INT32[0] <= value <= INT32[1]:
            raise BadMessage(f"{where}: {value} does not fit a 32-bit integer")
    elif kind == vc.ParamType.FLOAT:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise BadMessage(f"{where} takes a number, got {value!r}")
        if is_int and not INT32[0] <= value <= INT32[1]:
            value = float(value)
    elif kind == vc.ParamType.BOOL:
        if not isinstance(value, bool):
            raise BadMessage(f"{where} takes true or false, got {value!r}")
    elif kind in (vc.ParamType.STRING, vc.ParamType.ENUM):
        if not isinstance(value, str):
            raise BadMessage(f"{where} takes a text, got {value!r}")
    return value


def refused_param(result: vc.ParamResult) -> str:
    """The parameter that a refused write names ('' for none)."""
    return _text(lambda: result.error.param)


def result_words(result: vc.ParamResult, tool_id: str) -> str:
    """The driver's answer to a write, as a sentence."""
    if result.ok:
        return f"{tool_id}: accepted"
    param = refused_param(result)
    message = _text(lambda: result.error.message)
    what = f"{tool_id}.{param}" if param else tool_id
    return f"{what} refused by the camera: {message or 'no reason given'}"
