#include <algorithm>

#include "tools/anti_flicker_filter.hpp"

namespace vantrel::tools {

AntiFlickerFilter::Grid AntiFlickerFilter::makeGrid(std::uint16_t width, std::uint16_t height, int offset) {
    const auto count = [offset](std::uint16_t size) {
        return (static_cast<std::size_t>(size) + offset + kRegion - 1) >> kRegionShift;
    };
    return Grid{offset, count(width), std::vector<Region>(count(width) * count(height))};
}

AntiFlickerFilter::AntiFlickerFilter(std::uint16_t width, std::uint16_t height)
    : width_(width),
      height_(height),
      aligned_(makeGrid(width, height, 0)),
      shifted_(makeGrid(width, height, kRegion / 2)) {}

void AntiFlickerFilter::configure(int low_frequency_hz, int high_frequency_hz) {
    min_period_us_ = 1000000 / static_cast<std::uint64_t>(high_frequency_hz);
    max_period_us_ = (1000000 + static_cast<std::uint64_t>(low_frequency_hz) - 1) /
                     static_cast<std::uint64_t>(low_frequency_hz);
}

void AntiFlickerFilter::reset() {
    std::fill(aligned_.regions.begin(), aligned_.regions.end(), Region{});
    std::fill(shifted_.regions.begin(), shifted_.regions.end(), Region{});
}

bool AntiFlickerFilter::watch(Region& r, const Event2D& e) const {
    // Unsigned: time going backwards also counts as stale.
    if (r.has_rise && e.timestamp - r.last_rise > 2 * max_period_us_) r.matches = 0;
    if (e.polarity) {
        if (r.score < kClamp) ++r.score;
        if (r.score >= kSwitch && r.phase != Phase::Bright) {
            if (r.phase == Phase::Dark) {
                if (r.has_rise) {
                    const std::uint64_t period = e.timestamp - r.last_rise;
                    if (period < min_period_us_) {
                        // The light changes faster than the band, so longer periods
                        // seen were likely flashes too faint to count: weigh it double.
                        r.matches = r.matches > 2 ? r.matches - 2 : 0;
                    } else if (period <= max_period_us_) {
                        if (r.matches < kMaxMatches) ++r.matches;
                    } else if (r.matches > 0) {
                        // One long period (a flash too faint to count) does not end a lock.
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
    return r.matches >= kLockPeriods;
}

void AntiFlickerFilter::filter(std::vector<Event2D>& events) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) {
            events[out++] = e;
            continue;
        }
        // Both grids must see every event, so no short-circuit here.
        const bool aligned = watch(aligned_.at(e.x, e.y), e);
        const bool shifted = watch(shifted_.at(e.x, e.y), e);
        if (!(aligned || shifted)) events[out++] = e;
    }
    events.resize(out);
}

}  // namespace vantrel::tools
