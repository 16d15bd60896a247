#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "vantrel/enums.hpp"

namespace vantrel {

// Identity of one tool of a camera.
struct ToolInfo {
    ToolType type;
    std::string id;
    std::string display_name;
    std::string description;
};

// One error reported for one parameter.
struct ParamError {
    std::string param;
    std::string message;
};

// Outcome of a parameter write; `error` is meaningful only when `ok` is false.
struct ParamResult {
    bool ok;
    ParamError error;

    static ParamResult success() { return ParamResult{true, {}}; }
    static ParamResult failure(std::string param, std::string message) {
        return ParamResult{false, ParamError{std::move(param), std::move(message)}};
    }
};

// The constraint of one parameter: exactly one of five kinds.
struct ParamConstraint {
    struct IntRange {
        std::int32_t min;
        std::int32_t max;
        std::int32_t default_value;
    };
    struct FloatRange {
        float min;
        float max;
        float default_value;
    };
    struct BoolDef {
        bool default_value;
    };
    struct EnumDef {
        std::vector<std::string> options;
        std::string default_value;
    };
    struct StringDef {
        std::string default_value;
    };

    std::variant<IntRange, FloatRange, BoolDef, EnumDef, StringDef> value;
};

// Schema entry of one parameter.
struct ParamDescriptor {
    std::string name;
    ParamType type;
    std::string description;
    std::string unit;
    ParamConstraint constraint;
};

// A parameter value; the alternatives' order is part of the interface.
using ParamValue = std::variant<int, float, bool, std::string>;

// Parameter sets, kept sorted by the byte-wise order of their names.
using ParamValueMap = std::map<std::string, ParamValue>;

}  // namespace vantrel
