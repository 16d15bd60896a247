#include <cmath>

#include "tools/tool_building.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

double BiasSettings::rateScale() const {
    return static_cast<double>(gain) * std::exp2(-(threshold_on + threshold_off) / 50.0);
}

BiasSettings read_bias(const ParamValueMap& values) {
    return BiasSettings{int_of(values, "threshold_on"), int_of(values, "threshold_off"), float_of(values, "gain")};
}

std::unique_ptr<CameraToolCore> make_bias_core() {
    std::vector<ParamSpec> params;
    params.push_back(int_param("threshold_on",
                               "Offset of the ON contrast threshold: higher values need a larger brightness "
                               "increase per event, so fewer events; every 50 steps halve or double the rate",
                               "step", -50, 50, 0));
    params.push_back(int_param("threshold_off",
                               "Offset of the OFF contrast threshold: higher values need a larger brightness "
                               "decrease per event, so fewer events; every 50 steps halve or double the rate",
                               "step", -50, 50, 0));
    params.push_back(float_param("gain", "Front-end gain; the event rate grows in proportion to it", "x", 0.5f,
                                 2.0f, 1.0f));
    return std::make_unique<CameraToolCore>(
        tool_info(ToolType::TOOL_BIAS, "Pixel sensitivity: contrast thresholds and front-end gain"),
        std::move(params));
}

}  // namespace vantrel::tools
