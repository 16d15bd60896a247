#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "sim/device_lookup.hpp"
#include "stream/stream_limits.hpp"
#include "vantrel/camera_service.hpp"
#include "vantrel/sim/faults.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return pred();
}

class SimCameraTest : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { sim::reset(); }

    std::shared_ptr<ICamera> open(const std::string& serial, bool realtime = false, const std::string& scene = "noise",
                                  double rate = 1e6) {
        sim::CameraSpec spec;
        spec.serial = serial;
        spec.width = 64;
        spec.height = 32;
        spec.realtime = realtime;
        spec.scene = scene;
        spec.event_rate = rate;
        sim::addCamera(spec);
        EvCameraService service;
        return service.open(serial);
    }
};

TEST_F(SimCameraTest, OpenGivesTheSameCameraUntilItIsClosed) {
    auto cam = open("A");
    ASSERT_NE(cam, nullptr);
    EvCameraService service;
    EXPECT_EQ(service.open("A"), cam);
    EXPECT_EQ(service.open("nobody"), nullptr);
    cam->close();
    auto again = service.open("A");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, cam);
    EXPECT_NE(sim::find_tool_set("A"), nullptr);
    EXPECT_EQ(sim::find_tool_set("nobody"), nullptr);
}

TEST_F(SimCameraTest, StopCloseAndUnplugWakeEveryPollerAtOnce) {
    for (int how = 0; how < 3; ++how) {
        auto cam = open("S" + std::to_string(how), false, "scripted");
        ASSERT_TRUE(cam->start());
        std::vector<std::future<bool>> pollers;
        for (int i = 0; i < 4; ++i) {
            pollers.push_back(std::async(std::launch::async, [cam] {
                std::vector<Event2D> batch;
                return cam->getNextBatch(batch);
            }));
        }
        std::this_thread::sleep_for(20ms);
        const auto begin = std::chrono::steady_clock::now();
        if (how == 0) cam->stop();
        if (how == 1) cam->close();
        if (how == 2) sim::removeCamera("S" + std::to_string(how));
        for (auto& p : pollers) EXPECT_FALSE(p.get());
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 500ms);
        if (how == 2) {
            EXPECT_FALSE(cam->isConnected());
            EXPECT_FALSE(cam->start());
        }
    }
}

TEST_F(SimCameraTest, CallbacksGetEveryBatchAndPacingHoldsBackAnUnpacedStream) {
    auto cam = open("A");
    cam->setBatchEventsNum(1000);
    std::atomic<std::uint64_t> events{0};
    std::atomic<int> batches{0};
    std::atomic<std::uint64_t> last{0};
    std::atomic<bool> backwards{false};
    cam->registerEventBatchCallback([&](Event2D* b, Event2D* e) {
        events += static_cast<std::uint64_t>(e - b);
        if (b != e && b->timestamp < last) backwards = true;
        if (b != e) last = (e - 1)->timestamp;
        ++batches;
        if (batches < 5) std::this_thread::sleep_for(20ms);  // a slow consumer at first
    });
    ASSERT_TRUE(cam->start());
    ASSERT_TRUE(eventually([&] { return batches >= 500; }));
    cam->stop();
    EXPECT_FALSE(backwards);
    // Nothing was dropped for the callback: every batch was full and consecutive.
    EXPECT_EQ(events.load(), static_cast<std::uint64_t>(batches.load()) * 1000);
}

TEST_F(SimCameraTest, CallbacksMayStopCloseOrDropTheLastReference) {
    for (int how = 0; how < 3; ++how) {
        auto cam = open("A" + std::to_string(how));
        cam->setBatchEventsNum(10);
        std::promise<void> done;
        std::promise<void> dropped;  // `cam` is gone: the callback holds the last reference
        std::shared_future<void> cam_dropped = dropped.get_future().share();
        std::atomic<int> calls{0};
        auto holder = std::make_shared<std::shared_ptr<ICamera>>(cam);
        cam->registerEventBatchCallback([&, holder, how, cam_dropped](Event2D*, Event2D*) {
            if (++calls != 1) return;
            if (how == 0) {
                EXPECT_TRUE((*holder)->stop());
            }
            if (how == 1) (*holder)->close();
            if (how == 2) {
                cam_dropped.wait();
                holder->reset();  // this camera's last reference
            }
            done.set_value();
        });
        ASSERT_TRUE(cam->start());
        if (how == 2) cam.reset();
        dropped.set_value();
        ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(calls.load(), 1) << how;
        // The callback holds its own camera: only closing it ends that cycle.
        if (how == 0) cam->close();
    }
}

TEST_F(SimCameraTest, ARealtimePollQueueDropsTheOldestWhenNobodyPolls) {
    auto cam = open("A", true, "noise", 1e6);
    cam->setBatchEventsTime(100);  // 10'000 batches per second, far more than the queue holds
    ASSERT_TRUE(cam->start());
    std::this_thread::sleep_for(400ms);
    std::vector<Event2D> batch;
    ASSERT_TRUE(cam->getNextBatch(batch));
    ASSERT_FALSE(batch.empty());
    // Only the newest ~256 batches (~26 ms) were kept.
    EXPECT_GT(batch.front().timestamp, 200'000u);
}

TEST_F(SimCameraTest, AnUnpacedStreamWaitsForThePollerInsteadOfDropping) {
    auto cam = open("A", false, "noise", 1e6);
    cam->setBatchEventsNum(100);
    ASSERT_TRUE(cam->start());
    std::this_thread::sleep_for(100ms);  // long enough to overflow the queue many times over
    std::vector<Event2D> batch;
    std::uint64_t expected_time = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(cam->getNextBatch(batch));
        ASSERT_EQ(batch.size(), 100u);
        // At 1 event per microsecond on average, batches stay contiguous in time.
        if (i) {
            ASSERT_LT(batch.front().timestamp - expected_time, 50u) << i;
        }
        expected_time = batch.back().timestamp;
    }
    EXPECT_LT(expected_time, 2000u * 100u + 10'000u);
}

}  // namespace
}  // namespace vantrel
