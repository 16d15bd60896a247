// The vantrel::sim control functions over the device registry.
#include <stdexcept>

#include "camera/camera_table.hpp"
#include "camera/device_camera.hpp"
#include "log/log.hpp"
#include "sim/device_registry.hpp"
#include "vantrel/sim/faults.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

namespace {

// The camera open on the plugged device of that serial, or nullptr.
std::shared_ptr<camera::DeviceCamera> open_camera(const std::string& serial) {
    const auto device = DeviceRegistry::instance().find(serial);
    return device ? camera::CameraTable::instance().find(*device) : nullptr;
}

std::shared_ptr<camera::DeviceCamera> streaming_camera(const std::string& serial, const char* operation) {
    if (!DeviceRegistry::instance().find(serial)) {
        log::warning("simulator: ", operation, ": no camera has serial '", serial, "'");
        return nullptr;
    }
    auto camera = open_camera(serial);
    if (!camera) log::warning("simulator: ", operation, ": camera ", serial, " is not open");
    return camera;
}

}  // namespace

void reset() {
    DeviceRegistry::instance().removeAll();
    clearFaults();
}

void addCamera(const CameraSpec& spec) { DeviceRegistry::instance().add(spec); }

bool removeCamera(const std::string& serial) { return DeviceRegistry::instance().remove(serial); }

std::vector<std::string> cameras() { return DeviceRegistry::instance().serials(); }

bool pushBatch(const std::string& serial, std::vector<Event2D> events) {
    const auto camera = streaming_camera(serial, "push_batch");
    return camera && camera->pushBatch(std::move(events));
}

bool pushTrigger(const std::string& serial, const EventTriggerIn& edge) {
    const auto camera = streaming_camera(serial, "push_trigger");
    return camera && camera->pushTrigger(edge);
}

bool pushStatistics(const std::string& serial, const EvCameraStatisticInfo& stats) {
    const auto camera = streaming_camera(serial, "push_statistics");
    return camera && camera->pushStatistics(stats);
}

StreamDrops streamDrops(const std::string& serial) {
    const auto camera = open_camera(serial);
    if (!camera) throw std::invalid_argument("no camera with serial '" + serial + "' is open");
    return camera->drops();
}

}  // namespace vantrel::sim
