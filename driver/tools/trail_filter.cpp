#include <algorithm>
#include <limits>

#include "tools/trail_filter.hpp"

namespace vantrel::tools {

namespace {
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
}

TrailFilter::TrailFilter(std::uint16_t width, std::uint16_t height) : width_(width), height_(height) {}

void TrailFilter::reset() {
    if (!last_.empty()) std::fill(last_.begin(), last_.end(), kNever);
}

void TrailFilter::filter(std::vector<Event2D>& events) {
    if (last_.empty()) last_.assign(static_cast<std::size_t>(width_) * height_, kNever);
    std::size_t out = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) {
            events[out++] = e;
            continue;
        }
        std::uint64_t& last = last_[static_cast<std::size_t>(e.y) * width_ + e.x];
        const bool trail = last != kNever && e.timestamp >= last && e.timestamp - last < threshold_us_;
        last = e.timestamp;
        if (!trail) events[out++] = e;
    }
    events.resize(out);
}

}  // namespace vantrel::tools
