"""The seven enumerations: values, names, equality rules and exports."""

import pickle

import pytest

import vantrel_core as vc

EXPECTED = {
    "InterfaceType": [("USB", 0), ("MIPI", 1)],
    "BatchConditionType": [("NO_CONDITION", 0), ("N_EVENTS", 1), ("N_US", 2)],
    "CameraStatus": [("STOPPED", 0), ("STARTED", 1)],
    "ToolType": [("TOOL_BIAS", 0), ("TOOL_TRIGGER_IN", 1), ("TOOL_SYNC", 2), ("TOOL_ANTI_FLICKER", 3),
                 ("TOOL_EVENT_TRAIL_FILTER", 4), ("TOOL_EVENT_RATE_CONTROL", 5), ("TOOL_ROI", 6)],
    "StreamStatus": [("STOP", 0), ("RUNNING", 1), ("SUSPEND", 2)],
    "LogLevelType": [("LOG_INVALID", -10), ("LOG_OFF", -9), ("LOG_FATAL", -3), ("LOG_ERROR", -2),
                     ("LOG_WARNING", -1), ("LOG_INFO", 0), ("LOG_DEBUG", 1)],
    "ParamType": [("INT", 0), ("FLOAT", 1), ("BOOL", 2), ("STRING", 3), ("ENUM", 4)],
}


@pytest.mark.parametrize("name", EXPECTED)
def test_members_values_order_and_exports(name):
    enum = getattr(vc, name)
    assert list(enum.__members__) == [m for m, _ in EXPECTED[name]]
    for member, value in EXPECTED[name]:
        item = getattr(enum, member)
        assert item.value == value == int(item) == item.__index__()
        assert item.name == member
        assert getattr(vc, member) is item
        assert repr(item) == "<%s.%s: %d>" % (name, member, value)
        assert str(item) == "%s.%s" % (name, member)
        assert hash(item) == hash(value)
        assert enum(value) == item
        assert pickle.loads(pickle.dumps(item)) == item
    assert enum.__doc__ == "Members:\n\n" + "\n\n".join("  " + m for m, _ in EXPECTED[name])


def test_unknown_values_and_ranges():
    odd = vc.LogLevelType(-5)
    assert odd.name == "???"
    assert repr(odd) == "<LogLevelType.???: -5>"
    assert vc.LogLevelType(-10) == vc.LOG_INVALID
    assert vc.ParamType(255).value == 255
    for bad in (256, -1):
        with pytest.raises(TypeError):
            vc.ParamType(bad)
    with pytest.raises(TypeError):
        vc.ToolType(2**31)
    vc.ToolType(-(2**31))


def test_scoped_equality():
    assert (vc.InterfaceType.USB == 0) is False
    assert (vc.InterfaceType.USB != 0) is True
    assert (vc.InterfaceType.USB == vc.BatchConditionType.NO_CONDITION) is False
    assert vc.ToolType.TOOL_ROI == vc.ToolType(6)
    with pytest.raises(TypeError):
        vc.InterfaceType.USB < vc.InterfaceType.MIPI


def test_plain_equality():
    assert vc.CameraStatus.STARTED == 1
    assert vc.BatchConditionType.N_EVENTS == 1
    assert vc.BatchConditionType.NO_CONDITION == vc.CameraStatus.STOPPED
    assert (vc.CameraStatus.STOPPED == None) is False  # noqa: E711
    assert (vc.CameraStatus.STOPPED != None) is True  # noqa: E711


def test_distinct_exports():
    assert vc.STOP is vc.StreamStatus.STOP
    assert vc.STOPPED is vc.CameraStatus.STOPPED
    assert vc.STOP is not vc.STOPPED
