"""Benchmarks of the live-camera path, each against its physical limit
measured in the same run (see measure.py: interleaved medians,
NUMPY_MADVISE_HUGEPAGE=0, the load printed):

- get_next_batch with 1M-event batches, against an allocating memcpy of the
  same 16 MB (np.empty + np.copyto on a byte view), in several runs;
- callback deliveries of 16- and 100k-event batches, copy and no-copy: the
  delivery thread's processor time per batch (what a delivery costs, apart
  from the simulator making the events on its own thread), against a plain
  C++ thread calling a trivial Python function under the GIL;
- the simulator's event generation on one core, unpaced, against numpy
  filling records of the same size (memory bandwidth as the yardstick).

Run: .venv/bin/python bench/bench_cameras.py  (or ./dev bench)
"""

import measure  # noqa: F401  (sets NumPy's environment first)

import statistics  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import vantrel_core as vc  # noqa: E402
import vantrel_sim as vs  # noqa: E402
from measure import load, spread  # noqa: E402

EVENT_DTYPE = np.dtype({"names": ("x", "y", "polarity", "timestamp"), "formats": ("<u2", "<u2", "u1", "<u8"),
                        "offsets": (8, 10, 12, 0), "itemsize": 16})


def open_camera(serial, **options):
    vs.add_camera(serial, **options)
    return vc.EvCameraService().open(serial)


def bench_poll(batch_events=1_000_000, rounds=30, runs=3):
    camera = open_camera("bench-poll", scene="scripted", realtime=False)
    assert camera.start()
    events = np.zeros(batch_events, dtype=EVENT_DTYPE)
    events["timestamp"] = np.arange(batch_events)
    source = events.view(np.uint8)
    ratios = []
    for run in range(runs):
        poll_times, copy_times = [], []
        for _ in range(rounds):
            # In turns, so both see the same machine; only the calls are timed.
            assert vs.push_batch("bench-poll", events)
            time.sleep(0.005)  # the batch reaches the queue
            begin = time.perf_counter()
            arr = camera.get_next_batch()
            poll_times.append(time.perf_counter() - begin)
            assert len(arr) == batch_events
            del arr
            begin = time.perf_counter()
            copied = np.empty(batch_events, dtype=EVENT_DTYPE)
            np.copyto(copied.view(np.uint8), source)
            copy_times.append(time.perf_counter() - begin)
            del copied
        poll, copy = statistics.median(poll_times), statistics.median(copy_times)
        ratios.append(copy / poll)
        mbytes = batch_events * 16 / 1e6
        print(f"get_next_batch, {batch_events:,} events, run {run + 1}: {poll * 1e3:.2f} ms ({mbytes / poll:.0f} MB/s); "
              f"np.empty + np.copyto of the bytes: {copy * 1e3:.2f} ms; ratio {copy / poll:.2f} [{load()}]", flush=True)
    camera.close()
    vs.remove_camera("bench-poll")
    print(f"get_next_batch against an allocating memcpy, {runs} runs: {spread(ratios)} x", flush=True)


def delivery_cost(variant, batch_events, deliveries):
    """Processor seconds of the delivery thread per delivered batch."""
    serial = f"bench-cb-{variant[-6:]}-{batch_events}"
    camera = open_camera(serial, scene="noise", realtime=False, event_rate=1e9)
    camera.set_batch_events_num(batch_events)
    count = [0]
    done = threading.Event()
    stamps = [0.0, 0.0]
    warm = 50

    def callback(arr, count=count, done=done, stamps=stamps):
        count[0] += 1
        if count[0] == warm:
            stamps[0] = time.thread_time()
        elif count[0] == warm + deliveries:
            stamps[1] = time.thread_time()
            done.set()

    getattr(camera, variant)(callback)
    assert camera.start()
    assert done.wait(300)
    camera.close()
    vs.remove_camera(serial)
    return (stamps[1] - stamps[0]) / deliveries


def bare_thread_cost(calls):
    count = [0]
    stamps = [0.0, 0.0]

    def trivial(_):
        count[0] += 1
        if count[0] == 50:
            stamps[0] = time.thread_time()
        elif count[0] == 50 + calls:
            stamps[1] = time.thread_time()

    vs._bench_call(trivial, calls + 50)
    return (stamps[1] - stamps[0]) / calls


def bench_callbacks(repetitions=3):
    for batch_events, deliveries in ((16, 30_000), (100_000, 200)):
        costs = {"copy": [], "no-copy": [], "bare": []}
        for _ in range(repetitions):  # in turns
            costs["copy"].append(delivery_cost("register_event_batch_callback", batch_events, deliveries))
            costs["no-copy"].append(delivery_cost("register_event_batch_callback_nocopy", batch_events, deliveries))
            costs["bare"].append(bare_thread_cost(deliveries))
        m = {k: statistics.median(v) for k, v in costs.items()}
        print(f"callback delivery, {batch_events:,}-event batches, delivery thread's processor time per batch: "
              f"copy {m['copy'] * 1e6:.1f} us ({m['bare'] / m['copy']:.2f} x the bare thread), "
              f"no-copy {m['no-copy'] * 1e6:.1f} us ({m['bare'] / m['no-copy']:.2f} x); "
              f"no-copy {m['copy'] / m['no-copy']:.2f} x as fast as copy; "
              f"bare C++ thread calling Python {m['bare'] * 1e6:.1f} us [{load()}]", flush=True)


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
          f"numpy filling records: {fill_rate / 1e6:.1f} M/s; ratio {rate / fill_rate:.2f} [{load()}]", flush=True)


def main():
    vs.reset()
    print(f"[{load()}]", flush=True)
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
