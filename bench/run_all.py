"""Runs every benchmark under bench/ (bench_*.py) and prints their figures.

Each benchmark prints its figures as ratios to a baseline measured in the
same run, so results are comparable between machines.
"""

import pathlib
import subprocess
import sys


def main() -> int:
    here = pathlib.Path(__file__).resolve().parent
    status = 0
    for script in sorted(here.glob("bench_*.py")):
        print(f"== {script.name}", flush=True)
        status |= subprocess.call([sys.executable, str(script), *sys.argv[1:]])
    return status


if __name__ == "__main__":
    sys.exit(main())
