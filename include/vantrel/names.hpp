#pragma once

#include <string>

#include "vantrel/enums.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// Human-readable names ("Bias", "Region of Interest", "int", ...).
VANTREL_EXPORT std::string to_string(ToolType type);
VANTREL_EXPORT std::string to_string(ParamType type);

// Stable lowercase id of a tool kind ("bias", "roi", ...); "unknown" for a
// value that names no tool.
VANTREL_EXPORT std::string tool_id(ToolType type);

}  // namespace vantrel
