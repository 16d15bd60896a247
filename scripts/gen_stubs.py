"""Generates the type stubs of vantrel_core and vantrel_sim from the built
modules and writes them as stub-only packages under stubs/; the stub of the
private vantrel._native goes beside the vantrel package's sources.

    python scripts/gen_stubs.py            rewrite the stubs from the installed modules
    python scripts/gen_stubs.py --check    exit 1 (with a diff) when a stub is stale

pybind11-stubgen reads the signatures pybind11 puts in the docstrings. Those
leave a few things vague or wrong for a type checker: a class registered after
the method that returns it is shown by its C++ name, results that may be None
are shown without it, arguments taken as `object` (text that may be bytes,
paths, event arrays, callables) say nothing. The FIXES below replace each of
these with the precise type; every fix must match exactly once, so a change
in the bindings makes this script fail instead of leaving a stale fix behind.
"""

from __future__ import annotations

import argparse
import difflib
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Each module and where its stub is kept, relative to the repository.
TARGETS = {
    "vantrel_core": Path("stubs/vantrel_core-stubs/__init__.pyi"),
    # The package vantrel_sim presents every function of its extension as it is.
    "vantrel_sim._sim": Path("stubs/vantrel_sim-stubs/__init__.pyi"),
    "vantrel._native": Path("python/vantrel/_native.pyi"),
}

STUBGEN_OPTIONS = [
    # The default of add_camera's interface_type is printed as a repr.
    "--enum-class-locations", "InterfaceType:vantrel_core",
    # Shown under its C++ name where ICamera was not registered yet; fixed below.
    "--ignore-invalid-expressions", r"vantrel::ICamera",
    "--exit-code",
]

EVENTS = "numpy.typing.NDArray[numpy.void]"
ANY_ARRAY = "numpy.typing.NDArray[typing.Any]"
TEXT = "str | bytes"
PATH = "str | bytes | os.PathLike[str] | os.PathLike[bytes]"

ANY = 0  # as a count below: one or more

# (old, new, how many times old must occur); applied in order.
FIXES: dict[str, list[tuple[str, str, int]]] = {
    "vantrel_core": [
        ("import collections.abc\n", "import builtins\nimport collections.abc\nimport datetime\n", 1),
        # Inside EvCameraService, `list` names its method list(), not the builtin.
        ("def list(self) -> list[CameraDescription]:", "def list(self) -> builtins.list[CameraDescription]:", 1),
        ("def list_cameras(self) -> list[CameraDescription]:",
         "def list_cameras(self) -> builtins.list[CameraDescription]:", 1),
        ("import numpy\n", "import numpy\nimport numpy.typing\n", 1),
        # A float has __int__ but the bindings refuse it; only __index__ converts.
        ("typing.SupportsInt | typing.SupportsIndex", "typing.SupportsIndex", ANY),
        ("def open(self, serial: str) -> ...:", "def open(self, serial: str) -> ICamera | None:", 1),
        ("def get_tool(self, type: ToolType) -> CameraTool:",
         "def get_tool(self, type: ToolType) -> CameraTool | None:", 1),
        ("def get_tool_by_id(self, tool_id: str) -> CameraTool:",
         "def get_tool_by_id(self, tool_id: str) -> CameraTool | None:", 1),
        ("def create_file_reader(filepath: str) -> EvFileReader:",
         "def create_file_reader(filepath: str) -> EvFileReader | None:", 1),
        ("def get_decode_statistics(self) -> typing.Any:",
         "def get_decode_statistics(self) -> tuple[int, int] | None:", 1),
        ("def local_time(self) -> typing.Any:", "def local_time(self) -> datetime.datetime | None:", 1),
        ("def get(self, name: str) -> typing.Any:", "def get(self, name: str) -> bool | int | float | str | None:", 1),
        ("def to_json(self) -> typing.Any:", "def to_json(self) -> dict[str, typing.Any] | None:", 1),
        ("def apply(self, values: dict) -> ParamResult:",
         "def apply(self, values: dict[str, typing.Any]) -> ParamResult:", 1),
        ("-> numpy.ndarray:", f"-> {EVENTS}:", 7),
        ("def register_event_batch_callback(self, callback: collections.abc.Callable) -> int:",
         "def register_event_batch_callback(self, callback: collections.abc.Callable[["
         f"{EVENTS}], object]) -> int:", 1),
        ("def register_event_batch_callback_nocopy(self, callback: collections.abc.Callable) -> int:",
         "def register_event_batch_callback_nocopy(self, callback: collections.abc.Callable[["
         f"{EVENTS}], object]) -> int:", 1),
        ("def register_trigger_in_callback(self, callback: collections.abc.Callable) -> int:",
         "def register_trigger_in_callback(self, callback: collections.abc.Callable[[EventTriggerIn], "
         "object]) -> int:", 2),
        ("def set_statistics_callback(self, callback: collections.abc.Callable) -> None:",
         "def set_statistics_callback(self, callback: collections.abc.Callable[[EvCameraStatisticInfo], "
         "object]) -> None:", 1),
    ],
    "vantrel_sim._sim": [
        ("import collections.abc\n", "import collections.abc\nimport numpy\nimport numpy.typing\nimport os\n", 1),
        ("typing.SupportsInt | typing.SupportsIndex", "typing.SupportsIndex", ANY),
        ("serial: typing.Any", f"serial: {TEXT}", 7),
        ("product: typing.Any", f"product: {TEXT}", 1),
        ("manufacturer: typing.Any", f"manufacturer: {TEXT}", 1),
        ("firmware_version: typing.Any", f"firmware_version: {TEXT}", 1),
        ("tools: typing.Any = None", "tools: collections.abc.Iterable[vantrel_core.ToolType] | None = None", 1),
        ("source: typing.Any = None", f"source: {PATH} | None = None", 1),
        ("path: typing.Any", f"path: {PATH}", 2),
        ("events: typing.Any", f"events: {ANY_ARRAY}", 2),
        ("triggers: typing.Any = None",
         "triggers: collections.abc.Iterable[tuple[int, int, int]] | None = None", 1),
        ("compression: typing.Any = None", "compression: str | None = None", 1),
        ("def set_recording_compression(name: typing.Any)", "def set_recording_compression(name: str)", 1),
        ("def cameras() -> list:", "def cameras() -> list[str | bytes]:", 1),
        (") -> dict:", ") -> dict[str, dict[str, int]]:", 1),
        ("def tool_writes(serial: str) -> list:", "def tool_writes(serial: str) -> list[dict[str, typing.Any]]:", 1),
        ("def _bench_call(fn: collections.abc.Callable,", "def _bench_call(fn: collections.abc.Callable[[None], object],",
         1),
    ],
    "vantrel._native": [
        ("-> tuple:", "-> tuple[list[tuple[int, float, str]], int]:", 1),
        ("def recording_layout(path: str) -> dict:", "def recording_layout(path: str) -> dict[str, typing.Any]:", 1),
    ],
}


def run_stubgen(out_dir: Path) -> None:
    cmd = [sys.executable, "-m", "pybind11_stubgen", "-o", str(out_dir), *STUBGEN_OPTIONS, *TARGETS]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"pybind11-stubgen failed:\n{done.stdout}{done.stderr}")


def apply_fixes(module: str, text: str) -> str:
    for old, new, times in FIXES[module]:
        found = text.count(old)
        if found != times and not (times == ANY and found > 0):
            raise SystemExit(f"{module}: expected {times or 'some'} occurrence(s) of {old!r}, found {found}; "
                             "the bindings changed: update FIXES in scripts/gen_stubs.py")
        text = text.replace(old, new)
    return text


def generate() -> dict[Path, str]:
    """Returns the stub files to write, relative to the repository, with their text."""
    with tempfile.TemporaryDirectory() as tmp:
        run_stubgen(Path(tmp))
        return {
            target: apply_fixes(module, (Path(tmp) / (module.replace(".", "/") + ".pyi")).read_text())
            for module, target in TARGETS.items()
        }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare with stubs/ instead of writing")
    args = parser.parse_args(argv)
    stale = False
    for rel, text in generate().items():
        target = ROOT / rel
        current = target.read_text() if target.exists() else ""
        if current == text:
            continue
        if args.check:
            stale = True
            sys.stdout.writelines(difflib.unified_diff(
                current.splitlines(keepends=True), text.splitlines(keepends=True),
                f"{rel} (checked in)", f"{rel} (generated)"))
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(text)
            print(f"wrote {rel}")
    if stale:
        print("\nstubs are stale: run python scripts/gen_stubs.py and commit the result", file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    raise SystemExit(main())
