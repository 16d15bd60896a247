"""Prints the requirements of every optional extra of a pyproject.toml, one a
line, so that ./dev installs what the extras' tests need from the one list
that the package itself declares."""

import sys
import tomllib

with open(sys.argv[1], "rb") as f:
    extras = tomllib.load(f)["project"].get("optional-dependencies", {})
for requirements in extras.values():
    for requirement in requirements:
        print(requirement)
