#include "tools/tool_table.hpp"

#include <stdexcept>
#include <string>

#include "vantrel/names.hpp"

namespace vantrel::tools {

// Defined in tool_<id>.cpp, one for each row of the table.
#define VANTREL_TOOL_DEFINITION(enumerator, number, id, name) const ToolDefinition& id##_tool();
VANTREL_TOOL_KINDS(VANTREL_TOOL_DEFINITION)
#undef VANTREL_TOOL_DEFINITION

const ToolDefinition& definition(ToolType type) {
    switch (type) {
#define VANTREL_TOOL_CASE(enumerator, number, id, name) \
    case ToolType::enumerator: return id##_tool();
        VANTREL_TOOL_KINDS(VANTREL_TOOL_CASE)
#undef VANTREL_TOOL_CASE
    }
    throw std::invalid_argument("no tool of kind " + std::to_string(static_cast<int>(type)));
}

ToolInfo tool_info(ToolType type) {
    return ToolInfo{type, tool_id(type), to_string(type), definition(type).description};
}

}  // namespace vantrel::tools
