#include "tools/tool_set.hpp"

#include <algorithm>
#include <stdexcept>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_definitions.hpp"
#include "tools/tool_journal.hpp"
#include "vantrel/names.hpp"

namespace vantrel::tools {

namespace {

std::unique_ptr<CameraToolCore> make_core(ToolType type, std::uint16_t width, std::uint16_t height) {
    switch (type) {
        case ToolType::TOOL_BIAS: return make_bias_core();
        case ToolType::TOOL_TRIGGER_IN: return make_trigger_in_core();
        case ToolType::TOOL_SYNC: return make_sync_core();
        case ToolType::TOOL_ANTI_FLICKER: return make_anti_flicker_core();
        case ToolType::TOOL_EVENT_TRAIL_FILTER: return make_event_trail_filter_core();
        case ToolType::TOOL_EVENT_RATE_CONTROL: return make_event_rate_control_core();
        case ToolType::TOOL_ROI: return make_roi_core(width, height);
    }
    throw std::invalid_argument("no tool of kind " + std::to_string(static_cast<int>(type)));
}

}  // namespace

ToolSet make_tool_set(const std::vector<ToolType>& types, std::uint16_t width, std::uint16_t height) {
    ToolSet set;
    set.journal = std::make_shared<ToolJournal>();
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (std::find(types.begin(), types.begin() + i, types[i]) != types.begin() + i) {
            throw std::invalid_argument("tool '" + tool_id(types[i]) + "' listed twice");
        }
        auto core = make_core(types[i], width, height);
        core->setJournal(set.journal);
        set.tools.push_back(std::make_shared<CameraTool>(std::move(core)));
    }
    return set;
}

}  // namespace vantrel::tools
