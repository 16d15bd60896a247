#include "tools/tool_building.hpp"
#include "tools/trail_filter.hpp"

namespace vantrel::tools {

namespace {

// Drops a pixel's events that follow its previous one closely.
struct TrailFilterSettings {
    bool enabled;
    std::uint64_t threshold_us;
};

TrailFilterSettings read_trail_filter(const ParamValueMap& values) {
    return TrailFilterSettings{bool_of(values, "enabled"),
                               static_cast<std::uint64_t>(int_of(values, "threshold_us"))};
}

class TrailFilterStage final : public ToolStage {
public:
    TrailFilterStage(std::shared_ptr<CameraTool> tool, std::uint16_t width, std::uint16_t height)
        : settings_(std::move(tool), &read_trail_filter), filter_(width, height) {}
    void restart() override { filter_.reset(); }
    void filter(std::vector<Event2D>& events, std::uint64_t, std::uint64_t) override {
        const bool was_enabled = settings_.get().enabled;
        if (settings_.refresh()) {
            filter_.configure(settings_.get().threshold_us);
            if (settings_.get().enabled && !was_enabled) filter_.reset();
        }
        if (settings_.get().enabled) filter_.filter(events);
    }

private:
    WatchedSettings<TrailFilterSettings> settings_;
    TrailFilter filter_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled",
                                "Drop an event that follows the previous event of the same pixel (passed or "
                                "dropped, of either polarity) by less than threshold_us",
                                false));
    params.push_back(int_param("threshold_us", "Minimum quiet time of a pixel before its next event passes",
                               "us", 1, 1000000, 1000));
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t width, std::uint16_t height) {
    return std::make_unique<TrailFilterStage>(std::move(tool), width, height);
}

}  // namespace

const ToolDefinition& event_trail_filter_tool() {
    static const ToolDefinition definition{"Removal of the trails of repeated events behind edges", &make_core,
                                           &make_stage, 3};
    return definition;
}

}  // namespace vantrel::tools
