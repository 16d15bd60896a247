#include "sim/device_registry.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "file/replay_source.hpp"
#include "io/file_access.hpp"
#include "log/log.hpp"
#include "sim/scenes/scene.hpp"
#include "sim/sim_camera.hpp"
#include "vantrel/names.hpp"

namespace vantrel::sim {

namespace {

constexpr double kMaxEventRate = 1e10;

}  // namespace

CameraSpec validate_spec(CameraSpec spec) {
    if (spec.serial.empty()) throw std::invalid_argument("the serial must not be empty");
    if (!(spec.event_rate >= 0.0) || !std::isfinite(spec.event_rate) || spec.event_rate > kMaxEventRate) {
        throw std::invalid_argument("event_rate must be a number of events per second from 0 to 1e10, got " +
                                    std::to_string(spec.event_rate));
    }
    if (!is_known_scene(spec.scene)) {
        throw std::invalid_argument("unknown scene '" + spec.scene + "' (known: " + known_scenes_text() + ")");
    }
    if (spec.interface_type != InterfaceType::USB && spec.interface_type != InterfaceType::MIPI) {
        throw std::invalid_argument("unknown interface type " + std::to_string(static_cast<int>(spec.interface_type)));
    }
    if (!spec.source.empty()) {
        file::ReplayInfo info;
        std::string error;
        // The path is left out of a message that it would cut short.
        if (auto why = io::path_refusal(spec.source)) throw std::invalid_argument("cannot replay: " + *why);
        if (!file::probe_recording(spec.source, info, error)) {
            throw std::invalid_argument("cannot replay '" + spec.source + "': " + error);
        }
        spec.width = info.width;
        spec.height = info.height;
    }
    if (spec.width == 0 || spec.height == 0) {
        throw std::invalid_argument("the sensor size must not be zero, got " + std::to_string(spec.width) + "x" +
                                    std::to_string(spec.height));
    }
    if (!spec.tools) {
        spec.tools = std::vector<ToolType>(std::begin(kToolTypes), std::end(kToolTypes));
    } else {
        std::vector<ToolType> seen;
        for (ToolType type : *spec.tools) {
            if (std::find(std::begin(kToolTypes), std::end(kToolTypes), type) == std::end(kToolTypes)) {
                throw std::invalid_argument("unknown tool type " + std::to_string(static_cast<int>(type)));
            }
            if (std::find(seen.begin(), seen.end(), type) != seen.end()) {
                throw std::invalid_argument("tool " + tool_id(type) + " is listed twice");
            }
            seen.push_back(type);
        }
    }
    return spec;
}

DeviceRegistry& DeviceRegistry::instance() {
    static DeviceRegistry* const registry = new DeviceRegistry();
    return *registry;
}

DeviceRegistry::DeviceRegistry() {
    CameraSpec spec;
    spec.serial = kDefaultSerial;
    add(std::move(spec));
}

std::vector<DeviceRegistry::Slot>::iterator DeviceRegistry::findSlot(const std::string& serial) {
    return std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.device->serial() == serial; });
}

std::vector<DeviceRegistry::Slot>::const_iterator DeviceRegistry::findSlot(const std::string& serial) const {
    return std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.device->serial() == serial; });
}

void DeviceRegistry::add(CameraSpec spec) {
    spec = validate_spec(std::move(spec));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (findSlot(spec.serial) != slots_.end()) {
            throw std::invalid_argument("a camera with serial '" + spec.serial + "' is already plugged in");
        }
    }
    // Tools are built outside the lock; a duplicate plugged meanwhile is caught below.
    auto tools = tools::make_tool_set(*spec.tools, spec.width, spec.height);
    auto device = std::make_shared<Device>(std::move(spec), std::move(tools));
    std::lock_guard<std::mutex> lock(mutex_);
    if (findSlot(device->serial()) != slots_.end()) {
        throw std::invalid_argument("a camera with serial '" + device->serial() + "' is already plugged in");
    }
    slots_.push_back(Slot{std::move(device), {}});
}

bool DeviceRegistry::remove(const std::string& serial) {
    std::shared_ptr<SimCamera> camera;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = findSlot(serial);
        if (it == slots_.end()) {
            log::warning("simulator: remove_camera: no camera has serial '", serial, "'");
            return false;
        }
        it->device->markUnplugged();
        camera = it->camera.lock();
        slots_.erase(it);
    }
    // Outside the lock: stopping waits for the camera's threads.
    if (camera) camera->unplug();
    return true;
}

void DeviceRegistry::removeAll() {
    std::vector<std::shared_ptr<SimCamera>> cameras;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& slot : slots_) {
            slot.device->markUnplugged();
            if (auto camera = slot.camera.lock()) cameras.push_back(std::move(camera));
        }
        slots_.clear();
    }
    for (const auto& camera : cameras) camera->unplug();
}

std::vector<std::string> DeviceRegistry::serials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(slots_.size());
    for (const auto& slot : slots_) out.push_back(slot.device->serial());
    return out;
}

std::vector<CameraDescription> DeviceRegistry::describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CameraDescription> out;
    out.reserve(slots_.size());
    for (const auto& slot : slots_) out.push_back(slot.device->description());
    return out;
}

std::shared_ptr<Device> DeviceRegistry::find(const std::string& serial) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = findSlot(serial);
    return it == slots_.end() ? nullptr : it->device;
}

std::shared_ptr<ICamera> DeviceRegistry::open(const std::string& serial) {
    // A closed camera found here is released after the lock: releasing the
    // last reference destroys it.
    std::shared_ptr<SimCamera> previous;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = findSlot(serial);
    if (it == slots_.end()) return nullptr;
    previous = it->camera.lock();
    if (previous && !previous->closed()) return previous;
    auto camera = std::make_shared<SimCamera>(it->device);
    it->camera = camera;
    return camera;
}

std::shared_ptr<SimCamera> DeviceRegistry::openCamera(const std::string& serial) const {
    std::shared_ptr<SimCamera> camera;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = findSlot(serial);
        if (it == slots_.end()) return nullptr;
        camera = it->camera.lock();
    }
    if (camera && camera->closed()) return nullptr;
    return camera;
}

std::vector<std::shared_ptr<SimCamera>> DeviceRegistry::openCameras() const {
    std::vector<std::shared_ptr<SimCamera>> cameras;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& slot : slots_)
            if (auto camera = slot.camera.lock()) cameras.push_back(std::move(camera));
    }
    std::erase_if(cameras, [](const auto& camera) { return camera->closed(); });
    return cameras;
}

}  // namespace vantrel::sim
