"""Writes the fuzz targets' seed corpus (tests/fuzz/corpus/<target>/) from
the simulator: recordings written from arrays and recorded from live
cameras (with escapes, time going backwards and trigger edges, cut short
and whole), camera configuration files, tool documents and firmware images.

    .venv/bin/python tests/fuzz/make_seeds.py

Run it again after a format change; the files are small, and committed."""

import hashlib
import json
import os
import random
import shutil
import tempfile
import time

import numpy as np

import vantrel_core as vc
import vantrel_sim as vs

HERE = os.path.dirname(os.path.abspath(__file__))
DTYPE = np.dtype({"names": ("x", "y", "polarity", "timestamp"), "formats": ("<u2", "<u2", "u1", "<u8"),
                  "offsets": (8, 10, 12, 0), "itemsize": 16})
rng = random.Random(2024)


def save(target, data: bytes):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(data).hexdigest()[:16]), "wb") as f:
        f.write(data)


def events(n, *, start=1000, width=64, height=32, step=4, seed=0):
    g = np.random.default_rng(seed)
    e = np.zeros(n, dtype=DTYPE)
    e["x"], e["y"] = g.integers(0, width, n), g.integers(0, height, n)
    e["polarity"] = g.integers(0, 2, n)
    e["timestamp"] = start + np.cumsum(g.integers(0, step, n))
    return e


def recording_seed(data: bytes):
    """Raw mode: a check script, then the file as it is."""
    script = bytes(rng.randrange(256) for _ in range(24))
    save("recording", b"\x00" + bytes([len(script)]) + script + data)


def recordings(tmp):
    path = os.path.join(tmp, "a.vtr")
    vs.write_recording(path, events(300), width=64, height=32, serial="SEED-1",
                       triggers=[(1, 1, 1000), (0, 0, 1100), (1, 1, 1200)])
    recording_seed(open(path, "rb").read())

    # A live camera fed exact batches: pixels off the sensor, odd
    # polarities, time going backwards; edges; blocks of a few hundred.
    vs.add_camera("SEED-LIVE", width=64, height=32, scene="scripted", realtime=False)
    camera = vc.EvCameraService().open("SEED-LIVE")
    live = os.path.join(tmp, "live.vtr")
    assert camera.start_recording(live)
    assert camera.start()
    t = 5000
    for batch in range(4):
        e = events(150, start=t, seed=batch)
        if batch == 1:
            e["x"][5], e["polarity"][6] = 900, 7
            e["timestamp"][40:] -= 3000  # backwards
        if batch == 2:
            e["timestamp"][10] += 1 << 40  # one far in the future
        vs.push_batch("SEED-LIVE", e)
        vs.push_trigger("SEED-LIVE", batch % 2, batch % 2, t + 10)
        t = int(e["timestamp"].max()) + 100
        time.sleep(0.3)  # the recorder writes a block at least every 200 ms
    camera.stop()
    assert camera.stop_recording()
    camera.close()
    data = open(live, "rb").read()
    recording_seed(data)
    recording_seed(data[: len(data) * 2 // 3])  # its writer died
    recording_seed(data[: len(data) - 40])      # inside the index

    # A live recording of the default scene at a low rate.
    vs.add_camera("SEED-SCENE", width=64, height=32, event_rate=4000, realtime=True)
    camera = vc.EvCameraService().open("SEED-SCENE")
    scene = os.path.join(tmp, "scene.vtr")
    assert camera.start_recording(scene)
    assert camera.start()
    time.sleep(0.7)
    camera.stop()
    assert camera.stop_recording()
    camera.close()
    recording_seed(open(scene, "rb").read())

    reader = vc.EvFileReader.create_file_reader(live)
    assert reader.open()
    part = os.path.join(tmp, "part.vtr")
    assert reader.export_events_to_raw(5100, 5400, part)
    recording_seed(open(part, "rb").read())

    # Generated mode: descriptions of recordings and their damage.
    for _ in range(8):
        save("recording", bytes([1 + 2 * rng.randrange(100)]) + bytes(rng.randrange(256) for _ in range(120)))
    compressed_recordings(tmp)


def compressed_recordings(tmp):
    """Recordings whose event blocks are compressed: written whole (escapes
    among the words), recorded live, cut inside a block, and descriptions
    of compressed recordings for the generated mode."""
    path = os.path.join(tmp, "z.vtr")
    e = events(3000, seed=7)
    e["timestamp"][1500:] += 1 << 40
    vs.write_recording(path, e, width=64, height=32, serial="SEED-Z", triggers=[(1, 1, 1000), (0, 0, 1100)],
                       compression="zstd")
    data = open(path, "rb").read()
    recording_seed(data)

    vs.add_camera("SEED-ZLIVE", width=64, height=32, event_rate=20000, realtime=True)
    was = vs.recording_compression()
    vs.set_recording_compression("zstd")
    camera = vc.EvCameraService().open("SEED-ZLIVE")
    live = os.path.join(tmp, "zlive.vtr")
    assert camera.start_recording(live)
    vs.set_recording_compression(was)
    assert camera.start()
    time.sleep(0.5)
    camera.stop()
    assert camera.stop_recording()
    camera.close()
    data = open(live, "rb").read()
    recording_seed(data)
    recording_seed(data[: len(data) * 2 // 3])  # its writer died inside a block

    for _ in range(4):  # bit 1: compressed
        save("recording", bytes([3 + 4 * rng.randrange(60)]) + bytes(rng.randrange(256) for _ in range(120)))


def configurations(tmp):
    vs.add_camera("SEED-CFG", width=64, height=32, realtime=False)
    camera = vc.EvCameraService().open("SEED-CFG")
    path = os.path.join(tmp, "c.json")
    assert camera.export_camera_config(path)
    text = open(path, "rb").read()
    save("camera_config", text)
    doc = json.loads(text)
    save("camera_config", json.dumps({"format": doc["format"], "version": 1,
                                      "tools": {"roi": {"enabled": True, "x": 3, "width": 10}}}).encode())
    save("json_document", json.dumps(doc["tools"]["roi"]).encode())
    save("json_document", json.dumps(camera.get_tool_by_id("bias").to_json()).encode())
    save("json_document", b"[" * 70 + b"]" * 70)
    save("json_document", b'{"gain": 1.5, "threshold_on": 3, "x": [1, {"y": null}], "s": "\\u00e9"}')
    camera.close()


def firmware(tmp):
    path = os.path.join(tmp, "fw.img")
    for version in ("1.2.3", "v2.0-\u03b2"):
        vs.write_firmware_image(path, version)
        save("firmware_image", open(path, "rb").read())


def json_convert():
    for _ in range(6):
        save("json_convert", bytes(rng.randrange(256) for _ in range(rng.randrange(8, 80))))


def main():
    for target in ("recording", "camera_config", "json_document", "firmware_image", "json_convert"):
        shutil.rmtree(os.path.join(HERE, "corpus", target), ignore_errors=True)
    vs.reset()
    with tempfile.TemporaryDirectory() as tmp:
        recordings(tmp)
        configurations(tmp)
        firmware(tmp)
    json_convert()
    vs.reset()
    vs.add_camera(vs.DEFAULT_SERIAL)


if __name__ == "__main__":
    main()
