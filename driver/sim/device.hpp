#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "tools/tool_set.hpp"
#include "vantrel/camera_description.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

class SimCamera;

// One plugged-in simulated device: what it is (its spec), its tools, which
// outlive any camera opened on it, and its firmware version, which survives
// closing and reopening. Thread-safe.
class Device {
public:
    Device(CameraSpec spec, tools::ToolSet tools);

    const CameraSpec& spec() const noexcept { return spec_; }
    const std::string& serial() const noexcept { return spec_.serial; }
    std::shared_ptr<const tools::ToolSet> toolSet() const noexcept { return tools_; }

    CameraDescription description() const;
    std::string firmwareVersion() const;
    void setFirmwareVersion(const std::string& version);

    bool plugged() const noexcept { return plugged_.load(std::memory_order_acquire); }
    void markUnplugged() noexcept { plugged_.store(false, std::memory_order_release); }

private:
    const CameraSpec spec_;
    const std::shared_ptr<const tools::ToolSet> tools_;
    mutable std::mutex mutex_;
    std::string firmware_version_;
    std::atomic<bool> plugged_{true};
};

}  // namespace vantrel::sim
