#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "camera/device_backend.hpp"
#include "sim/tool_journal.hpp"
#include "tools/tool_set.hpp"
#include "vantrel/camera_description.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

// One plugged-in simulated device: what it is (its spec), its tools, which
// outlive any camera opened on it, and its firmware version, which survives
// closing and reopening. Its events come from a scene model or a replayed
// recording. Thread-safe.
class Device final : public camera::Device, public camera::FirmwareStore {
public:
    Device(CameraSpec spec, tools::ToolSet tools);
    ~Device() override;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const CameraSpec& spec() const noexcept { return spec_; }
    const std::string& serial() const noexcept { return spec_.serial; }
    std::shared_ptr<const tools::ToolSet> toolSet() const noexcept { return tools_; }
    // What its tools received while the simulator observed them.
    const ToolJournal& journal() const noexcept { return *journal_; }

    CameraDescription description() const override;
    std::uint16_t width() const override { return spec_.width; }
    std::uint16_t height() const override { return spec_.height; }
    camera::StreamPacing pacing() const override { return {spec_.realtime, spec_.event_rate}; }
    bool connected() const override { return plugged_.load(std::memory_order_acquire); }
    std::vector<std::shared_ptr<CameraTool>> tools() const override { return tools_->tools; }
    std::shared_ptr<camera::EventSource> openSource(std::string& error) override;
    camera::FirmwareStore& firmware() override { return *this; }

    std::string version() const override;
    Outcome install(const std::string& image_path) override;

    void markUnplugged() noexcept { plugged_.store(false, std::memory_order_release); }

private:
    const CameraSpec spec_;
    const std::shared_ptr<const tools::ToolSet> tools_;
    const std::shared_ptr<ToolJournal> journal_;
    mutable std::mutex mutex_;  // guards firmware_version_
    std::string firmware_version_;
    std::atomic<bool> plugged_{true};
};

}  // namespace vantrel::sim
