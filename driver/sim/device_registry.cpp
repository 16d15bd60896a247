#include "sim/device_registry.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "io/file_access.hpp"
#include "log/log.hpp"
#include "sim/replay_source.hpp"
#include "sim/scenes/scene.hpp"
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
        ReplayInfo info;
        std::string error;
        // The path is left out of a message that it would cut short.
        if (auto why = io::path_refusal(spec.source)) throw std::invalid_argument("cannot replay: " + *why);
        if (!probe_recording(spec.source, info, error)) {
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

DeviceRegistry::Slots::iterator DeviceRegistry::findSlot(const std::string& serial) {
    return std::find_if(slots_.begin(), slots_.end(), [&](const auto& d) { return d->serial() == serial; });
}

DeviceRegistry::Slots::const_iterator DeviceRegistry::findSlot(const std::string& serial) const {
    return std::find_if(slots_.begin(), slots_.end(), [&](const auto& d) { return d->serial() == serial; });
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
    slots_.push_back(std::move(device));
}

bool DeviceRegistry::remove(const std::string& serial) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = findSlot(serial);
        if (it == slots_.end()) {
            log::warning("simulator: remove_camera: no camera has serial '", serial, "'");
            return false;
        }
        device = std::move(*it);
        device->markUnplugged();
        slots_.erase(it);
    }
    // Outside the lock: stopping waits for the camera's threads.
    camera::device_gone(*device);
    return true;
}

void DeviceRegistry::removeAll() {
    Slots devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices.swap(slots_);
        for (const auto& device : devices) device->markUnplugged();
    }
    for (const auto& device : devices) camera::device_gone(*device);
}

std::vector<std::string> DeviceRegistry::serials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(slots_.size());
    for (const auto& device : slots_) out.push_back(device->serial());
    return out;
}

std::vector<CameraDescription> DeviceRegistry::describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CameraDescription> out;
    out.reserve(slots_.size());
    for (const auto& device : slots_) out.push_back(device->description());
    return out;
}

std::shared_ptr<Device> DeviceRegistry::find(const std::string& serial) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = findSlot(serial);
    return it == slots_.end() ? nullptr : *it;
}

}  // namespace vantrel::sim
