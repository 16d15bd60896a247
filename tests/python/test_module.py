"""Import behaviour of vantrel_core: docstring, the version gate, re-import,
sub-interpreters, and what the module namespace holds."""

import glob
import importlib
import os
import sys

import pytest

import vantrel_core as vc


def test_docstring_and_no_version_attribute():
    assert vc.__doc__ == "Vantrel Event Camera Python SDK"
    assert not hasattr(vc, "__version__")


def test_reimport_after_removal_returns_the_same_module():
    first = sys.modules.pop("vantrel_core")
    try:
        again = importlib.import_module("vantrel_core")
        assert again is first
        assert again.ToolType is first.ToolType
    finally:
        sys.modules["vantrel_core"] = first


def test_import_does_not_load_numpy(python_subprocess):
    result = python_subprocess("""
        import sys, vantrel_core
        print("numpy" in sys.modules)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"


def test_sub_interpreter_is_refused():
    _interpreters = pytest.importorskip("_interpreters")
    interp = _interpreters.create()
    try:
        error = _interpreters.run_string(interp, "import vantrel_core")
        assert error is not None
        assert error.type.__name__ == "ImportError"
        assert "does not support loading in subinterpreters" in error.msg
    finally:
        _interpreters.destroy(interp)


def _other_python():
    roots = [os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))]
    for root in roots:
        for candidate in sorted(glob.glob(os.path.join(root, "versions", "3.1[0-2]*", "bin", "python3.1?"))):
            if os.access(candidate, os.X_OK):
                return candidate
    return None


def test_version_gate_refuses_another_interpreter(python_subprocess):
    other = _other_python()
    if other is None:
        pytest.skip("no other CPython on this machine")
    result = python_subprocess(
        """
        import importlib.machinery, importlib.util, os, sys
        # Resolve functions lazily so that the entry point runs and can refuse us.
        sys.setdlopenflags(os.RTLD_LAZY)
        path = %r
        loader = importlib.machinery.ExtensionFileLoader("vantrel_core", path)
        spec = importlib.util.spec_from_file_location("vantrel_core", path, loader=loader)
        try:
            importlib.util.module_from_spec(spec)
        except ImportError as e:
            print("ImportError:", e)
            print("VERSION:", sys.version)
        """ % vc.__file__,
        executable=other,
    )
    assert result.returncode == 0, result.stderr
    out = result.stdout.splitlines()
    version = out[1].removeprefix("VERSION: ")
    assert out[0] == (
        "ImportError: Python version mismatch: module was compiled for Python 3.13, "
        "but the interpreter version is incompatible: %s." % version
    )


def test_classes_without_constructor():
    for cls in (vc.Logger,):
        with pytest.raises(TypeError, match=r"^vantrel_core\.%s: No constructor defined!$" % cls.__name__):
            cls()


def test_module_functions():
    assert vc.get_build_date() == "2026-06-05"
    assert vc.get_version() is not vc.get_version()
    assert vc.tool_id(vc.ToolType.TOOL_BIAS) == "bias"
    assert vc.tool_id(type=vc.TOOL_ROI) == "roi"
    assert vc.tool_id(vc.ToolType.TOOL_EVENT_RATE_CONTROL) == "event_rate_control"
    assert vc.tool_type_to_string(vc.TOOL_BIAS) == "Bias"
    assert vc.param_type_to_string(vc.ParamType.FLOAT) == "float"
    assert vc.tool_id(vc.ToolType(99)) == "unknown"
    with pytest.raises(TypeError):
        vc.tool_id(vc.ParamType.INT)
    with pytest.raises(TypeError):
        vc.param_type_to_string(vc.ToolType.TOOL_BIAS)
    with pytest.raises(TypeError):
        vc.tool_type_to_string(0)
