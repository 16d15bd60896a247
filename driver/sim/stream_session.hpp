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
#include "stream/delivery_item.hpp"
#include "stream/event_source.hpp"
#include "stream/log_throttle.hpp"
#include "stream/recorder_slot.hpp"
#include "tools/tool_pipeline.hpp"

namespace vantrel::sim {

struct SessionConfig {
    std::string owner;        // "camera <serial>", for log lines
    bool realtime = true;     // pace by timestamps; else as fast as consumers take batches
    double event_rate = 0;    // events per second the source is expected to give
    std::uint64_t start_us = 0;
};

// One run of a camera's stream, from start() to stop(): a stream thread that
// generates slices, passes them through the tools and cuts them into
// batches, and a delivery thread that hands batches, trigger edges and
// statistics to the callbacks. Batches also go to the poll queue and to the
// recorder. Both threads keep the session alive, so a camera may go away
// (even from inside one of its callbacks) while they finish.
class StreamSession : public std::enable_shared_from_this<StreamSession> {
public:
    StreamSession(SessionConfig config, std::shared_ptr<stream::EventSource> source,
                  std::unique_ptr<tools::ToolPipeline> pipeline,
                  std::shared_ptr<stream::BatchSettings> settings,
                  std::shared_ptr<stream::CallbackRegistry> callbacks,
                  std::shared_ptr<stream::RecorderSlot> recorder);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    void launch();
    // First half of stopping: nothing more is produced, unpolled batches are
    // discarded, waiting pollers and pushers wake up; the stream thread is
    // joined. What waits for the callbacks is still delivered when
    // `deliver_queued` is set, unless this is called from inside a callback.
    // Safe to call more than once.
    void stopProducing(bool deliver_queued);
    // Second half: waits for the delivery thread to deliver what it still has
    // and finish, or lets it finish on its own when called from inside a
    // callback.
    void finishDelivery();

    // The next batch, or nullptr when the stream stopped or `timeout` passed.
    stream::BatchPtr poll(std::chrono::steady_clock::duration timeout);

    // Deliver exactly these data (false once stopped).
    bool pushBatch(stream::BatchPtr batch);
    bool pushEdge(const EventTriggerIn& edge);
    bool pushStatistics(const EvCameraStatisticInfo& statistics);

    // The set of batch callbacks changed: the stream thread stops waiting
    // for poll-queue room once there is a callback to pace it.
    void callbacksChanged();

    // Stream time reached so far (end of the last slice generated).
    std::uint64_t endTime() const noexcept { return end_us_.load(std::memory_order_acquire); }
    bool stopped() const noexcept { return stopping_.load(std::memory_order_acquire); }
    // The stream thread ended on an error; the session must be stopped.
    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }

private:
    void produce();
    void generate();  // the stream thread's loop
    void deliver();
    void fail();
    bool onDeliveryThread() const noexcept;
    void emitBatch(stream::BatchPtr batch, bool pushed);
    bool emitItem(stream::DeliveryItem item, bool pushed);
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    void reportStatistics();
    void reportDrops(const char* queue, std::size_t batches, std::size_t events);

    const SessionConfig config_;
    const std::shared_ptr<stream::EventSource> source_;
    const std::unique_ptr<tools::ToolPipeline> pipeline_;
    const std::shared_ptr<stream::BatchSettings> settings_;
    const std::shared_ptr<stream::CallbackRegistry> callbacks_;
    const std::shared_ptr<stream::RecorderSlot> recorder_;

    stream::BoundedQueue<stream::BatchPtr, stream::BatchWeight> poll_queue_;
    stream::BoundedQueue<stream::DeliveryItem, stream::DeliveryItemWeight> delivery_queue_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    std::atomic<std::uint64_t> end_us_;
    std::atomic<std::uint64_t> events_since_report_{0};
    std::atomic<std::uint64_t> dropped_batches_{0};
    stream::LogThrottle drop_log_;
    stream::LogThrottle split_log_;

    std::mutex threads_mutex_;
    std::thread producer_;
    std::thread deliverer_;
    std::atomic<std::thread::id> delivery_thread_id_{};
};

}  // namespace vantrel::sim
