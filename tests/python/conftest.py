import os
import subprocess
import sys
import textwrap

import pytest


def run_python(code: str, *, timeout: float = 60, env: dict | None = None, executable: str | None = None):
    """Runs `code` in a fresh interpreter; returns the CompletedProcess."""
    return subprocess.run(
        [executable or sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, **(env or {})},
    )


@pytest.fixture
def python_subprocess():
    return run_python


@pytest.fixture
def unraisable(monkeypatch):
    """What reaches sys.unraisablehook, as (exc_type, exc_value, traceback, object) tuples."""
    reports = []
    monkeypatch.setattr(sys, "unraisablehook",
                        lambda u: reports.append((u.exc_type, u.exc_value, u.exc_traceback, u.object)))
    return reports


@pytest.fixture
def log_file(tmp_path):
    """The driver's log, written to a file for the test to read."""
    import vantrel_core as vc

    path = tmp_path / "driver.log"
    logger = vc.Logger.instance()
    assert logger.set_log_file(str(path))
    try:
        yield path
    finally:
        logger.set_log_file("")
