#include "tools/tool_building.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

RateControlSettings read_rate_control(const ParamValueMap& values) {
    return RateControlSettings{bool_of(values, "enabled"),
                               static_cast<std::uint64_t>(int_of(values, "max_event_rate"))};
}

std::unique_ptr<CameraToolCore> make_event_rate_control_core() {
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled",
                                "Keep the delivered event rate under max_event_rate in every millisecond, "
                                "thinning the events of a busy millisecond evenly",
                                false));
    params.push_back(int_param("max_event_rate", "Highest delivered event rate", "ev/s", 1000, 100000000,
                               5000000));
    return std::make_unique<CameraToolCore>(
        tool_info(ToolType::TOOL_EVENT_RATE_CONTROL, "Ceiling on the delivered event rate"), std::move(params));
}

}  // namespace vantrel::tools
