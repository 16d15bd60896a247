"""Runs mypy on files, the way a user's type checker sees the installed package."""

import re
import subprocess
import sys
from pathlib import Path

ERROR_LINE = re.compile(r"^(?P<path>[^:\n]+):(?P<line>\d+): error: (?P<message>.*?)(?:  \[(?P<code>[a-z-]+)\])?$")


def run_mypy(files: list[Path], *, cwd: Path, cache_dir: Path) -> tuple[int, str, list[tuple[str, int, str]]]:
    """Returns mypy's exit status, its output, and its errors as (file name, line, code)."""
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(cache_dir),
         *map(str, files)],
        # Outside the source tree, so only what is installed is found.
        cwd=cwd, capture_output=True, text=True, timeout=180,
    )
    errors = [(Path(m["path"]).name, int(m["line"]), m["code"] or "")
              for m in map(ERROR_LINE.match, done.stdout.splitlines()) if m]
    return done.returncode, done.stdout + done.stderr, errors
