#include "tools/tool_building.hpp"
#include "tools/trigger_generator.hpp"

namespace vantrel::tools {

namespace {

TriggerInSettings read_trigger_in(const ParamValueMap& values) {
    return TriggerInSettings{bool_of(values, "enabled"), int_of(values, "channel"),
                             float_of(values, "frequency_hz")};
}

class TriggerInStage final : public ToolStage {
public:
    explicit TriggerInStage(std::shared_ptr<CameraTool> tool) : trigger_(std::move(tool), &read_trigger_in) {}
    void restart() override { generator_.reset(); }
    void triggers(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out) override {
        if (trigger_.refresh()) generator_.configure(trigger_.get());
        generator_.generate(t_begin, t_end, out);
    }

private:
    WatchedSettings<TriggerInSettings> trigger_;
    TriggerGenerator generator_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
    std::vector<ParamSpec> params;
    params.push_back(bool_param(
        "enabled", "Feed a square wave into the trigger input: a rising edge every period, a falling edge "
                   "half a period later",
        false));
    params.push_back(int_param("channel", "Trigger input channel; the id of every edge", "", 0, 7, 0));
    params.push_back(float_param("frequency_hz", "Frequency of the simulated input signal", "Hz", 0.1f, 10000.0f,
                                 100.0f));
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t, std::uint16_t) {
    return std::make_unique<TriggerInStage>(std::move(tool));
}

}  // namespace

const ToolDefinition& trigger_in_tool() {
    static const ToolDefinition definition{"External trigger input, fed by a simulated square wave", &make_core,
                                           &make_stage, 0};
    return definition;
}

}  // namespace vantrel::tools
