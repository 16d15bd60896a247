#include <gtest/gtest.h>

#include "sim/replay_source.hpp"
#include "file_test_support.hpp"

namespace vantrel::file {
namespace {

using sim::open_replay_source;
using sim::probe_recording;
using sim::ReplayInfo;
using testing::same;
using testing::stream_events;
using Events = std::vector<Event2D>;

class ReplayTest : public testing::FileTest {};

TEST_F(ReplayTest, SlicesReproduceTheRecordingShiftedToTheFirstCall) {
    const Events events = stream_events(3000, 1'000'000);
    std::vector<EventTriggerIn> edges;
    edges.push_back({1, 999'990, 5});  // just before the first event: the recording starts here
    for (std::size_t i = 0; i < events.size(); i += 250) edges.push_back({0, events[i].timestamp, 1});
    ReplayInfo info;
    std::string error;
    auto source = open_replay_source(write("a.vtr", events, edges, {100, 8}, {320, 240, "R", 0}), info, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);

    const std::uint64_t start = 50, shift_back = 999'990 - start;
    Events got;
    std::vector<EventTriggerIn> got_edges;
    std::uint64_t t = start;
    for (std::uint64_t step = 1; !source->exhausted(); step = step * 3 % 997 + 1) {
        ASSERT_LT(t, 100'000'000u) << "never exhausted";
        const std::size_t before = got.size(), edges_before = got_edges.size();
        source->generate(t, t + step, {}, got);
        source->triggers(t, t + step, got_edges);
        for (std::size_t i = before; i < got.size(); ++i) {
            ASSERT_GE(got[i].timestamp, t);
            ASSERT_LT(got[i].timestamp, t + step);
        }
        for (std::size_t i = edges_before; i < got_edges.size(); ++i) {
            ASSERT_GE(got_edges[i].timestamp, t);
            ASSERT_LT(got_edges[i].timestamp, t + step);
        }
        t += step;
    }
    Events expected = events;
    for (auto& e : expected) e.timestamp -= shift_back;
    EXPECT_TRUE(same(got, expected));
    ASSERT_EQ(got_edges.size(), edges.size());
    for (std::size_t k = 0; k < edges.size(); ++k) EXPECT_EQ(got_edges[k].timestamp, edges[k].timestamp - shift_back);
}

TEST_F(ReplayTest, RefusesWhatIsNotARecording) {
    put_bytes(path("x"), std::string(100, 'x'));
    ReplayInfo info;
    std::string error;
    EXPECT_FALSE(probe_recording(path("x"), info, error));
    EXPECT_NE(error.find("not a recording"), std::string::npos);
    EXPECT_FALSE(open_replay_source(path("missing"), info, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(probe_recording(write("ok.vtr", stream_events(5)), info, error));
    EXPECT_EQ(info.width, 640);
}

}  // namespace
}  // namespace vantrel::file
