// The parameter schema records: tool identity, errors and results of
// writes, the five constraint kinds, constraints and descriptors.
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include "module/registration.hpp"
#include "vantrel/params.hpp"

namespace vantrel_py {

namespace {

using vantrel::ParamConstraint;

// The accessor of one constraint kind: a copy of the held kind, or None.
template <class Kind>
std::optional<Kind> kind_of(const ParamConstraint& constraint) {
    if (const Kind* kind = std::get_if<Kind>(&constraint.value)) return *kind;
    return std::nullopt;
}

}  // namespace

void register_param_records(py::module_& m) {
    using vantrel::ParamDescriptor;
    using vantrel::ParamError;
    using vantrel::ParamResult;
    using vantrel::ToolInfo;
    using BoolDef = ParamConstraint::BoolDef;
    using EnumDef = ParamConstraint::EnumDef;
    using FloatRange = ParamConstraint::FloatRange;
    using IntRange = ParamConstraint::IntRange;
    using StringDef = ParamConstraint::StringDef;

    // py::init<>() value-initialises: zero-filled fields, then the defaults.
    py::class_<ToolInfo>(m, "ToolInfo")
        .def(py::init<>())
        .def_readwrite("type", &ToolInfo::type)
        .def_readwrite("id", &ToolInfo::id)
        .def_readwrite("display_name", &ToolInfo::display_name)
        .def_readwrite("description", &ToolInfo::description)
        .def("__repr__", [](const ToolInfo& info) {
            return "<ToolInfo id='" + info.id + "' name='" + info.display_name + "'>";
        });

    py::class_<ParamError>(m, "ParamError")
        .def(py::init<>())
        .def_readwrite("param", &ParamError::param)
        .def_readwrite("message", &ParamError::message)
        .def("__repr__", [](const ParamError& error) {
            return "<ParamError param='" + error.param + "' message='" + error.message + "'>";
        });

    // def_readwrite hands out class-typed members by reference_internal: the
    // ParamError read from `error` is the result's own member and keeps the
    // result alive; assignment copies into the member.
    py::class_<ParamResult>(m, "ParamResult")
        .def(py::init<>())
        .def_readwrite("ok", &ParamResult::ok)
        .def_readwrite("error", &ParamResult::error)
        .def("__bool__", [](const ParamResult& result) { return result.ok; })
        .def("__repr__", [](const ParamResult& result) {
            if (result.ok) return std::string("<ParamResult ok>");
            return "<ParamResult failed: " + result.error.param + " - " + result.error.message + ">";
        });

    // std::to_string of a float prints the widened value with "%f".
    py::class_<IntRange>(m, "ParamIntRange")
        .def(py::init<>())
        .def_readwrite("min", &IntRange::min)
        .def_readwrite("max", &IntRange::max)
        .def_readwrite("default_value", &IntRange::default_value)
        .def("__repr__", [](const IntRange& range) {
            return "<IntRange min=" + std::to_string(range.min) + " max=" + std::to_string(range.max) +
                   " default=" + std::to_string(range.default_value) + ">";
        });

    py::class_<FloatRange>(m, "ParamFloatRange")
        .def(py::init<>())
        .def_readwrite("min", &FloatRange::min)
        .def_readwrite("max", &FloatRange::max)
        .def_readwrite("default_value", &FloatRange::default_value)
        .def("__repr__", [](const FloatRange& range) {
            return "<FloatRange min=" + std::to_string(range.min) + " max=" + std::to_string(range.max) +
                   " default=" + std::to_string(range.default_value) + ">";
        });

    py::class_<BoolDef>(m, "ParamBoolDef")
        .def(py::init<>())
        .def_readwrite("default_value", &BoolDef::default_value)
        .def("__repr__", [](const BoolDef& def) {
            return std::string("<BoolDef default=") + (def.default_value ? "1" : "0") + ">";
        });

    py::class_<EnumDef>(m, "ParamEnumDef")
        .def(py::init<>())
        .def_readwrite("options", &EnumDef::options)
        .def_readwrite("default_value", &EnumDef::default_value)
        .def("__repr__", [](const EnumDef& def) {
            return "<EnumDef options=" + std::to_string(def.options.size()) + " default='" + def.default_value +
                   "'>";
        });

    py::class_<StringDef>(m, "ParamStringDef")
        .def(py::init<>())
        .def_readwrite("default_value", &StringDef::default_value)
        .def("__repr__", [](const StringDef& def) { return "<StringDef default='" + def.default_value + "'>"; });

    py::class_<ParamConstraint>(m, "ParamConstraint")
        .def(py::init<>())
        .def("get_int_range", &kind_of<IntRange>, "Get IntRange constraint, or None")
        .def("get_float_range", &kind_of<FloatRange>, "Get FloatRange constraint, or None")
        .def("get_bool_def", &kind_of<BoolDef>, "Get BoolDef constraint, or None")
        .def("get_enum_def", &kind_of<EnumDef>, "Get EnumDef constraint, or None")
        .def("get_string_def", &kind_of<StringDef>, "Get StringDef constraint, or None");

    py::class_<ParamDescriptor>(m, "ParamDescriptor")
        .def(py::init<>())
        .def_readwrite("name", &ParamDescriptor::name)
        .def_readwrite("type", &ParamDescriptor::type)
        .def_readwrite("description", &ParamDescriptor::description)
        .def_readwrite("unit", &ParamDescriptor::unit)
        .def_readwrite("constraint", &ParamDescriptor::constraint)
        .def("__repr__", [](const ParamDescriptor& descriptor) {
            return "<ParamDescriptor name='" + descriptor.name + "' unit='" + descriptor.unit + "'>";
        });
}

}  // namespace vantrel_py
