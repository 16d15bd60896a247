"""Every program in examples/ runs to its end on a fresh process and passes a
strict type check against the installed package."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from typecheck import run_mypy

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# Example, extra arguments (OUT is replaced by a folder), a line its output must hold.
RUNS = [
    ("polling.py", [], r"^polled [1-9]\d* events in "),
    ("callbacks.py", [], r"^both saw the same stream: True$"),
    ("callbacks.py", [], r"^statistics: [1-9]\d* events, [1-9]\d* bytes in one second$"),
    ("tools.py", [], r"^  roi\.set\('x', 700\): refused, x: value 700 is outside the range 0\.\.639$"),
    ("tools.py", [], r"^  restored: gain 1\.5, threshold_on 0, roi enabled True$"),
    ("recording.py", [], r"^exported \[\d+, \d+\] us: ([1-9]\d*) events \(interval read of the same span: \1\)"),
    ("testing_with_sim.py", [], r"^all 4 checks passed$"),
    ("replay.py", [], r"pixels and polarities identical: True; timestamps identical after a shift of -?\d+ us: True$"),
    ("demo.py", ["--out", "OUT", "--seconds", "1"], r"identical to what the callback received: True$"),
    ("first_script.py", [], r"^[1-9]\d{6} events saved, loaded and written; the recording holds them all: True$"),
    ("many_recordings.py", ["--out", "OUT", "--seconds", "0.5"], r"^1 worker: \d+\.\d\d s, 2 workers: \d+\.\d\d s "),
    ("many_recordings.py", [], r"^(\d+) windows \(expected \1\), the same with one worker and two: True$"),
    ("many_recordings.py", [], r"^wrote [1-9]\d* rows to \S+rates\.parquet and \S+frames\.parquet$"),
    ("windows_and_transforms.py", [], r"^every event in exactly one window: True; 0\.4 to 0\.6 s: [1-9]\d* events, "
                                      r"in order: True$"),
]


@pytest.fixture(scope="module")
def outputs(tmp_path_factory):
    """Runs each example once, in an empty working folder; returns name -> (status, output, leftovers)."""
    results = {}
    for name in dict.fromkeys(name for name, _, _ in RUNS):
        cwd = tmp_path_factory.mktemp(name.removesuffix(".py"))
        out = tmp_path_factory.mktemp("out")
        args = [str(out) if a == "OUT" else a for a in next(args for n, args, _ in RUNS if n == name)]
        done = subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=cwd,
                              capture_output=True, text=True, timeout=120)
        results[name] = (done.returncode, done.stdout + done.stderr, sorted(p.name for p in cwd.iterdir()))
    return results


def test_every_example_is_run():
    assert {p.name for p in EXAMPLES.glob("*.py")} == {name for name, _, _ in RUNS}


@pytest.mark.parametrize(("name", "line"), [(name, line) for name, _, line in RUNS])
def test_example_runs_and_says(outputs, name, line):
    status, output, leftovers = outputs[name]
    assert status == 0, output
    assert re.search(line, output, re.MULTILINE), output
    assert leftovers == [], f"{name} left files in the working folder"


def test_examples_pass_a_strict_type_check(tmp_path_factory):
    cache = tmp_path_factory.getbasetemp() / "mypy-cache"
    status, output, _ = run_mypy(sorted(EXAMPLES.glob("*.py")), cwd=tmp_path_factory.mktemp("mypy"),
                                 cache_dir=cache)
    assert status == 0, output
