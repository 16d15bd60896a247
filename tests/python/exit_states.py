"""Programs that end while the driver is busy, in every state a program can
leave it in: streaming into callbacks of every kind, recording, polling or
pushing on daemon threads, several cameras, a file reader delivering edges,
threads churning through start, stop, close and unplug. Each must exit with
its own status, promptly (the exit waits at most 2 s for callbacks in
progress), and without a fatal error.

The test suite runs each state a few times (test_process_exit.py); the
stress run of the project script runs many:

    python tests/python/exit_states.py --runs 200 [--jobs 2] [state ...]
"""

import argparse
import concurrent.futures
import dataclasses
import os
import subprocess
import sys
import tempfile
import time

# Every script starts with this; `end()` marks the moment the program ends
# (CLOCK_MONOTONIC is shared by all processes), then ends it with a status.
# NumPy is not imported here: some states need the driver's threads to be
# the first to build an event array.
PRELUDE = """
import os, sys, threading, time
import vantrel_core as vc, vantrel_sim as vs

TMP = os.environ["VANTREL_EXIT_TMP"]
service = vc.EvCameraService()

def camera(serial, **options):
    options.setdefault("scene", "noise")
    options.setdefault("width", 64)
    options.setdefault("height", 32)
    options.setdefault("event_rate", 2e5)
    vs.add_camera(serial, **options)
    cam = service.open(serial)
    cam.set_batch_events_time(1000)
    return cam

def daemon(target):
    threading.Thread(target=target, daemon=True).start()

def forever(action):
    def loop():
        while True:
            action()
    daemon(loop)

def stream_into_busy_callback(seconds):
    # Returns the camera (kept by the caller: streaming goes on) once its
    # callback is running pure Python, holding the interpreter lock, for
    # `seconds`.
    inside = threading.Event()
    def busy(events):
        inside.set()
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            pass
    cam = camera("A")
    cam.register_event_batch_callback(busy)
    cam.start()
    inside.wait(10)
    return cam

def end(status=0):
    print("END", time.monotonic(), flush=True)
    sys.exit(status)
"""

# name -> (script, expected exit status)
STATES = {
    "batch-callback-sleeping": ("""
cam = camera("A")
cam.register_event_batch_callback(lambda events: time.sleep(0.002))
cam.start()
time.sleep(0.2)
end()
""", 0),
    "nocopy-numpy-two-cameras": ("""
import numpy as np
for serial in ("A", "B"):
    cam = camera(serial)
    cam.register_event_batch_callback_nocopy(lambda view: (np.histogram(view["x"], 16), time.sleep(0.001)))
    cam.start()
time.sleep(0.2)
end()
""", 0),
    "callback-running-python-for-half-a-second": ("""
cam = stream_into_busy_callback(0.5)
end()
""", 0),
    "callback-outlasting-the-exit-wait": ("""
# Still running Python when the exit stops waiting: the interpreter ends
# the delivery thread inside the callback.
cam = stream_into_busy_callback(4)
end()
""", 0),
    "exit-right-after-start": ("""
# Before the first event array was built (NumPy not even imported).
cam = camera("A", scene="default", width=640, height=480, event_rate=1e6)
cam.register_event_batch_callback(lambda events: None)
cam.start()
time.sleep(0.05)
end()
""", 0),
    "daemon-thread-polling": ("""
cam = camera("A")
cam.start()
forever(cam.get_next_batch)
time.sleep(0.2)
end()
""", 0),
    "daemon-thread-blocked-in-a-quiet-poll": ("""
cam = camera("A", scene="scripted")
cam.start()
forever(cam.get_next_batch)
time.sleep(0.2)
end()
""", 0),
    "recording-with-callbacks": ("""
cam = camera("A")
cam.register_event_batch_callback(lambda events: time.sleep(0.001))
cam.start_recording(os.path.join(TMP, "exit.vtr"))
cam.start()
time.sleep(0.3)
end()
""", 0),
    "trigger-callback": ("""
cam = camera("A", scene="scripted")
cam.register_trigger_in_callback(lambda edge: time.sleep(0.001))
cam.start()
forever(lambda: vs.push_trigger("A", 1, 1, 10))
time.sleep(0.2)
end()
""", 0),
    "statistics-callback": ("""
cam = camera("A", scene="scripted")
cam.set_statistics_callback(lambda stats: time.sleep(0.001))
cam.start()
forever(lambda: vs.push_statistics("A", 16, 1))
time.sleep(0.2)
end()
""", 0),
    "daemon-thread-pushing-into-a-slow-callback": ("""
cam = camera("A", scene="scripted", realtime=False)
cam.register_event_batch_callback(lambda events: time.sleep(0.005))
cam.start()
from vantrel import make_events
batch = make_events(x=[1], y=[1], polarity=1, timestamp=[1])
forever(lambda: vs.push_batch("A", batch))
time.sleep(0.2)
end()
""", 0),
    "file-reader-delivering-edges": ("""
import numpy as np
from vantrel import make_events
n = 20_000
events = make_events(x=np.arange(n) % 64, y=0, polarity=1, timestamp=np.arange(n))
path = os.path.join(TMP, "edges.vtr")
vs.write_recording(path, events, width=64, height=32, triggers=[(1, 1, t) for t in range(0, n, 10)])
reader = vc.EvFileReader.create_file_reader(path)
reader.open()
reader.register_trigger_in_callback(lambda edge: time.sleep(0.0005))
forever(lambda: reader.read_events_from_event_index(0, n))
time.sleep(0.2)
end()
""", 0),
    "several-cameras-callbacks-and-pollers": ("""
for serial in ("A", "B", "C"):
    cam = camera(serial)
    cam.register_event_batch_callback(lambda events: time.sleep(0.001))
    cam.set_statistics_callback(lambda stats: None)
    cam.start()
    forever(cam.get_next_batch)
time.sleep(0.2)
end()
""", 0),
    "threads-churning-start-stop-close-unplug": ("""
def churn(serial):
    def step():
        cam = camera(serial)
        ids = [cam.register_event_batch_callback(lambda events: time.sleep(0.001)) for _ in range(3)]
        cam.start()
        time.sleep(0.01)
        cam.unregister_event_batch_callback(ids[0])
        (cam.stop if int(time.monotonic() * 1000) % 2 else cam.close)()
        vs.remove_camera(serial)
    forever(step)
for serial in ("A", "B", "C"):
    churn(serial)
time.sleep(0.3)
end()
""", 0),
    "own-status-while-streaming": ("""
cam = camera("A")
cam.register_event_batch_callback(lambda events: time.sleep(0.002))
cam.start()
time.sleep(0.1)
end(3)
""", 3),
    "uncaught-exception-while-streaming": ("""
cam = camera("A")
cam.register_event_batch_callback(lambda events: time.sleep(0.002))
cam.start()
time.sleep(0.1)
print("END", time.monotonic(), flush=True)
raise RuntimeError("the program failed")
""", 1),
}

# How long an exit may take: the wait for callbacks in progress, and for a
# state whose callback outlasts that wait, the interpreter's teardown on top.
EXIT_WAIT_SECONDS = 2.0
LONGEST_EXIT_SECONDS = {"callback-outlasting-the-exit-wait": EXIT_WAIT_SECONDS + 1.0}

FATAL_SIGNS = ("Fatal Python error", "terminate called", "AddressSanitizer", "ThreadSanitizer", "runtime error:",
               "Exception ignored")


@dataclasses.dataclass
class Outcome:
    state: str
    status: int | None
    exit_seconds: float | None  # from the program's end to the process's end
    problems: list[str]
    stderr: str


def run_state(state: str, *, timeout: float = 60.0, python: str = sys.executable) -> Outcome:
    script, expected = STATES[state]
    with tempfile.TemporaryDirectory(prefix="vantrel-exit-") as tmp:
        try:
            done = subprocess.run([python, "-c", PRELUDE + script], capture_output=True, text=True,
                                  timeout=timeout, env={**os.environ, "VANTREL_EXIT_TMP": tmp})
        except subprocess.TimeoutExpired:
            return Outcome(state, None, None, [f"still running after {timeout} s"], "")
        ended = time.monotonic()
        problems = []
        if done.returncode != expected:
            problems.append(f"exit status {done.returncode}, expected {expected}")
        problems += [f"stderr shows {sign!r}" for sign in FATAL_SIGNS if sign in done.stderr]
        if expected == 1 and "RuntimeError: the program failed" not in done.stderr:
            problems.append("the program's own traceback is missing")
        marks = [line for line in done.stdout.splitlines() if line.startswith("END ")]
        exit_seconds = ended - float(marks[-1].split()[1]) if marks else None
        if exit_seconds is None:
            problems.append("the program did not reach its end")
        if state == "recording-with-callbacks" and not problems:
            problems += check_recording(os.path.join(tmp, "exit.vtr"))
        return Outcome(state, done.returncode, exit_seconds, problems, done.stderr)


def check_recording(path: str) -> list[str]:
    """The exit completed the recording: it opens without a scan, with events."""
    import vantrel_core as vc

    reader = vc.EvFileReader.create_file_reader(path)
    if reader is None or not reader.open():
        return ["the recording does not open"]
    if not reader.get_event_count():
        return ["the recording holds no events"]
    return []


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("states", nargs="*", help="states to run (default: all): " + ", ".join(STATES))
    parser.add_argument("--runs", type=int, default=200, help="runs per state")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="programs run at once")
    args = parser.parse_args()
    states = args.states or list(STATES)
    unknown = [s for s in states if s not in STATES]
    if unknown:
        parser.error(f"unknown states: {', '.join(unknown)}")
    failures_total = 0
    print(f"{'state':45} {'runs':>5} {'failed':>6} {'slow':>5} {'longest exit':>13}")
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for state in states:
            outcomes = list(pool.map(lambda _: run_state(state), range(args.runs)))
            failed = [o for o in outcomes if o.problems]
            bound = LONGEST_EXIT_SECONDS.get(state, EXIT_WAIT_SECONDS)
            slow = [o for o in outcomes if o.exit_seconds is not None and o.exit_seconds > bound]
            longest = max((o.exit_seconds or 0.0) for o in outcomes)
            print(f"{state:45} {len(outcomes):5} {len(failed):6} {len(slow):5} {longest:12.2f}s", flush=True)
            for o in failed[:3]:
                print(f"    {'; '.join(o.problems)}\n    {o.stderr[-600:].strip()}".rstrip(), flush=True)
            failures_total += len(failed) + len(slow)
    print("all clean" if not failures_total else f"{failures_total} failed or slow exits")
    return 1 if failures_total else 0


if __name__ == "__main__":
    sys.exit(main())
