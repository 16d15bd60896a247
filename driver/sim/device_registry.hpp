#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.hpp"
#include "vantrel/camera.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

class SimCamera;

// The process-wide set of plugged-in simulated devices, in the order they
// were plugged in. Created on first use with the default camera plugged in.
// Thread-safe; never destroyed (driver threads may use it while the process
// exits).
class DeviceRegistry {
public:
    static DeviceRegistry& instance();

    // std::invalid_argument when the CameraSpec is not acceptable.
    void add(CameraSpec spec);
    // Unplugs; the device's open camera stops. False for an unknown serial.
    bool remove(const std::string& serial);
    // Unplugs everything.
    void removeAll();

    std::vector<std::string> serials() const;
    std::vector<CameraDescription> describe() const;
    std::shared_ptr<Device> find(const std::string& serial) const;

    // The device's open camera, or a new one when it has none open; nullptr
    // when no plugged device has that serial.
    std::shared_ptr<ICamera> open(const std::string& serial);
    // The device's camera if one is open, else nullptr.
    std::shared_ptr<SimCamera> openCamera(const std::string& serial) const;
    // Every open camera.
    std::vector<std::shared_ptr<SimCamera>> openCameras() const;

    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

private:
    DeviceRegistry();
    struct Slot {
        std::shared_ptr<Device> device;
        std::weak_ptr<SimCamera> camera;
    };
    std::vector<Slot>::iterator findSlot(const std::string& serial);
    std::vector<Slot>::const_iterator findSlot(const std::string& serial) const;

    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
};

// Checks a spec and completes it (sensor size of a replay source, tool
// list); std::invalid_argument when it is not acceptable.
CameraSpec validate_spec(CameraSpec spec);

}  // namespace vantrel::sim
