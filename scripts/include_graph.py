"""The driver's include graph by folder, and the arrows it must not have.

    python scripts/include_graph.py [root]

prints one line per folder of driver/ ("camera -> common file log ...") and
every include that breaks a rule below, and exits 1 if there is one. The
Python tests run the same check.
"""

import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)

# (from folder, to folder, why). "vantrel/sim" is the simulator's public
# header folder; "sim" its implementation.
FORBIDDEN = [
    ("camera", "sim", "the engine knows devices only through camera/device_backend.hpp"),
    ("camera", "vantrel/sim", "the engine knows devices only through camera/device_backend.hpp"),
    ("stream", "sim", "batching and delivery know nothing of devices"),
    ("stream", "camera", "stream is below the engine"),
    ("stream", "file", "recording is the engine's business (camera/recorder_slot.hpp)"),
    ("tools", "sim", "test machinery observes the tools through tools/tool_write_observer.hpp"),
    ("tools", "vantrel/sim", "test machinery observes the tools through tools/tool_write_observer.hpp"),
    ("tools", "camera", "the tools are below the engine"),
    ("log", "sim", "fault injection reaches the logger through common/fault_hook.hpp"),
    ("log", "faults", "fault injection reaches the logger through common/fault_hook.hpp"),
    ("file", "sim", "the file format knows nothing of the simulator"),
    ("file", "vantrel/sim", "the file format knows nothing of the simulator"),
    ("file", "camera", "the file format is below the engine"),
    ("common", "sim", "common is the bottom layer"),
    ("io", "sim", "io is the bottom layer"),
]


def target_folder(include: str) -> str | None:
    parts = include.split("/")
    if len(parts) < 2:
        return None
    if parts[0] == "vantrel" and len(parts) > 2:
        return "/".join(parts[:2])
    return parts[0]


def includes(root: pathlib.Path):
    """(folder, file, included path) for every quoted include under driver/."""
    driver = root / "driver"
    for path in sorted(driver.rglob("*")):
        if path.suffix not in (".cpp", ".hpp", ".h") or not path.is_file():
            continue
        folder = path.relative_to(driver).parts[0]
        for include in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            yield folder, path.relative_to(root), include


def graph(root: pathlib.Path) -> dict[str, set[str]]:
    edges: dict[str, set[str]] = {}
    for folder, _, include in includes(root):
        target = target_folder(include)
        edges.setdefault(folder, set())
        if target and target != folder:
            edges[folder].add(target)
    return edges


def violations(root: pathlib.Path) -> list[str]:
    found = []
    for folder, path, include in includes(root):
        target = target_folder(include)
        for source, forbidden, why in FORBIDDEN:
            if folder == source and target == forbidden:
                found.append(f"{path}: includes {include}: {source} -> {forbidden} ({why})")
    return found


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1])
    for folder, targets in sorted(graph(root).items()):
        print(f"{folder} -> {' '.join(sorted(targets))}")
    bad = violations(root)
    for line in bad:
        print(line, file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
