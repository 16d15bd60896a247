"""EvFileInfo: defaults, fields, repr and the local time."""

import datetime

import pytest

import vantrel_core as vc
from recfiles import scene_events, write


def test_defaults_and_repr():
    info = vc.EvFileInfo()
    assert (info.start_timestamp, info.end_timestamp, info.max_events, info.width, info.height) == (0,) * 5
    assert info.serial_number == ""
    assert info.local_time is None
    assert repr(info) == "<EvFileInfo events=0 size=0x0 serial=''>"
    info.max_events, info.width, info.height, info.serial_number = 1000, 640, 480, "ABC"
    assert repr(info) == "<EvFileInfo events=1000 size=640x480 serial='ABC'>"
    info.serial_number = "it's é"
    assert repr(info) == "<EvFileInfo events=1000 size=640x480 serial='it's é'>"  # no escaping
    info.max_events = 2**64 - 1
    assert repr(info).startswith("<EvFileInfo events=18446744073709551615 ")


def test_fields_keep_their_types():
    info = vc.EvFileInfo()
    for name, bad in (("width", 65536), ("height", -1), ("max_events", 2**64), ("start_timestamp", 1.5)):
        with pytest.raises(TypeError):
            setattr(info, name, bad)
    with pytest.raises(AttributeError):
        info.local_time = datetime.datetime.now()
    with pytest.raises(TypeError):
        vc.EvFileInfo(1)


def test_local_time_from_a_recording(tmp_path):
    ticks = 17_000_000_000_000_000 + 123_456_7  # 2023-11-14, with 100 ns digits
    reader = vc.EvFileReader.create_file_reader(write(tmp_path / "a.vtr", scene_events(10), local_time_ticks=ticks))
    assert reader.open()
    info = reader.get_file_metadata()
    assert info.local_time == datetime.datetime.fromtimestamp(float(ticks // 10) / 1e6)
    assert info.local_time.tzinfo is None


@pytest.mark.parametrize("ticks, micros", [(9, None), (-9, None), (10, 1), (-10, -1), (19, 1), (-25, -2)])
def test_local_time_truncates_ticks_to_microseconds(tmp_path, ticks, micros):
    reader = vc.EvFileReader.create_file_reader(write(tmp_path / "a.vtr", scene_events(1), local_time_ticks=ticks))
    assert reader.open()
    expected = None if micros is None else datetime.datetime.fromtimestamp(micros / 1e6)
    assert reader.get_file_metadata().local_time == expected


def test_local_time_out_of_range_raises_the_datetime_error(tmp_path):
    reader = vc.EvFileReader.create_file_reader(
        write(tmp_path / "a.vtr", scene_events(1), local_time_ticks=2**63 - 1))
    assert reader.open()
    info = reader.get_file_metadata()
    with pytest.raises((OverflowError, ValueError, OSError)):
        info.local_time
