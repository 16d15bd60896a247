"""The Python converters' fuzz target (tests/fuzz/fuzz_json_convert.py)
replayed over its seed corpus and over every input that once found a fault,
without atheris."""

import importlib.util
import os
import sys
from pathlib import Path

import pytest

import simcam

sim = simcam.sim

FUZZ = Path(__file__).resolve().parents[1] / "fuzz"
INPUTS = sorted(p for folder in ("corpus", "regressions") for p in (FUZZ / folder / "json_convert").glob("*")
                if p.is_file() and not p.name.startswith("."))


@pytest.fixture(scope="module")
def target():
    spec = importlib.util.spec_from_file_location("fuzz_json_convert", FUZZ / "fuzz_json_convert.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_the_corpus_is_there():
    assert len(INPUTS) >= 5


@pytest.mark.parametrize("path", INPUTS, ids=[f"{p.parent.parent.name}/{p.name}" for p in INPUTS])
def test_json_convert_input(sim, target, path):
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(100_000)  # the target's model walks deep structures in Python
    try:
        target.one_input(path.read_bytes())
    finally:
        sys.setrecursionlimit(limit)
