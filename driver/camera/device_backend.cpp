#include "camera/device_backend.hpp"

#include "camera/camera_table.hpp"

namespace vantrel::camera {

void add_backend(std::shared_ptr<DeviceBackend> backend) { CameraTable::instance().addBackend(std::move(backend)); }

void remove_backend(const DeviceBackend& backend) { CameraTable::instance().removeBackend(backend); }

std::vector<std::shared_ptr<DeviceBackend>> backends() { return CameraTable::instance().backends(); }

void device_gone(const Device& device) { CameraTable::instance().deviceGone(device); }

}  // namespace vantrel::camera
