#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/device_backend.hpp"

namespace vantrel::camera {

class DeviceCamera;

// The process-wide set of backends and of the cameras open on their
// devices: one camera per Device object, handed out again by every open()
// until it is closed. Never destroyed (driver threads may use it while the
// process exits).
class CameraTable {
public:
    static CameraTable& instance();

    void addBackend(std::shared_ptr<DeviceBackend> backend);
    void removeBackend(const DeviceBackend& backend);
    std::vector<std::shared_ptr<DeviceBackend>> backends() const;

    // The devices of every backend, in backend order.
    std::vector<CameraDescription> enumerate() const;
    // The open camera of the first backend that knows the serial, or a new
    // camera on its device; nullptr when no backend has that serial.
    std::shared_ptr<DeviceCamera> open(const std::string& serial);
    // The camera open (and not closed) on that device, or nullptr.
    std::shared_ptr<DeviceCamera> find(const Device& device) const;
    // Every camera open and not closed.
    std::vector<std::shared_ptr<DeviceCamera>> openCameras() const;
    // The device is gone: its camera, closed or not, is unplugged.
    void deviceGone(const Device& device);

    CameraTable(const CameraTable&) = delete;
    CameraTable& operator=(const CameraTable&) = delete;

private:
    CameraTable() = default;

    struct Entry {
        std::shared_ptr<Device> device;
        std::weak_ptr<DeviceCamera> camera;
    };

    // Guards backends_. Never held while calling into a backend.
    mutable std::mutex backends_mutex_;
    std::vector<std::shared_ptr<DeviceBackend>> backends_;
    // Guards entries_; taken after backends_mutex_ if both (never the other
    // way). Never held while calling into a backend or a camera that may
    // wait for threads.
    mutable std::mutex cameras_mutex_;
    std::vector<Entry> entries_;
};

}  // namespace vantrel::camera
