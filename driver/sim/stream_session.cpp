#include "sim/stream_session.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "log/log.hpp"
#include "stream/batcher.hpp"
#include "stream/stream_limits.hpp"

namespace vantrel::sim {

using stream::BatchPtr;
using stream::DeliveryItem;
using stream::Overflow;
using Clock = std::chrono::steady_clock;

namespace {

// A paced stream generates a slice per millisecond of wall time; a stream
// that fell behind catches up in slices of at most 50 ms.
constexpr std::uint64_t kPacedTickUs = 1'000;
constexpr std::uint64_t kMaxPacedSliceUs = 50'000;
// An unpaced stream generates slices of at most 100 ms or about a million
// events, whichever is shorter, so that it stays responsive to stop().
constexpr std::uint64_t kMaxUnpacedSliceUs = 100'000;
constexpr double kMaxSliceEvents = 1 << 20;

}  // namespace

StreamSession::StreamSession(SessionConfig config, std::shared_ptr<stream::EventSource> source,
                             std::unique_ptr<tools::ToolPipeline> pipeline,
                             std::shared_ptr<stream::BatchSettings> settings,
                             std::shared_ptr<stream::CallbackRegistry> callbacks,
                             std::shared_ptr<stream::RecorderSlot> recorder)
    : config_(std::move(config)),
      source_(std::move(source)),
      pipeline_(std::move(pipeline)),
      settings_(std::move(settings)),
      callbacks_(std::move(callbacks)),
      recorder_(std::move(recorder)),
      poll_queue_(stream::limits::kPollQueueBatches, stream::limits::kPollQueueEvents),
      delivery_queue_(stream::limits::kDeliveryQueueItems, stream::limits::kDeliveryQueueEvents),
      end_us_(config_.start_us) {}

StreamSession::~StreamSession() {
    // Threads hold the session, so by now both have ended or were detached.
    if (producer_.joinable()) producer_.detach();
    if (deliverer_.joinable()) deliverer_.detach();
}

void StreamSession::launch() {
    auto self = shared_from_this();
    std::lock_guard<std::mutex> lock(threads_mutex_);
    deliverer_ = std::thread([self] { self->deliver(); });
    delivery_thread_id_.store(deliverer_.get_id(), std::memory_order_release);
    producer_ = std::thread([self] { self->produce(); });
}

void StreamSession::stopProducing(bool deliver_queued) {
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        stopping_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    poll_queue_.close();
    // Callbacks then receive every batch the stream produced, as a recording
    // of it holds. From inside a callback nothing more may be delivered once
    // it returns.
    using Queued = stream::BoundedQueue<DeliveryItem, stream::DeliveryItemWeight>::Queued;
    delivery_queue_.close(deliver_queued && !onDeliveryThread() ? Queued::Keep : Queued::Discard);
    std::thread producer;
    {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        producer.swap(producer_);
    }
    // The stream thread never calls user code, so this is never that thread.
    if (producer.joinable()) producer.join();
}

void StreamSession::finishDelivery() {
    std::thread deliverer;
    {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        deliverer.swap(deliverer_);
    }
    if (!deliverer.joinable()) return;
    if (deliverer.get_id() == std::this_thread::get_id()) {
        // Stopped from inside a callback: the thread ends after it returns.
        deliverer.detach();
    } else {
        deliverer.join();
    }
}

bool StreamSession::onDeliveryThread() const noexcept {
    return delivery_thread_id_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

BatchPtr StreamSession::poll(Clock::duration timeout) {
    auto batch = poll_queue_.pop(timeout);
    return batch ? std::move(*batch) : nullptr;
}

void StreamSession::callbacksChanged() {
    poll_queue_.setWaitAllowed(!config_.realtime && !callbacks_->hasBatch());
}

void StreamSession::reportDrops(const char* queue, std::size_t batches, std::size_t events) {
    dropped_batches_.fetch_add(batches, std::memory_order_relaxed);
    const auto suppressed = drop_log_.admit();
    if (!suppressed) return;
    const std::string more =
        *suppressed ? " (" + std::to_string(*suppressed) + " similar messages suppressed)" : "";
    const auto total = dropped_batches_.load(std::memory_order_relaxed);
    // A program that takes its batches through callbacks and never polls
    // lets the poll queue overflow as a matter of course: no warning then.
    if (std::string_view(queue) == "poll" && callbacks_->hasBatch()) {
        log::debug(config_.owner, ": poll queue full, dropped ", batches, " oldest batch(es) of ", events,
                   " events (", total, " batches dropped this stream)", more);
    } else {
        log::warning(config_.owner, ": ", queue, " queue full, dropped ", batches, " oldest batch(es) of ",
                     events, " events (", total, " batches dropped this stream)", more);
    }
}

void StreamSession::emitBatch(BatchPtr batch, bool pushed) {
    events_since_report_.fetch_add(batch->size(), std::memory_order_relaxed);
    const bool wait = !pushed && !config_.realtime;
    if (callbacks_->hasBatch()) {
        const auto r = poll_queue_.push(batch, Overflow::DropOldest);
        if (r.dropped_items) reportDrops("poll", r.dropped_items, r.dropped_weight);
        // Recorded once the callbacks are sure to get it (a stop while this
        // waits for room refuses it), so the recording holds what they receive.
        if (emitItem(DeliveryItem::ofBatch(batch), pushed)) recorder_->push(std::move(batch));
    } else {
        recorder_->push(batch);
        const auto r = poll_queue_.push(std::move(batch), wait ? Overflow::Wait : Overflow::DropOldest);
        if (r.dropped_items) reportDrops("poll", r.dropped_items, r.dropped_weight);
    }
}

bool StreamSession::emitItem(DeliveryItem item, bool pushed) {
    Overflow overflow;
    if (pushed) {
        // A push waits for room, except from inside a callback: that thread
        // is the one that makes room.
        overflow = onDeliveryThread() ? Overflow::Exceed : Overflow::Wait;
    } else {
        overflow = config_.realtime ? Overflow::DropOldest : Overflow::Wait;
    }
    const auto r = delivery_queue_.push(std::move(item), overflow);
    if (r.dropped_items) reportDrops("delivery", r.dropped_items, r.dropped_weight);
    return r.accepted;
}

bool StreamSession::pushBatch(BatchPtr batch) {
    if (stopped()) return false;
    emitBatch(std::move(batch), true);
    return !stopped();
}

bool StreamSession::pushEdge(const EventTriggerIn& edge) {
    if (stopped()) return false;
    if (emitItem(DeliveryItem::ofEdge(edge), true)) recorder_->push(edge);
    return !stopped();
}

bool StreamSession::pushStatistics(const EvCameraStatisticInfo& statistics) {
    if (stopped()) return false;
    emitItem(DeliveryItem::ofStatistics(statistics), true);
    return !stopped();
}

void StreamSession::reportStatistics() {
    const std::uint64_t events = events_since_report_.exchange(0, std::memory_order_relaxed);
    if (!callbacks_->hasStatistics()) return;
    EvCameraStatisticInfo info{};
    info.events_count = events;
    info.bandwidth_byte = events * sizeof(Event2D);
    emitItem(DeliveryItem::ofStatistics(info), false);
}

bool StreamSession::sleepUntil(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(wake_mutex_);
    return !wake_.wait_until(lock, deadline, [&] { return stopping_.load(std::memory_order_acquire); });
}

void StreamSession::deliver() {
    try {
        while (auto item = delivery_queue_.pop()) {
            callbacks_->deliver(*item);
        }
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const std::exception& e) {
        log::error(config_.owner, ": the delivery thread failed (", e.what(), "); callbacks receive nothing more");
        delivery_queue_.close();
    }
}

void StreamSession::produce() {
    try {
        generate();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const std::exception& e) {
        log::error(config_.owner, ": the stream failed (", e.what(), "); it produces nothing more until restarted");
        fail();
    } catch (...) {
        log::error(config_.owner, ": the stream failed; it produces nothing more until restarted");
        fail();
    }
}

void StreamSession::fail() {
    failed_.store(true, std::memory_order_release);
    // Pollers learn it at once instead of waiting for their timeout.
    poll_queue_.close();
}

void StreamSession::generate() {
    stream::Batcher batcher(stream::limits::kMaxBatchEvents);
    std::uint64_t t = config_.start_us;
    std::uint64_t seen_generation = ~std::uint64_t{0};
    std::uint64_t next_report = t + stream::limits::kStatisticsPeriodUs;
    std::uint64_t splits_logged = 0;
    std::vector<Event2D> slice;
    std::vector<EventTriggerIn> edges;
    bool was_paced = true;
    auto anchor_wall = Clock::now();
    std::uint64_t anchor_t = t;
    const auto emit = [this](BatchPtr batch) { emitBatch(std::move(batch), false); };

    while (!stopped()) {
        if (const auto [rule, generation] = settings_->get(); generation != seen_generation) {
            batcher.configure(rule, t);
            seen_generation = generation;
        }
        callbacksChanged();
        const stream::SourceControls controls = pipeline_->controls();
        const double per_us = config_.event_rate * controls.rate_scale / 1e6;

        // A source with nothing to give (scripted scene, finished recording,
        // zero rate) runs at wall-clock pace even when the camera is not
        // real-time, instead of spinning.
        const bool paced = config_.realtime || source_->exhausted() || !(per_us > 0);
        if (paced != was_paced) {
            anchor_wall = Clock::now();
            anchor_t = t;
            was_paced = paced;
        }

        std::uint64_t t_end;
        if (paced) {
            const auto deadline = anchor_wall + std::chrono::microseconds(t + kPacedTickUs - anchor_t);
            if (!sleepUntil(deadline)) break;
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - anchor_wall).count();
            const std::uint64_t now_t = anchor_t + static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0));
            if (now_t <= t) continue;
            t_end = std::min(now_t, t + kMaxPacedSliceUs);
        } else {
            std::uint64_t max_us = kMaxUnpacedSliceUs;
            if (per_us > 0 && std::isfinite(per_us)) {
                max_us = std::min<std::uint64_t>(max_us, static_cast<std::uint64_t>(std::max(1.0, kMaxSliceEvents / per_us)));
            }
            t_end = batcher.suggestSliceEnd(t, per_us, max_us);
        }

        source_->generate(t, t_end, controls, slice);
        pipeline_->filter(slice, t, t_end);
        batcher.append(slice);

        edges.clear();
        source_->triggers(t, t_end, edges);
        pipeline_->triggers(t, t_end, edges);
        if (!edges.empty()) {
            std::stable_sort(edges.begin(), edges.end(),
                             [](const EventTriggerIn& a, const EventTriggerIn& b) { return a.timestamp < b.timestamp; });
            for (const auto& edge : edges) {
                // As for batches: recorded when the callbacks will get it too.
                if (!callbacks_->hasTriggerIn() || emitItem(DeliveryItem::ofEdge(edge), false)) {
                    recorder_->push(edge);
                }
            }
        }

        batcher.cut(t_end, emit);
        if (batcher.splitWindows() != splits_logged) {
            splits_logged = batcher.splitWindows();
            if (const auto suppressed = split_log_.admit()) {
                log::warning(config_.owner, ": a batch window holds more than ", stream::limits::kMaxBatchEvents,
                             " events; delivering it in parts",
                             *suppressed ? " (" + std::to_string(*suppressed) + " similar messages suppressed)" : "");
            }
        }

        t = t_end;
        end_us_.store(t, std::memory_order_release);
        while (t >= next_report) {
            reportStatistics();
            next_report += stream::limits::kStatisticsPeriodUs;
        }
    }
}

}  // namespace vantrel::sim
