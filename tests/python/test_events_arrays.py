"""Event arrays as get_next_batch and the batch callbacks build them: dtype,
ownership, copies versus views, and empty batches."""

import numpy as np
import pytest

import vantrel_sim as vs
from simcam import make_events, open_camera, scripted, sim, wait_for  # noqa: F401


def test_the_dtype_mirrors_the_driver_record(scripted):
    assert vs.push_batch("S", make_events(3))
    arr = scripted.get_next_batch()
    assert arr.dtype.names == ("x", "y", "polarity", "timestamp")
    assert arr.dtype.itemsize == 16
    fields = arr.dtype.fields
    assert [fields[n][1] for n in arr.dtype.names] == [8, 10, 12, 0]
    assert [fields[n][0].str for n in arr.dtype.names] == ["<u2", "<u2", "|u1", "<u8"]
    assert arr.ndim == 1 and arr.strides == (16,)


def test_polled_arrays_are_owning_byte_exact_copies(scripted):
    rng = np.random.default_rng(1)
    pushed = make_events(1000)
    pushed["x"] = rng.integers(0, 65536, 1000)
    pushed["timestamp"] = np.sort(rng.integers(0, 2**63, 1000))
    assert vs.push_batch("S", pushed)
    assert vs.push_batch("S", pushed[::-1])
    first = scripted.get_next_batch()
    second = scripted.get_next_batch()
    assert np.array_equal(first, pushed)
    assert np.array_equal(second, pushed[::-1])
    assert first.flags.owndata and first.flags.writeable and first.base is None
    assert not np.shares_memory(first, second)
    first["x"][0] = 1  # writeable, and changes nothing elsewhere
    scripted.stop()
    scripted.close()
    assert np.array_equal(second, pushed[::-1])


def test_empty_batches_are_owning_empty_arrays(scripted):
    assert vs.push_batch("S", make_events(0))
    arr = scripted.get_next_batch()
    assert arr.shape == (0,)
    assert arr.dtype.names == ("x", "y", "polarity", "timestamp")
    assert arr.flags.owndata and arr.flags.writeable


def test_copies_keep_their_contents_and_views_are_read_only(scripted):
    copies, views = [], []
    scripted.register_event_batch_callback(copies.append)

    def look(arr):
        views.append((arr.flags.writeable, arr.flags.owndata, type(arr.base).__name__, len(arr),
                      arr.copy()))
        if len(arr):
            with pytest.raises(ValueError):
                arr["x"][0] = 1

    scripted.register_event_batch_callback_nocopy(look)
    batches = [make_events(n, start=100 * n) for n in (5, 0, 7)]
    for b in batches:
        assert vs.push_batch("S", b)
    assert wait_for(lambda: len(copies) == 3 and len(views) == 3)
    for got, want in zip(copies, batches):
        assert np.array_equal(got, want)
        assert got.flags.owndata and got.flags.writeable
    assert views[0][:4] == (False, False, "PyCapsule", 5)
    assert views[1][:4] == (True, True, "NoneType", 0)  # empty: an owning array, no capsule
    assert views[2][:4] == (False, False, "PyCapsule", 7)
    assert np.array_equal(views[2][4], batches[2])
