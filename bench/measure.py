"""What every benchmark here shares: interleaved medians and the machine's load.

Each figure is compared with its physical limit measured in the same run:
the two are timed in turns (A B A B ...), so both see the same machine, and
the median of the repetitions is kept. The load average is printed beside
each figure, since the machine may be shared.

NumPy asks the kernel for huge pages on large arrays (madvise), which makes
the first touch of a fresh array either fast or slow depending on whether
one is at hand: whole-array timings become bimodal. The benchmarks turn
that off (NUMPY_MADVISE_HUGEPAGE=0) before NumPy is imported, for both
sides of every figure.
"""

import os

os.environ.setdefault("NUMPY_MADVISE_HUGEPAGE", "0")
# An idle OpenBLAS pool spins on a core; neither side of any figure uses it.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import statistics  # noqa: E402
import time  # noqa: E402


def load() -> str:
    one, five, _ = os.getloadavg()
    return f"load {one:.1f}/{five:.1f} on {os.cpu_count()} cores"


def interleaved(functions: dict, repetitions: int) -> dict:
    """Median seconds of each function, timed in turns `repetitions` times."""
    times = {name: [] for name in functions}
    for _ in range(repetitions):
        for name, fn in functions.items():
            begin = time.perf_counter()
            fn()
            times[name].append(time.perf_counter() - begin)
    return {name: statistics.median(t) for name, t in times.items()}


def spread(values) -> str:
    """min-max of a few ratios, as text."""
    return f"{min(values):.2f}-{max(values):.2f}"
