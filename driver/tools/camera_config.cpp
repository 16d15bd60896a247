// PLACEHOLDER until the tools land.
#include "log/log.hpp"
#include "vantrel/camera.hpp"

namespace vantrel {

bool ICamera::exportCameraConfig(const std::string& path) {
    log::error("exportCameraConfig(", path, "): not implemented");
    return false;
}

bool ICamera::importCameraConfig(const std::string& path) {
    log::error("importCameraConfig(", path, "): not implemented");
    return false;
}

}  // namespace vantrel
