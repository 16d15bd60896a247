"""Benchmarks of the live-camera path, each printed as a ratio to a baseline
measured in the same run:

- get_next_batch with 1M-event batches, against numpy.copy of the same bytes
  (a ratio of 1.0 means polling costs exactly one block copy);
- callback deliveries per second for small batches, copy and no-copy,
  against a plain C++ thread calling a trivial Python function under the GIL;
- the simulator's event generation on one core, unpaced, against numpy
  filling records of the same size (memory bandwidth as the yardstick).

Run: .venv/bin/python bench/bench_cameras.py  (or ./dev bench)
"""

import statistics
import threading
import time

import numpy as np

import vantrel_core as vc
import vantrel_sim as vs

EVENT_DTYPE = np.dtype({"names": ("x", "y", "polarity", "timestamp"), "formats": ("<u2", "<u2", "u1", "<u8"),
                        "offsets": (8, 10, 12, 0), "itemsize": 16})


def open_camera(serial, **options):
    vs.add_camera(serial, **options)
    return vc.EvCameraService().open(serial)


def bench_poll(batch_events=1_000_000, rounds=30):
    camera = open_camera("bench-poll", scene="scripted", realtime=False)
    assert camera.start()
    events = np.zeros(batch_events, dtype=EVENT_DTYPE)
    events["timestamp"] = np.arange(batch_events)
    poll_times, copy_times = [], []
    for _ in range(rounds):
        # Alternate so both see the same machine state; only the calls are timed.
        assert vs.push_batch("bench-poll", events)
        begin = time.perf_counter()
        arr = camera.get_next_batch()
        poll_times.append(time.perf_counter() - begin)
        assert len(arr) == batch_events
        del arr
        begin = time.perf_counter()
        copied = np.copy(events)
        copy_times.append(time.perf_counter() - begin)
        del copied
    camera.close()
    poll, copy = statistics.median(poll_times), statistics.median(copy_times)
    mbytes = batch_events * 16 / 1e6
    print(f"get_next_batch, {batch_events} events: {poll * 1e3:.2f} ms ({mbytes / poll:.0f} MB/s); "
          f"numpy.copy: {copy * 1e3:.2f} ms ({mbytes / copy:.0f} MB/s); ratio {copy / poll:.2f}")


def bench_callbacks(batch_events=16, deliveries=100_000):
    results = {}
    for variant in ("register_event_batch_callback", "register_event_batch_callback_nocopy"):
        camera = open_camera("bench-cb-" + variant[-6:], scene="noise", realtime=False, event_rate=1e8)
        camera.set_batch_events_num(batch_events)
        count = [0]
        done = threading.Event()
        stamps = [0.0, 0.0]

        def callback(arr, count=count, done=done, stamps=stamps):
            count[0] += 1
            if count[0] == 1000:
                stamps[0] = time.perf_counter()
            elif count[0] == 1000 + deliveries:
                stamps[1] = time.perf_counter()
                done.set()

        getattr(camera, variant)(callback)
        assert camera.start()
        assert done.wait(120)
        camera.close()
        results[variant] = deliveries / (stamps[1] - stamps[0])

    calls = [0]

    def trivial(_):
        calls[0] += 1

    baseline = deliveries / vs._bench_call(trivial, deliveries)
    print(f"plain C++ thread calling Python under the GIL: {baseline:,.0f} calls/s")
    for variant, rate in results.items():
        kind = "no-copy" if variant.endswith("nocopy") else "copy"
        print(f"callback deliveries, {batch_events}-event batches, {kind}: {rate:,.0f}/s; ratio {rate / baseline:.2f}")


def bench_generation(scene, batch_events=1 << 20, batches=150):
    camera = open_camera("bench-gen-" + scene, scene=scene, realtime=False, event_rate=1e9)
    camera.set_batch_events_num(batch_events)
    total = [0]
    done = threading.Event()
    stamps = [0.0, 0.0]

    def callback(arr):
        total[0] += 1
        if total[0] == 5:
            stamps[0] = time.perf_counter()
        elif total[0] == 5 + batches:
            stamps[1] = time.perf_counter()
            done.set()

    camera.register_event_batch_callback_nocopy(callback)
    assert camera.start()
    assert done.wait(120)
    camera.close()
    rate = batches * batch_events / (stamps[1] - stamps[0])

    # Yardstick: numpy writing the same number of 16-byte records into fresh memory.
    fill_times = []
    for _ in range(10):
        begin = time.perf_counter()
        block = np.empty(batch_events, dtype=EVENT_DTYPE)
        block["timestamp"] = 1
        block["x"] = 2
        block["y"] = 3
        block["polarity"] = 1
        fill_times.append(time.perf_counter() - begin)
        del block
    fill_rate = batch_events / statistics.median(fill_times)
    print(f"simulator '{scene}' scene, unpaced, one core: {rate / 1e6:.1f} M events/s; "
          f"numpy filling records: {fill_rate / 1e6:.1f} M/s; ratio {rate / fill_rate:.2f}")


def main():
    vs.reset()
    try:
        bench_poll()
        bench_callbacks()
        bench_generation("default")
        bench_generation("noise")
    finally:
        vs.reset()
        vs.add_camera(vs.DEFAULT_SERIAL)


if __name__ == "__main__":
    main()
