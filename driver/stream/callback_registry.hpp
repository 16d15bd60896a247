#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/delivery_item.hpp"
#include "vantrel/events.hpp"

namespace vantrel::stream {

// The callbacks registered on one camera, and their invocation.
//
// Callbacks are called without any lock held. Removing (or replacing) a
// callback waits until a call of it in progress on another thread has
// returned, so that afterwards it is never called again; removing it from
// inside its own call does not wait. The callables themselves are destroyed
// outside every lock, because destroying one may need another thread's
// cooperation (a Python callable takes the interpreter lock).
class CallbackRegistry {
public:
    explicit CallbackRegistry(std::string owner);
    ~CallbackRegistry();
    CallbackRegistry(const CallbackRegistry&) = delete;
    CallbackRegistry& operator=(const CallbackRegistry&) = delete;

    // Ids start at 1 and are never 0; batch and trigger callbacks share one
    // id space.
    std::uint32_t addBatch(EventBatchCallback callback);
    std::uint32_t addTriggerIn(TriggerInCallback callback);
    // False when no callback of that kind has the id.
    bool removeBatch(std::uint32_t id);
    bool removeTriggerIn(std::uint32_t id);
    // Replaces the statistics callback; an empty function removes it.
    void setStatistics(StatisticsCallback callback);
    // Removes every callback (waiting as removal does).
    void clear();

    bool hasBatch() const noexcept { return batch_count_.load(std::memory_order_acquire) > 0; }
    bool hasTriggerIn() const noexcept { return trigger_count_.load(std::memory_order_acquire) > 0; }
    bool hasStatistics() const noexcept { return statistics_set_.load(std::memory_order_acquire); }

    // Calls every callback of the item's kind, in registration order. An
    // exception thrown by a callback is logged and goes no further.
    void deliver(const DeliveryItem& item);

private:
    struct Entry;
    using EntryPtr = std::shared_ptr<Entry>;

    std::uint32_t add(EntryPtr entry);
    bool remove(std::uint32_t id, int kind);
    void retire(std::unique_lock<std::mutex>& lock, const std::vector<EntryPtr>& victims);
    void updateCounts();
    void invoke(const EntryPtr& entry, const DeliveryItem& item);

    const std::string owner_;
    // Guards entries_, statistics_, next_id_ and calls_. Never held while a
    // callback runs nor while a callable is destroyed; a leaf lock otherwise.
    std::mutex mutex_;
    std::condition_variable call_ended_;
    std::vector<EntryPtr> entries_;  // in registration order
    EntryPtr statistics_;
    std::uint32_t next_id_ = 1;
    struct Call {
        std::thread::id thread;
        const Entry* entry;
    };
    std::vector<Call> calls_;  // calls in progress
    std::atomic<std::size_t> batch_count_{0};
    std::atomic<std::size_t> trigger_count_{0};
    std::atomic<bool> statistics_set_{false};
};

}  // namespace vantrel::stream
