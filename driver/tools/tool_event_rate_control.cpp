#include "tools/rate_limiter.hpp"
#include "tools/tool_building.hpp"

namespace vantrel::tools {

namespace {

// A ceiling on the delivered event rate.
struct RateControlSettings {
    bool enabled;
    std::uint64_t max_event_rate;  // events per second
};

RateControlSettings read_rate_control(const ParamValueMap& values) {
    return RateControlSettings{bool_of(values, "enabled"),
                               static_cast<std::uint64_t>(int_of(values, "max_event_rate"))};
}

class RateControlStage final : public ToolStage {
public:
    explicit RateControlStage(std::shared_ptr<CameraTool> tool) : settings_(std::move(tool), &read_rate_control) {}
    void restart() override { limiter_.reset(); }
    void filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end) override {
        const bool was_enabled = settings_.get().enabled;
        if (settings_.refresh()) {
            limiter_.configure(settings_.get().max_event_rate);
            if (settings_.get().enabled && !was_enabled) limiter_.reset();
        }
        if (settings_.get().enabled) limiter_.filter(events, t_begin, t_end);
    }

private:
    WatchedSettings<RateControlSettings> settings_;
    RateLimiter limiter_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled",
                                "Keep the delivered event rate under max_event_rate in every millisecond, "
                                "thinning the events of a busy millisecond evenly",
                                false));
    params.push_back(int_param("max_event_rate", "Highest delivered event rate", "ev/s", 1000, 100000000,
                               5000000));
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t, std::uint16_t) {
    return std::make_unique<RateControlStage>(std::move(tool));
}

}  // namespace

const ToolDefinition& event_rate_control_tool() {
    static const ToolDefinition definition{"Ceiling on the delivered event rate", &make_core, &make_stage, 4};
    return definition;
}

}  // namespace vantrel::tools
