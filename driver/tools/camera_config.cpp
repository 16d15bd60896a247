// ICamera's configuration files; the file format is in camera_config_file.hpp.
#include "common/fault_hook.hpp"
#include "log/log.hpp"
#include "tools/camera_config_file.hpp"
#include "vantrel/camera.hpp"

namespace vantrel {

bool ICamera::exportCameraConfig(const std::string& path) {
    if (faults::hit(Operation::ICamera_exportCameraConfig)) {
        log::error("camera: export of the configuration to '", path, "' failed");
        return false;
    }
    const CameraDescription& camera = getDescription();
    if (isClosed()) {
        log::warning("camera ", camera.serial, ": cannot export the configuration to '", path,
                     "': the camera is closed");
        return false;
    }
    if (auto why = tools::write_camera_config(path, tools::make_camera_config(camera, tools()))) {
        log::error("camera ", camera.serial, ": cannot export the configuration to '", path, "': ", *why);
        return false;
    }
    return true;
}

bool ICamera::importCameraConfig(const std::string& path) {
    if (faults::hit(Operation::ICamera_importCameraConfig)) {
        log::error("camera: import of the configuration from '", path, "' failed");
        return false;
    }
    const CameraDescription& camera = getDescription();
    if (isClosed()) {
        log::warning("camera ", camera.serial, ": cannot import the configuration '", path,
                     "': the camera is closed");
        return false;
    }
    if (auto why = tools::import_camera_config(path, camera.serial, tools())) {
        log::warning("camera ", camera.serial, ": configuration '", path, "' not imported, nothing changed: ",
                     *why);
        return false;
    }
    return true;
}

}  // namespace vantrel
