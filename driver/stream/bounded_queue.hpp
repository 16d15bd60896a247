#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace vantrel::stream {

// What push() does when the queue is full.
enum class Overflow {
    DropOldest,  // make room by dropping the oldest items
    Wait,        // wait for room (while waiting is allowed), else drop the oldest
    Exceed,      // accept beyond the bounds (for a producer that must not wait)
};

// A FIFO bounded by item count and by total weight (events). Closing it
// wakes every waiter at once, discards what is queued and refuses pushes.
// A single item heavier than the weight bound is accepted into an empty
// queue, so that nothing is refused for its size alone.
template <class Item, class Weigh>
class BoundedQueue {
public:
    BoundedQueue(std::size_t max_items, std::size_t max_weight, Weigh weigh = Weigh())
        : max_items_(max_items), max_weight_(max_weight), weigh_(std::move(weigh)) {}

    struct PushResult {
        bool accepted = false;
        std::size_t dropped_items = 0;
        std::size_t dropped_weight = 0;
        std::deque<Item> dropped;  // released by the caller, outside the lock
    };

    PushResult push(Item item, Overflow overflow) {
        PushResult result;
        const std::size_t weight = weigh_(item);
        std::unique_lock<std::mutex> lock(mutex_);
        if (overflow == Overflow::Wait && !hasRoom(weight)) {
            // Once full, wait until the queue has drained to half, so that
            // producer and consumer wake each other once per many items
            // instead of once per item.
            ++waiting_pushers_;
            not_full_.wait(lock, [&] { return closed_ || !wait_allowed_ || (belowLowWater() && hasRoom(weight)); });
            --waiting_pushers_;
        }
        if (closed_) return result;
        if (overflow != Overflow::Exceed) {
            while (!items_.empty() && !hasRoom(weight)) {
                ++result.dropped_items;
                result.dropped_weight += weigh_(items_.front());
                weight_ -= weigh_(items_.front());
                result.dropped.push_back(std::move(items_.front()));
                items_.pop_front();
            }
        }
        weight_ += weight;
        items_.push_back(std::move(item));
        result.accepted = true;
        const bool wake = waiting_poppers_ > 0;
        lock.unlock();
        if (wake) not_empty_.notify_one();
        return result;
    }

    // The oldest item; nullopt when closed and empty, or when `timeout` passed first.
    std::optional<Item> pop(std::optional<std::chrono::steady_clock::duration> timeout = std::nullopt) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto ready = [&] { return closed_ || !items_.empty(); };
        if (!ready()) {
            ++waiting_poppers_;
            bool got = true;
            if (timeout) {
                got = not_empty_.wait_for(lock, *timeout, ready);
            } else {
                not_empty_.wait(lock, ready);
            }
            --waiting_poppers_;
            if (!got) return std::nullopt;
        }
        if (items_.empty()) return std::nullopt;  // closed, and nothing left to hand out
        std::optional<Item> item(std::move(items_.front()));
        items_.pop_front();
        weight_ -= weigh_(*item);
        const bool wake = waiting_pushers_ > 0 && belowLowWater();
        lock.unlock();
        if (wake) not_full_.notify_all();
        return item;
    }

    // Refuses further pushes and wakes every waiter. What is queued is
    // either discarded (handed back, to be released outside the lock) or
    // left for pop() to hand out, after which pop() reports the end.
    // Closing again may discard what an earlier close kept.
    enum class Queued { Discard, Keep };
    std::deque<Item> close(Queued queued = Queued::Discard) {
        std::deque<Item> discarded;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            if (queued == Queued::Discard) {
                discarded.swap(items_);
                weight_ = 0;
            }
        }
        not_empty_.notify_all();
        not_full_.notify_all();
        return discarded;
    }

    // When false, Wait pushes stop waiting and drop the oldest instead.
    void setWaitAllowed(bool allowed) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wait_allowed_ = allowed;
        }
        not_full_.notify_all();
    }

    bool closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_.size();
    }

private:
    bool hasRoom(std::size_t weight) const {
        if (items_.empty()) return true;
        return items_.size() < max_items_ && weight_ + weight <= max_weight_;
    }

    bool belowLowWater() const {
        return items_.empty() || (items_.size() <= max_items_ / 2 && weight_ <= max_weight_ / 2);
    }

    const std::size_t max_items_;
    const std::size_t max_weight_;
    Weigh weigh_;
    // Guards everything below; a leaf lock: no callback, log line or other
    // lock is taken under it (dropped items go back to the caller).
    mutable std::mutex mutex_;
    std::condition_variable not_empty_;
    std::condition_variable not_full_;
    std::deque<Item> items_;
    std::size_t weight_ = 0;
    bool closed_ = false;
    bool wait_allowed_ = true;
    std::size_t waiting_pushers_ = 0;
    std::size_t waiting_poppers_ = 0;
};

}  // namespace vantrel::stream
