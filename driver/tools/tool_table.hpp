#pragma once

// The driver's definition of each kind of tool, keyed by the table of tool
// kinds (vantrel/tool_kinds.hpp): what the tool is for, its parameters and
// rules, and its part of the stream. Each definition lives in
// tool_<id>.cpp.

#include <cstdint>
#include <memory>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_stage.hpp"
#include "vantrel/camera_tool.hpp"
#include "vantrel/enums.hpp"
#include "vantrel/params.hpp"

namespace vantrel::tools {

struct ToolDefinition {
    // ToolInfo::description.
    const char* description;
    // The tool's state and rules for a sensor of that size, with this identity.
    std::unique_ptr<CameraToolCore> (*make_core)(ToolInfo info, std::uint16_t width, std::uint16_t height);
    // The tool's part of a stream from a sensor of that size.
    std::unique_ptr<ToolStage> (*make_stage)(std::shared_ptr<CameraTool> tool, std::uint16_t width,
                                             std::uint16_t height);
    // Stages run in this order, lower first (ties: in the order of the
    // table). It matters for the filters: the region of interest goes
    // first, so the others see only the events inside it; rate control
    // goes last, so its budget counts the events that are delivered.
    int pipeline_order;
};

// The definition of that kind; std::invalid_argument for a value that
// names no tool.
const ToolDefinition& definition(ToolType type);

// type, id, display name and description of that kind.
ToolInfo tool_info(ToolType type);

}  // namespace vantrel::tools
