#include <gtest/gtest.h>

#include <type_traits>

#include "vantrel/vantrel.hpp"

namespace vantrel {
namespace {

TEST(Layout, Event2DMatchesTheEventDtype) {
    EXPECT_EQ(sizeof(Event2D), 16u);
    EXPECT_EQ(offsetof(Event2D, timestamp), 0u);
    EXPECT_EQ(offsetof(Event2D, x), 8u);
    EXPECT_EQ(offsetof(Event2D, y), 10u);
    EXPECT_EQ(offsetof(Event2D, polarity), 12u);
    EXPECT_TRUE(std::is_trivially_copyable_v<Event2D>);
}

TEST(Layout, ValueInitialisationZeroFills) {
    const Event2D e{};
    EXPECT_EQ(e.timestamp, 0u);
    EXPECT_EQ(e.x, 0u);
    EXPECT_EQ(e.polarity, 0u);
    const CameraDescription d{};
    EXPECT_EQ(d.vid, 0u);
    EXPECT_EQ(d.interface_type, InterfaceType::USB);
    const ParamConstraint c{};
    EXPECT_EQ(c.value.index(), 0u);
}

TEST(Layout, EnumerationTypesAndValues) {
    EXPECT_TRUE((std::is_same_v<std::underlying_type_t<ParamType>, std::uint8_t>));
    EXPECT_TRUE((std::is_same_v<std::underlying_type_t<LogLevelType>, int>));
    EXPECT_EQ(static_cast<int>(LogLevelType::LOG_INVALID), -10);
    EXPECT_EQ(static_cast<int>(ToolType::TOOL_ROI), 6);
    EXPECT_EQ(N_US, 2);
}

TEST(Names, ToolIdsAreStable) {
    EXPECT_EQ(tool_id(ToolType::TOOL_BIAS), "bias");
    EXPECT_EQ(tool_id(ToolType::TOOL_TRIGGER_IN), "trigger_in");
    EXPECT_EQ(tool_id(ToolType::TOOL_SYNC), "sync");
    EXPECT_EQ(tool_id(ToolType::TOOL_ANTI_FLICKER), "anti_flicker");
    EXPECT_EQ(tool_id(ToolType::TOOL_EVENT_TRAIL_FILTER), "event_trail_filter");
    EXPECT_EQ(tool_id(ToolType::TOOL_EVENT_RATE_CONTROL), "event_rate_control");
    EXPECT_EQ(tool_id(ToolType::TOOL_ROI), "roi");
    EXPECT_EQ(tool_id(static_cast<ToolType>(42)), "unknown");
    EXPECT_EQ(to_string(ParamType::ENUM), "enum");
}

}  // namespace
}  // namespace vantrel
