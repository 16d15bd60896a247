#include <algorithm>

#include "tools/stream_filters.hpp"

namespace vantrel::tools {

AntiFlickerFilter::AntiFlickerFilter(std::uint16_t width, std::uint16_t height)
    : width_(width),
      height_(height),
      columns_((static_cast<std::size_t>(width) + kRegion - 1) >> kRegionShift),
      regions_(columns_ * ((static_cast<std::size_t>(height) + kRegion - 1) >> kRegionShift)) {}

void AntiFlickerFilter::configure(int low_frequency_hz, int high_frequency_hz) {
    min_period_us_ = 1000000 / static_cast<std::uint64_t>(high_frequency_hz);
    max_period_us_ = (1000000 + static_cast<std::uint64_t>(low_frequency_hz) - 1) /
                     static_cast<std::uint64_t>(low_frequency_hz);
}

void AntiFlickerFilter::reset() { std::fill(regions_.begin(), regions_.end(), Region{}); }

void AntiFlickerFilter::filter(std::vector<Event2D>& events) {
    const std::uint64_t stale_after = 2 * max_period_us_;
    std::size_t out = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) {
            events[out++] = e;
            continue;
        }
        Region& r = regions_[(static_cast<std::size_t>(e.y) >> kRegionShift) * columns_ + (e.x >> kRegionShift)];
        // Unsigned: time going backwards also counts as stale.
        if (r.has_rise && e.timestamp - r.last_rise > stale_after) r.matches = 0;
        if (e.polarity) {
            if (r.score < kClamp) ++r.score;
            if (r.score >= kSwitch && r.phase != Phase::Bright) {
                if (r.phase == Phase::Dark) {
                    if (r.has_rise) {
                        const std::uint64_t period = e.timestamp - r.last_rise;
                        if (period >= min_period_us_ && period <= max_period_us_) {
                            if (r.matches < kMaxMatches) ++r.matches;
                        } else if (r.matches > 0) {
                            // One odd period (a flash too faint to count) does not end a lock.
                            --r.matches;
                        }
                    }
                    r.last_rise = e.timestamp;
                    r.has_rise = true;
                }
                r.phase = Phase::Bright;
            }
        } else {
            if (r.score > -kClamp) --r.score;
            if (r.score <= -kSwitch) r.phase = Phase::Dark;
        }
        if (r.matches < kLockPeriods) events[out++] = e;
    }
    events.resize(out);
}

}  // namespace vantrel::tools
