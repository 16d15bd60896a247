"""The driver's layers as its includes show them: the camera engine above
the devices, the simulator a backend below it with no arrow into it."""

import importlib.util
import pathlib

ROOT = pathlib.Path(__file__).resolve().parents[2]


def load_checker():
    spec = importlib.util.spec_from_file_location("include_graph", ROOT / "scripts" / "include_graph.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_the_tree_has_no_forbidden_arrow():
    checker = load_checker()
    assert checker.violations(ROOT) == []
    edges = checker.graph(ROOT)
    assert "camera" in edges["sim"]          # the simulator implements the engine's backend interface
    assert "sim" not in edges["camera"]


def test_an_arrow_into_the_simulator_is_caught(tmp_path):
    checker = load_checker()
    (tmp_path / "driver" / "camera").mkdir(parents=True)
    (tmp_path / "driver" / "stream").mkdir(parents=True)
    (tmp_path / "driver" / "camera" / "x.cpp").write_text('#include "sim/device.hpp"\n#include "stream/batch.hpp"\n')
    (tmp_path / "driver" / "stream" / "y.hpp").write_text('  #  include "file/recorder.hpp"\n')
    found = checker.violations(tmp_path)
    assert len(found) == 2
    assert "driver/camera/x.cpp: includes sim/device.hpp: camera -> sim" in found[0]
    assert "stream -> file" in found[1]
