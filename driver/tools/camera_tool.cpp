#include "vantrel/camera_tool.hpp"

#include "common/fault_hook.hpp"
#include "log/log.hpp"
#include "tools/camera_tool_core.hpp"

namespace vantrel {

namespace {
constexpr const char* kInjected = "the driver failed to carry out the operation";
}

CameraTool::CameraTool(std::unique_ptr<CameraToolCore> core) : core_(std::move(core)) {}

CameraTool::~CameraTool() = default;

ToolInfo CameraTool::info() const {
    if (faults::hit(Operation::CameraTool_info)) {
        log::warning("tool '", core_->info().id, "': info failed");
        return ToolInfo{};
    }
    return core_->info();
}

const std::vector<ParamDescriptor>& CameraTool::schema() const {
    static const std::vector<ParamDescriptor> none;
    if (faults::hit(Operation::CameraTool_schema)) {
        log::warning("tool '", core_->info().id, "': schema failed");
        return none;
    }
    return core_->schema();
}

std::optional<ParamValue> CameraTool::get(std::string_view name) const {
    if (faults::hit(Operation::CameraTool_get)) {
        log::warning("tool '", core_->info().id, "': get of '", name, "' failed");
        return std::nullopt;
    }
    return core_->get(name);
}

ParamResult CameraTool::set(std::string_view name, const ParamValue& value) {
    if (faults::hit(Operation::CameraTool_set)) {
        log::warning("tool '", core_->info().id, "': set of '", name, "' failed");
        return ParamResult::failure(std::string(name), kInjected);
    }
    return core_->set(name, value);
}

ParamResult CameraTool::apply(const ParamValueMap& values) {
    if (faults::hit(Operation::CameraTool_apply)) {
        log::warning("tool '", core_->info().id, "': apply failed");
        return ParamResult::failure("", kInjected);
    }
    return core_->apply(values);
}

nlohmann::json CameraTool::toJson() const {
    if (faults::hit(Operation::CameraTool_toJson)) {
        log::warning("tool '", core_->info().id, "': toJson failed");
        return nlohmann::json();
    }
    return core_->toJson();
}

ParamResult CameraTool::fromJson(const nlohmann::json& json) {
    if (faults::hit(Operation::CameraTool_fromJson)) {
        log::warning("tool '", core_->info().id, "': fromJson failed");
        return ParamResult::failure("", kInjected);
    }
    return core_->fromJson(json);
}

}  // namespace vantrel
