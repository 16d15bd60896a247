#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "stream/activity.hpp"
#include "stream/callback_registry.hpp"
#include "vantrel/camera_service.hpp"
#include "vantrel/process_exit.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// Quiescing is for good: each case runs in a child process of its own.
class ProcessExitTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

std::shared_ptr<ICamera> streaming_camera(const std::string& serial, std::atomic<int>& calls,
                                          std::chrono::milliseconds callback_time) {
    sim::CameraSpec spec;
    spec.serial = serial;
    spec.width = 64;
    spec.height = 32;
    spec.event_rate = 2e5;
    sim::addCamera(spec);
    auto camera = EvCameraService().open(serial);
    camera->setBatchEventsTime(1000);
    camera->registerEventBatchCallback([&calls, callback_time](Event2D*, Event2D*) {
        ++calls;
        std::this_thread::sleep_for(callback_time);
    });
    if (!camera->start()) std::exit(10);
    return camera;
}

// The children: their exit statuses tell which expectation failed.
[[noreturn]] void every_stream_stops_and_no_callback_runs_afterwards() {
    std::atomic<int> a_calls{0}, b_calls{0};
    auto a = streaming_camera("A", a_calls, 2ms);
    auto b = streaming_camera("B", b_calls, 0ms);
    while (a_calls < 3 || b_calls < 3) std::this_thread::sleep_for(1ms);
    if (!quiesceForExit(2s)) std::exit(11);
    const int a_after = a_calls, b_after = b_calls;
    std::this_thread::sleep_for(50ms);
    if (a_calls != a_after || b_calls != b_after) std::exit(12);
    if (a->start()) std::exit(13);  // no stream starts any more
    // A registry, a reader's as much as a camera's, calls nothing.
    stream::CallbackRegistry registry("test");
    bool called = false;
    registry.addBatch([&](Event2D*, Event2D*) { called = true; });
    registry.deliver(stream::DeliveryItem::ofBatch(std::make_shared<stream::EventBatch>(1)));
    if (called) std::exit(14);
    // Closing afterwards waits for nothing.
    a->close();
    b->close();
    std::exit(0);
}

[[noreturn]] void the_wait_for_a_callback_in_progress_is_bounded() {
    std::atomic<int> calls{0};
    auto camera = streaming_camera("A", calls, 5s);
    while (calls < 1) std::this_thread::sleep_for(1ms);
    const auto begin = std::chrono::steady_clock::now();
    if (quiesceForExit(200ms)) std::exit(11);  // the callback is still running
    if (std::chrono::steady_clock::now() - begin > 3s) std::exit(12);
    // Removing the callback does not wait for the call that may never end.
    camera->close();
    std::_Exit(0);  // the delivery thread is still inside its callback
}

TEST_F(ProcessExitTest, EveryStreamStopsAndNoCallbackRunsAfterwards) {
    EXPECT_EXIT(every_stream_stops_and_no_callback_runs_afterwards(), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProcessExitTest, TheWaitForACallbackInProgressIsBounded) {
    EXPECT_EXIT(the_wait_for_a_callback_in_progress_is_bounded(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantrel
