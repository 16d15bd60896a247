#pragma once

// Part of the anti_flicker tool's work on the stream, used by one stream
// thread at a time. Filters work in place and keep the order of the events
// they pass.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::tools {

// A detector of periodic brightness changes, run over square regions of
// kRegion x kRegion pixels: one flickering light reaches a whole patch of
// pixels, each of which fires only now and then, so a single pixel rarely
// shows two consecutive periods while its region shows every one. Two grids
// of regions, the second shifted by half a region in x and y, each watch
// every event; an event is dropped when either of its two regions flickers,
// so a patch whose edge cuts a region of one grid thinly is still covered by
// the other (at the price of up to half a region beyond the patch).
//
// Each region keeps a polarity score (ON +1, OFF -1, clamped to +-kClamp);
// it turns bright when the score reaches +kSwitch and dark at -kSwitch, so
// stray events of the other polarity do not flip it. Every time between
// consecutive turns to bright that lies inside the band (a period between
// 1/high and 1/low) raises the region's count of matches, up to
// kMaxMatches; a longer one (often a flash too faint to count) lowers it by
// one; a shorter one clears it, since the light then changes faster than
// the band and the longer periods were skipped flashes of it. At
// kLockPeriods matches the region counts as flickering; a lock ends when
// the count falls below that or when no turn to bright comes for two of the
// band's longest periods. Needs nothing but the events, so it works on
// live and replayed streams alike.
class AntiFlickerFilter {
public:
    static constexpr int kRegionShift = 4;
    static constexpr int kRegion = 1 << kRegionShift;
    static constexpr std::int8_t kClamp = 2;
    static constexpr std::int8_t kSwitch = 2;
    static constexpr std::uint8_t kLockPeriods = 2;
    static constexpr std::uint8_t kMaxMatches = 4;

    AntiFlickerFilter(std::uint16_t width, std::uint16_t height);
    void configure(int low_frequency_hz, int high_frequency_hz);
    // Forgets every region's history.
    void reset();
    void filter(std::vector<Event2D>& events);

private:
    enum class Phase : std::uint8_t { Unknown, Bright, Dark };
    struct Region {
        std::uint64_t last_rise = 0;  // when it last turned bright
        std::int8_t score = 0;
        Phase phase = Phase::Unknown;
        std::uint8_t matches = 0;  // periods inside the band, less odd ones
        bool has_rise = false;
    };
    struct Grid {
        int offset;  // of the grid's first region, in pixels
        std::size_t columns;
        std::vector<Region> regions;
        Region& at(std::uint16_t x, std::uint16_t y) {
            return regions[((static_cast<std::size_t>(y) + offset) >> kRegionShift) * columns +
                           ((static_cast<std::size_t>(x) + offset) >> kRegionShift)];
        }
    };
    static Grid makeGrid(std::uint16_t width, std::uint16_t height, int offset);
    // Feeds one event to a region; true while the region flickers.
    bool watch(Region& region, const Event2D& event) const;

    std::uint16_t width_;
    std::uint16_t height_;
    std::uint64_t min_period_us_ = 0;
    std::uint64_t max_period_us_ = 0;
    Grid aligned_;
    Grid shifted_;
};

}  // namespace vantrel::tools
