#include <gtest/gtest.h>

#include <vector>

#include "stream/batcher.hpp"

namespace vantrel::stream {
namespace {

std::vector<Event2D> events_at(std::initializer_list<std::uint64_t> times) {
    std::vector<Event2D> out;
    for (auto t : times) out.emplace_back(static_cast<std::uint16_t>(t % 100), 0, 1, t);
    return out;
}

struct Collected {
    std::vector<BatchPtr> batches;
    Batcher::Emit emit() {
        return [this](BatchPtr b) { batches.push_back(std::move(b)); };
    }
    std::vector<std::vector<std::uint64_t>> times() const {
        std::vector<std::vector<std::uint64_t>> out;
        for (const auto& b : batches) {
            out.emplace_back();
            for (const auto& e : *b) out.back().push_back(e.timestamp);
        }
        return out;
    }
};

TEST(Batcher, CountBatchesHoldExactlyNEventsAndCarryTheRest) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Count, 3}, 0);
    Collected got;
    auto slice = events_at({1, 2, 3, 4, 5});
    batcher.append(slice);
    EXPECT_TRUE(slice.empty());
    batcher.cut(10, got.emit());
    ASSERT_EQ(got.batches.size(), 1u);
    EXPECT_EQ(batcher.pendingEvents(), 2u);
    slice = events_at({6, 7, 8, 9, 10, 11, 12});
    batcher.append(slice);
    batcher.cut(20, got.emit());
    EXPECT_EQ(got.times(), (std::vector<std::vector<std::uint64_t>>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}));
    EXPECT_EQ(batcher.pendingEvents(), 0u);
}

TEST(Batcher, AWholeSliceOfExactlyNEventsIsHandedOverWithoutCopying) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Count, 4}, 0);
    auto slice = events_at({1, 2, 3, 4});
    const Event2D* storage = slice.data();
    batcher.append(slice);
    Collected got;
    batcher.cut(5, got.emit());
    ASSERT_EQ(got.batches.size(), 1u);
    EXPECT_EQ(got.batches[0]->data(), storage);
}

TEST(Batcher, CountIsClampedToTheMaximumBatchSize) {
    Batcher batcher(4);
    batcher.configure({BatchRule::Kind::Count, 1'000'000}, 0);
    EXPECT_EQ(batcher.rule().value, 4u);
}

TEST(Batcher, WindowsAreConsecutiveAndEmptyOnesGiveNoBatch) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Window, 10}, 100);
    Collected got;
    // Windows [100,110) [110,120) [120,130) [130,140) [140,150)
    auto slice = events_at({100, 105, 109, 110, 131, 139, 140, 149});
    batcher.append(slice);
    batcher.cut(145, got.emit());  // the window [140,150) is not complete yet
    EXPECT_EQ(got.times(), (std::vector<std::vector<std::uint64_t>>{{100, 105, 109}, {110}, {131, 139}}));
    EXPECT_EQ(batcher.pendingEvents(), 2u);
    batcher.cut(150, got.emit());
    EXPECT_EQ(got.times().back(), (std::vector<std::uint64_t>{140, 149}));
}

TEST(Batcher, ALongStretchWithoutEventsIsSkippedAtOnce) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Window, 1}, 0);
    Collected got;
    batcher.cut(1'000'000'000, got.emit());
    EXPECT_TRUE(got.batches.empty());
    auto slice = events_at({1'000'000'000, 1'000'000'000});
    batcher.append(slice);
    batcher.cut(1'000'000'001, got.emit());
    ASSERT_EQ(got.batches.size(), 1u);
    EXPECT_EQ(got.batches[0]->size(), 2u);
}

TEST(Batcher, WindowsLargerThanTheMaximumAreDeliveredInParts) {
    Batcher batcher(3);
    batcher.configure({BatchRule::Kind::Window, 1000}, 0);
    Collected got;
    auto slice = events_at({1, 2, 3, 4, 5, 6, 7});
    batcher.append(slice);
    batcher.cut(10, got.emit());  // window still open, but it may not grow beyond 3
    EXPECT_EQ(got.times(), (std::vector<std::vector<std::uint64_t>>{{1, 2, 3}, {4, 5, 6}}));
    batcher.cut(1000, got.emit());
    EXPECT_EQ(got.times().back(), (std::vector<std::uint64_t>{7}));
    EXPECT_EQ(batcher.splitWindows(), 2u);
}

TEST(Batcher, ReconfiguringKeepsPendingEventsAndTheLastRuleWins) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Count, 100}, 0);
    auto slice = events_at({1, 2, 3});
    batcher.append(slice);
    Collected got;
    batcher.cut(4, got.emit());
    EXPECT_TRUE(got.batches.empty());
    batcher.configure({BatchRule::Kind::Count, 2}, 4);
    batcher.cut(4, got.emit());
    EXPECT_EQ(got.times(), (std::vector<std::vector<std::uint64_t>>{{1, 2}}));
    batcher.configure({BatchRule::Kind::Window, 10}, 4);
    batcher.cut(14, got.emit());
    EXPECT_EQ(got.times().back(), (std::vector<std::uint64_t>{3}));
}

TEST(Batcher, EventsWaitingWhenWindowsAreChosenAreCutIntoWindowsToo) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Count, 100}, 0);
    auto slice = events_at({10, 12, 25, 31, 38, 44});
    batcher.append(slice);
    Collected got;
    batcher.cut(45, got.emit());
    ASSERT_TRUE(got.batches.empty());
    batcher.configure({BatchRule::Kind::Window, 10}, 45);
    batcher.cut(49, got.emit());  // the window [40, 50) is still open
    EXPECT_EQ(got.times(), (std::vector<std::vector<std::uint64_t>>{{10, 12}, {25}, {31, 38}}));
}

TEST(Batcher, SuggestedSlicesEndAtTheNextBatchBoundary) {
    Batcher batcher(1000);
    batcher.configure({BatchRule::Kind::Window, 10'000}, 0);
    EXPECT_EQ(batcher.suggestSliceEnd(2'500, 1.0, 100'000), 10'000u);
    EXPECT_EQ(batcher.suggestSliceEnd(2'500, 1.0, 1'000), 3'500u);
    batcher.configure({BatchRule::Kind::Count, 100}, 0);
    EXPECT_EQ(batcher.suggestSliceEnd(0, 10.0, 100'000), 10u);  // 100 events at 10 per us
    EXPECT_EQ(batcher.suggestSliceEnd(0, 0.0, 5'000), 5'000u);
    EXPECT_EQ(batcher.suggestSliceEnd(7, 1e9, 5'000), 8u);
}

}  // namespace
}  // namespace vantrel::stream
