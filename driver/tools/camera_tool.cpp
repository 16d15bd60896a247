// PLACEHOLDER until the tools land: no tool accepts a write.
#include "vantrel/camera_tool.hpp"

#include "tools/camera_tool_core.hpp"

namespace vantrel {

CameraTool::CameraTool(std::unique_ptr<CameraToolCore> core) : core_(std::move(core)) {}
CameraTool::~CameraTool() = default;
ToolInfo CameraTool::info() const { return core_->info; }
const std::vector<ParamDescriptor>& CameraTool::schema() const { return core_->schema; }
std::optional<ParamValue> CameraTool::get(std::string_view) const { return std::nullopt; }
ParamResult CameraTool::set(std::string_view name, const ParamValue&) {
    return ParamResult::failure(std::string(name), "not implemented");
}
ParamResult CameraTool::apply(const ParamValueMap&) { return ParamResult::failure("", "not implemented"); }
nlohmann::json CameraTool::toJson() const { return nlohmann::json::object(); }
ParamResult CameraTool::fromJson(const nlohmann::json&) { return ParamResult::failure("", "not implemented"); }

}  // namespace vantrel
