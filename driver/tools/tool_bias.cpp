#include <cmath>

#include "tools/tool_building.hpp"

namespace vantrel::tools {

namespace {

// Contrast thresholds and gain; together they scale the event rate.
struct BiasSettings {
    int threshold_on;
    int threshold_off;
    float gain;
    // gain * 2^(-(threshold_on + threshold_off) / 50): 1 at the defaults,
    // rising as a threshold falls or the gain rises, falling otherwise.
    double rateScale() const { return static_cast<double>(gain) * std::exp2(-(threshold_on + threshold_off) / 50.0); }
};

BiasSettings read_bias(const ParamValueMap& values) {
    return BiasSettings{int_of(values, "threshold_on"), int_of(values, "threshold_off"), float_of(values, "gain")};
}

class BiasStage final : public ToolStage {
public:
    explicit BiasStage(std::shared_ptr<CameraTool> tool) : bias_(std::move(tool), &read_bias) {}
    void adjust(SourceControls& controls) override {
        bias_.refresh();
        controls.rate_scale = bias_.get().rateScale();
    }

private:
    WatchedSettings<BiasSettings> bias_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
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
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t, std::uint16_t) {
    return std::make_unique<BiasStage>(std::move(tool));
}

}  // namespace

const ToolDefinition& bias_tool() {
    static const ToolDefinition definition{"Pixel sensitivity: contrast thresholds and front-end gain", &make_core,
                                           &make_stage, 0};
    return definition;
}

}  // namespace vantrel::tools
