#include "tools/tool_building.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

TriggerInSettings read_trigger_in(const ParamValueMap& values) {
    return TriggerInSettings{bool_of(values, "enabled"), int_of(values, "channel"),
                             float_of(values, "frequency_hz")};
}

std::unique_ptr<CameraToolCore> make_trigger_in_core() {
    std::vector<ParamSpec> params;
    params.push_back(bool_param(
        "enabled", "Feed a square wave into the trigger input: a rising edge every period, a falling edge "
                   "half a period later",
        false));
    params.push_back(int_param("channel", "Trigger input channel; the id of every edge", "", 0, 7, 0));
    params.push_back(float_param("frequency_hz", "Frequency of the simulated input signal", "Hz", 0.1f, 10000.0f,
                                 100.0f));
    return std::make_unique<CameraToolCore>(
        tool_info(ToolType::TOOL_TRIGGER_IN, "External trigger input, fed by a simulated square wave"),
        std::move(params));
}

}  // namespace vantrel::tools
