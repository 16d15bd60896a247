#include "sim/sim_backend.hpp"

#include "sim/device_registry.hpp"

namespace vantrel::sim {

std::vector<CameraDescription> SimBackend::enumerate() { return DeviceRegistry::instance().describe(); }

std::shared_ptr<camera::Device> SimBackend::open(const std::string& serial) {
    return DeviceRegistry::instance().find(serial);
}

namespace {

std::shared_ptr<SimBackend> register_backend() {
    auto backend = std::make_shared<SimBackend>();
    camera::add_backend(backend);
    return backend;
}

// When the driver loads, so that the first scan already sees the simulator.
const std::shared_ptr<SimBackend> registered = register_backend();

}  // namespace

SimBackend& sim_backend() { return *registered; }

}  // namespace vantrel::sim
