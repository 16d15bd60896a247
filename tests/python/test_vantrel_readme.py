"""Every Python snippet of the README runs as it stands, each in a fresh process."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
SNIPPETS = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def test_the_readme_has_snippets():
    assert len(SNIPPETS) >= 6


@pytest.mark.parametrize("index", range(len(SNIPPETS)))
def test_snippet_runs(index, python_subprocess):
    result = python_subprocess(SNIPPETS[index], timeout=120)
    assert result.returncode == 0, "snippet %d failed:\n%s\n%s" % (index, SNIPPETS[index], result.stderr)
