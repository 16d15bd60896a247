#pragma once

// Judging of single parameter values against their descriptors, and the
// JSON form of values. Shared by the tool core and configuration files.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "vantrel/params.hpp"

namespace vantrel::tools {

// A value the parameter accepts, in the parameter's own alternative, or the
// reason it was refused.
struct Judged {
    std::optional<ParamValue> value;
    std::string why;  // set when `value` is empty
};

// "int", "float", "bool" or "string": the alternative a value holds.
const char* alternative_name(const ParamValue& value);

// The value as messages and logs show it ("3", "0.1", "true", "'text'").
std::string describe(const ParamValue& value);

// Checks type and constraint. An int is accepted for a real-valued
// parameter (and becomes a float); nothing else is coerced.
Judged judge_value(const ParamDescriptor& descriptor, const ParamValue& value);

// Reads a JSON member as a value for the parameter, then judges it as above.
// JSON integers are taken for integer and real parameters, JSON reals only
// for real ones, booleans for switches and strings for texts and options.
Judged judge_json(const ParamDescriptor& descriptor, const nlohmann::json& member);

// The JSON form of a value: a real is written as the 32-bit value widened
// exactly, so reading it back restores the same float.
nlohmann::json value_to_json(const ParamValue& value);

// The name of a JSON value's type as messages show it ("array", "null", ...).
std::string json_type_name(const nlohmann::json& value);

// Checks that a descriptor is self-consistent: the constraint kind fits the
// type, the range is ordered and the default lies in it. Throws
// std::logic_error otherwise (a tool definition that cannot be right).
void check_descriptor(const ParamDescriptor& descriptor);

// The default value of a consistent descriptor.
ParamValue default_value(const ParamDescriptor& descriptor);

}  // namespace vantrel::tools
