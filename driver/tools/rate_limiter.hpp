#pragma once

#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::tools {

// Keeps at most the rate's share of events in every millisecond of stream
// time (windows aligned to multiples of 1000 us; the shares of consecutive
// windows add up to exactly the rate). A busy window is thinned evenly over
// its events rather than cut after its first ones. A window split between
// two slices gets the part of its share that the first slice covers, plus
// whatever that part left unused.
class RateLimiter {
public:
    static constexpr std::uint64_t kWindowUs = 1000;

    void configure(std::uint64_t max_event_rate);
    void reset();
    void filter(std::vector<Event2D>& events, std::uint64_t t_begin, std::uint64_t t_end);
    // Events the window of that index may hold.
    std::uint64_t budget(std::uint64_t window) const;

private:
    std::uint64_t rate_ = 0;
    std::uint64_t window_ = ~std::uint64_t{0};
    std::uint64_t passed_ = 0;
};

}  // namespace vantrel::tools
