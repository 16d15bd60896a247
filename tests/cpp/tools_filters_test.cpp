#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tools/anti_flicker_filter.hpp"
#include "tools/rate_limiter.hpp"
#include "tools/roi_filter.hpp"
#include "tools/trail_filter.hpp"
#include "tools/trigger_generator.hpp"

namespace vantrel::tools {
namespace {

// A patch lit by a flickering light: every period a burst of ON events at
// random pixels of the patch, half a period later a burst of OFF events.
void add_flicker_patch(std::vector<Event2D>& out, std::mt19937& rng, int x0, int y0, int w, int h, double hz,
                       std::uint64_t t0, std::uint64_t t1, int per_burst, std::uint64_t burst_us = 1500) {
    const double period = 1e6 / hz;
    std::uniform_int_distribution<int> dx(0, w - 1), dy(0, h - 1);
    std::uniform_int_distribution<std::uint64_t> dt(0, burst_us - 1);
    for (double t = static_cast<double>(t0); t < static_cast<double>(t1); t += period) {
        for (int polarity = 1; polarity >= 0; --polarity) {
            const auto start = static_cast<std::uint64_t>(polarity ? t : t + period / 2);
            for (int k = 0; k < per_burst; ++k) {
                const std::uint64_t when = start + dt(rng);
                if (when < t1) out.emplace_back(x0 + dx(rng), y0 + dy(rng), polarity, when);
            }
        }
    }
}

// Uniform background noise: any pixel, either polarity.
void add_noise(std::vector<Event2D>& out, std::mt19937& rng, int w, int h, double per_ms, std::uint64_t t0,
               std::uint64_t t1) {
    std::uniform_int_distribution<int> dx(0, w - 1), dy(0, h - 1), dp(0, 1);
    std::uniform_int_distribution<std::uint64_t> dt(t0, t1 - 1);
    const auto n = static_cast<std::size_t>(per_ms * static_cast<double>(t1 - t0) / 1000.0);
    for (std::size_t i = 0; i < n; ++i) out.emplace_back(dx(rng), dy(rng), dp(rng), dt(rng));
}

bool same_events(const std::vector<Event2D>& a, const std::vector<Event2D>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Event2D& p, const Event2D& q) {
        return p.x == q.x && p.y == q.y && p.polarity == q.polarity && p.timestamp == q.timestamp;
    });
}

void sort_by_time(std::vector<Event2D>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
}

std::size_t count_in(const std::vector<Event2D>& events, int x0, int y0, int w, int h, std::uint64_t from = 0,
                     std::uint64_t to = ~std::uint64_t{0}) {
    return std::count_if(events.begin(), events.end(), [&](const Event2D& e) {
        return e.x >= x0 && e.x < x0 + w && e.y >= y0 && e.y < y0 + h && e.timestamp >= from && e.timestamp < to;
    });
}

// A 128x96 sensor with a 100 Hz patch (inside the default band), a 50 Hz
// and a 300 Hz patch (outside it), all as sparse per pixel as a real scene,
// and background noise everywhere.
std::vector<Event2D> flicker_scene(std::uint64_t t1) {
    std::mt19937 rng(7);
    std::vector<Event2D> events;
    add_flicker_patch(events, rng, 0, 0, 32, 32, 100.0, 0, t1, 36);
    add_flicker_patch(events, rng, 64, 0, 32, 32, 50.0, 0, t1, 36);
    add_flicker_patch(events, rng, 0, 64, 32, 32, 300.0, 0, t1, 36, 500);
    add_noise(events, rng, 128, 96, 20.0, 0, t1);
    sort_by_time(events);
    return events;
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
    AntiFlickerFilter filter(128, 96);
    filter.configure(90, 130);
    const auto before = flicker_scene(300000);
    auto events = before;
    filter.filter(events);

    // Locked within a few periods; from then on the patch stays dark.
    EXPECT_LT(count_in(events, 0, 0, 32, 32, 60000), count_in(before, 0, 0, 32, 32, 60000) / 50);
    EXPECT_GT(count_in(events, 0, 0, 32, 32, 0, 20000), 0u);
    // Flicker outside the band and plain noise pass.
    EXPECT_GE(count_in(events, 64, 0, 32, 32) * 100, count_in(before, 64, 0, 32, 32) * 98);
    EXPECT_GE(count_in(events, 0, 64, 32, 32) * 100, count_in(before, 0, 64, 32, 32) * 98);
    EXPECT_EQ(count_in(events, 32, 32, 32, 32), count_in(before, 32, 32, 32, 32));
    EXPECT_EQ(count_in(events, 96, 32, 32, 64), count_in(before, 96, 32, 32, 64));
}

TEST(AntiFlickerFilterTest, TheBandDecides) {
    AntiFlickerFilter filter(128, 96);
    filter.configure(40, 60);  // now the 50 Hz patch is the one inside
    const auto before = flicker_scene(300000);
    auto events = before;
    filter.filter(events);
    EXPECT_LT(count_in(events, 64, 0, 32, 32, 100000), count_in(before, 64, 0, 32, 32, 100000) / 50);
    EXPECT_GE(count_in(events, 0, 0, 32, 32) * 100, count_in(before, 0, 0, 32, 32) * 98);
}

TEST(AntiFlickerFilterTest, OutputDoesNotDependOnSlicing) {
    const auto all = flicker_scene(200000);
    AntiFlickerFilter whole(128, 96), sliced(128, 96);
    whole.configure(90, 130);
    sliced.configure(90, 130);
    auto expected = all;
    whole.filter(expected);
    std::vector<Event2D> got;
    std::size_t i = 0;
    for (std::uint64_t t0 = 0; t0 < 200000; t0 += 700) {
        std::vector<Event2D> slice;
        for (; i < all.size() && all[i].timestamp < t0 + 700; ++i) slice.push_back(all[i]);
        slice.emplace_back(500, 500, 1, t0);  // outside the sensor: passes untouched
        sliced.filter(slice);
        ASSERT_EQ(slice.back().x, 500);
        got.insert(got.end(), slice.begin(), slice.end() - 1);
    }
    EXPECT_TRUE(same_events(got, expected));
}

TEST(AntiFlickerFilterTest, ReleasesARegionWhenTheLightStops) {
    AntiFlickerFilter filter(64, 64);
    filter.configure(90, 130);
    std::mt19937 rng(3);
    std::vector<Event2D> events;
    add_flicker_patch(events, rng, 0, 0, 16, 16, 100.0, 0, 100000, 9);
    add_noise(events, rng, 64, 64, 5.0, 0, 300000);
    sort_by_time(events);
    const auto before = events;
    filter.filter(events);
    EXPECT_LT(count_in(events, 0, 0, 16, 16, 50000, 100000), count_in(before, 0, 0, 16, 16, 50000, 100000) / 20);
    // Two of the band's longest periods after the last flash, events pass again.
    EXPECT_EQ(count_in(events, 0, 0, 16, 16, 125000), count_in(before, 0, 0, 16, 16, 125000));
    EXPECT_GT(count_in(before, 0, 0, 16, 16, 125000), 0u);
}

TEST(AntiFlickerFilterTest, ASingleBrightPixelIsEnough) {
    AntiFlickerFilter filter(64, 64);
    filter.configure(90, 130);
    std::mt19937 rng(5);
    std::vector<Event2D> events;
    add_flicker_patch(events, rng, 40, 20, 1, 1, 110.0, 0, 100000, 5, 200);
    sort_by_time(events);
    filter.filter(events);
    EXPECT_EQ(count_in(events, 40, 20, 1, 1, 40000), 0u);
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
