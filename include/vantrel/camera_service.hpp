#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vantrel/camera.hpp"
#include "vantrel/camera_description.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// Finds connected cameras and opens them. Every service sees the same
// process-wide set of devices; each keeps the list of its last scan (the
// constructor scans once).
class VANTREL_EXPORT EvCameraService {
public:
    EvCameraService();
    ~EvCameraService();
    EvCameraService(const EvCameraService&) = delete;
    EvCameraService& operator=(const EvCameraService&) = delete;

    // Rescans the connected devices and returns how many there are.
    int refresh();
    // The cameras found by the last scan.
    std::vector<CameraDescription> listCameras();
    // The open camera of that serial (the same object while it stays open),
    // or an empty pointer when no connected camera has it.
    std::shared_ptr<ICamera> open(const std::string& serial);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
