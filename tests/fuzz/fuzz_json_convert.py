"""The Python converters of CameraTool.from_json and to_json, fuzzed with
atheris: structures of every kind of value (odd numbers, lone surrogates,
bytes keys, sets, objects with a __str__, cycles, nesting up to past the
limit) go through from_json, and documents come back through to_json; a
model of the conversion rules says what must come out.

    python tests/fuzz/fuzz_json_convert.py [libFuzzer options] [corpus dirs]

Without atheris, `one_input(data)` is what tests/python replays over the
committed corpus and regressions."""

import json
import json.scanner
import math
import sys

import vantrel_core as vc
import vantrel_sim as vs

SERIAL = "FUZZ-JSON"
LIMIT = 10_000  # containers nested deeper than this raise RecursionError
INT64 = (-(2**63), 2**63 - 1)
CAST_ERROR = "Unable to cast Python instance of type {} to C++ type '?'"


class Provider:
    """Values taken from the front of the input; zeros once it is used up."""

    def __init__(self, data: bytes):
        self.data, self.at = data, 0

    def byte(self) -> int:
        self.at += 1
        return self.data[self.at - 1] if self.at <= len(self.data) else 0

    def number(self, n_bytes: int) -> int:
        return int.from_bytes(bytes(self.byte() for _ in range(n_bytes)), "little")

    def below(self, n: int) -> int:
        return self.number(2) % n if n > 1 else 0

    def text(self) -> str:
        pieces = ["a", "b", "é", "\u20ac", "\U0001f600", "\ud800", "\x00", '"', "\\", "\n", "key"]
        return "".join(pieces[self.below(len(pieces))] for _ in range(self.below(4)))


class Shouty:
    def __str__(self):
        return "shouty"


def scalar(p: Provider):
    kind = p.below(14)
    if kind == 0:
        return None
    if kind == 1:
        return bool(p.byte() & 1)
    if kind == 2:
        return p.number(1) - 128
    if kind == 3:
        return [2**63 - 1, -(2**63), 2**63, -(2**63) - 1, 2**64, 10**30][p.below(6)]
    if kind == 4:
        return p.number(8) - 2**63
    if kind == 5:
        return [0.0, -0.0, 1.5, 1e300, -2.5e-310, math.inf, -math.inf, math.nan][p.below(8)]
    if kind in (6, 7):
        return p.text()
    if kind == 8:
        return bytes([p.byte(), p.byte()])
    if kind == 9:
        return {1, 2}
    if kind == 10:
        return Shouty()
    if kind == 11:
        return vc.ToolType.TOOL_ROI
    return p.number(4) - 2**31


def structure(p: Provider, depth: int = 0):
    kind = p.below(8)
    if depth >= 5 or kind < 4:
        return scalar(p)
    items = [structure(p, depth + 1) for _ in range(p.below(4))]
    if kind == 4:
        return items
    if kind == 5:
        return tuple(items)
    keys = [[p.text(), p.text().encode("utf-8", "surrogatepass"), b"\xff" * p.below(2), p.number(1)][p.below(4)]
            for _ in items]
    return dict(zip(keys, items))


def chain(p: Provider):
    """A structure nested `depth` levels deep around a small one."""
    # Mostly shallow; now and then right around the limit.
    depth = LIMIT - 100 + p.below(200) if p.byte() % 8 == 0 else p.below(100)
    value = structure(p)
    for _ in range(depth):
        value = [value] if p.byte() & 1 else {"k": value}
    return value


class Refused(Exception):
    """The conversion must raise this kind of error, with this text."""

    def __init__(self, kind, text=None):
        super().__init__(kind, text)
        self.kind, self.text = kind, text


def model(obj):
    """What python_to_json makes of obj, as the value json.loads gives back
    for the driver's compact text; Refused for what it must raise. Walks
    in the converter's order (depth first, a dict value before its key),
    without recursion."""
    def leaf(o):
        if o is None or type(o) is bool:
            return o
        if isinstance(o, int):
            if not INT64[0] <= o <= INT64[1]:
                raise Refused(RuntimeError, CAST_ERROR.format(type(o)))
            return int(o)
        if isinstance(o, float):
            return None if math.isnan(o) or math.isinf(o) else float(o)  # printed as null
        text = o if isinstance(o, str) else str(o)
        try:
            text.encode("utf-8")
        except UnicodeEncodeError:
            raise Refused(RuntimeError, CAST_ERROR.format(type(o) if isinstance(o, str) else str))
        return str(text)

    def key_text(k):
        if isinstance(k, str):
            try:
                return k.encode("utf-8").decode("utf-8")
            except UnicodeEncodeError:
                raise Refused(RuntimeError, CAST_ERROR.format(type(k)))
        if isinstance(k, (bytes, bytearray)):
            return bytes(k).decode("utf-8", "replace")  # the journal replaces what is not UTF-8
        raise Refused(RuntimeError, CAST_ERROR.format(type(k)))

    def open_(o, depth):
        # Entering a container that is being converted repeats everything
        # visited since, without end: the converter reaches its limit.
        if depth >= LIMIT or id(o) in converting:
            raise Refused(RecursionError)
        converting.add(id(o))
        if isinstance(o, dict):
            return {"src": list(o.items()), "i": 0, "out": {}, "dict": True, "src_id": id(o)}
        return {"src": list(o), "i": 0, "out": [], "dict": False, "src_id": id(o)}

    if not isinstance(obj, (list, tuple, dict)):
        return leaf(obj)
    stack, converting = [], set()
    stack.append(open_(obj, 0))
    while True:
        top = stack[-1]
        if top["i"] == len(top["src"]):
            converting.discard(top["src_id"])
            done = stack.pop()["out"]
            if not stack:
                return done
            parent = stack[-1]
            if parent["dict"]:
                parent["out"][key_text(parent["key"])] = done
            else:
                parent["out"].append(done)
            continue
        item = top["src"][top["i"]]
        top["i"] += 1
        if top["dict"]:
            top["key"], item = item
        if isinstance(item, (list, tuple, dict)):
            stack.append(open_(item, len(stack)))
            continue
        value = leaf(item)
        if top["dict"]:
            top["out"][key_text(top["key"])] = value
        else:
            top["out"].append(value)


_runs = [0]


def bias_tool():
    # A camera's tools keep a journal of every write: plug a fresh camera in
    # now and then, so that reading the journal stays cheap.
    _runs[0] += 1
    if SERIAL in vs.cameras() and _runs[0] % 100 == 0:
        vs.remove_camera(SERIAL)
    if SERIAL not in vs.cameras():
        vs.add_camera(SERIAL, realtime=False, width=64, height=32)
    return vc.EvCameraService().open(SERIAL).get_tool_by_id("bias")


# The structures here nest deeper than Python's own recursive helpers (==,
# repr, the json module's C parts) go: these walk with a stack of their own.

def decode(text):
    decoder = json.JSONDecoder()
    decoder.scan_once = json.scanner.py_make_scanner(decoder)  # pure Python: no native recursion
    return decoder.decode(text)


def encode(value):
    out, stack = [], [value]
    while stack:
        v = stack.pop()
        if isinstance(v, _Mark):
            out.append(str(v))
        elif isinstance(v, list):
            stack.append(_Mark("]"))
            for i, x in enumerate(reversed(v)):
                stack.append(x)
                if i < len(v) - 1:
                    stack.append(_Mark(","))
            out.append("[")
        elif isinstance(v, dict):
            stack.append(_Mark("}"))
            items = list(v.items())
            for i, (k, x) in enumerate(reversed(items)):
                stack.extend([x, _Mark(json.dumps(k) + ":")])
                if i < len(items) - 1:
                    stack.append(_Mark(","))
            out.append("{")
        else:
            out.append(json.dumps(v))
    return "".join(out)


class _Mark(str):
    """Text that encode() copies as it is."""


def equal(a, b):
    stack = [(a, b)]
    while stack:
        x, y = stack.pop()
        if type(x) is not type(y):
            return False
        if isinstance(x, list):
            if len(x) != len(y):
                return False
            stack.extend(zip(x, y))
        elif isinstance(x, dict):
            if x.keys() != y.keys():
                return False
            stack.extend((x[k], y[k]) for k in x)
        elif x != y:
            return False
    return True


def depth_of(value):
    deepest, stack = 0, [(value, 1)]
    while stack:
        v, d = stack.pop()
        if isinstance(v, (list, dict)):
            deepest = max(deepest, d)
            stack.extend((x, d + 1) for x in (v.values() if isinstance(v, dict) else v))
    return deepest


def check_from_json(tool, obj):
    try:
        expected = model(obj)
    except Refused as refused:
        expected = refused
    before = tool.to_json()
    writes = len(vs.tool_writes(SERIAL))
    try:
        result = tool.from_json(obj)
    except (RuntimeError, RecursionError) as error:
        assert isinstance(expected, Refused), f"raised {error!r}, expected a conversion"
        assert type(error) is expected.kind, (error, expected.kind)
        if expected.text is not None:
            assert str(error).startswith(expected.text), (str(error), expected.text)
        assert len(vs.tool_writes(SERIAL)) == writes, "the driver was called"
        assert tool.to_json() == before
        return
    assert not isinstance(expected, Refused), f"converted, expected {expected.kind.__name__}"
    assert equal(decode(vs.tool_writes(SERIAL)[-1]["json"]), expected), "the driver received another document"
    if not result.ok:
        assert tool.to_json() == before, "a refused from_json changed values"


def check_to_json(tool, value):
    try:
        vs.set_tool_document(SERIAL, "bias", encode(value))
    except ValueError:
        return  # lone surrogates: not JSON to the driver's parser
    try:
        got = tool.to_json()
    except RecursionError:
        assert depth_of(value) > LIMIT, "RecursionError below the limit"
        return
    assert depth_of(value) <= LIMIT, "converted a document past the limit"
    assert equal(got, value), "to_json gave another structure"


def plain(value):
    """value as a JSON document holds it: lists, str keys, finite numbers
    within 64 bits (signed or unsigned)."""
    root = [value]
    stack = [(root, 0)]
    while stack:
        holder, key = stack.pop()
        v = holder[key]
        if isinstance(v, float) and not math.isfinite(v):
            holder[key] = 0.5
        elif isinstance(v, (bytes, set, Shouty, vc.ToolType)):
            holder[key] = str(v)
        elif isinstance(v, int) and not isinstance(v, bool) and not INT64[0] <= v <= 2**64 - 1:
            holder[key] = 7
        elif isinstance(v, (list, tuple)):
            holder[key] = list(v)
            stack.extend((holder[key], i) for i in range(len(v)))
        elif isinstance(v, dict):
            holder[key] = {str(k): x for k, x in v.items()}
            stack.extend((holder[key], k) for k in holder[key])
    return root[0]


def one_input(data: bytes):
    p = Provider(data)
    tool = bias_tool()
    mode = p.byte()
    if mode % 4 == 3:
        obj = [structure(p)]
        obj.append(obj)  # contains itself
    elif mode % 4 == 2:
        obj = chain(p)
    else:
        obj = structure(p)
    check_from_json(tool, obj)
    if mode & 4:
        check_to_json(tool, plain(obj) if mode % 4 != 3 else [1])


def main():
    import atheris

    atheris.instrument_all()  # coverage of this module's model and generator guides the search
    atheris.Setup(sys.argv, lambda data: one_input(bytes(data)))
    atheris.Fuzz()


if __name__ == "__main__":
    sys.setrecursionlimit(100_000)  # the model and the generator nest deep; the converters must not care
    main()
