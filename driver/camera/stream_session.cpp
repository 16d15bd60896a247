#include "camera/stream_session.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>
#include <vector>

#include "log/log.hpp"
#include "stream/batcher.hpp"
#include "stream/stream_limits.hpp"

namespace vantrel::camera {

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

StreamSession::StreamSession(SessionConfig config, std::shared_ptr<EventSource> source,
                             std::unique_ptr<tools::ToolPipeline> pipeline,
                             std::shared_ptr<stream::BatchSettings> settings,
                             std::shared_ptr<stream::CallbackRegistry> callbacks,
                             std::shared_ptr<RecorderSlot> recorder)
    : config_(std::move(config)),
      source_(std::move(source)),
      pipeline_(std::move(pipeline)),
      settings_(std::move(settings)),
      callbacks_(std::move(callbacks)),
      recorder_(std::move(recorder)),
      poll_queue_(stream::limits::kPollQueueBatches, stream::limits::kPollQueueEvents),
      delivery_queue_(stream::limits::kDeliveryQueueItems, stream::limits::kDeliveryQueueEvents),
      end_us_(config_.start_us),
      ledger_(config_.owner) {}

StreamSession::~StreamSession() {
    // Threads hold the session, so by now both have ended or were detached.
    if (producer_.joinable()) producer_.detach();
    if (deliverer_.joinable()) deliverer_.detach();
}

void StreamSession::launch(stream::Activity::Token delivery) {
    auto self = shared_from_this();
    std::lock_guard<std::mutex> lock(threads_mutex_);
    deliverer_ = std::thread([self, delivery = std::move(delivery)]() mutable {
        self->deliver();
        // The session may end here, on this thread: only then is the
        // thread's work done for the activity tally.
        self.reset();
        delivery.release();
    });
    delivery_thread_id_.store(deliverer_.get_id(), std::memory_order_release);
    producer_ = std::thread([self] { self->produce(); });
}

namespace {

// What a set of delivery items or batches amounts to.
stream::DropCount count_of(const std::deque<DeliveryItem>& items) {
    stream::DropCount c;
    for (const auto& item : items) {
        switch (item.kind) {
            case DeliveryItem::Kind::Batch:
                ++c.batches;
                c.events += item.batch ? item.batch->size() : 0;
                break;
            case DeliveryItem::Kind::TriggerIn: ++c.edges; break;
            case DeliveryItem::Kind::Statistics: ++c.reports; break;
        }
    }
    return c;
}

stream::DropCount count_of(const std::deque<BatchPtr>& batches) {
    stream::DropCount c;
    for (const auto& batch : batches) {
        ++c.batches;
        c.events += batch ? batch->size() : 0;
    }
    return c;
}

}  // namespace

template <class Items>
void StreamSession::countDropped(stream::DropQueue queue, const Items& items, const char* why) {
    if (items.empty()) return;
    if (queue == stream::DropQueue::Delivery)
        undelivered_.fetch_sub(static_cast<std::int64_t>(items.size()), std::memory_order_acq_rel);
    if (stop_mode_.load(std::memory_order_acquire) == StopMode::Exit) {
        ledger_.addQuietly(queue, count_of(items));
        return;
    }
    // A program that takes its batches through callbacks and never polls
    // lets the poll queue overflow as a matter of course.
    const bool routine = queue == stream::DropQueue::Poll && !polled_.load(std::memory_order_acquire) &&
                         callbacks_->hasBatch();
    ledger_.add(queue, count_of(items), why, routine);
}

void StreamSession::stopProducing(StopMode mode) {
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        if (!stopping_.load(std::memory_order_relaxed) || mode != StopMode::Deliver) stop_mode_.store(mode);
        stopping_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    // Unpolled batches go: the program chose to stop (or cannot poll any more).
    poll_queue_.close();
    // From inside a callback nothing more may be delivered once it returns.
    using Queued = stream::BoundedQueue<DeliveryItem, stream::DeliveryItemWeight>::Queued;
    const bool keep = mode == StopMode::Deliver && !onDeliveryThread();
    auto discarded = delivery_queue_.close(keep ? Queued::Keep : Queued::Discard);
    countDropped(stream::DropQueue::Delivery, discarded,
                 mode == StopMode::Unplugged ? "the device was unplugged with data not yet delivered"
                                             : "the stream was stopped from inside a callback with data not yet delivered");
    discarded.clear();
    std::thread producer;
    {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        producer.swap(producer_);
    }
    // The stream thread never calls user code, so this is never that thread.
    if (producer.joinable()) producer.join();
}

void StreamSession::finishDelivery(bool wait) {
    std::thread deliverer;
    {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        deliverer.swap(deliverer_);
    }
    if (!deliverer.joinable()) return;
    if (!wait || deliverer.get_id() == std::this_thread::get_id()) {
        // Stopped from inside a callback: the thread ends after it returns.
        deliverer.detach();
    } else {
        deliverer.join();
    }
}

bool StreamSession::deliveryFinished() const {
    std::lock_guard<std::mutex> lock(finished_mutex_);
    return delivery_finished_;
}

void StreamSession::waitDeliveryFinished() const {
    std::unique_lock<std::mutex> lock(finished_mutex_);
    finished_cv_.wait(lock, [&] { return delivery_finished_; });
}

bool StreamSession::onDeliveryThread() const noexcept {
    return delivery_thread_id_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

BatchPtr StreamSession::poll(Clock::duration timeout) {
    polled_.store(true, std::memory_order_release);
    auto batch = poll_queue_.pop(timeout);
    return batch ? std::move(*batch) : nullptr;
}

void StreamSession::callbacksChanged() {
    poll_queue_.setWaitAllowed(!config_.realtime && !callbacks_->hasBatch());
}

bool StreamSession::recordOnDelivery(bool callbacks) const {
    // With callbacks, the recorder gets what they get. Without, it gets the
    // data at once (a poller then finds recorded what it polled), unless
    // items bound for it are still on their way through the delivery queue:
    // the file keeps the order of the stream.
    return callbacks || (recorder_->active() && undelivered_.load(std::memory_order_acquire) > 0);
}

void StreamSession::recordNow(const BatchPtr& batch) {
    if (!recorder_->push(batch)) {
        countDropped(stream::DropQueue::Recorder, std::deque<BatchPtr>{batch},
                     "full (the disk is slower than the stream)");
    }
}

void StreamSession::emitBatch(BatchPtr batch, bool pushed) {
    events_since_report_.fetch_add(batch->size(), std::memory_order_relaxed);
    const bool callbacks = callbacks_->hasBatch();
    // Without callbacks a camera that is not real-time waits for its poller.
    const Overflow poll_overflow = !callbacks && !pushed && !config_.realtime ? Overflow::Wait : Overflow::DropOldest;
    if (recordOnDelivery(callbacks)) {
        auto r = poll_queue_.push(batch, poll_overflow);
        countDropped(stream::DropQueue::Poll, r.dropped, "full (nobody polled in time)");
        emitItem(DeliveryItem::ofBatch(std::move(batch)), pushed);
    } else {
        recordNow(batch);
        auto r = poll_queue_.push(std::move(batch), poll_overflow);
        countDropped(stream::DropQueue::Poll, r.dropped, "full (nobody polled in time)");
    }
}

void StreamSession::emitEdge(const EventTriggerIn& edge, bool pushed) {
    if (recordOnDelivery(callbacks_->hasTriggerIn())) {
        emitItem(DeliveryItem::ofEdge(edge), pushed);
    } else if (!recorder_->push(edge)) {
        countDropped(stream::DropQueue::Recorder, std::deque<DeliveryItem>{DeliveryItem::ofEdge(edge)},
                     "full (the disk is slower than the stream)");
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
    // Counted before the delivery thread can see it.
    undelivered_.fetch_add(1, std::memory_order_acq_rel);
    auto r = delivery_queue_.push(std::move(item), overflow);
    if (!r.accepted) undelivered_.fetch_sub(1, std::memory_order_acq_rel);
    countDropped(stream::DropQueue::Delivery, r.dropped, "full (the callbacks are slower than the stream)");
    return r.accepted;
}

bool StreamSession::pushBatch(BatchPtr batch) {
    if (stopped()) return false;
    emitBatch(std::move(batch), true);
    return !stopped();
}

bool StreamSession::pushEdge(const EventTriggerIn& edge) {
    if (stopped()) return false;
    emitEdge(edge, true);
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

void StreamSession::deliverItem(const DeliveryItem& item) {
    // Recorded just before the callbacks get it: a recording holds exactly
    // what they received.
    bool recorded = true;
    if (item.kind == DeliveryItem::Kind::Batch) {
        recorded = recorder_->push(item.batch);
    } else if (item.kind == DeliveryItem::Kind::TriggerIn) {
        recorded = recorder_->push(item.edge);
    }
    undelivered_.fetch_sub(1, std::memory_order_acq_rel);
    if (!recorded) {
        countDropped(stream::DropQueue::Recorder, std::deque<DeliveryItem>{item},
                     "full (the disk is slower than the stream)");
    }
    callbacks_->deliver(item);
}

// Catching a forced unwind (the thread being ended) binds a null reference:
// that is how the ABI works, not a fault for the sanitizer to report (nor
// to check in a caller this would be inlined into).
[[gnu::no_sanitize("null"), gnu::noinline]] void StreamSession::deliver() {
    std::optional<Clock::time_point> drain_until;
    try {
        while (auto item = delivery_queue_.pop()) {
            if (stopping_.load(std::memory_order_acquire)) {
                // Stopped: the callbacks catch up for a bounded time, counted
                // from the end of the call that was in progress.
                const auto now = Clock::now();
                if (!drain_until) drain_until = now + stream::limits::kStopDrainTime;
                if (now >= *drain_until) {
                    auto rest = delivery_queue_.close();
                    rest.push_front(std::move(*item));
                    countDropped(stream::DropQueue::Delivery, rest,
                                 "stopped while the callbacks were behind; dropped what they had not "
                                 "received 100 ms after the stop");
                    break;
                }
            }
            deliverItem(*item);
        }
    } catch (abi::__forced_unwind&) {
        endDelivery();
        throw;  // the thread is being ended: let it go
    } catch (const std::exception& e) {
        log::error(config_.owner, ": the delivery thread failed (", e.what(), "); callbacks receive nothing more");
        delivery_queue_.close();
    }
    endDelivery();
}

void StreamSession::endDelivery() {
    if (stop_mode_.load(std::memory_order_acquire) != StopMode::Exit) {
        const auto summary = [](const stream::StreamDrops& drops) {
            std::string text;
            for (std::size_t q = 0; q < drops.size(); ++q) {
                if (stream::empty(drops[q])) continue;
                if (!text.empty()) text += "; ";
                text += std::string(kDropQueueNames[q]) + " queue " + stream::DropLedger::describe(drops[q]);
            }
            return text;
        };
        // What the program missed is worth a warning; routine drops only a
        // debug line.
        if (const std::string missed = summary(ledger_.noteworthy()); !missed.empty()) {
            log::warning(config_.owner, ": the stream stopped; in all it dropped: ", missed);
        } else if (const std::string all = summary(ledger_.totals()); !all.empty()) {
            log::debug(config_.owner, ": the stream stopped; in all it dropped (routinely): ", all);
        }
    }
    {
        std::lock_guard<std::mutex> lock(finished_mutex_);
        delivery_finished_ = true;
    }
    finished_cv_.notify_all();
}

[[gnu::no_sanitize("null"), gnu::noinline]] void StreamSession::produce() {
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
        const tools::SourceControls controls = pipeline_->controls();
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
            for (const auto& edge : edges) emitEdge(edge, false);
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

}  // namespace vantrel::camera
