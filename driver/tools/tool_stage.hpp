#pragma once

// A tool's part of a camera's stream. Each kind of tool that acts on the
// stream has a stage (its definition makes it); the camera's ToolPipeline
// runs the stages of its tools on the stream thread, in the order the tool
// table gives.

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/camera_tool_core.hpp"
#include "tools/source_controls.hpp"
#include "tools/tool_access.hpp"
#include "vantrel/camera_tool.hpp"
#include "vantrel/events.hpp"

namespace vantrel::tools {

class ToolStage {
public:
    virtual ~ToolStage() = default;

    // Forgets what the stage learnt from the stream; called when a stream starts.
    virtual void restart() {}
    // Adjusts what the event source does for the next slice.
    virtual void adjust(SourceControls& /*controls*/) {}
    // Filters one slice of events, [t_begin, t_end) of stream time, in place.
    virtual void filter(std::vector<Event2D>& /*events*/, std::uint64_t /*t_begin*/, std::uint64_t /*t_end*/) {}
    // Appends the trigger-in edges the stage emits in [t_begin, t_end).
    virtual void triggers(std::uint64_t /*t_begin*/, std::uint64_t /*t_end*/, std::vector<EventTriggerIn>& /*out*/) {}
    // What the stage adds to the camera's time base, read when a stream starts.
    virtual std::uint64_t timeOffset() { return 0; }
};

// A tool's settings as last read. The tool's version counter says whether
// they are still current, so a slice costs one atomic load per tool and the
// tool's lock is taken only after a write.
template <class Settings>
class WatchedSettings {
public:
    using Read = Settings (*)(const ParamValueMap&);

    // Read at the first refresh().
    WatchedSettings(std::shared_ptr<CameraTool> tool, Read read) : tool_(std::move(tool)), read_(read) {}

    // True when the settings changed since the last call.
    bool refresh() {
        const CameraToolCore& core = core_of(*tool_);
        if (core.version() == seen_) return false;
        const auto snapshot = core.snapshot();
        settings_ = read_(snapshot.values);
        seen_ = snapshot.version;
        return true;
    }
    const Settings& get() const noexcept { return settings_; }

private:
    std::shared_ptr<CameraTool> tool_;
    Read read_;
    std::uint64_t seen_ = 0;  // versions start at 1
    Settings settings_{};
};

}  // namespace vantrel::tools
