#include "vantrel/names.hpp"

namespace vantrel {

std::string to_string(ToolType type) {
    switch (type) {
#define VANTREL_TOOL_NAME(enumerator, number, id, name) \
    case ToolType::enumerator: return name;
        VANTREL_TOOL_KINDS(VANTREL_TOOL_NAME)
#undef VANTREL_TOOL_NAME
    }
    return "Unknown tool (" + std::to_string(static_cast<int>(type)) + ")";
}

std::string to_string(ParamType type) {
    switch (type) {
        case ParamType::INT: return "int";
        case ParamType::FLOAT: return "float";
        case ParamType::BOOL: return "bool";
        case ParamType::STRING: return "string";
        case ParamType::ENUM: return "enum";
    }
    return "unknown type (" + std::to_string(static_cast<int>(type)) + ")";
}

std::string tool_id(ToolType type) {
    switch (type) {
#define VANTREL_TOOL_ID(enumerator, number, id, name) \
    case ToolType::enumerator: return #id;
        VANTREL_TOOL_KINDS(VANTREL_TOOL_ID)
#undef VANTREL_TOOL_ID
    }
    return "unknown";
}

}  // namespace vantrel
