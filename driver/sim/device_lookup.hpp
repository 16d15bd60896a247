#pragma once

#include <memory>
#include <string>

#include "tools/tool_set.hpp"

namespace vantrel::sim {

// The tools of the plugged-in simulated device with that serial, or nullptr.
std::shared_ptr<const tools::ToolSet> find_tool_set(const std::string& serial);

}  // namespace vantrel::sim
