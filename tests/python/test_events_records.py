"""The event records: constructors, fields, reprs and integer conversion."""

import pytest

import vantrel_core as vc


def test_event2d_constructors_fields_and_repr():
    e = vc.Event2D()
    assert (e.x, e.y, e.polarity, e.timestamp) == (0, 0, 0, 0)
    e = vc.Event2D(1, 2, 1, 5)
    assert (e.x, e.y, e.polarity, e.timestamp) == (1, 2, 1, 5)
    assert repr(e) == "<Event2D x=1 y=2 polarity=1 timestamp=5>"
    e = vc.Event2D(timestamp=2**64 - 1, polarity=255, y=65535, x=0)
    assert repr(e) == "<Event2D x=0 y=65535 polarity=255 timestamp=18446744073709551615>"
    e.x = 7
    e.timestamp = 123
    assert repr(e) == "<Event2D x=7 y=65535 polarity=255 timestamp=123>"


@pytest.mark.parametrize("args", [(65536, 0, 0, 0), (0, 0, 256, 0), (-1, 0, 0, 0), (0, 0, 0, -1), (0.5, 0, 0, 0), (None, 0, 0, 0)])
def test_event2d_rejects_values_outside_each_field(args):
    with pytest.raises(TypeError):
        vc.Event2D(*args)


def test_field_assignment_out_of_range_keeps_the_value():
    e = vc.Event2D(1, 2, 1, 5)
    for field, bad in [("x", 65536), ("y", -1), ("polarity", 256), ("timestamp", 1.5), ("x", None)]:
        with pytest.raises(TypeError):
            setattr(e, field, bad)
    assert (e.x, e.y, e.polarity, e.timestamp) == (1, 2, 1, 5)


def test_trigger_in_argument_order_and_signed_fields():
    t = vc.EventTriggerIn()
    assert (t.id, t.polarity, t.timestamp) == (0, 0, 0)
    t = vc.EventTriggerIn(3, -1, 99)
    assert (t.id, t.polarity, t.timestamp) == (3, -1, 99)
    assert vc.EventTriggerIn(-1, -1, 0).id == -1
    with pytest.raises(TypeError):
        vc.EventTriggerIn(40000, 0, 0)
    with pytest.raises(TypeError):
        vc.EventTriggerIn(0, 0, -5)
    assert repr(t).startswith("<vantrel_core.EventTriggerIn object at ")


def test_statistics_record():
    s = vc.EvCameraStatisticInfo(10, 20)
    assert (s.bandwidth_byte, s.events_count) == (10, 20)
    s = vc.EvCameraStatisticInfo()
    assert (s.bandwidth_byte, s.events_count) == (0, 0)
    s.events_count = 2**64 - 1
    with pytest.raises(TypeError):
        s.bandwidth_byte = -1
    assert repr(s).startswith("<vantrel_core.EvCameraStatisticInfo object at ")
