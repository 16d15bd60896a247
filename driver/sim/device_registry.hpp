#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

// The process-wide set of plugged-in simulated devices, in the order they
// were plugged in. Created on first use with the default camera plugged in.
// Thread-safe; never destroyed (driver threads may use it while the process
// exits). The engine reaches it through the simulator's backend
// (sim_backend.hpp).
class DeviceRegistry {
public:
    static DeviceRegistry& instance();

    // std::invalid_argument when the CameraSpec is not acceptable.
    void add(CameraSpec spec);
    // Unplugs; the camera open on the device stops. False for an unknown serial.
    bool remove(const std::string& serial);
    // Unplugs everything.
    void removeAll();

    std::vector<std::string> serials() const;
    std::vector<CameraDescription> describe() const;
    std::shared_ptr<Device> find(const std::string& serial) const;

    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

private:
    DeviceRegistry();
    using Slots = std::vector<std::shared_ptr<Device>>;
    Slots::iterator findSlot(const std::string& serial);
    Slots::const_iterator findSlot(const std::string& serial) const;

    // Guards slots_. Never held while calling into the engine.
    mutable std::mutex mutex_;
    Slots slots_;
};

// Checks a spec and completes it (sensor size of a replay source, tool
// list); std::invalid_argument when it is not acceptable.
CameraSpec validate_spec(CameraSpec spec);

}  // namespace vantrel::sim
