#pragma once

#include <memory>
#include <string>
#include <vector>

#include "camera/device_backend.hpp"

namespace vantrel::sim {

// The simulated devices as the engine sees them: the plugged-in devices of
// the DeviceRegistry. Registered with the engine when the driver loads.
class SimBackend final : public camera::DeviceBackend {
public:
    std::vector<CameraDescription> enumerate() override;
    std::shared_ptr<camera::Device> open(const std::string& serial) override;
};

// The registered instance.
SimBackend& sim_backend();

}  // namespace vantrel::sim
