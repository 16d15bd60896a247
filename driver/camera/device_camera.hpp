#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/device_backend.hpp"
#include "camera/event_source.hpp"
#include "camera/stream_session.hpp"
#include "log/log_throttle.hpp"
#include "stream/batch_settings.hpp"
#include "stream/callback_registry.hpp"
#include "camera/recorder_slot.hpp"
#include "vantrel/camera.hpp"

namespace vantrel::camera {

// The camera: an open device of any backend (device_backend.hpp). Its clock
// starts at 0 when it is opened; each start() runs a StreamSession that continues the clock where the previous
// one ended, so timestamps never go backwards.
//
// Locking: `control_` serialises the operations that change the camera's
// state (start, stop, close, unplug, recording, firmware). It is never held
// while waiting for a callback to finish, and the calls that a binding may
// make while holding an interpreter lock (registration, batch settings,
// getters) never take it.
//
// One delivery thread at a time: start() waits until the delivery thread of
// the previous stream has ended (a stop() in progress lets it deliver for
// 100 ms at most), and is refused when called from that very thread.
class DeviceCamera final : public ICamera {
public:
    explicit DeviceCamera(std::shared_ptr<Device> device);
    ~DeviceCamera() override;

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

    // Exact data into the running stream, past the source and the tools
    // (the simulator's push_batch and friends). False when not streaming.
    bool pushBatch(std::vector<Event2D> events);
    bool pushTrigger(const EventTriggerIn& edge);
    bool pushStatistics(const EvCameraStatisticInfo& statistics);
    // The device was unplugged: the stream and any recording end.
    void unplug();
    // The process is exiting: the stream stops without delivering what is
    // queued, and any recording is completed. Does not wait for callbacks:
    // returns the stopped stream, if any, for the caller to finish.
    std::shared_ptr<StreamSession> quiesceForExit();
    // What the current stream, or the last one, dropped.
    stream::StreamDrops drops() const;
    bool closed() const noexcept { return isClosed(); }

private:
    std::shared_ptr<StreamSession> currentSession() const;
    std::shared_ptr<StreamSession> takeSession();
    // Stops the session under `control_`; the caller finishes its delivery
    // after letting go of the lock.
    std::shared_ptr<StreamSession> haltLocked(StopMode mode);
    // Under `control_` (released while waiting): waits until the previous
    // stream's delivery thread has ended, so that the camera never has two.
    // False when that cannot be, because this is that thread.
    bool awaitPreviousDelivery(std::unique_lock<std::mutex>& lock);
    bool refuseStart();
    void shutDown(bool log_if_closed);
    std::uint64_t clockNowUs() const;
    bool refuseIfClosed(const char* operation) const;
    // Logs why `operation` is refused on a closed camera or a gone device.
    bool refuseUnlessUsable(const char* operation) const;
    template <class... Parts>
    void warnThrottled(log::LogThrottle& throttle, const Parts&... parts) const;

    const std::shared_ptr<Device> device_;
    const std::string serial_;
    const std::string owner_;  // "camera <serial>"
    const std::uint16_t width_;
    const std::uint16_t height_;
    const StreamPacing pacing_;
    const std::chrono::steady_clock::time_point opened_at_;
    std::atomic<bool> connected_{true};

    // Serialises start, stop, close, unplug, recording and firmware; guards
    // source_ and last_end_us_. Taken before session_mutex_ and before the
    // locks of the session, the recorder slot and the backend's device.
    std::mutex control_;
    std::shared_ptr<EventSource> source_;  // made at the first start
    std::uint64_t last_end_us_ = 0;                // stream time reached by earlier runs

    // Guards session_ and last_session_ only; a leaf lock, so that getters
    // and polls never wait for a start or stop in progress.
    mutable std::mutex session_mutex_;
    std::shared_ptr<StreamSession> session_;
    std::shared_ptr<StreamSession> last_session_;  // the current one, or the one that ran last

    const std::shared_ptr<stream::BatchSettings> settings_;
    const std::shared_ptr<stream::CallbackRegistry> callbacks_;
    const std::shared_ptr<RecorderSlot> recorder_;
    mutable log::LogThrottle poll_log_;
    mutable log::LogThrottle closed_log_;
};

}  // namespace vantrel::camera
