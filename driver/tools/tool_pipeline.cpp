// PLACEHOLDER until the tools land: the stream passes unchanged.
#include "tools/tool_pipeline.hpp"

namespace vantrel::tools {

struct ToolPipeline::State {};

ToolPipeline::ToolPipeline(std::vector<std::shared_ptr<CameraTool>>, std::uint16_t, std::uint16_t)
    : state_(std::make_unique<State>()) {}
ToolPipeline::~ToolPipeline() = default;
void ToolPipeline::restart() {}
stream::SourceControls ToolPipeline::controls() { return {}; }
void ToolPipeline::filter(std::vector<Event2D>&, std::uint64_t, std::uint64_t) {}
void ToolPipeline::triggers(std::uint64_t, std::uint64_t, std::vector<EventTriggerIn>&) {}
std::uint64_t ToolPipeline::timeOffset() { return 0; }

}  // namespace vantrel::tools
