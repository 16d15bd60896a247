"""Event arrays in the layouts NumPy, HDF5, Arrow, pandas and event libraries
take, and the checks on the way back into the driver's record."""

import sys

import numpy as np
import pytest

import vantrel
import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events as sample, open_camera, sim  # noqa: F401
from vantrel import EVENT_DTYPE, PACKED_DTYPE, make_events, pack, to_xytp, unpack


def events_of(n=50):
    events = sample(n)
    events["timestamp"] = 1_000_000 + np.arange(n) * 7
    events["polarity"] = np.arange(n) % 2
    return events


def test_the_event_dtype_is_the_one_of_vantrel_core(sim):
    camera = open_camera("DT", scene="scripted")
    camera.start()
    assert vs.push_batch("DT", events_of(3))
    assert camera.get_next_batch().dtype == EVENT_DTYPE
    camera.close()


def test_packed_events_go_through_np_save_hdf5_and_arrow(tmp_path):
    events = events_of()
    with pytest.raises(ValueError, match="dtype.descr"):  # why pack exists
        np.save(tmp_path / "raw.npy", events)
    packed = pack(events)
    assert packed.dtype == PACKED_DTYPE and packed.dtype.itemsize == 13
    np.save(tmp_path / "e.npy", packed)
    assert np.array_equal(unpack(np.load(tmp_path / "e.npy")), events)

    h5py = pytest.importorskip("h5py")
    with h5py.File(tmp_path / "e.h5", "w") as f:
        f["events"] = packed
    with h5py.File(tmp_path / "e.h5", "r") as f:
        assert np.array_equal(unpack(f["events"][:]), events)

    pa = pytest.importorskip("pyarrow")
    table = pa.Table.from_pydict({name: packed[name] for name in PACKED_DTYPE.names})
    back = np.empty(len(table), PACKED_DTYPE)
    for name in PACKED_DTYPE.names:
        back[name] = table[name].to_numpy()
    assert np.array_equal(unpack(back), events)


def test_concatenated_batches_and_other_layouts_reach_the_simulator(sim, tmp_path):
    camera = open_camera("S", scene="scripted")
    camera.start()
    joined = np.concatenate([pack(events_of(4)), pack(events_of(3))])
    assert vs.push_batch("S", joined)
    assert np.array_equal(camera.get_next_batch(), unpack(joined))
    assert vs.push_batch("S", to_xytp(events_of(5)))
    assert np.array_equal(camera.get_next_batch(), events_of(5))
    with pytest.raises(ValueError, match=r"polarity \(p\) must not be negative"):
        vs.push_batch("S", np.array([(1, 2, 3, -1)], dtype=[("x", "i4"), ("y", "i4"), ("t", "i8"), ("p", "i4")]))
    camera.close()
    path = tmp_path / "packed.vtr"
    vs.write_recording(path, pack(events_of()), width=64, height=32)
    reader = vc.EvFileReader.create_file_reader(str(path))
    assert reader.open() and np.array_equal(reader.read_events(100), events_of())


def test_unpack_accepts_both_field_namings_any_order_and_types():
    events = events_of(6)
    xytp = to_xytp(events)
    assert xytp.dtype.names == ("x", "y", "t", "p")
    assert xytp["t"].dtype == np.int64 and np.diff(xytp["t"][::-1]).min() < 0  # no wrap-around
    assert np.array_equal(unpack(xytp), events)
    shuffled = np.zeros(6, dtype=[("t", "<f8"), ("p", "?"), ("y", "<i8"), ("x", ">u4")])
    for name, field in (("t", "timestamp"), ("p", "polarity"), ("y", "y"), ("x", "x")):
        shuffled[name] = events[field]
    assert np.array_equal(unpack(shuffled), events)
    assert unpack(events) is events  # already the driver's record: no copy


@pytest.mark.parametrize(("fields", "message"), [
    ({"x": [-1]}, "x must not be negative, got -1"),
    ({"y": [65536]}, "y must be at most 65535, got 65536"),
    ({"polarity": [256]}, "polarity must be at most 255"),
    ({"polarity": [-1]}, "signed_polarity=True"),
    ({"timestamp": [1.5]}, "timestamp must be whole numbers, got 1.5"),
    ({"timestamp": [np.nan]}, "timestamp must be finite"),
    ({"timestamp": [2.0**64]}, "timestamp must be at most 18446744073709551615"),
])
def test_unpack_refuses_values_the_record_cannot_hold(fields, message):
    columns = {"x": [1], "y": [2], "polarity": [1], "timestamp": [3], **fields}
    array = np.zeros(1, dtype=[(name, np.asarray(values).dtype) for name, values in columns.items()])
    for name, values in columns.items():
        array[name] = values
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        unpack(array)


def test_unpack_refuses_what_is_not_events():
    with pytest.raises(ValueError, match="found: a, b"):
        unpack(np.zeros(2, dtype=[("a", "i4"), ("b", "i4")]))
    with pytest.raises(ValueError, match="both 'polarity' and 'p'"):
        unpack(np.zeros(2, dtype=[(n, "i4") for n in ("x", "y", "polarity", "p", "t")]))
    with pytest.raises(ValueError, match="one-dimensional"):
        unpack(events_of(4).reshape(2, 2))
    with pytest.raises(TypeError):
        unpack([(1, 2, 1, 3)])


def test_signed_polarity_maps_minus_one_to_off_only_when_asked():
    array = np.array([(1, 2, -1, 3), (1, 2, 1, 4)], dtype=[("x", "i2"), ("y", "i2"), ("p", "i1"), ("t", "i8")])
    assert unpack(array, signed_polarity=True)["polarity"].tolist() == [0, 1]
    with pytest.raises(ValueError, match="-1 or \\+1"):
        unpack(np.array([(1, 2, 0, 3)], dtype=array.dtype), signed_polarity=True)


def test_dataframe_round_trip():
    pd = pytest.importorskip("pandas")
    events = events_of()
    frame = vantrel.to_dataframe(events)
    assert isinstance(frame, pd.DataFrame) and list(frame.columns) == ["x", "y", "t", "p"]
    assert frame["t"].diff().iloc[1] == 7
    assert np.array_equal(unpack(frame), events)


def test_optional_peers_missing_give_a_clear_import_error(monkeypatch):
    for module, function in (("pandas", vantrel.to_dataframe), ("torch", vantrel.to_tensor)):
        monkeypatch.setitem(sys.modules, module, None)
        with pytest.raises(ImportError, match=f"needs .*pip install {module}"):
            function(events_of())


def test_tensor_columns_when_torch_is_present():
    torch = pytest.importorskip("torch")
    tensor = vantrel.to_tensor(events_of(3))
    assert tensor.dtype == torch.int64 and tuple(tensor.shape) == (3, 4)
    assert tensor[:, 2].tolist() == [1_000_000, 1_000_007, 1_000_014]


def test_make_events_checks_what_it_stores():
    events = make_events(x=[0, 63], y=[0, 31], polarity=[0, 1], timestamp=[5.0, 6], width=64, height=32,
                         check_order=True)
    assert events.dtype == EVENT_DTYPE and events["timestamp"].tolist() == [5, 6]
    for kwargs, message in (
        (dict(polarity=-1), "signed_polarity=True"),
        (dict(polarity=2), "polarity must be 0 or 1, got 2"),
        (dict(x=-1), "x must not be negative"),
        (dict(x=64, width=64), "x must be below 64"),
        (dict(y=32, height=32), "y must be below 32"),
        (dict(timestamp=1.7), "timestamp must be whole numbers, got 1.7"),
        (dict(timestamp=[5, 4], check_order=True), "event 1 at 4 us follows 5 us"),
    ):
        args = dict(x=1, y=1, polarity=1, timestamp=[5, 6])
        args.update(kwargs)
        with pytest.raises(ValueError, match=message):
            make_events(**args)
    assert make_events(1, 1, [-1, 1], [1, 2], signed_polarity=True)["polarity"].tolist() == [0, 1]
    assert make_events(1, 1, 1, [5, 4])["timestamp"].tolist() == [5, 4]  # order checked only when asked
