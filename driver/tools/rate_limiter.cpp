#include <algorithm>

#include "tools/rate_limiter.hpp"

namespace vantrel::tools {

void RateLimiter::configure(std::uint64_t max_event_rate) {
    if (max_event_rate == rate_) return;
    rate_ = max_event_rate;
    reset();
}

void RateLimiter::reset() {
    window_ = ~std::uint64_t{0};
    passed_ = 0;
}

std::uint64_t RateLimiter::budget(std::uint64_t window) const {
    using wide = unsigned __int128;
    const wide end = (static_cast<wide>(window) + 1) * rate_ / (1000000 / kWindowUs);
    const wide begin = static_cast<wide>(window) * rate_ / (1000000 / kWindowUs);
    return static_cast<std::uint64_t>(end - begin);
}

void RateLimiter::filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end) {
    (void)t_begin;
    const std::size_t n = events.size();
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint64_t window = events[i].timestamp / kWindowUs;
        std::size_t j = i + 1;
        while (j < n && events[j].timestamp / kWindowUs == window) ++j;
        if (window != window_) {
            window_ = window;
            passed_ = 0;
        }
        const std::uint64_t share = budget(window);
        std::uint64_t allowed = share;
        const std::uint64_t start = window * kWindowUs;
        if (j == n && t_end > start && t_end - start < kWindowUs && events[j - 1].timestamp < t_end) {
            // The window goes on in the next slice: grant the part this slice covers.
            allowed = share * (t_end - start) / kWindowUs;
        }
        const std::uint64_t count = j - i;
        const std::uint64_t keep = std::min<std::uint64_t>(count, allowed > passed_ ? allowed - passed_ : 0);
        if (keep == count) {
            if (out != i) std::copy(events.begin() + i, events.begin() + j, events.begin() + out);
            out += count;
        } else {
            for (std::uint64_t m = 0; m < count; ++m) {
                if ((m + 1) * keep / count > m * keep / count) events[out++] = events[i + m];
            }
        }
        passed_ += keep;
        i = j;
    }
    events.resize(out);
}

}  // namespace vantrel::tools
