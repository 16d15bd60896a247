#include "vantrel/names.hpp"

namespace vantrel {

std::string to_string(ToolType type) {
    switch (type) {
        case ToolType::TOOL_BIAS: return "Bias";
        case ToolType::TOOL_TRIGGER_IN: return "Trigger In";
        case ToolType::TOOL_SYNC: return "Sync";
        case ToolType::TOOL_ANTI_FLICKER: return "Anti-Flicker";
        case ToolType::TOOL_EVENT_TRAIL_FILTER: return "Event Trail Filter";
        case ToolType::TOOL_EVENT_RATE_CONTROL: return "Event Rate Control";
        case ToolType::TOOL_ROI: return "Region of Interest";
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
        case ToolType::TOOL_BIAS: return "bias";
        case ToolType::TOOL_TRIGGER_IN: return "trigger_in";
        case ToolType::TOOL_SYNC: return "sync";
        case ToolType::TOOL_ANTI_FLICKER: return "anti_flicker";
        case ToolType::TOOL_EVENT_TRAIL_FILTER: return "event_trail_filter";
        case ToolType::TOOL_EVENT_RATE_CONTROL: return "event_rate_control";
        case ToolType::TOOL_ROI: return "roi";
    }
    return "unknown";
}

}  // namespace vantrel
