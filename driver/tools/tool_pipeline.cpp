#include "tools/tool_access.hpp"
#include "tools/tool_pipeline.hpp"

#include <algorithm>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_table.hpp"

namespace vantrel::tools {

ToolPipeline::ToolPipeline(std::vector<std::shared_ptr<CameraTool>> tools, std::uint16_t width,
                           std::uint16_t height) {
    std::vector<std::pair<int, std::unique_ptr<ToolStage>>> ordered;
    for (auto& tool : tools) {
        if (!tool) continue;
        const ToolDefinition& d = definition(core_of(*tool).info().type);
        ordered.emplace_back(d.pipeline_order, d.make_stage(tool, width, height));
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [order, stage] : ordered) stages_.push_back(std::move(stage));
}

ToolPipeline::~ToolPipeline() = default;

void ToolPipeline::restart() {
    for (const auto& stage : stages_) stage->restart();
}

SourceControls ToolPipeline::controls() {
    SourceControls controls;
    for (const auto& stage : stages_) stage->adjust(controls);
    return controls;
}

void ToolPipeline::filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end) {
    for (const auto& stage : stages_) stage->filter(events, t_begin, t_end);
}

void ToolPipeline::triggers(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out) {
    for (const auto& stage : stages_) stage->triggers(t_begin, t_end, out);
}

std::uint64_t ToolPipeline::timeOffset() {
    std::uint64_t offset = 0;
    for (const auto& stage : stages_) offset += stage->timeOffset();
    return offset;
}

}  // namespace vantrel::tools
