#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/source_controls.hpp"
#include "tools/tool_stage.hpp"
#include "vantrel/camera_tool.hpp"
#include "vantrel/events.hpp"

namespace vantrel::tools {

// How a camera's tools act on its stream: the stages of its tools (each
// kind's definition makes its stage), in the order the tool table gives.
// Owned and called by the camera's stream thread only; each stage reads its
// tool's current settings itself.
class ToolPipeline {
public:
    ToolPipeline(std::vector<std::shared_ptr<CameraTool>> tools, std::uint16_t width,
                 std::uint16_t height);
    ~ToolPipeline();
    ToolPipeline(const ToolPipeline&) = delete;
    ToolPipeline& operator=(const ToolPipeline&) = delete;

    // Forgets the state of the stateful filters; called when the stream starts.
    void restart();
    // What the event source must do for the next slice (bias).
    SourceControls controls();
    // Filters one slice of events in place (region of interest, anti-flicker,
    // trail filter, rate control). The slice covers [t_begin, t_end) of
    // stream time.
    void filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end);
    // Appends the trigger-in edges the trigger_in tool emits in [t_begin, t_end).
    void triggers(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out);
    // Offset that the sync tool adds to the camera's time base, read at start.
    std::uint64_t timeOffset();

private:
    std::vector<std::unique_ptr<ToolStage>> stages_;
};

}  // namespace vantrel::tools
