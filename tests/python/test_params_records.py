"""The parameter schema records: construction, fields, constraint kinds, reprs."""
import gc

import pytest

import vantrel_core as vc


def test_new_records_are_value_initialised():
    info = vc.ToolInfo()
    assert (info.type, info.id, info.display_name, info.description) == (vc.ToolType.TOOL_BIAS, "", "", "")
    result = vc.ParamResult()
    assert result.ok is False and not result
    assert (result.error.param, result.error.message) == ("", "")
    descriptor = vc.ParamDescriptor()
    assert descriptor.type == vc.ParamType.INT
    assert (descriptor.name, descriptor.description, descriptor.unit) == ("", "", "")
    # The default constraint holds an integer range of zeros.
    held = descriptor.constraint.get_int_range()
    assert (held.min, held.max, held.default_value) == (0, 0, 0)
    assert vc.ParamFloatRange().default_value == 0.0
    assert vc.ParamEnumDef().options == []
    assert vc.ParamStringDef().default_value == ""


def test_reprs():
    info = vc.ToolInfo()
    info.id, info.display_name, info.description = "roi", "Region of Interest", "hidden"
    assert repr(info) == "<ToolInfo id='roi' name='Region of Interest'>"

    error = vc.ParamError()
    error.param, error.message = "x", "it's 'quoted'"
    assert repr(error) == "<ParamError param='x' message='it's 'quoted''>"

    result = vc.ParamResult()
    assert repr(result) == "<ParamResult failed:  - >"
    result.error = error
    assert repr(result) == "<ParamResult failed: x - it's 'quoted'>"
    result.ok = True
    assert repr(result) == "<ParamResult ok>" and bool(result)

    r = vc.ParamIntRange()
    r.min, r.max, r.default_value = -10, 2147483647, -2147483648
    assert repr(r) == "<IntRange min=-10 max=2147483647 default=-2147483648>"

    f = vc.ParamFloatRange()
    f.min, f.max, f.default_value = 0, 1.5, 0.1
    assert repr(f) == "<FloatRange min=0.000000 max=1.500000 default=0.100000>"
    assert f.default_value == 0.10000000149011612
    f.max = 1e10
    assert repr(f) == "<FloatRange min=0.000000 max=10000000000.000000 default=0.100000>"

    b = vc.ParamBoolDef()
    assert repr(b) == "<BoolDef default=0>"
    b.default_value = True
    assert repr(b) == "<BoolDef default=1>"

    e = vc.ParamEnumDef()
    e.options, e.default_value = ["a", "b", "c"], "b"
    assert repr(e) == "<EnumDef options=3 default='b'>"

    s = vc.ParamStringDef()
    s.default_value = "héllo"
    assert repr(s) == "<StringDef default='héllo'>"

    d = vc.ParamDescriptor()
    d.name, d.unit, d.description = "gain", "x", "not shown"
    assert repr(d) == "<ParamDescriptor name='gain' unit='x'>"
    assert not hasattr(vc.ParamConstraint, "__repr__") or vc.ParamConstraint.__repr__ is object.__repr__


def test_error_refers_into_its_result_and_keeps_it_alive():
    result = vc.ParamResult()
    error = result.error
    error.message = "changed through the view"
    assert result.error.message == "changed through the view"
    assert repr(result) == "<ParamResult failed:  - changed through the view>"
    del result
    gc.collect()
    error.param = "still valid"
    assert error.param == "still valid"

    # Assignment copies: the assigned object stays separate.
    result = vc.ParamResult()
    mine = vc.ParamError()
    mine.param = "p"
    result.error = mine
    mine.param = "q"
    assert result.error.param == "p"


def test_constraint_refers_into_its_descriptor_but_accessors_copy():
    descriptor = vc.ParamDescriptor()
    constraint = descriptor.constraint
    held = constraint.get_int_range()
    held.min = -99
    assert descriptor.constraint.get_int_range().min == 0
    del descriptor
    gc.collect()
    assert constraint.get_int_range().max == 0

    # Assigning a constraint copies it into the descriptor.
    other = vc.ParamDescriptor()
    other.constraint = constraint
    assert other.constraint is not constraint
    assert other.constraint.get_int_range() is not None


@pytest.mark.parametrize(
    "accessor", ["get_int_range", "get_float_range", "get_bool_def", "get_enum_def", "get_string_def"]
)
def test_a_default_constraint_answers_only_as_an_int_range(accessor):
    value = getattr(vc.ParamConstraint(), accessor)()
    assert (value is not None) == (accessor == "get_int_range")


def test_options_are_copied_both_ways():
    e = vc.ParamEnumDef()
    e.options = ("x", "y")
    options = e.options
    options.append("z")
    assert e.options == ["x", "y"]
    assert e.options is not e.options
    with pytest.raises(TypeError):
        e.options = "xy"  # a str is not taken as a sequence of options


def test_field_assignment_is_type_checked():
    r = vc.ParamIntRange()
    with pytest.raises(TypeError):
        r.min = 2**31
    with pytest.raises(TypeError):
        r.max = "1"
    assert (r.min, r.max) == (0, 0)
    with pytest.raises(TypeError):
        vc.ToolInfo().type = 3
    d = vc.ParamDescriptor()
    d.type = vc.ParamType.ENUM
    assert d.type == vc.ParamType.ENUM


def test_text_that_is_not_utf8_raises_on_read():
    error = vc.ParamError()
    error.message = b"\xff\xfe"
    with pytest.raises(UnicodeDecodeError):
        error.message
    with pytest.raises(UnicodeDecodeError):
        repr(error)
    error.message = b"ok"
    assert error.message == "ok"
