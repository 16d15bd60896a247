#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace vantrel::log {

// Lets one message through per interval so that a busy stream cannot flood
// the log; counts what it held back. Thread-safe.
class LogThrottle {
public:
    explicit LogThrottle(std::chrono::steady_clock::duration interval = std::chrono::seconds(1))
        : interval_(interval) {}

    // The number of messages suppressed since the last one admitted when this
    // one may be written now; nullopt when it must be dropped.
    std::optional<std::uint64_t> admit() {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        if (admitted_once_ && now - last_ < interval_) {
            ++suppressed_;
            return std::nullopt;
        }
        admitted_once_ = true;
        last_ = now;
        const std::uint64_t suppressed = suppressed_;
        suppressed_ = 0;
        return suppressed;
    }

private:
    std::mutex mutex_;  // guards the members below; a leaf lock (the caller logs after admit())
    std::chrono::steady_clock::duration interval_;
    std::chrono::steady_clock::time_point last_{};
    bool admitted_once_ = false;
    std::uint64_t suppressed_ = 0;
};

}  // namespace vantrel::log
