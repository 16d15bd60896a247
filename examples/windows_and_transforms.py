"""Time windows and transforms: record the default camera for a second, cut
the recording into 50 ms windows and turn each into the inputs of
event-vision models (frames, time surfaces, voxel grids), after removing
noise and hot pixels. The driver's log goes to Python's logging.

    python examples/windows_and_transforms.py
"""

from __future__ import annotations

import logging
import os
import tempfile

import numpy as np

import vantrel

logging.basicConfig(level=logging.WARNING, format="%(levelname)s %(name)s: %(message)s")
vantrel.log_to_python("vantrel")  # driver warnings become log records

path = os.path.join(tempfile.mkdtemp(), "scene.vtr")
with vantrel.open_camera() as cam:
    width, height = cam.get_width(), cam.get_height()
    result = vantrel.record(cam, path, 1.0, progress=False)
print(f"recorded {result.events} events ({result.bytes / result.events:.1f} bytes each)")

counted = 0
for window in vantrel.windows(path, every_us=50_000):
    events = window.events
    counted += len(events)
    clean = vantrel.denoise(vantrel.remove_hot_pixels(events, width, height), width, height, dt_us=5_000)
    frame = vantrel.event_frame(clean, width, height, mode="split")
    surface = vantrel.time_surface(clean, width, height, tau_us=10_000)
    voxels = vantrel.voxel_grid(clean, width, height, bins=5)
    if window.index % 5 == 0:
        print(f"window {window.index:2d} [{window.start}, {window.end}) us: {len(events)} events, "
              f"{len(clean)} after denoising; frame {frame.shape}, surface max {surface.max():.2f}, "
              f"voxels {voxels.shape}")

with vantrel.open_recording(path) as reader:
    everything = reader.read_events(result.events)
    start = reader.get_start_time() or 0
middle = vantrel.time_slice(everything, start + 400_000, start + 600_000)  # binary search, no copy
ordered = bool(np.all(middle["timestamp"][1:] >= middle["timestamp"][:-1]))
print(f"every event in exactly one window: {counted == len(everything)}; "
      f"0.4 to 0.6 s: {len(middle)} events, in order: {ordered}")
vantrel.stop_log_to_python()
