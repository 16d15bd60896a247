#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "stream/batch.hpp"
#include "stream/batch_settings.hpp"
#include "stream/bounded_queue.hpp"
#include "stream/callback_registry.hpp"
#include "stream/activity.hpp"
#include "stream/delivery_item.hpp"
#include "stream/drop_ledger.hpp"
#include "camera/event_source.hpp"
#include "log/log_throttle.hpp"
#include "camera/recorder_slot.hpp"
#include "tools/tool_pipeline.hpp"

namespace vantrel::camera {

struct SessionConfig {
    std::string owner;        // "camera <serial>", for log lines
    bool realtime = true;     // pace by timestamps; else as fast as consumers take batches
    double event_rate = 0;    // events per second the source is expected to give
    std::uint64_t start_us = 0;
};

// How a stream ends.
enum class StopMode {
    Deliver,    // stop()/close(): the callbacks get what was already produced
                // (for a bounded time), unless stopped from inside a callback
    Unplugged,  // the device went away: what was queued is lost (and logged)
    Exit,       // the process is exiting: what was queued is dropped quietly
};

// One run of a camera's stream, from start() to stop(): a stream thread that
// generates slices, passes them through the tools and cuts them into
// batches, and a delivery thread that hands batches, trigger edges and
// statistics to the recorder and the callbacks. Batches also go to the poll
// queue. Both threads keep the session alive, so a camera may go away (even
// from inside one of its callbacks) while they finish.
//
// While callbacks are registered, the recorder gets each batch and edge on
// the delivery thread, just before the callbacks do, so that a recording
// holds exactly what the callbacks received, whatever is dropped on the way.
// Without callbacks it gets them when they are produced.
class StreamSession : public std::enable_shared_from_this<StreamSession> {
public:
    StreamSession(SessionConfig config, std::shared_ptr<EventSource> source,
                  std::unique_ptr<tools::ToolPipeline> pipeline,
                  std::shared_ptr<stream::BatchSettings> settings,
                  std::shared_ptr<stream::CallbackRegistry> callbacks,
                  std::shared_ptr<RecorderSlot> recorder);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    // `delivery` counts the delivery thread in the process-wide activity
    // tally for as long as it runs.
    void launch(stream::Activity::Token delivery);
    // First half of stopping: nothing more is produced, unpolled batches are
    // discarded, waiting pollers and pushers wake up; the stream thread is
    // joined. Safe to call more than once.
    void stopProducing(StopMode mode);
    // Second half: waits for the delivery thread to deliver what it still may
    // and finish, or lets it finish on its own when called from inside a
    // callback (or when `wait` is false).
    void finishDelivery(bool wait = true);
    // Whether the delivery thread has ended, and waiting for that.
    bool deliveryFinished() const;
    void waitDeliveryFinished() const;
    bool onDeliveryThread() const noexcept;

    // The next batch, or nullptr when the stream stopped or `timeout` passed.
    stream::BatchPtr poll(std::chrono::steady_clock::duration timeout);

    // Deliver exactly these data (false once stopped).
    bool pushBatch(stream::BatchPtr batch);
    bool pushEdge(const EventTriggerIn& edge);
    bool pushStatistics(const EvCameraStatisticInfo& statistics);

    // The set of batch callbacks changed: the stream thread stops waiting
    // for poll-queue room once there is a callback to pace it.
    void callbacksChanged();

    // What this stream dropped so far, per queue.
    stream::StreamDrops drops() const { return ledger_.totals(); }

    // Stream time reached so far (end of the last slice generated).
    std::uint64_t endTime() const noexcept { return end_us_.load(std::memory_order_acquire); }
    bool stopped() const noexcept { return stopping_.load(std::memory_order_acquire); }
    // The stream thread ended on an error; the session must be stopped.
    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }

private:
    void produce();
    void generate();  // the stream thread's loop
    void deliver();   // the delivery thread's loop
    void deliverItem(const stream::DeliveryItem& item);
    void endDelivery();
    void fail();
    bool recordOnDelivery(bool callbacks) const;
    void recordNow(const stream::BatchPtr& batch);
    void emitBatch(stream::BatchPtr batch, bool pushed);
    void emitEdge(const EventTriggerIn& edge, bool pushed);
    bool emitItem(stream::DeliveryItem item, bool pushed);
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    void reportStatistics();
    template <class Items>
    void countDropped(stream::DropQueue queue, const Items& items, const char* why);

    const SessionConfig config_;
    const std::shared_ptr<EventSource> source_;
    const std::unique_ptr<tools::ToolPipeline> pipeline_;
    const std::shared_ptr<stream::BatchSettings> settings_;
    const std::shared_ptr<stream::CallbackRegistry> callbacks_;
    const std::shared_ptr<RecorderSlot> recorder_;

    stream::BoundedQueue<stream::BatchPtr, stream::BatchWeight> poll_queue_;
    stream::BoundedQueue<stream::DeliveryItem, stream::DeliveryItemWeight> delivery_queue_;

    std::atomic<bool> stopping_{false};
    std::atomic<StopMode> stop_mode_{StopMode::Deliver};
    std::atomic<bool> failed_{false};
    std::atomic<bool> polled_{false};  // someone polled this stream
    // Delivery items accepted and neither recorded nor dropped yet.
    std::atomic<std::int64_t> undelivered_{0};
    std::mutex wake_mutex_;  // pairs with wake_ for the paced stream thread's sleep; a leaf lock
    std::condition_variable wake_;
    std::atomic<std::uint64_t> end_us_;
    std::atomic<std::uint64_t> events_since_report_{0};
    stream::DropLedger ledger_;
    log::LogThrottle split_log_;

    std::mutex threads_mutex_;  // guards producer_ and deliverer_ (taking them to join); a leaf lock
    std::thread producer_;
    std::thread deliverer_;
    std::atomic<std::thread::id> delivery_thread_id_{};

    mutable std::mutex finished_mutex_;  // guards delivery_finished_; a leaf lock
    mutable std::condition_variable finished_cv_;
    bool delivery_finished_ = false;
};

}  // namespace vantrel::camera
