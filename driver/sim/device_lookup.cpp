// PLACEHOLDER until the simulated devices land.
#include "sim/device_lookup.hpp"

namespace vantrel::sim {

std::shared_ptr<const tools::ToolSet> find_tool_set(const std::string&) { return nullptr; }

}  // namespace vantrel::sim
