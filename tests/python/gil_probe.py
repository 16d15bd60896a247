"""Watches whether another Python thread can run while a call is inside the driver."""

import threading
import time


def ticks_during(call):
    """Runs `call` while another Python thread records a tick every millisecond
    or so; returns (ticks, begin, end), begin and end bracketing the call."""
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    while not ticks:
        time.sleep(0.001)
    try:
        begin = time.monotonic()
        call()
        end = time.monotonic()
    finally:
        done.set()
        thread.join()
    return ticks, begin, end
