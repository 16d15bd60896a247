#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tools/stream_filters.hpp"

namespace vantrel::tools {
namespace {

// A pixel whose brightness flickers at `hz`: `per_phase` ON events at the
// start of every period, then `per_phase` OFF events half a period later.
void add_flicker(std::vector<Event2D>& out, std::uint16_t x, std::uint16_t y, double hz, std::uint64_t t0,
                 std::uint64_t t1, int per_phase = 2) {
    const double period = 1e6 / hz;
    for (double t = static_cast<double>(t0); t < static_cast<double>(t1); t += period) {
        for (int k = 0; k < per_phase; ++k) {
            out.emplace_back(x, y, 1, static_cast<std::uint64_t>(t) + k * 10);
            out.emplace_back(x, y, 0, static_cast<std::uint64_t>(t + period / 2) + k * 10);
        }
    }
}

void sort_by_time(std::vector<Event2D>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
}

std::size_t count_at(const std::vector<Event2D>& events, std::uint16_t x, std::uint16_t y, std::uint64_t from = 0) {
    return std::count_if(events.begin(), events.end(),
                         [&](const Event2D& e) { return e.x == x && e.y == y && e.timestamp >= from; });
}

TEST(RoiFilterTest, KeepsExactlyTheWindow) {
    std::vector<Event2D> events;
    for (std::uint16_t y = 0; y < 8; ++y)
        for (std::uint16_t x = 0; x < 8; ++x) events.emplace_back(x, y, 1, 10u * (y * 8 + x));
    filter_roi(RoiSettings{true, 2, 3, 4, 2}, events);
    ASSERT_EQ(events.size(), 8u);
    for (const auto& e : events) {
        EXPECT_TRUE(e.x >= 2 && e.x < 6 && e.y >= 3 && e.y < 5) << e.x << "," << e.y;
    }
    EXPECT_TRUE(std::is_sorted(events.begin(), events.end(),
                               [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; }));
}

TEST(AntiFlickerFilterTest, SuppressesFlickerInsideTheBandOnly) {
    AntiFlickerFilter filter(64, 64);
    filter.configure(90, 130);
    std::vector<Event2D> events;
    add_flicker(events, 1, 1, 100.0, 0, 200000);   // inside the band
    add_flicker(events, 2, 2, 120.0, 0, 200000);   // inside the band
    add_flicker(events, 3, 3, 50.0, 0, 200000);    // below it
    add_flicker(events, 4, 4, 300.0, 0, 200000);   // above it
    // A pixel that changes now and then, as a moving edge does.
    for (std::uint64_t t = 0; t < 200000; t += 37000) events.emplace_back(5, 5, t % 2 ? 1 : 0, t);
    sort_by_time(events);
    const auto before = events;
    filter.filter(events);

    // Locked after two in-band periods: nothing passes after the third bright phase.
    EXPECT_EQ(count_at(events, 1, 1, 30000), 0u);
    EXPECT_EQ(count_at(events, 1, 1), 12u);  // three periods of 2 ON + 2 OFF
    EXPECT_EQ(count_at(events, 2, 2, 30000), 0u);
    EXPECT_EQ(count_at(events, 3, 3), count_at(before, 3, 3));
    EXPECT_EQ(count_at(events, 4, 4), count_at(before, 4, 4));
    EXPECT_EQ(count_at(events, 5, 5), count_at(before, 5, 5));
}

TEST(AntiFlickerFilterTest, ReleasesAPixelWhenItStopsFlickering) {
    AntiFlickerFilter filter(16, 16);
    filter.configure(90, 130);
    std::vector<Event2D> events;
    add_flicker(events, 7, 7, 100.0, 0, 100000);
    sort_by_time(events);
    filter.filter(events);
    EXPECT_EQ(count_at(events, 7, 7, 30000), 0u);

    // Quiet for longer than two of the band's longest periods, then a change.
    std::vector<Event2D> later{Event2D(7, 7, 1, 200000), Event2D(7, 7, 1, 200500)};
    filter.filter(later);
    EXPECT_EQ(later.size(), 2u);
}

TEST(AntiFlickerFilterTest, WorksAcrossSlicesAndIgnoresOffSensorEvents) {
    AntiFlickerFilter filter(16, 16);
    filter.configure(90, 130);
    std::vector<Event2D> all;
    add_flicker(all, 3, 3, 100.0, 0, 100000);
    sort_by_time(all);
    std::size_t late = 0;
    for (std::uint64_t t0 = 0; t0 < 100000; t0 += 1000) {
        std::vector<Event2D> slice;
        for (const auto& e : all)
            if (e.timestamp >= t0 && e.timestamp < t0 + 1000) slice.push_back(e);
        slice.emplace_back(100, 100, 1, t0);  // outside a 16x16 sensor: passes untouched
        filter.filter(slice);
        EXPECT_EQ(count_at(slice, 100, 100), 1u);
        late += count_at(slice, 3, 3, 30000);
    }
    EXPECT_EQ(late, 0u);
}

TEST(TrailFilterTest, CountsFromTheLastSeenEvent) {
    TrailFilter filter(8, 8);
    filter.configure(100);
    std::vector<Event2D> events{
        Event2D(1, 1, 1, 1000),  // first: passes
        Event2D(1, 1, 0, 1050),  // 50 after: dropped (either polarity)
        Event2D(1, 1, 1, 1140),  // 90 after the dropped one: dropped
        Event2D(2, 2, 1, 1141),  // another pixel: passes
        Event2D(1, 1, 1, 1240),  // exactly 100 after: passes
        Event2D(1, 1, 1, 1339),  // 99 after: dropped
    };
    filter.filter(events);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].timestamp, 1000u);
    EXPECT_EQ(events[1].timestamp, 1141u);
    EXPECT_EQ(events[2].timestamp, 1240u);

    // The history carries over to the next slice and is forgotten on reset.
    std::vector<Event2D> next{Event2D(1, 1, 1, 1400)};
    filter.filter(next);
    EXPECT_TRUE(next.empty());
    filter.reset();
    next = {Event2D(1, 1, 1, 1401)};
    filter.filter(next);
    EXPECT_EQ(next.size(), 1u);
}

std::vector<Event2D> uniform_events(std::uint64_t rate, std::uint64_t t0, std::uint64_t t1) {
    std::vector<Event2D> events;
    const double step = 1e6 / static_cast<double>(rate);
    for (double t = static_cast<double>(t0); t < static_cast<double>(t1); t += step) {
        events.emplace_back(0, 0, 1, static_cast<std::uint64_t>(t));
    }
    return events;
}

std::map<std::uint64_t, std::size_t> per_window(const std::vector<Event2D>& events) {
    std::map<std::uint64_t, std::size_t> counts;
    for (const auto& e : events) ++counts[e.timestamp / 1000];
    return counts;
}

TEST(RateLimiterTest, EveryMillisecondStaysUnderTheLimitAndIsThinnedEvenly) {
    RateLimiter limiter;
    limiter.configure(1500000);  // 1500 per millisecond
    auto events = uniform_events(10000000, 0, 20000);
    limiter.filter(events, 0, 20000);
    const auto counts = per_window(events);
    ASSERT_EQ(counts.size(), 20u);
    for (const auto& [window, count] : counts) EXPECT_EQ(count, 1500u) << window;
    // Even thinning: the second half of a window holds about half its events.
    const auto second_half = std::count_if(events.begin(), events.end(), [](const Event2D& e) {
        return e.timestamp >= 5500 && e.timestamp < 6000;
    });
    EXPECT_NEAR(static_cast<double>(second_half), 750.0, 2.0);
}

TEST(RateLimiterTest, FractionalSharesAddUpToTheRate) {
    RateLimiter limiter;
    limiter.configure(2500);  // 2.5 per millisecond: windows of 2 and 3
    for (std::uint64_t w = 0; w < 1000; ++w) {
        EXPECT_TRUE(limiter.budget(w) == 2 || limiter.budget(w) == 3);
    }
    std::uint64_t total = 0;
    for (std::uint64_t w = 0; w < 1000; ++w) total += limiter.budget(w);
    EXPECT_EQ(total, 2500u);
    // Far along the clock the arithmetic must not overflow.
    limiter.configure(100000000);
    EXPECT_EQ(limiter.budget(std::uint64_t{1} << 60), 100000u);
}

TEST(RateLimiterTest, AWindowSplitBetweenSlicesKeepsItsShare) {
    RateLimiter limiter;
    limiter.configure(1000000);  // 1000 per millisecond
    std::vector<Event2D> kept;
    auto all = uniform_events(8000000, 0, 10000);
    // Slices of 700 us cut most windows in two.
    for (std::uint64_t t0 = 0; t0 < 10000; t0 += 700) {
        std::vector<Event2D> slice;
        for (const auto& e : all)
            if (e.timestamp >= t0 && e.timestamp < t0 + 700) slice.push_back(e);
        limiter.filter(slice, t0, t0 + 700);
        kept.insert(kept.end(), slice.begin(), slice.end());
    }
    for (const auto& [window, count] : per_window(kept)) {
        EXPECT_LE(count, 1000u) << window;
        EXPECT_GE(count, 995u) << window;
    }
}

TEST(RateLimiterTest, QuietStreamsPassUntouched) {
    RateLimiter limiter;
    limiter.configure(1000000);
    auto events = uniform_events(500000, 0, 5000);
    const auto n = events.size();
    limiter.filter(events, 0, 5000);
    EXPECT_EQ(events.size(), n);
}

TEST(TriggerGeneratorTest, SquareWaveAcrossSlices) {
    TriggerGenerator generator;
    generator.configure(TriggerInSettings{true, 3, 1000.0f});  // edges every 500 us
    std::vector<EventTriggerIn> edges;
    for (std::uint64_t t0 = 10000; t0 < 15000; t0 += 250) generator.generate(t0, t0 + 250, edges);
    ASSERT_EQ(edges.size(), 10u);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        EXPECT_EQ(edges[i].timestamp, 10000u + 500u * i);
        EXPECT_EQ(edges[i].polarity, i % 2 == 0 ? 1 : 0);
        EXPECT_EQ(edges[i].id, 3);
    }
    // A gap between slices continues the same wave.
    edges.clear();
    generator.generate(20100, 21000, edges);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].timestamp, 20500u);
    EXPECT_EQ(edges[0].polarity, 0);

    generator.configure(TriggerInSettings{false, 3, 1000.0f});
    edges.clear();
    generator.generate(30000, 40000, edges);
    EXPECT_TRUE(edges.empty());
}

}  // namespace
}  // namespace vantrel::tools
