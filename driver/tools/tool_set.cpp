// PLACEHOLDER until the tools land: devices have no tools.
#include "tools/tool_set.hpp"

namespace vantrel::tools {

ToolSet make_tool_set(const std::vector<ToolType>&, std::uint16_t, std::uint16_t) { return {}; }

}  // namespace vantrel::tools
