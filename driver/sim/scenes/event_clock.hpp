#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vantrel::sim {

// Spaces a scene's events in time: the next event time is kept in fixed
// point (microseconds with 16 fractional bits), and each gap is the mean
// period with uniform jitter (half to one and a half periods). Events are
// produced strictly in order, so a scene's output does not depend on how the
// stream is cut into slices.
class EventClock {
public:
    static constexpr int kFractionBits = 16;
    // Fixed point covers 2^48 us (about 8.9 years) of stream time.
    static constexpr std::uint64_t kMaxTimeUs = (std::uint64_t{1} << (64 - kFractionBits)) - 1;

    // Prepares a slice [t_begin, t_end) at `rate` events per second. False
    // when nothing can be produced (rate 0 or invalid): the clock then
    // moves to t_end.
    bool beginSlice(std::uint64_t t_begin, std::uint64_t t_end, double rate) noexcept {
        t_begin = std::min(t_begin, kMaxTimeUs);
        t_end = std::min(t_end, kMaxTimeUs);
        end_fp_ = t_end << kFractionBits;
        const std::uint64_t begin_fp = t_begin << kFractionBits;
        if (next_fp_ < begin_fp) next_fp_ = begin_fp;  // time jumped ahead (stream restarted)
        if (!(rate > 0.0) || !std::isfinite(rate)) {
            next_fp_ = std::max(next_fp_, end_fp_);
            return false;
        }
        const double period = 1e6 / rate * static_cast<double>(std::uint64_t{1} << kFractionBits);
        // Bounded so that gap arithmetic cannot overflow (slowest: one event
        // in about 35 minutes).
        constexpr double kMaxPeriod = static_cast<double>(std::uint64_t{1} << 47);
        period_fp_ = period >= 2.0 ? static_cast<std::uint64_t>(std::min(period, kMaxPeriod)) : 2;
        return true;
    }

    // An upper bound of the events left in this slice.
    std::uint64_t remainingEstimate() const noexcept {
        if (next_fp_ >= end_fp_) return 0;
        return (end_fp_ - next_fp_) / (period_fp_ / 2) + 1;
    }

    bool more() const noexcept { return next_fp_ < end_fp_; }

    // Time of the next event; advances by a gap drawn from `jitter16` (16 random bits).
    std::uint64_t take(std::uint64_t jitter16) noexcept {
        const std::uint64_t t = next_fp_ >> kFractionBits;
        next_fp_ += period_fp_ / 2 + ((jitter16 * period_fp_) >> 16);
        return t;
    }

private:
    std::uint64_t next_fp_ = 0;
    std::uint64_t end_fp_ = 0;
    std::uint64_t period_fp_ = 2;
};

}  // namespace vantrel::sim
