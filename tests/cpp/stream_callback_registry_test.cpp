#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "stream/callback_registry.hpp"

namespace vantrel::stream {
namespace {

using namespace std::chrono_literals;

DeliveryItem batch_of(std::size_t n) {
    return DeliveryItem::ofBatch(std::make_shared<EventBatch>(n));
}

TEST(CallbackRegistry, IdsStartAtOneAndBatchAndTriggerShareTheSpace) {
    CallbackRegistry registry("test");
    const auto a = registry.addBatch([](Event2D*, Event2D*) {});
    const auto b = registry.addTriggerIn([](const EventTriggerIn&) {});
    const auto c = registry.addBatch([](Event2D*, Event2D*) {});
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
    // Each kind is removed only by its own operation.
    EXPECT_FALSE(registry.removeBatch(b));
    EXPECT_FALSE(registry.removeTriggerIn(a));
    EXPECT_TRUE(registry.removeBatch(a));
    EXPECT_FALSE(registry.removeBatch(a));
    EXPECT_TRUE(registry.hasBatch());
    EXPECT_TRUE(registry.removeBatch(c));
    EXPECT_FALSE(registry.hasBatch());
}

TEST(CallbackRegistry, DeliversEachKindToItsCallbacksInOrder) {
    CallbackRegistry registry("test");
    std::vector<std::string> calls;
    registry.addBatch([&](Event2D* b, Event2D* e) { calls.push_back("batch1:" + std::to_string(e - b)); });
    registry.addTriggerIn([&](const EventTriggerIn& edge) { calls.push_back("edge:" + std::to_string(edge.id)); });
    registry.addBatch([&](Event2D* b, Event2D* e) { calls.push_back("batch2:" + std::to_string(e - b)); });
    registry.setStatistics([&](const EvCameraStatisticInfo& s) { calls.push_back("stats:" + std::to_string(s.events_count)); });
    registry.deliver(batch_of(5));
    EventTriggerIn edge{};
    edge.id = 7;
    registry.deliver(DeliveryItem::ofEdge(edge));
    registry.deliver(DeliveryItem::ofStatistics({16, 1}));
    registry.deliver(DeliveryItem::ofBatch(std::make_shared<EventBatch>()));
    EXPECT_EQ(calls, (std::vector<std::string>{"batch1:5", "batch2:5", "edge:7", "stats:1", "batch1:0", "batch2:0"}));
}

TEST(CallbackRegistry, AThrowingCallbackDoesNotStopTheOthers) {
    CallbackRegistry registry("test");
    int later = 0;
    registry.addBatch([](Event2D*, Event2D*) { throw std::runtime_error("boom"); });
    registry.addBatch([](Event2D*, Event2D*) { throw 42; });
    registry.addBatch([&](Event2D*, Event2D*) { ++later; });
    EXPECT_NO_THROW(registry.deliver(batch_of(1)));
    EXPECT_NO_THROW(registry.deliver(batch_of(1)));
    EXPECT_EQ(later, 2);
}

TEST(CallbackRegistry, RemovalWaitsForTheCallInProgressAndNoCallFollows) {
    CallbackRegistry registry("test");
    std::atomic<bool> inside{false}, release{false};
    std::atomic<int> calls_after_removal{0};
    std::atomic<bool> removed{false};
    const auto id = registry.addBatch([&](Event2D*, Event2D*) {
        if (removed) ++calls_after_removal;
        inside = true;
        while (!release) std::this_thread::sleep_for(1ms);
    });
    std::thread deliverer([&] {
        for (int i = 0; i < 50; ++i) registry.deliver(batch_of(1));
    });
    while (!inside) std::this_thread::sleep_for(1ms);
    auto removal = std::async(std::launch::async, [&] {
        const bool ok = registry.removeBatch(id);
        removed = true;
        return ok;
    });
    EXPECT_EQ(removal.wait_for(50ms), std::future_status::timeout);  // still inside the callback
    release = true;
    EXPECT_TRUE(removal.get());
    deliverer.join();
    EXPECT_EQ(calls_after_removal, 0);
}

TEST(CallbackRegistry, ACallbackMayRemoveItselfAndReplaceTheStatisticsCallback) {
    CallbackRegistry registry("test");
    std::uint32_t id = 0;
    int calls = 0;
    id = registry.addBatch([&](Event2D*, Event2D*) {
        ++calls;
        EXPECT_TRUE(registry.removeBatch(id));  // must not wait for itself
    });
    int stats_calls = 0;
    registry.setStatistics([&](const EvCameraStatisticInfo&) {
        ++stats_calls;
        registry.setStatistics(nullptr);
    });
    std::thread deliverer([&] {
        registry.deliver(batch_of(1));
        registry.deliver(batch_of(1));
        registry.deliver(DeliveryItem::ofStatistics({}));
        registry.deliver(DeliveryItem::ofStatistics({}));
    });
    deliverer.join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(stats_calls, 1);
    EXPECT_FALSE(registry.hasStatistics());
}

// A delivery calls the callbacks it found when it began; one removed
// meanwhile (the removal returned true) must still be skipped.
TEST(CallbackRegistry, ACallbackRemovedDuringADeliveryIsNotCalledAfterwards) {
    CallbackRegistry registry("test");
    std::uint32_t b = 0;
    int a_calls = 0, b_calls = 0;
    registry.addBatch([&](Event2D*, Event2D*) {
        if (++a_calls == 1) {
            EXPECT_TRUE(registry.removeBatch(b));
        }
    });
    b = registry.addBatch([&](Event2D*, Event2D*) { ++b_calls; });
    registry.deliver(batch_of(1));
    registry.deliver(batch_of(1));
    EXPECT_EQ(a_calls, 2);
    EXPECT_EQ(b_calls, 0);
}

TEST(CallbackRegistry, ACallbackRemovedByAnotherThreadWhileAnEarlierOneRunsIsNotCalled) {
    CallbackRegistry registry("test");
    std::atomic<bool> a_inside{false}, release_a{false}, removed{false};
    std::atomic<int> b_calls_after_removal{0};
    registry.addBatch([&](Event2D*, Event2D*) {
        a_inside = true;
        while (!release_a) std::this_thread::sleep_for(1ms);
    });
    const auto b = registry.addBatch([&](Event2D*, Event2D*) {
        if (removed) ++b_calls_after_removal;
    });
    std::thread deliverer([&] { registry.deliver(batch_of(1)); });
    while (!a_inside) std::this_thread::sleep_for(1ms);
    // B is not running, so its removal returns at once, while the delivery
    // that already listed it is still inside A.
    EXPECT_TRUE(registry.removeBatch(b));
    removed = true;
    release_a = true;
    deliverer.join();
    EXPECT_EQ(b_calls_after_removal, 0);
}

TEST(CallbackRegistry, RemovedCallablesAreDestroyedOutsideTheLock) {
    CallbackRegistry registry("test");
    // A callable whose destructor calls back into the registry would
    // deadlock if destroyed under the registry's lock.
    struct Reentrant {
        CallbackRegistry* registry;
        std::shared_ptr<int> alive = std::make_shared<int>(0);
        void operator()(Event2D*, Event2D*) const {}
        ~Reentrant() {
            if (alive.use_count() == 1) registry->hasBatch(), registry->addTriggerIn([](const EventTriggerIn&) {});
        }
    };
    const auto id = registry.addBatch(Reentrant{&registry});
    EXPECT_TRUE(registry.removeBatch(id));
    EXPECT_TRUE(registry.hasTriggerIn());
    registry.clear();
    EXPECT_FALSE(registry.hasTriggerIn());
}

}  // namespace
}  // namespace vantrel::stream
