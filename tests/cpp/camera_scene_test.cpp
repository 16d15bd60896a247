#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "sim/scenes/default_scene.hpp"
#include "sim/scenes/scene.hpp"

namespace vantrel::sim {
namespace {

std::vector<Event2D> run(camera::EventSource& scene, std::uint64_t from, std::uint64_t to, std::uint64_t step,
                         double rate_scale = 1.0) {
    std::vector<Event2D> out;
    tools::SourceControls controls;
    controls.rate_scale = rate_scale;
    for (std::uint64_t t = from; t < to; t += step) scene.generate(t, std::min(t + step, to), controls, out);
    return out;
}

bool same_events(const std::vector<Event2D>& a, const std::vector<Event2D>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].timestamp != b[i].timestamp || a[i].x != b[i].x || a[i].y != b[i].y ||
            a[i].polarity != b[i].polarity)
            return false;
    }
    return true;
}

TEST(Scenes, OutputDoesNotDependOnHowTheStreamIsSliced) {
    for (const char* name : {"default", "noise"}) {
        auto one = make_scene(name, 320, 240, 2e6, 7);
        auto other = make_scene(name, 320, 240, 2e6, 7);
        const auto coarse = run(*one, 0, 200'000, 100'000);
        const auto fine = run(*other, 0, 200'000, 333);
        EXPECT_TRUE(same_events(coarse, fine)) << name;
        auto reseeded = make_scene(name, 320, 240, 2e6, 8);
        EXPECT_FALSE(same_events(coarse, run(*reseeded, 0, 200'000, 100'000))) << name;
    }
}

TEST(Scenes, EventsAreOrderedInsideTheSliceAndTheSensorAtTheConfiguredRate) {
    for (const char* name : {"default", "noise"}) {
        auto scene = make_scene(name, 37, 11, 1e6, 3);
        const auto events = run(*scene, 5'000, 505'000, 10'000);
        // 1e6 events per second over 0.5 s.
        EXPECT_NEAR(static_cast<double>(events.size()), 500'000.0, 5'000.0) << name;
        ASSERT_FALSE(events.empty());
        EXPECT_GE(events.front().timestamp, 5'000u);
        EXPECT_LT(events.back().timestamp, 505'000u);
        for (std::size_t i = 0; i < events.size(); ++i) {
            ASSERT_LT(events[i].x, 37) << name;
            ASSERT_LT(events[i].y, 11) << name;
            ASSERT_LE(events[i].polarity, 1) << name;
            if (i) {
                ASSERT_LE(events[i - 1].timestamp, events[i].timestamp) << name;
            }
        }
    }
}

TEST(Scenes, RateScaleAndZeroRate) {
    auto scene = make_scene("noise", 64, 64, 1e6, 1);
    EXPECT_NEAR(static_cast<double>(run(*scene, 0, 100'000, 1'000, 0.5).size()), 50'000.0, 1'000.0);
    EXPECT_TRUE(run(*scene, 100'000, 200'000, 1'000, 0.0).empty());
    auto silent = make_scene("default", 64, 64, 0.0, 1);
    EXPECT_TRUE(run(*silent, 0, 100'000, 1'000).empty());
}

TEST(Scenes, ScriptedSceneEmitsNothingAndUnknownNamesAreRefused) {
    auto scripted = make_scene("scripted", 64, 64, 1e6, 1);
    ASSERT_NE(scripted, nullptr);
    EXPECT_TRUE(run(*scripted, 0, 1'000'000, 1'000).empty());
    EXPECT_TRUE(scripted->exhausted());
    EXPECT_EQ(make_scene("sunset", 64, 64, 1e6, 1), nullptr);
    EXPECT_FALSE(is_known_scene("sunset"));
}

TEST(Scenes, DefaultSceneHasHotPixelsAFlickeringPatchAndMovingEdges) {
    DefaultScene scene(200, 100, 2e6, 11);
    const auto events = run(scene, 0, 1'000'000, 5'000);
    // Hot pixels fire far above the noise level.
    std::vector<int> counts(200 * 100);
    for (const auto& e : events) ++counts[e.y * 200 + e.x];
    for (std::uint32_t pixel : scene.hotPixels()) {
        EXPECT_GT(counts[(pixel >> 16) * 200 + (pixel & 0xFFFF)], 500);
    }
    // Inside the patch, ON events follow the rising light and OFF events the falling one.
    const auto& patch = scene.flickerPatch();
    int rising_on = 0, rising_off = 0, falling_off = 0;
    for (const auto& e : events) {
        if (e.x < patch.x || e.x >= patch.x + patch.width || e.y < patch.y || e.y >= patch.y + patch.height) continue;
        const auto phase = e.timestamp % DefaultScene::kFlickerPeriodUs;
        if (phase < DefaultScene::kFlickerBurstUs) (e.polarity ? rising_on : rising_off)++;
        if (phase >= 5'000 && phase < 5'000 + DefaultScene::kFlickerBurstUs && !e.polarity) ++falling_off;
    }
    EXPECT_GT(rising_on, 10 * std::max(rising_off, 1));
    EXPECT_GT(falling_off, 1000);
    // The vertical bar's leading edge moves right: compare its mean column early and later.
    auto mean_on_column = [&](std::uint64_t from, std::uint64_t to) {
        double sum = 0;
        int n = 0;
        for (const auto& e : events) {
            if (e.timestamp >= from && e.timestamp < to && e.polarity && e.y >= 25 && e.y < 75 &&
                !(e.x >= patch.x && e.x < patch.x + patch.width)) {
                sum += e.x;
                ++n;
            }
        }
        return sum / std::max(n, 1);
    };
    EXPECT_LT(mean_on_column(100'000, 150'000), mean_on_column(600'000, 650'000));
}

}  // namespace
}  // namespace vantrel::sim
