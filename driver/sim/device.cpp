#include "sim/device.hpp"

namespace vantrel::sim {

Device::Device(CameraSpec spec, tools::ToolSet tools)
    : spec_(std::move(spec)),
      tools_(std::make_shared<const tools::ToolSet>(std::move(tools))),
      firmware_version_(spec_.firmware_version) {}

CameraDescription Device::description() const {
    CameraDescription d{};
    d.serial = spec_.serial;
    d.product = spec_.product;
    d.manufacturer = spec_.manufacturer;
    d.vid = spec_.vid;
    d.pid = spec_.pid;
    d.interface_type = spec_.interface_type;
    d.firmware_version = firmwareVersion();
    return d;
}

std::string Device::firmwareVersion() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_version_;
}

void Device::setFirmwareVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_version_ = version;
}

}  // namespace vantrel::sim
