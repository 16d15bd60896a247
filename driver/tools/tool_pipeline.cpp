#include "tools/tool_pipeline.hpp"

#include <optional>

#include "tools/camera_tool_core.hpp"
#include "tools/stream_filters.hpp"
#include "tools/tool_definitions.hpp"

namespace vantrel::tools {

namespace {

// A tool's settings as last read. The tool's version counter says whether
// they are still current, so a slice costs one atomic load per tool and the
// tool's lock is taken only after a write.
template <class Settings>
struct Watched {
    std::shared_ptr<CameraTool> tool;
    Settings (*read)(const ParamValueMap&);
    std::uint64_t seen = 0;  // versions start at 1
    Settings settings{};

    // True when the settings changed since the last call.
    bool refresh() {
        if (tool->core().version() == seen) return false;
        const auto snapshot = tool->core().snapshot();
        settings = read(snapshot.values);
        seen = snapshot.version;
        return true;
    }
};

template <class Settings>
std::optional<Watched<Settings>> watch(const std::vector<std::shared_ptr<CameraTool>>& tools, ToolType type,
                                       Settings (*read)(const ParamValueMap&)) {
    for (const auto& tool : tools) {
        if (tool && tool->core().info().type == type) return Watched<Settings>{tool, read};
    }
    return std::nullopt;
}

}  // namespace

struct ToolPipeline::State {
    State(const std::vector<std::shared_ptr<CameraTool>>& tools, std::uint16_t width, std::uint16_t height)
        : bias(watch(tools, ToolType::TOOL_BIAS, &read_bias)),
          trigger_in(watch(tools, ToolType::TOOL_TRIGGER_IN, &read_trigger_in)),
          sync(watch(tools, ToolType::TOOL_SYNC, &read_sync)),
          anti_flicker(watch(tools, ToolType::TOOL_ANTI_FLICKER, &read_anti_flicker)),
          trail(watch(tools, ToolType::TOOL_EVENT_TRAIL_FILTER, &read_trail_filter)),
          rate(watch(tools, ToolType::TOOL_EVENT_RATE_CONTROL, &read_rate_control)),
          roi(watch(tools, ToolType::TOOL_ROI, &read_roi)),
          flicker_filter(width, height),
          trail_filter(width, height) {}

    std::optional<Watched<BiasSettings>> bias;
    std::optional<Watched<TriggerInSettings>> trigger_in;
    std::optional<Watched<SyncSettings>> sync;
    std::optional<Watched<AntiFlickerSettings>> anti_flicker;
    std::optional<Watched<TrailFilterSettings>> trail;
    std::optional<Watched<RateControlSettings>> rate;
    std::optional<Watched<RoiSettings>> roi;

    AntiFlickerFilter flicker_filter;
    TrailFilter trail_filter;
    RateLimiter rate_limiter;
    TriggerGenerator trigger_generator;
};

ToolPipeline::ToolPipeline(std::vector<std::shared_ptr<CameraTool>> tools, std::uint16_t width,
                           std::uint16_t height)
    : state_(std::make_unique<State>(tools, width, height)) {}

ToolPipeline::~ToolPipeline() = default;

void ToolPipeline::restart() {
    state_->flicker_filter.reset();
    state_->trail_filter.reset();
    state_->rate_limiter.reset();
    state_->trigger_generator.reset();
}

SourceControls ToolPipeline::controls() {
    SourceControls controls;
    if (auto& bias = state_->bias) {
        bias->refresh();
        controls.rate_scale = bias->settings.rateScale();
    }
    return controls;
}

void ToolPipeline::filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end) {
    State& s = *state_;
    if (auto& roi = s.roi) {
        roi->refresh();
        if (roi->settings.enabled) filter_roi(roi->settings, events);
    }
    if (auto& af = s.anti_flicker) {
        const bool was_enabled = af->settings.enabled;
        if (af->refresh()) {
            s.flicker_filter.configure(af->settings.low_frequency_hz, af->settings.high_frequency_hz);
            // Events that went by while disabled were not watched: start afresh.
            if (af->settings.enabled && !was_enabled) s.flicker_filter.reset();
        }
        if (af->settings.enabled) s.flicker_filter.filter(events);
    }
    if (auto& trail = s.trail) {
        const bool was_enabled = trail->settings.enabled;
        if (trail->refresh()) {
            s.trail_filter.configure(trail->settings.threshold_us);
            if (trail->settings.enabled && !was_enabled) s.trail_filter.reset();
        }
        if (trail->settings.enabled) s.trail_filter.filter(events);
    }
    if (auto& rate = s.rate) {
        const bool was_enabled = rate->settings.enabled;
        if (rate->refresh()) {
            s.rate_limiter.configure(rate->settings.max_event_rate);
            if (rate->settings.enabled && !was_enabled) s.rate_limiter.reset();
        }
        if (rate->settings.enabled) s.rate_limiter.filter(events, t_begin, t_end);
    }
}

void ToolPipeline::triggers(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out) {
    auto& trigger = state_->trigger_in;
    if (!trigger) return;
    if (trigger->refresh()) state_->trigger_generator.configure(trigger->settings);
    state_->trigger_generator.generate(t_begin, t_end, out);
}

std::uint64_t ToolPipeline::timeOffset() {
    auto& sync = state_->sync;
    if (!sync) return 0;
    sync->refresh();
    return sync->settings.timeOffset();
}

}  // namespace vantrel::tools
