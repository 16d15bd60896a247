#include <gtest/gtest.h>

#include <algorithm>

#include "tools/tool_pipeline.hpp"
#include "tools/tool_set.hpp"

namespace vantrel::tools {
namespace {

const std::vector<ToolType> kAll(std::begin(kToolTypes), std::end(kToolTypes));

std::shared_ptr<CameraTool> tool(const ToolSet& set, const std::string& id) {
    for (const auto& t : set.tools)
        if (t->info().id == id) return t;
    return nullptr;
}

// Every pixel of a small sensor fires once per 100 us, alternating polarity.
std::vector<Event2D> busy_slice(std::uint64_t t0, std::uint64_t t1, std::uint16_t w, std::uint16_t h) {
    std::vector<Event2D> events;
    for (std::uint64_t t = t0; t < t1; t += 100)
        for (std::uint16_t y = 0; y < h; ++y)
            for (std::uint16_t x = 0; x < w; ++x) events.emplace_back(x, y, (t / 100) % 2, t);
    return events;
}

TEST(ToolPipelineTest, DisabledToolsLeaveTheStreamAlone) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    auto events = busy_slice(0, 5000, 16, 8);
    const auto original = events;
    pipeline.filter(events, 0, 5000);
    ASSERT_EQ(events.size(), original.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        ASSERT_TRUE(events[i].x == original[i].x && events[i].y == original[i].y &&
                    events[i].polarity == original[i].polarity && events[i].timestamp == original[i].timestamp);
    }
    std::vector<EventTriggerIn> edges;
    pipeline.triggers(0, 5000, edges);
    EXPECT_TRUE(edges.empty());
    EXPECT_EQ(pipeline.controls().rate_scale, 1.0);
    EXPECT_EQ(pipeline.timeOffset(), 0u);
}

TEST(ToolPipelineTest, WritesTakeEffectAtTheNextSlice) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    auto roi = tool(set, "roi");
    ASSERT_TRUE(roi->apply({{"enabled", true}, {"x", 4}, {"y", 2}, {"width", 3}, {"height", 2}}).ok);
    auto events = busy_slice(0, 1000, 16, 8);
    pipeline.filter(events, 0, 1000);
    ASSERT_EQ(events.size(), 10u * 6u);
    for (const auto& e : events) EXPECT_TRUE(e.x >= 4 && e.x < 7 && e.y >= 2 && e.y < 4);

    ASSERT_TRUE(roi->set("enabled", false).ok);
    events = busy_slice(1000, 2000, 16, 8);
    pipeline.filter(events, 1000, 2000);
    EXPECT_EQ(events.size(), 10u * 128u);
}

TEST(ToolPipelineTest, RateControlCountsWhatTheOtherFiltersLeave) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    ASSERT_TRUE(tool(set, "roi")->apply({{"enabled", true}, {"width", 4}, {"height", 4}}).ok);
    ASSERT_TRUE(tool(set, "event_rate_control")->apply({{"enabled", true}, {"max_event_rate", 4000}}).ok);
    ASSERT_TRUE(tool(set, "anti_flicker")->set("enabled", true).ok);  // 5 kHz is outside its band
    auto events = busy_slice(0, 10000, 16, 8);
    pipeline.filter(events, 0, 10000);
    // ROI leaves 160 events per millisecond, of which the rate keeps 4;
    // thinning before the window was cut would have left almost none.
    for (std::uint64_t w = 0; w < 10; ++w) {
        const auto n = std::count_if(events.begin(), events.end(),
                                     [w](const Event2D& e) { return e.timestamp / 1000 == w; });
        EXPECT_EQ(n, 4) << w;
    }
    for (const auto& e : events) EXPECT_TRUE(e.x < 4 && e.y < 4);
}

TEST(ToolPipelineTest, TrailFilterStartsAfreshWhenEnabled) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    auto trail = tool(set, "event_trail_filter");
    ASSERT_TRUE(trail->apply({{"enabled", true}, {"threshold_us", 2000}}).ok);
    auto events = busy_slice(0, 1000, 16, 8);
    pipeline.filter(events, 0, 1000);
    EXPECT_EQ(events.size(), 128u);  // a continuous burst passes its first event only
    ASSERT_TRUE(trail->set("enabled", false).ok);
    events = busy_slice(1000, 2000, 16, 8);
    pipeline.filter(events, 1000, 2000);
    EXPECT_EQ(events.size(), 1280u);
    ASSERT_TRUE(trail->set("enabled", true).ok);
    events = busy_slice(2000, 3000, 16, 8);
    pipeline.filter(events, 2000, 3000);
    EXPECT_EQ(events.size(), 128u);
}

TEST(ToolPipelineTest, BiasScalesTheRateMonotonically) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    auto bias = tool(set, "bias");
    double last = 0.0;
    for (int on = 50; on >= -50; on -= 10) {
        ASSERT_TRUE(bias->set("threshold_on", on).ok);
        const double scale = pipeline.controls().rate_scale;
        EXPECT_GT(scale, last) << on;
        last = scale;
    }
    ASSERT_TRUE(bias->apply({{"threshold_on", 0}, {"threshold_off", 0}, {"gain", 0.5f}}).ok);
    const double low = pipeline.controls().rate_scale;
    ASSERT_TRUE(bias->set("gain", 2.0f).ok);
    EXPECT_DOUBLE_EQ(pipeline.controls().rate_scale, 4 * low);
    ASSERT_TRUE(bias->set("threshold_off", 50).ok);
    EXPECT_DOUBLE_EQ(pipeline.controls().rate_scale, 1.0);
}

TEST(ToolPipelineTest, TriggersSyncAndRestart) {
    auto set = make_tool_set(kAll, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    ASSERT_TRUE(tool(set, "trigger_in")->apply({{"enabled", true}, {"channel", 5}, {"frequency_hz", 2000}}).ok);
    std::vector<EventTriggerIn> edges;
    pipeline.triggers(0, 1000, edges);
    ASSERT_EQ(edges.size(), 4u);  // 0 up, 250 down, 500 up, 750 down
    EXPECT_EQ(edges[3].timestamp, 750u);
    EXPECT_EQ(edges[3].polarity, 0);
    EXPECT_EQ(edges[3].id, 5);

    auto sync = tool(set, "sync");
    ASSERT_TRUE(sync->set("offset_us", 12345).ok);
    EXPECT_EQ(pipeline.timeOffset(), 0u);  // only a secondary follows an offset
    ASSERT_TRUE(sync->set("mode", std::string("secondary")).ok);
    EXPECT_EQ(pipeline.timeOffset(), 12345u);
    ASSERT_TRUE(sync->set("mode", std::string("primary")).ok);
    EXPECT_EQ(pipeline.timeOffset(), 0u);

    // A restarted stream begins a new wave at its first slice.
    pipeline.restart();
    edges.clear();
    pipeline.triggers(100, 400, edges);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].timestamp, 100u);
    EXPECT_EQ(edges[0].polarity, 1);
}

TEST(ToolPipelineTest, ACameraWithoutSomeToolsStillStreams) {
    auto set = make_tool_set({ToolType::TOOL_ROI}, 16, 8);
    ToolPipeline pipeline(set.tools, 16, 8);
    auto events = busy_slice(0, 1000, 16, 8);
    const auto n = events.size();
    pipeline.filter(events, 0, 1000);
    EXPECT_EQ(events.size(), n);
    EXPECT_EQ(pipeline.controls().rate_scale, 1.0);
    EXPECT_EQ(pipeline.timeOffset(), 0u);
}

}  // namespace
}  // namespace vantrel::tools
