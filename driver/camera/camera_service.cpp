#include "vantrel/camera_service.hpp"

#include <mutex>

#include "common/fault_hook.hpp"
#include "log/log.hpp"
#include "camera/camera_table.hpp"
#include "camera/device_camera.hpp"

namespace vantrel {

struct EvCameraService::State {
    std::mutex mutex;  // guards last_scan; a leaf lock (scans run before it is taken)
    std::vector<CameraDescription> last_scan;
};

EvCameraService::EvCameraService() : state_(std::make_unique<State>()) {
    state_->last_scan = camera::CameraTable::instance().enumerate();
}

EvCameraService::~EvCameraService() = default;

int EvCameraService::refresh() {
    if (faults::hit(Operation::EvCameraService_refresh)) return 0;
    auto scan = camera::CameraTable::instance().enumerate();
    const int count = static_cast<int>(scan.size());
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->last_scan = std::move(scan);
    return count;
}

std::vector<CameraDescription> EvCameraService::listCameras() {
    if (faults::hit(Operation::EvCameraService_listCameras)) return {};
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->last_scan;
}

std::shared_ptr<ICamera> EvCameraService::open(const std::string& serial) {
    if (faults::hit(Operation::EvCameraService_open)) return nullptr;
    std::shared_ptr<ICamera> camera = camera::CameraTable::instance().open(serial);
    if (!camera) log::warning("EvCameraService: no connected camera has serial '", serial, "'");
    return camera;
}

}  // namespace vantrel
