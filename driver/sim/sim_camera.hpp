#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.hpp"
#include "sim/stream_session.hpp"
#include "stream/batch_settings.hpp"
#include "stream/callback_registry.hpp"
#include "stream/event_source.hpp"
#include "stream/log_throttle.hpp"
#include "stream/recorder_slot.hpp"
#include "vantrel/camera.hpp"

namespace vantrel::sim {

// An open simulated camera. Its clock starts at 0 when it is opened; each
// start() runs a StreamSession that continues the clock where the previous
// one ended, so timestamps never go backwards.
//
// Locking: `control_` serialises the operations that change the camera's
// state (start, stop, close, unplug, recording, firmware). It is never held
// while waiting for a callback to finish, and the calls that a binding may
// make while holding an interpreter lock (registration, batch settings,
// getters) never take it.
class SimCamera final : public ICamera {
public:
    explicit SimCamera(std::shared_ptr<Device> device);
    ~SimCamera() override;

    bool isConnected() override;
    std::uint32_t registerEventBatchCallback(EventBatchCallback callback) override;
    bool unregisterEventBatchCallback(std::uint32_t id) override;
    std::uint32_t registerTriggerInCallback(TriggerInCallback callback) override;
    bool unregisterTriggerInCallback(std::uint32_t id) override;
    bool getNextBatch(std::vector<Event2D>& events) override;
    void setBatchEventsNum(std::uint64_t n) override;
    void setBatchEventsTime(std::uint64_t us) override;
    bool start() override;
    bool stop() override;
    void close() override;
    bool startRecording(const std::string& file_path) override;
    bool stopRecording() override;
    std::uint16_t getWidth() override;
    std::uint16_t getHeight() override;
    void setStatisticsCallback(StatisticsCallback callback) override;
    bool firmwareUpgrade(const std::string& image_path) override;

    // Simulator side.
    bool pushBatch(std::vector<Event2D> events);
    bool pushTrigger(const EventTriggerIn& edge);
    bool pushStatistics(const EvCameraStatisticInfo& statistics);
    // The device was unplugged: the stream and any recording end.
    void unplug();
    bool closed() const noexcept { return isClosed(); }

private:
    std::shared_ptr<StreamSession> currentSession() const;
    std::shared_ptr<StreamSession> takeSession();
    // Stops the session under `control_`; the caller finishes its delivery
    // after letting go of the lock.
    std::shared_ptr<StreamSession> haltLocked(bool deliver_queued);
    void shutDown(bool log_if_closed);
    std::uint64_t clockNowUs() const;
    bool refuseIfClosed(const char* operation) const;
    template <class... Parts>
    void warnThrottled(stream::LogThrottle& throttle, const Parts&... parts) const;

    const std::shared_ptr<Device> device_;
    const std::string owner_;  // "camera <serial>"
    const std::uint16_t width_;
    const std::uint16_t height_;
    const std::chrono::steady_clock::time_point opened_at_;
    std::atomic<bool> connected_{true};

    std::mutex control_;
    std::shared_ptr<stream::EventSource> source_;  // made at the first start
    std::uint64_t last_end_us_ = 0;                // stream time reached by earlier runs

    mutable std::mutex session_mutex_;
    std::shared_ptr<StreamSession> session_;

    const std::shared_ptr<stream::BatchSettings> settings_;
    const std::shared_ptr<stream::CallbackRegistry> callbacks_;
    const std::shared_ptr<stream::RecorderSlot> recorder_;
    mutable stream::LogThrottle poll_log_;
    mutable stream::LogThrottle closed_log_;
};

}  // namespace vantrel::sim
