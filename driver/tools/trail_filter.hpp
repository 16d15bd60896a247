#pragma once

#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::tools {

// Drops an event that comes less than the threshold after the previous
// event of the same pixel, counted from the last event seen (passed or
// dropped, either polarity): a burst passes its first event only.
class TrailFilter {
public:
    TrailFilter(std::uint16_t width, std::uint16_t height);
    void configure(std::uint64_t threshold_us) { threshold_us_ = threshold_us; }
    void reset();
    void filter(std::vector<Event2D>& events);

private:
    std::uint16_t width_;
    std::uint16_t height_;
    std::uint64_t threshold_us_ = 1;
    std::vector<std::uint64_t> last_;  // per pixel; kNever when none yet
};

}  // namespace vantrel::tools
