#include <algorithm>

#include "tools/roi_filter.hpp"

namespace vantrel::tools {

void filter_roi(const RoiSettings& roi, std::vector<Event2D>& events) {
    const auto outside = [&roi](const Event2D& e) { return !roi.contains(e.x, e.y); };
    events.erase(std::remove_if(events.begin(), events.end(), outside), events.end());
}

}  // namespace vantrel::tools
