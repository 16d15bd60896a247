#pragma once

// The parts of the tools that act on the event stream. Each is owned by a
// camera's ToolPipeline and used from its stream thread only. Filters work
// in place and keep the order of the events they pass.

#include <cstdint>
#include <vector>

#include "tools/tool_definitions.hpp"
#include "vantrel/events.hpp"

namespace vantrel::tools {

// Keeps the events inside the window.
void filter_roi(const RoiSettings& roi, std::vector<Event2D>& events);

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

// A square wave on the trigger input: edge n at origin + n * half period,
// rising (polarity 1) for even n, falling (polarity 0) for odd n. The
// origin is the start of the first slice after the settings took effect.
class TriggerGenerator {
public:
    void configure(const TriggerInSettings& settings);
    void reset() { anchored_ = false; }
    void generate(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out);

private:
    std::uint64_t edgeTime(std::uint64_t n) const;

    TriggerInSettings settings_{false, 0, 100.0f};
    double half_period_us_ = 5000.0;
    bool anchored_ = false;
    std::uint64_t origin_ = 0;
    std::uint64_t next_ = 0;
};

}  // namespace vantrel::tools
