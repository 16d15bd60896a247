"""The messages a page may send to the viewer, and their checks.

Every message is a JSON object with a `type` and the fields that its entry
in MESSAGES lists (all others are refused), plus an optional `id` that the
answer repeats. `check` returns the message with its fields checked, or
raises BadMessage with a sentence for the page; nothing a page sends can
raise anything else.
"""

from __future__ import annotations

import json
import math
import re
from collections.abc import Callable
from typing import Any

from vantrel.viewer.frames import KINDS, POLARITIES, WINDOW_MAX_US, WINDOW_MIN_US

#: Longest text message a page may send, in bytes.
MAX_MESSAGE_BYTES = 64 * 1024
#: Longest tool, parameter or file name, and longest text value, in characters.
MAX_NAME = 64
MAX_TEXT = 1024
#: Most parameters in one apply.
MAX_VALUES = 64


class BadMessage(ValueError):
    """A message the viewer refuses; its text is meant for the page."""


Check = Callable[[Any, str], Any]


def _whole(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def whole(low: int, high: int) -> Check:
    def check(value: Any, name: str) -> int:
        if not _whole(value) or not low <= value <= high:
            raise BadMessage(f"{name} must be a whole number from {low} to {high}, got {_shown(value)}")
        return int(value)
    return check


def number(low: float, high: float) -> Check:
    def check(value: Any, name: str) -> float:
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not low <= value <= high:
            raise BadMessage(f"{name} must be a number from {low:g} to {high:g}, got {_shown(value)}")
        return float(value)
    return check


def choice(*options: str) -> Check:
    def check(value: Any, name: str) -> str:
        if value not in options or not isinstance(value, str):
            raise BadMessage(f"{name} must be one of {', '.join(options)}, got {_shown(value)}")
        return str(value)
    return check


def text(longest: int) -> Check:
    def check(value: Any, name: str) -> str:
        if not isinstance(value, str) or not 0 < len(value) <= longest:
            raise BadMessage(f"{name} must be a text of 1 to {longest} characters, got {_shown(value)}")
        try:
            value.encode("utf-8")
        except UnicodeEncodeError:
            raise BadMessage(f"{name} holds characters that have no UTF-8 form") from None
        return value
    return check


def scalar(value: Any, name: str) -> bool | int | float | str:
    """A parameter value: true/false, a number or a text; its type is judged
    later against the parameter's schema."""
    if isinstance(value, float) and not math.isfinite(value):
        raise BadMessage(f"{name} must be a finite number, got {_shown(value)}")
    if isinstance(value, str):
        return text(MAX_TEXT)(value, name) if value else value
    if isinstance(value, (bool, int, float)):
        return value
    raise BadMessage(f"{name} must be true, false, a number or a text, got {_shown(value)}")


def values(value: Any, name: str) -> dict[str, Any]:
    if not isinstance(value, dict) or not 0 < len(value) <= MAX_VALUES:
        raise BadMessage(f"{name} must be an object of 1 to {MAX_VALUES} parameter values, got {_shown(value)}")
    name_check = text(MAX_NAME)
    return {name_check(k, f"{name} key"): scalar(v, f"{name}.{k}") for k, v in value.items()}


FILE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]{0,99}")


def file_name(value: Any, name: str) -> str:
    """A plain file name in the viewer's output folder: no folders, nothing hidden."""
    if not isinstance(value, str) or not FILE_NAME.fullmatch(value):
        raise BadMessage(f"{name} must be a plain file name (letters, digits, '.', '_', '-'; "
                         f"at most 100, not starting with '.'), got {_shown(value)}")
    return value


#: Each message type: its fields, their checks, and whether each is required.
MESSAGES: dict[str, dict[str, tuple[Check, bool]]] = {
    # The picture this page wants; any subset of the fields.
    "settings": {
        "mode": (choice(*KINDS), False),
        "polarity": (choice(*POLARITIES), False),
        "window_us": (whole(WINDOW_MIN_US, WINDOW_MAX_US), False),
    },
    # The page has drawn a frame and can take another.
    "ready": {},
    "start": {},
    "stop": {},
    "set": {"tool": (text(MAX_NAME), True), "name": (text(MAX_NAME), True), "value": (scalar, True)},
    "apply": {"tool": (text(MAX_NAME), True), "values": (values, True)},
    "record": {"name": (file_name, False)},
    "record_stop": {},
    # Recordings only: position and pace of the playback.
    "seek": {"t_us": (whole(0, 2**63 - 1), True)},
    "speed": {"speed": (number(0.1, 100.0), True)},
}

ID = whole(0, 2**53)


def parse(message: str | bytes) -> dict[str, Any]:
    """The JSON object in a text message; BadMessage for anything else."""
    if isinstance(message, (bytes, bytearray)):
        raise BadMessage("the viewer takes JSON text messages only")
    if len(message.encode("utf-8", "surrogatepass")) > MAX_MESSAGE_BYTES:
        raise BadMessage(f"message longer than {MAX_MESSAGE_BYTES} bytes")
    try:
        doc = json.loads(message, parse_constant=_no_constant)
    except (ValueError, RecursionError) as error:
        raise BadMessage(f"not JSON: {error}") from None
    if not isinstance(doc, dict):
        raise BadMessage(f"a message must be a JSON object, got {type(doc).__name__}")
    return doc


def check(doc: dict[str, Any]) -> dict[str, Any]:
    """The message with its fields checked (and `type`, `id` if given)."""
    kind = doc.get("type")
    if not isinstance(kind, str) or kind not in MESSAGES:
        raise BadMessage(f"unknown message type {_shown(kind)} (known: {', '.join(MESSAGES)})")
    fields = MESSAGES[kind]
    unknown = sorted(set(doc) - set(fields) - {"type", "id"})
    if unknown:
        raise BadMessage(f"{kind}: unknown field {_shown(unknown[0])}")
    checked: dict[str, Any] = {"type": kind}
    if "id" in doc:
        checked["id"] = ID(doc["id"], "id")
    for name, (field_check, required) in fields.items():
        if name in doc:
            checked[name] = field_check(doc[name], f"{kind}.{name}")
        elif required:
            raise BadMessage(f"{kind}: {name} is missing")
    return checked


def _no_constant(name: str) -> None:
    raise ValueError(f"{name} is not a JSON number")


def _shown(value: Any) -> str:
    """A short, safe picture of a value for a message."""
    try:
        shown = json.dumps(value)
    except (TypeError, ValueError):
        shown = repr(value)
    return shown if len(shown) <= 60 else shown[:57] + "..."
