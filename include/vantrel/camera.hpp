#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vantrel/camera_description.hpp"
#include "vantrel/enums.hpp"
#include "vantrel/events.hpp"
#include "vantrel/export.hpp"
#include "vantrel/params.hpp"

namespace vantrel {

class CameraTool;

// One open camera. Cameras come from EvCameraService::open and are shared
// between the caller and the driver. All members may be called from any
// thread, also concurrently on one camera.
class VANTREL_EXPORT ICamera {
public:
    ICamera(const ICamera&) = delete;
    ICamera& operator=(const ICamera&) = delete;

    virtual ~ICamera();

    // False once the device is unplugged.
    virtual bool isConnected() = 0;

    // Registration returns an id (never 0); unregistering it returns true
    // once, and afterwards the callback is never called again.
    virtual std::uint32_t registerEventBatchCallback(EventBatchCallback callback) = 0;
    virtual bool unregisterEventBatchCallback(std::uint32_t id) = 0;
    virtual std::uint32_t registerTriggerInCallback(TriggerInCallback callback) = 0;
    virtual bool unregisterTriggerInCallback(std::uint32_t id) = 0;

    // Waits for the next batch; false when the stream is stopped or closed,
    // the device is gone, or no batch came within the poll timeout.
    virtual bool getNextBatch(std::vector<Event2D>& events) = 0;
    virtual void setBatchEventsNum(std::uint64_t n) = 0;
    virtual void setBatchEventsTime(std::uint64_t us) = 0;

    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual void close() = 0;

    virtual bool startRecording(const std::string& file_path) = 0;
    virtual bool stopRecording() = 0;

    virtual std::uint16_t getWidth() = 0;
    virtual std::uint16_t getHeight() = 0;

    // Replaces the previous statistics callback; an empty function removes it.
    virtual void setStatisticsCallback(StatisticsCallback callback) = 0;

    virtual bool firmwareUpgrade(const std::string& image_path) = 0;

    // The reference stays valid for the camera's lifetime.
    const CameraDescription& getDescription() const;

    std::vector<ToolInfo> getToolsInfo() const;
    ToolInfo getToolInfo(ToolType type) const;
    std::shared_ptr<CameraTool> getTool(ToolType type) const;
    std::shared_ptr<CameraTool> getToolById(const std::string& id) const;

    bool exportCameraConfig(const std::string& json_file_path);
    bool importCameraConfig(const std::string& json_file_path);

protected:
    ICamera(CameraDescription description, std::vector<std::shared_ptr<CameraTool>> tools);

    // Publishes a new firmware version; references handed out earlier by
    // getDescription stay valid.
    void setFirmwareVersion(const std::string& version);
    // Configuration import and export refuse a closed camera.
    void markClosed() noexcept;
    bool isClosed() const noexcept;
    const std::vector<std::shared_ptr<CameraTool>>& tools() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
