#include "tools/tool_building.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

TrailFilterSettings read_trail_filter(const ParamValueMap& values) {
    return TrailFilterSettings{bool_of(values, "enabled"),
                               static_cast<std::uint64_t>(int_of(values, "threshold_us"))};
}

std::unique_ptr<CameraToolCore> make_event_trail_filter_core() {
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled",
                                "Drop an event that follows the previous event of the same pixel (passed or "
                                "dropped, of either polarity) by less than threshold_us",
                                false));
    params.push_back(int_param("threshold_us", "Minimum quiet time of a pixel before its next event passes",
                               "us", 1, 1000000, 1000));
    return std::make_unique<CameraToolCore>(
        tool_info(ToolType::TOOL_EVENT_TRAIL_FILTER, "Removal of the trails of repeated events behind edges"),
        std::move(params));
}

}  // namespace vantrel::tools
