#pragma once

#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::tools {

// The window of the roi tool.
struct RoiSettings {
    bool enabled;
    int x, y, width, height;
    bool contains(std::uint16_t ex, std::uint16_t ey) const {
        return ex >= x && ex < x + width && ey >= y && ey < y + height;
    }
};

// Keeps the events inside the window.
void filter_roi(const RoiSettings& roi, std::vector<Event2D>& events);

}  // namespace vantrel::tools
