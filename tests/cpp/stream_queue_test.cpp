#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stream/bounded_queue.hpp"

namespace vantrel::stream {
namespace {

using namespace std::chrono_literals;

struct Weight {
    std::size_t operator()(int v) const { return static_cast<std::size_t>(v); }
};
using Queue = BoundedQueue<int, Weight>;

TEST(BoundedQueue, DropsTheOldestBeyondEitherBound) {
    Queue q(3, 100);
    for (int v : {1, 2, 3}) EXPECT_EQ(q.push(v, Overflow::DropOldest).dropped_items, 0u);
    auto r = q.push(4, Overflow::DropOldest);
    EXPECT_EQ(r.dropped_items, 1u);
    EXPECT_EQ(r.dropped_weight, 1u);
    r = q.push(95, Overflow::DropOldest);  // 2+3+4+95 > 100: drops 2 and 3 (and the count bound)
    EXPECT_EQ(r.dropped_items, 2u);
    EXPECT_EQ(*q.pop(0ms), 4);
    EXPECT_EQ(*q.pop(0ms), 95);
    EXPECT_FALSE(q.pop(0ms).has_value());
}

TEST(BoundedQueue, AnItemHeavierThanTheBoundStillFitsAlone) {
    Queue q(4, 10);
    q.push(3, Overflow::DropOldest);
    const auto r = q.push(50, Overflow::DropOldest);
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(r.dropped_items, 1u);
    EXPECT_EQ(q.size(), 1u);
}

TEST(BoundedQueue, ExceedAcceptsBeyondTheBounds) {
    Queue q(1, 10);
    q.push(1, Overflow::Exceed);
    q.push(2, Overflow::Exceed);
    EXPECT_EQ(q.size(), 2u);
}

TEST(BoundedQueue, WaitBlocksUntilAPopMakesRoom) {
    Queue q(1, 10);
    q.push(1, Overflow::Wait);
    std::atomic<bool> pushed{false};
    std::thread producer([&] {
        EXPECT_EQ(q.push(2, Overflow::Wait).dropped_items, 0u);
        pushed = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(pushed);
    EXPECT_EQ(*q.pop(1s), 1);
    producer.join();
    EXPECT_EQ(*q.pop(1s), 2);
}

TEST(BoundedQueue, AWaitingPushGivesUpWhenWaitingIsNoLongerAllowed) {
    Queue q(1, 10);
    q.push(1, Overflow::Wait);
    std::thread producer([&] {
        const auto r = q.push(2, Overflow::Wait);
        EXPECT_TRUE(r.accepted);
        EXPECT_EQ(r.dropped_items, 1u);
    });
    std::this_thread::sleep_for(10ms);
    q.setWaitAllowed(false);
    producer.join();
    EXPECT_EQ(*q.pop(0ms), 2);
}

TEST(BoundedQueue, CloseWakesEveryWaiterAndRefusesPushes) {
    Queue q(1, 10);
    q.push(1, Overflow::Wait);
    std::thread pusher([&] { EXPECT_FALSE(q.push(2, Overflow::Wait).accepted); });
    Queue empty(1, 10);
    std::vector<std::thread> pollers;
    for (int i = 0; i < 3; ++i) pollers.emplace_back([&] { EXPECT_FALSE(empty.pop(10s).has_value()); });
    std::this_thread::sleep_for(10ms);
    const auto begin = std::chrono::steady_clock::now();
    q.close();
    empty.close();
    pusher.join();
    for (auto& t : pollers) t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_FALSE(q.pop(0ms).has_value());
    EXPECT_FALSE(q.push(3, Overflow::DropOldest).accepted);
}

TEST(BoundedQueue, ClosingCanLeaveTheQueuedItemsToBeHandedOut) {
    Queue q(4, 100);
    for (int v : {1, 2}) q.push(v, Overflow::Wait);
    q.close(Queue::Queued::Keep);
    EXPECT_FALSE(q.push(3, Overflow::Exceed).accepted);
    EXPECT_EQ(*q.pop(), 1);
    EXPECT_EQ(*q.pop(), 2);
    EXPECT_FALSE(q.pop().has_value());  // then the end, without waiting
}

TEST(BoundedQueue, PopTimesOut) {
    Queue q(1, 10);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(q.pop(30ms).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 30ms);
}

}  // namespace
}  // namespace vantrel::stream
