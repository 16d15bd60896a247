#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/camera_tool.hpp"
#include "vantrel/enums.hpp"

namespace vantrel::tools {

// The tools of one device; they outlive any open ICamera.
struct ToolSet {
    std::vector<std::shared_ptr<CameraTool>> tools;
};

// Builds the tools of the given kinds, in that order, for a sensor of that size.
ToolSet make_tool_set(const std::vector<ToolType>& types, std::uint16_t width, std::uint16_t height);

}  // namespace vantrel::tools
