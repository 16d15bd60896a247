#include "tools/tool_access.hpp"
#include "tools/tool_set.hpp"

#include <algorithm>
#include <stdexcept>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_table.hpp"
#include "vantrel/names.hpp"

namespace vantrel::tools {

ToolSet make_tool_set(const std::vector<ToolType>& types, std::uint16_t width, std::uint16_t height) {
    ToolSet set;
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (std::find(types.begin(), types.begin() + i, types[i]) != types.begin() + i) {
            throw std::invalid_argument("tool '" + tool_id(types[i]) + "' listed twice");
        }
        auto core = definition(types[i]).make_core(tool_info(types[i]), width, height);
        set.tools.push_back(ToolAccess::make(std::move(core)));
    }
    return set;
}

}  // namespace vantrel::tools
