#include <algorithm>

#include "tools/stream_filters.hpp"

namespace vantrel::tools {

namespace {
constexpr std::uint8_t kSeen = 1;     // polarity holds the last event's
constexpr std::uint8_t kHasRise = 2;  // last_rise holds a bright phase's start
}  // namespace

AntiFlickerFilter::AntiFlickerFilter(std::uint16_t width, std::uint16_t height) : width_(width), height_(height) {}

void AntiFlickerFilter::configure(int low_frequency_hz, int high_frequency_hz) {
    min_period_us_ = 1000000 / static_cast<std::uint64_t>(high_frequency_hz);
    max_period_us_ = (1000000 + static_cast<std::uint64_t>(low_frequency_hz) - 1) /
                     static_cast<std::uint64_t>(low_frequency_hz);
}

void AntiFlickerFilter::reset() {
    if (pixels_.empty()) return;
    std::fill(pixels_.begin(), pixels_.end(), Pixel{});
}

void AntiFlickerFilter::filter(std::vector<Event2D>& events) {
    if (pixels_.empty()) pixels_.assign(static_cast<std::size_t>(width_) * height_, Pixel{});
    const std::uint64_t stale_after = 2 * max_period_us_;
    std::size_t out = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) {
            events[out++] = e;
            continue;
        }
        Pixel& p = pixels_[static_cast<std::size_t>(e.y) * width_ + e.x];
        // Unsigned: time going backwards also counts as stale.
        if ((p.flags & kHasRise) && e.timestamp - p.last_rise > stale_after) p.matches = 0;
        const std::uint8_t polarity = e.polarity ? 1 : 0;
        if (polarity == 1 && (p.flags & kSeen) && p.polarity == 0) {
            if (p.flags & kHasRise) {
                const std::uint64_t period = e.timestamp - p.last_rise;
                if (period >= min_period_us_ && period <= max_period_us_) {
                    if (p.matches < 255) ++p.matches;
                } else {
                    p.matches = 0;
                }
            }
            p.last_rise = e.timestamp;
            p.flags |= kHasRise;
        }
        p.polarity = polarity;
        p.flags |= kSeen;
        if (p.matches < kLockPeriods) events[out++] = e;
    }
    events.resize(out);
}

}  // namespace vantrel::tools
