// The parts of ICamera that every camera shares: its description, its tools
// and the closed flag.
#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#include "common/fault_hook.hpp"
#include "log/log.hpp"
#include "vantrel/camera.hpp"
#include "vantrel/camera_tool.hpp"
#include "vantrel/names.hpp"

namespace vantrel {

struct ICamera::State {
    // Descriptions are never changed in place: a new firmware version
    // publishes a new record, so a reference handed out earlier stays valid
    // (and consistent) while another thread upgrades.
    std::mutex mutex;  // guards descriptions (writers only; readers load `current`); a leaf lock
    std::deque<CameraDescription> descriptions;
    std::atomic<const CameraDescription*> current{nullptr};
    std::vector<std::shared_ptr<CameraTool>> tools;
    std::atomic<bool> closed{false};
};

ICamera::ICamera(CameraDescription description, std::vector<std::shared_ptr<CameraTool>> tools)
    : state_(std::make_unique<State>()) {
    state_->descriptions.push_back(std::move(description));
    state_->current.store(&state_->descriptions.back(), std::memory_order_release);
    state_->tools = std::move(tools);
}

ICamera::~ICamera() = default;

const CameraDescription& ICamera::getDescription() const {
    // The fault point may throw or wait; a reference has no failure value.
    faults::hit(Operation::ICamera_getDescription);
    return *state_->current.load(std::memory_order_acquire);
}

void ICamera::setFirmwareVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    CameraDescription next = *state_->current.load(std::memory_order_acquire);
    next.firmware_version = version;
    state_->descriptions.push_back(std::move(next));
    state_->current.store(&state_->descriptions.back(), std::memory_order_release);
}

void ICamera::markClosed() noexcept { state_->closed.store(true, std::memory_order_release); }

bool ICamera::isClosed() const noexcept { return state_->closed.load(std::memory_order_acquire); }

const std::vector<std::shared_ptr<CameraTool>>& ICamera::tools() const noexcept { return state_->tools; }

std::vector<ToolInfo> ICamera::getToolsInfo() const {
    if (faults::hit(Operation::ICamera_getToolsInfo)) return {};
    if (isClosed()) {
        log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": getToolsInfo refused: the camera is closed");
        return {};
    }
    std::vector<ToolInfo> infos;
    infos.reserve(state_->tools.size());
    for (const auto& tool : state_->tools) infos.push_back(tool->info());
    return infos;
}

ToolInfo ICamera::getToolInfo(ToolType type) const {
    // What callers get for a tool the camera does not have (or cannot look up).
    ToolInfo absent{type, tool_id(type), to_string(type), ""};
    if (faults::hit(Operation::ICamera_getToolInfo)) return absent;
    if (isClosed()) {
        log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": getToolInfo refused: the camera is closed");
        return absent;
    }
    for (const auto& tool : state_->tools) {
        ToolInfo info = tool->info();
        if (info.type == type) return info;
    }
    log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": has no ", tool_id(type), " tool");
    return absent;
}

std::shared_ptr<CameraTool> ICamera::getTool(ToolType type) const {
    if (faults::hit(Operation::ICamera_getTool)) return nullptr;
    if (isClosed()) {
        log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": getTool refused: the camera is closed");
        return nullptr;
    }
    for (const auto& tool : state_->tools) {
        if (tool->info().type == type) return tool;
    }
    log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": has no ", tool_id(type), " tool");
    return nullptr;
}

std::shared_ptr<CameraTool> ICamera::getToolById(const std::string& id) const {
    if (faults::hit(Operation::ICamera_getToolById)) return nullptr;
    if (isClosed()) {
        log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": getToolById refused: the camera is closed");
        return nullptr;
    }
    for (const auto& tool : state_->tools) {
        if (tool->info().id == id) return tool;
    }
    log::warning("camera ", state_->current.load(std::memory_order_acquire)->serial, ": has no tool with id '", id, "'");
    return nullptr;
}

}  // namespace vantrel
