#include "camera/device_camera.hpp"

#include <chrono>
#include <limits>

#include "common/fault_hook.hpp"
#include "file/recorder.hpp"
#include "log/log.hpp"
#include "stream/activity.hpp"
#include "stream/stream_limits.hpp"

namespace vantrel::camera {

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::string suppressed_note(std::uint64_t suppressed) {
    return suppressed ? " (" + std::to_string(suppressed) + " similar messages suppressed)" : "";
}

}  // namespace

DeviceCamera::DeviceCamera(std::shared_ptr<Device> device)
    : ICamera(device->description(), device->tools()),
      device_(std::move(device)),
      serial_(device_->description().serial),
      owner_("camera " + serial_),
      width_(device_->width()),
      height_(device_->height()),
      pacing_(device_->pacing()),
      opened_at_(std::chrono::steady_clock::now()),
      settings_(std::make_shared<stream::BatchSettings>()),
      callbacks_(std::make_shared<stream::CallbackRegistry>(owner_)),
      recorder_(std::make_shared<RecorderSlot>()) {}

DeviceCamera::~DeviceCamera() { shutDown(false); }

template <class... Parts>
void DeviceCamera::warnThrottled(log::LogThrottle& throttle, const Parts&... parts) const {
    if (const auto suppressed = throttle.admit()) log::warning(owner_, ": ", parts..., suppressed_note(*suppressed));
}

bool DeviceCamera::refuseIfClosed(const char* operation) const {
    if (!isClosed()) return false;
    warnThrottled(closed_log_, operation, " refused: the camera is closed");
    return true;
}

bool DeviceCamera::refuseUnlessUsable(const char* operation) const {
    if (isClosed()) {
        log::warning(owner_, ": ", operation, " refused: the camera is closed");
        return true;
    }
    if (!connected_.load(std::memory_order_acquire)) {
        log::warning(owner_, ": ", operation, " refused: the device is unplugged");
        return true;
    }
    return false;
}

std::shared_ptr<StreamSession> DeviceCamera::currentSession() const {
    std::lock_guard<std::mutex> lock(session_mutex_);
    return session_;
}

std::shared_ptr<StreamSession> DeviceCamera::takeSession() {
    std::lock_guard<std::mutex> lock(session_mutex_);
    return std::move(session_);
}

std::shared_ptr<StreamSession> DeviceCamera::haltLocked(StopMode mode) {
    auto session = takeSession();
    if (!session) return nullptr;
    session->stopProducing(mode);
    last_end_us_ = std::max(last_end_us_, session->endTime());
    return session;
}

std::uint64_t DeviceCamera::clockNowUs() const {
    const auto elapsed = std::chrono::steady_clock::now() - opened_at_;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

bool DeviceCamera::isConnected() {
    if (faults::hit(Operation::ICamera_isConnected)) return false;
    return connected_.load(std::memory_order_acquire);
}

std::uint32_t DeviceCamera::registerEventBatchCallback(EventBatchCallback callback) {
    if (faults::hit(Operation::ICamera_registerEventBatchCallback)) return 0;
    if (refuseIfClosed("registerEventBatchCallback")) return 0;
    if (!callback) {
        log::warning(owner_, ": registerEventBatchCallback refused: the callback is empty");
        return 0;
    }
    const std::uint32_t id = callbacks_->addBatch(std::move(callback));
    if (auto session = currentSession()) session->callbacksChanged();
    return id;
}

bool DeviceCamera::unregisterEventBatchCallback(std::uint32_t id) {
    if (faults::hit(Operation::ICamera_unregisterEventBatchCallback)) return false;
    if (refuseIfClosed("unregisterEventBatchCallback")) return false;
    if (!callbacks_->removeBatch(id)) {
        log::warning(owner_, ": unregisterEventBatchCallback: no event batch callback has id ", id);
        return false;
    }
    if (auto session = currentSession()) session->callbacksChanged();
    return true;
}

std::uint32_t DeviceCamera::registerTriggerInCallback(TriggerInCallback callback) {
    if (faults::hit(Operation::ICamera_registerTriggerInCallback)) return 0;
    if (refuseIfClosed("registerTriggerInCallback")) return 0;
    if (!callback) {
        log::warning(owner_, ": registerTriggerInCallback refused: the callback is empty");
        return 0;
    }
    return callbacks_->addTriggerIn(std::move(callback));
}

bool DeviceCamera::unregisterTriggerInCallback(std::uint32_t id) {
    if (faults::hit(Operation::ICamera_unregisterTriggerInCallback)) return false;
    if (refuseIfClosed("unregisterTriggerInCallback")) return false;
    if (!callbacks_->removeTriggerIn(id)) {
        log::warning(owner_, ": unregisterTriggerInCallback: no trigger-in callback has id ", id);
        return false;
    }
    return true;
}

void DeviceCamera::setStatisticsCallback(StatisticsCallback callback) {
    if (faults::hit(Operation::ICamera_setStatisticsCallback)) return;
    if (refuseIfClosed("setStatisticsCallback")) return;
    callbacks_->setStatistics(std::move(callback));
}

bool DeviceCamera::getNextBatch(std::vector<Event2D>& events) {
    events.clear();
    if (faults::hit(Operation::ICamera_getNextBatch)) return false;
    if (refuseIfClosed("getNextBatch")) return false;
    const auto session = currentSession();
    if (!session) {
        // A poller that keeps polling while the process exits is no news.
        if (!stream::Activity::quiesced()) warnThrottled(poll_log_, "getNextBatch: the camera is not streaming");
        return false;
    }
    stream::BatchPtr batch = session->poll(stream::limits::kPollTimeout);
    if (!batch) {
        if (stream::Activity::quiesced()) {
            // The process is exiting: a poller woken by that is no news.
        } else if (session->failed()) {
            warnThrottled(poll_log_, "getNextBatch: the stream failed; stop and start it again");
        } else if (session->stopped()) {
            warnThrottled(poll_log_, "getNextBatch: the stream stopped while waiting for a batch");
        } else {
            // A quiet camera is normal, and a poll waits at most this long
            // anyway: not worth a warning, nor a share of the throttle above.
            log::debug(owner_, ": getNextBatch: no batch within ", stream::limits::kPollTimeout.count(), " ms");
        }
        return false;
    }
    // Nobody else holds the batch any more (callbacks and recorder are done
    // with it): hand the vector over instead of copying it.
    if (batch.use_count() == 1) {
        events = std::move(*batch);
    } else {
        events.assign(batch->begin(), batch->end());
    }
    return true;
}

void DeviceCamera::setBatchEventsNum(std::uint64_t n) {
    if (faults::hit(Operation::ICamera_setBatchEventsNum)) return;
    if (refuseIfClosed("setBatchEventsNum")) return;
    if (n == 0) {
        settings_->set(stream::BatchSettings::defaultRule());
        return;
    }
    if (n > stream::limits::kMaxBatchEvents) {
        log::warning(owner_, ": setBatchEventsNum(", n, "): batches hold at most ",
                     stream::limits::kMaxBatchEvents, " events; using that");
        n = stream::limits::kMaxBatchEvents;
    }
    settings_->set(stream::BatchRule{stream::BatchRule::Kind::Count, n});
}

void DeviceCamera::setBatchEventsTime(std::uint64_t us) {
    if (faults::hit(Operation::ICamera_setBatchEventsTime)) return;
    if (refuseIfClosed("setBatchEventsTime")) return;
    if (us == 0) {
        settings_->set(stream::BatchSettings::defaultRule());
        return;
    }
    settings_->set(stream::BatchRule{stream::BatchRule::Kind::Window, us});
}

bool DeviceCamera::refuseStart() {
    if (refuseUnlessUsable("start")) return true;
    if (stream::Activity::quiesced()) {
        log::warning(owner_, ": start refused: the process is exiting");
        return true;
    }
    if (currentSession()) {
        log::warning(owner_, ": start refused: the camera is already streaming");
        return true;
    }
    return false;
}

bool DeviceCamera::awaitPreviousDelivery(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        std::shared_ptr<StreamSession> previous;
        {
            std::lock_guard<std::mutex> session_lock(session_mutex_);
            previous = last_session_;
        }
        if (!previous || previous->deliveryFinished()) return true;
        if (previous->onDeliveryThread()) {
            log::warning(owner_, ": start refused: called from a callback of the stream that is stopping; "
                         "the camera would have two delivery threads");
            return false;
        }
        // Without the lock: a callback of that stream may still call in.
        lock.unlock();
        previous->waitDeliveryFinished();
        lock.lock();
        if (refuseStart()) return false;
    }
}

bool DeviceCamera::start() {
    if (faults::hit(Operation::ICamera_start)) return false;
    std::unique_lock<std::mutex> lock(control_);
    if (refuseStart() || !awaitPreviousDelivery(lock)) return false;
    // Counts the new delivery thread; empty when the process began exiting.
    stream::Activity::Token delivery = stream::Activity::enter();
    if (!delivery) {
        log::warning(owner_, ": start refused: the process is exiting");
        return false;
    }
    if (!source_) {
        std::string error;
        source_ = device_->openSource(error);
        if (!source_) {
            log::error(owner_, ": start failed: ", error);
            return false;
        }
    }

    auto pipeline = std::make_unique<tools::ToolPipeline>(tools(), width_, height_);
    pipeline->restart();
    const std::uint64_t offset = pipeline->timeOffset();
    const std::uint64_t clock_now = pacing_.realtime ? clockNowUs() : 0;

    SessionConfig config;
    config.owner = owner_;
    config.realtime = pacing_.realtime;
    config.event_rate = pacing_.event_rate;
    config.start_us = std::max(last_end_us_, saturating_add(clock_now, offset));

    auto session = std::make_shared<StreamSession>(std::move(config), source_, std::move(pipeline), settings_,
                                                   callbacks_, recorder_);
    {
        std::lock_guard<std::mutex> session_lock(session_mutex_);
        session_ = session;
        last_session_ = session;
    }
    session->launch(std::move(delivery));
    log::info(owner_, ": streaming");
    return true;
}

bool DeviceCamera::stop() {
    if (faults::hit(Operation::ICamera_stop)) return false;
    std::shared_ptr<StreamSession> session;
    {
        std::lock_guard<std::mutex> lock(control_);
        if (isClosed()) {
            log::warning(owner_, ": stop refused: the camera is closed");
            return false;
        }
        session = haltLocked(StopMode::Deliver);
        if (!session) {
            log::warning(owner_, ": stop refused: the camera is not streaming");
            return false;
        }
    }
    // Outside the lock: a callback still running may call into the camera.
    session->finishDelivery();
    return true;
}

void DeviceCamera::close() {
    if (faults::hit(Operation::ICamera_close)) return;
    shutDown(true);
}

void DeviceCamera::shutDown(bool log_if_closed) {
    std::shared_ptr<StreamSession> session;
    RecorderSlot::Taken recording;
    {
        std::lock_guard<std::mutex> lock(control_);
        if (isClosed()) {
            if (log_if_closed) log::warning(owner_, ": close: the camera is already closed");
            return;
        }
        markClosed();
        session = haltLocked(StopMode::Deliver);
    }
    if (session) session->finishDelivery();
    // After the delivery: what the callbacks still received is recorded too.
    recording = recorder_->take();
    if (recording && !recording->stop()) log::warning(owner_, ": close: the recording could not be completed");
    // Dropping the callables ends any reference cycle through them.
    callbacks_->clear();
}

void DeviceCamera::unplug() {
    std::shared_ptr<StreamSession> session;
    RecorderSlot::Taken recording;
    {
        std::lock_guard<std::mutex> lock(control_);
        connected_.store(false, std::memory_order_release);
        // The device is gone: what it had not delivered yet is lost with it.
        session = haltLocked(StopMode::Unplugged);
        recording = recorder_->take();
    }
    // The file first: a stopRecording that found the slot empty waits for
    // it, possibly on the delivery thread that finishDelivery waits for.
    if (recording) {
        log::warning(owner_, ": device unplugged while recording; the recording ends here");
        if (!recording->stop()) log::warning(owner_, ": the recording could not be completed");
        recording = {};
    }
    if (session) {
        log::warning(owner_, ": device unplugged while streaming; the stream stopped");
        session->finishDelivery();
    }
}

std::shared_ptr<StreamSession> DeviceCamera::quiesceForExit() {
    std::shared_ptr<StreamSession> session;
    RecorderSlot::Taken recording;
    {
        std::lock_guard<std::mutex> lock(control_);
        session = haltLocked(StopMode::Exit);
        recording = recorder_->take();
    }
    if (recording && !recording->stop()) log::warning(owner_, ": the recording could not be completed at exit");
    // The delivery thread is not joined here: it may be inside a callback
    // that never returns.
    return session;
}

stream::StreamDrops DeviceCamera::drops() const {
    std::lock_guard<std::mutex> lock(session_mutex_);
    return last_session_ ? last_session_->drops() : stream::StreamDrops{};
}

bool DeviceCamera::startRecording(const std::string& file_path) {
    if (faults::hit(Operation::ICamera_startRecording)) return false;
    std::lock_guard<std::mutex> lock(control_);
    if (refuseUnlessUsable("startRecording")) return false;
    if (recorder_->active()) {
        log::warning(owner_, ": startRecording(", file_path, ") refused: already recording");
        return false;
    }
    file::RecordingInfo info;
    info.width = width_;
    info.height = height_;
    info.serial = serial_;
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    info.local_time_ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
    auto recorder = file::Recorder::start(file_path, info);
    if (!recorder) {
        log::warning(owner_, ": startRecording(", file_path, ") failed");
        return false;
    }
    recorder_->install(std::move(recorder));
    return true;
}

bool DeviceCamera::stopRecording() {
    if (faults::hit(Operation::ICamera_stopRecording)) return false;
    RecorderSlot::Taken recording;
    {
        std::lock_guard<std::mutex> lock(control_);
        if (isClosed()) {
            log::warning(owner_, ": stopRecording refused: the camera is closed");
            return false;
        }
        recording = recorder_->take();
    }
    if (!recording) {
        // An unplug on another thread may be finishing the file: it is
        // complete when this returns.
        recorder_->waitUntilFinished();
        log::warning(owner_, ": stopRecording refused: not recording");
        return false;
    }
    if (!recording->stop()) {
        log::warning(owner_, ": stopRecording: the recording could not be completed");
        return false;
    }
    return true;
}

std::uint16_t DeviceCamera::getWidth() {
    if (faults::hit(Operation::ICamera_getWidth)) return 0;
    if (refuseIfClosed("getWidth")) return 0;
    return width_;
}

std::uint16_t DeviceCamera::getHeight() {
    if (faults::hit(Operation::ICamera_getHeight)) return 0;
    if (refuseIfClosed("getHeight")) return 0;
    return height_;
}

bool DeviceCamera::firmwareUpgrade(const std::string& image_path) {
    if (faults::hit(Operation::ICamera_firmwareUpgrade)) return false;
    std::lock_guard<std::mutex> lock(control_);
    if (refuseUnlessUsable("firmwareUpgrade")) return false;
    if (currentSession()) {
        log::warning(owner_, ": firmwareUpgrade refused: stop the stream first");
        return false;
    }
    FirmwareStore& store = device_->firmware();
    const std::string previous = store.version();
    const FirmwareStore::Outcome outcome = store.install(image_path);
    if (!outcome.ok) {
        log::warning(owner_, ": firmwareUpgrade(", image_path, ") refused: ", outcome.error,
                     "; firmware unchanged");
        return false;
    }
    setFirmwareVersion(outcome.version);
    log::info(owner_, ": firmware upgraded from ", previous, " to ", outcome.version);
    return true;
}

bool DeviceCamera::pushBatch(std::vector<Event2D> events) {
    const auto session = currentSession();
    if (!session) {
        log::warning(owner_, ": push_batch refused: the camera is not streaming");
        return false;
    }
    return session->pushBatch(std::make_shared<stream::EventBatch>(std::move(events)));
}

bool DeviceCamera::pushTrigger(const EventTriggerIn& edge) {
    const auto session = currentSession();
    if (!session) {
        log::warning(owner_, ": push_trigger refused: the camera is not streaming");
        return false;
    }
    return session->pushEdge(edge);
}

bool DeviceCamera::pushStatistics(const EvCameraStatisticInfo& statistics) {
    const auto session = currentSession();
    if (!session) {
        log::warning(owner_, ": push_statistics refused: the camera is not streaming");
        return false;
    }
    return session->pushStatistics(statistics);
}

}  // namespace vantrel::camera
