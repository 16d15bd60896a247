#include "tools/anti_flicker_filter.hpp"
#include "tools/tool_building.hpp"

namespace vantrel::tools {

namespace {

// Suppression of pixels that flicker within a frequency band.
struct AntiFlickerSettings {
    bool enabled;
    int low_frequency_hz;
    int high_frequency_hz;
};

AntiFlickerSettings read_anti_flicker(const ParamValueMap& values) {
    return AntiFlickerSettings{bool_of(values, "enabled"), int_of(values, "low_frequency_hz"),
                               int_of(values, "high_frequency_hz")};
}

class AntiFlickerStage final : public ToolStage {
public:
    AntiFlickerStage(std::shared_ptr<CameraTool> tool, std::uint16_t width, std::uint16_t height)
        : settings_(std::move(tool), &read_anti_flicker), filter_(width, height) {}
    void restart() override { filter_.reset(); }
    void filter(std::vector<Event2D>& events, std::uint64_t, std::uint64_t) override {
        const bool was_enabled = settings_.get().enabled;
        if (settings_.refresh()) {
            const AntiFlickerSettings& s = settings_.get();
            filter_.configure(s.low_frequency_hz, s.high_frequency_hz);
            // Events that went by while disabled were not watched: start afresh.
            if (s.enabled && !was_enabled) filter_.reset();
        }
        if (settings_.get().enabled) filter_.filter(events);
    }

private:
    WatchedSettings<AntiFlickerSettings> settings_;
    AntiFlickerFilter filter_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
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
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params), std::move(rules));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t width, std::uint16_t height) {
    return std::make_unique<AntiFlickerStage>(std::move(tool), width, height);
}

}  // namespace

const ToolDefinition& anti_flicker_tool() {
    static const ToolDefinition definition{"Suppression of flickering light sources (mains lighting)", &make_core,
                                           &make_stage, 2};
    return definition;
}

}  // namespace vantrel::tools
