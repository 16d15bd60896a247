"""A newcomer's first script: stream the first camera for two seconds, save
the events with NumPy, load them again and write them as a recording.

    python examples/first_script.py
"""

from __future__ import annotations

import os
import tempfile

import numpy as np

import vantrel
import vantrel_sim

folder = tempfile.mkdtemp()
with vantrel.open_camera() as cam:  # the first camera; closed at the end of the block
    events = np.concatenate(list(vantrel.batches(cam, seconds=2)))
np.save(os.path.join(folder, "events.npy"), vantrel.pack(events))  # packed: np.save takes it
again = vantrel.unpack(np.load(os.path.join(folder, "events.npy")))
vantrel_sim.write_recording(os.path.join(folder, "events.vtr"), again)
with vantrel.open_recording(os.path.join(folder, "events.vtr")) as rec:
    same = bool((rec.read_events(len(events)) == events).all())
    print(f"{len(events)} events saved, loaded and written; the recording holds them all: {same}")
