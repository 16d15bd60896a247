#include "tools/tool_building.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

AntiFlickerSettings read_anti_flicker(const ParamValueMap& values) {
    return AntiFlickerSettings{bool_of(values, "enabled"), int_of(values, "low_frequency_hz"),
                               int_of(values, "high_frequency_hz")};
}

std::unique_ptr<CameraToolCore> make_anti_flicker_core() {
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled",
                                "Suppress the events of regions (16x16 pixels) whose brightness flickers with a "
                                "frequency inside the band",
                                false));
    params.push_back(int_param("low_frequency_hz", "Lowest flicker frequency suppressed", "Hz", 10, 1000, 90));
    params.push_back(int_param("high_frequency_hz", "Highest flicker frequency suppressed", "Hz", 10, 1000, 130));
    std::vector<CrossRule> rules;
    rules.push_back(CrossRule{{"low_frequency_hz", "high_frequency_hz"},
                              [](const ParamValueMap& v) -> std::optional<std::string> {
                                  const int low = int_of(v, "low_frequency_hz");
                                  const int high = int_of(v, "high_frequency_hz");
                                  if (low <= high) return std::nullopt;
                                  return "band " + std::to_string(low) + ".." + std::to_string(high) +
                                         " Hz is empty: low_frequency_hz must not exceed high_frequency_hz";
                              }});
    return std::make_unique<CameraToolCore>(
        tool_info(ToolType::TOOL_ANTI_FLICKER, "Suppression of flickering light sources (mains lighting)"),
        std::move(params), std::move(rules));
}

}  // namespace vantrel::tools
