#pragma once

// What the tool definitions (tool_<id>.cpp) share: building parameter specs
// and reading settings back out of a tool's values.

#include <string>
#include <vector>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_stage.hpp"
#include "tools/tool_table.hpp"

namespace vantrel::tools {

inline ParamSpec int_param(std::string name, std::string description, std::string unit, int min, int max,
                           int default_value) {
    return ParamSpec{ParamDescriptor{std::move(name), ParamType::INT, std::move(description), std::move(unit),
                                     ParamConstraint{ParamConstraint::IntRange{min, max, default_value}}},
                     {}};
}

inline ParamSpec float_param(std::string name, std::string description, std::string unit, float min, float max,
                             float default_value) {
    return ParamSpec{ParamDescriptor{std::move(name), ParamType::FLOAT, std::move(description), std::move(unit),
                                     ParamConstraint{ParamConstraint::FloatRange{min, max, default_value}}},
                     {}};
}

inline ParamSpec bool_param(std::string name, std::string description, bool default_value) {
    return ParamSpec{ParamDescriptor{std::move(name), ParamType::BOOL, std::move(description), "",
                                     ParamConstraint{ParamConstraint::BoolDef{default_value}}},
                     {}};
}

inline ParamSpec enum_param(std::string name, std::string description, std::vector<std::string> options,
                            std::string default_value) {
    return ParamSpec{
        ParamDescriptor{std::move(name), ParamType::ENUM, std::move(description), "",
                        ParamConstraint{ParamConstraint::EnumDef{std::move(options), std::move(default_value)}}},
        {}};
}

inline ParamSpec string_param(std::string name, std::string description, std::string default_value,
                              std::function<std::optional<std::string>(const ParamValue&)> check) {
    return ParamSpec{ParamDescriptor{std::move(name), ParamType::STRING, std::move(description), "",
                                     ParamConstraint{ParamConstraint::StringDef{std::move(default_value)}}},
                     std::move(check)};
}

// Values in a tool's map always hold their parameter's own alternative.
inline int int_of(const ParamValueMap& values, const char* name) { return std::get<int>(values.at(name)); }
inline float float_of(const ParamValueMap& values, const char* name) { return std::get<float>(values.at(name)); }
inline bool bool_of(const ParamValueMap& values, const char* name) { return std::get<bool>(values.at(name)); }
inline const std::string& text_of(const ParamValueMap& values, const char* name) {
    return std::get<std::string>(values.at(name));
}

}  // namespace vantrel::tools
