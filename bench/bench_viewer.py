"""Benchmarks of `vantrel view`:

1. The delivery path: Accumulator.add on the batches of a 640x480 camera
   (10 ms of events at 1 M and 10 M events/s), in ns per event, against
   numpy.copy of the same batch (one pass over its bytes); and drawing one
   picture (event frame, time surface) in ms.
2. A live camera at 1 M and 10 M events/s (default scene, real time) served
   to a page, with a recording running at the same time, for a few seconds:
   - frames per second drawn by the page (headless Chromium when Debian's
     chromium and chromedriver are there, else a Python WebSocket client
     that draws nothing and answers every frame at once);
   - CPU of this process in % of one core, against the same camera and
     recording without the viewer; of it, the camera's delivery thread
     (the viewer's callback) and the server's own threads; and the page's
     browser processes;
   - the recording: events written against the rate times the time, the
     longest gap between timestamps (a dropped batch leaves a gap of at least
     its 10 ms), and the drop warnings of the driver (recorder and delivery
     queue).

Run: .venv/bin/python bench/bench_viewer.py [--seconds S]  (or ./dev bench)
"""

import argparse
import asyncio
import logging
import os
import statistics
import tempfile
import threading
import time

import numpy as np

import vantrel
import vantrel_core as vc
import vantrel_sim as vs
from vantrel.viewer.frames import Accumulator, FrameSettings
from vantrel.viewer.server import ViewerThread
from vantrel.viewer.sources import LiveSource

CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"
TICK = os.sysconf("SC_CLK_TCK")


# -- 1. the delivery path ----------------------------------------------------------
def batch_of(n, width=640, height=480, seed=0):
    rng = np.random.default_rng(seed)
    events = np.zeros(n, dtype=vantrel.EVENT_DTYPE)
    events["x"] = rng.integers(0, width, n)
    events["y"] = rng.integers(0, height, n)
    events["polarity"] = rng.integers(0, 2, n)
    events["timestamp"] = np.sort(rng.integers(0, 10_000, n))
    return events


def timed(fn, rounds):
    times = []
    for _ in range(rounds):
        begin = time.perf_counter()
        fn()
        times.append(time.perf_counter() - begin)
    return statistics.median(times)


def bench_delivery_path():
    for rate in (1_000_000, 10_000_000):
        events = batch_of(rate // 100)
        acc = Accumulator(640, 480)
        add = timed(lambda: acc.add(events), 50)
        copy = timed(lambda: np.copy(events), 50)
        n = len(events)
        print(f"Accumulator.add, {n}-event batches ({rate / 1e6:.0f} M events/s): {add / n * 1e9:.1f} ns/event, "
              f"{add * 100 * 100:.1f}% of a core at that rate; numpy.copy {copy / n * 1e9:.1f} ns/event; "
              f"ratio {add / copy:.1f}")
    acc = Accumulator(640, 480)
    acc.add(batch_of(1_000_000))
    for mode in ("frame", "surface"):
        draw = timed(lambda: acc.frame(FrameSettings(mode, "both", 20_000)).encode(0), 30)
        print(f"drawing a 640x480 {mode}: {draw * 1e3:.2f} ms ({1 / draw:.0f} pictures/s on one core)")


# -- 2. live, with a page and a recording -----------------------------------------------
def thread_seconds(tids=None):
    """CPU seconds of this process's threads: {tid: seconds}."""
    out = {}
    for tid in os.listdir("/proc/self/task"):
        if tids is not None and int(tid) not in tids:
            continue
        try:
            with open(f"/proc/self/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        out[int(tid)] = (int(fields[11]) + int(fields[12])) / TICK
    return out


def process_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except OSError:
        return 0.0


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except OSError:
                pass
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        for c in children.get(p, []):
            found.append(c)
            todo.append(c)
    return found


class DropLog(logging.Handler):
    """The driver's warnings of events dropped by the recorder or on the way to
    the callbacks. (The poll queue's are left out: nobody polls here.)"""

    def __init__(self):
        super().__init__()
        self.lines = []

    def emit(self, record):
        text = record.getMessage()
        if "cannot keep up" in text or "delivery queue full" in text:
            self.lines.append(text)


class BrowserPage:
    name = "headless Chromium"

    def __init__(self, url):
        from selenium import webdriver

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--window-size=1400,1000", "--disable-gpu", "--disable-dev-shm-usage"):
            options.add_argument(argument)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")
        self.driver = webdriver.Chrome(service=webdriver.ChromeService(CHROMEDRIVER), options=options)
        self.driver.get(url)

    def frames(self):
        return self.driver.execute_script("return window.vantrelViewer.state.framesDrawn")

    def cpu_seconds(self):
        root = self.driver.service.process.pid
        return sum(process_seconds(p) for p in [root, *descendants(root)])

    def close(self):
        self.driver.quit()


class SocketPage:
    """A page that draws nothing: it takes each frame and asks for the next."""

    name = "Python WebSocket client"

    def __init__(self, url):
        import aiohttp

        self.count = 0
        self._loop = asyncio.new_event_loop()
        self._stop = None

        async def run():
            self._stop = asyncio.Event()
            async with aiohttp.ClientSession() as session:
                async with session.ws_connect(url + "ws", origin=url.rstrip("/")) as ws:
                    reader = asyncio.ensure_future(self._read(ws))
                    await self._stop.wait()
                    reader.cancel()

        self._thread = threading.Thread(target=self._loop.run_until_complete, args=(run(),), daemon=True)
        self._thread.start()

    async def _read(self, ws):
        async for message in ws:
            if isinstance(message.data, bytes):
                self.count += 1
                await ws.send_str('{"type": "ready"}')

    def frames(self):
        return self.count

    def cpu_seconds(self):
        return 0.0

    def close(self):
        self._loop.call_soon_threadsafe(self._stop.set)
        self._thread.join(10)


def check_recording(path):
    reader = vc.EvFileReader.create_file_reader(path)
    assert reader.open()
    count = reader.get_event_count()
    gap = 0
    last = None
    while len(chunk := reader.read_events(1 << 22)):
        ts = chunk["timestamp"].astype(np.int64)
        if last is not None:
            gap = max(gap, int(ts[0]) - last)
        if len(ts) > 1:
            gap = max(gap, int(np.diff(ts).max()))
        last = int(ts[-1])
    span = (reader.get_end_time() - reader.get_start_time()) / 1e6
    return count, span, gap


def run_live(rate, seconds, page_kind, folder):
    """One run: CPU, frames and the recording, with the viewer (page_kind) or without (None)."""
    vs.reset()
    serial = "BENCH"
    vs.add_camera(serial, event_rate=float(rate))
    camera = vc.EvCameraService().open(serial)
    path = os.path.join(folder, f"{rate}-{page_kind or 'none'}.vtr")
    drops = DropLog()
    logger = vantrel.log_to_python("vantrel.bench", level=logging.INFO)
    logger.addHandler(drops)
    logger.propagate = False
    view = page = None
    delivery_tid = []
    try:
        if page_kind:
            source = LiveSource(camera, out_dir=folder)
            add = source.accumulator.add

            def add_and_note_thread(events):
                if not delivery_tid:
                    delivery_tid.append(threading.get_native_id())
                add(events)

            source.accumulator.add = add_and_note_thread
            assert source.start()[0]
            view = ViewerThread(source)
            page = (BrowserPage if page_kind == "browser" else SocketPage)(view.url)
        else:
            assert camera.start()
        assert camera.start_recording(path)
        time.sleep(1.5)   # the page loads, the stream settles
        frames0 = page.frames() if page else 0
        browser0 = page.cpu_seconds() if page else 0.0
        threads0, process0, wall0 = thread_seconds(), time.process_time(), time.monotonic()
        time.sleep(seconds)
        threads1, process1, wall1 = thread_seconds(), time.process_time(), time.monotonic()
        server_tids = {t.native_id for t in threading.enumerate() if t.name.startswith("vantrel-viewer")}
        frames1 = page.frames() if page else 0
        browser1 = page.cpu_seconds() if page else 0.0
        assert camera.stop_recording()
    finally:
        if page:
            page.close()
        if view:
            view.close()
        else:
            camera.close()
        vantrel.stop_log_to_python()
        logger.removeHandler(drops)
    wall = wall1 - wall0
    result = {"cpu": (process1 - process0) / wall * 100, "frames_per_s": (frames1 - frames0) / wall,
              "browser_cpu": (browser1 - browser0) / wall * 100}
    if view:
        result["server_cpu"] = sum(threads1.get(t, 0) - threads0.get(t, 0) for t in server_tids) / wall * 100
        t = delivery_tid[0] if delivery_tid else None
        result["delivery_cpu"] = (threads1.get(t, 0) - threads0.get(t, 0)) / wall * 100 if t else 0.0
    count, span, gap = check_recording(path)
    result.update(recorded=count, recorded_span=span, max_gap_us=gap, drop_warnings=drops.lines)
    os.remove(path)
    return result


def bench_live(seconds):
    have_browser = os.path.exists(CHROMEDRIVER) and os.path.exists(CHROMIUM)
    try:
        import selenium  # noqa: F401
    except ImportError:
        have_browser = False
    page_kind = "browser" if have_browser else "socket"
    with tempfile.TemporaryDirectory() as folder:
        for rate in (1_000_000, 10_000_000):
            base = run_live(rate, seconds, None, folder)
            live = run_live(rate, seconds, page_kind, folder)
            page_name = BrowserPage.name if have_browser else SocketPage.name
            print(f"{rate / 1e6:.0f} M events/s, {seconds:.0f} s, page: {page_name}")
            print(f"  frames drawn by the page: {live['frames_per_s']:.1f}/s")
            print(f"  CPU of this process: {live['cpu']:.0f}% of a core with the viewer, {base['cpu']:.0f}% without "
                  f"(camera and recording alone); delivery thread {live['delivery_cpu']:.0f}%, "
                  f"server threads {live['server_cpu']:.0f}%; the page's browser {live['browser_cpu']:.0f}%")
            for name, run in (("with the viewer", live), ("without", base)):
                print(f"  recording {name}: {run['recorded']} events over {run['recorded_span']:.2f} s "
                      f"({run['recorded'] / (rate * run['recorded_span']):.4f} x the rate), longest gap "
                      f"{run['max_gap_us']} us, drop warnings: {len(run['drop_warnings'])}")
                for line in run["drop_warnings"][:3]:
                    print(f"    {line}")
    print("(figures vary with the machine's load)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0, help="length of each live run")
    args, _ = parser.parse_known_args()
    bench_delivery_path()
    bench_live(args.seconds)


if __name__ == "__main__":
    main()
