#include "stream/activity.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace vantrel::stream {

namespace {

struct Tally {
    std::atomic<bool> quiesced{false};
    std::atomic<std::thread::id> quiescer{};
    std::atomic<std::size_t> count{0};
    std::mutex mutex;  // pairs with `idle` for waitIdle(); guards nothing else, a leaf lock
    std::condition_variable idle;
};

Tally& tally() {
    static Tally* const instance = new Tally();  // outlives every thread
    return *instance;
}

}  // namespace

Activity::Token& Activity::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        release();
        counted_ = other.counted_;
        other.counted_ = false;
    }
    return *this;
}

void Activity::Token::release() noexcept {
    if (!counted_) return;
    counted_ = false;
    Tally& t = tally();
    if (t.count.fetch_sub(1) == 1) {
        // The lock orders this against a waiter between its check and its wait.
        std::lock_guard<std::mutex> lock(t.mutex);
        t.idle.notify_all();
    }
}

Activity::Token Activity::enter() noexcept {
    Tally& t = tally();
    // Counted first, checked second (both sequentially consistent): either
    // quiesce() sees this work in the tally, or this sees the flag.
    t.count.fetch_add(1);
    if (t.quiesced.load()) {
        Token(true).release();
        return Token();
    }
    return Token(true);
}

bool Activity::quiesced() noexcept { return tally().quiesced.load(); }

void Activity::quiesce() noexcept {
    tally().quiescer.store(std::this_thread::get_id());
    tally().quiesced.store(true);
}

bool Activity::onQuiescingThread() noexcept {
    return quiesced() && tally().quiescer.load() == std::this_thread::get_id();
}

bool Activity::waitIdle(std::chrono::steady_clock::time_point deadline) {
    Tally& t = tally();
    std::unique_lock<std::mutex> lock(t.mutex);
    return t.idle.wait_until(lock, deadline, [&] { return t.count.load() == 0; });
}

}  // namespace vantrel::stream
