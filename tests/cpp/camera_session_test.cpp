#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "file/recorder.hpp"
#include "file_test_support.hpp"
#include "camera/stream_session.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::camera {
namespace {

using namespace std::chrono_literals;

class ThrowingSource final : public camera::EventSource {
public:
    void generate(std::uint64_t, std::uint64_t, const tools::SourceControls&, std::vector<Event2D>&) override {
        throw std::runtime_error("sensor on fire");
    }
};

class CountingSource final : public camera::EventSource {
public:
    void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls&,
                  std::vector<Event2D>& out) override {
        for (std::uint64_t t = t_begin; t < t_end; ++t) out.emplace_back(1, 1, 1, t);
    }
};

class SilentSource final : public camera::EventSource {
public:
    void generate(std::uint64_t, std::uint64_t, const tools::SourceControls&, std::vector<Event2D>&) override {}
};

std::shared_ptr<StreamSession> make_session(std::shared_ptr<camera::EventSource> source, bool realtime,
                                            std::shared_ptr<stream::CallbackRegistry> callbacks = nullptr,
                                            std::shared_ptr<RecorderSlot> recorder = nullptr) {
    SessionConfig config;
    config.owner = "camera test";
    config.realtime = realtime;
    config.event_rate = 1e6;
    config.start_us = 500;
    auto settings = std::make_shared<stream::BatchSettings>();
    settings->set({stream::BatchRule::Kind::Count, 100});
    if (!callbacks) callbacks = std::make_shared<stream::CallbackRegistry>("camera test");
    if (!recorder) recorder = std::make_shared<RecorderSlot>();
    return std::make_shared<StreamSession>(config, std::move(source),
                                           std::make_unique<tools::ToolPipeline>(std::vector<std::shared_ptr<CameraTool>>{}, 64, 32),
                                           settings, callbacks, recorder);
}

TEST(StreamSession, AFailingSourceEndsTheStreamAndWakesPollers) {
    auto session = make_session(std::make_shared<ThrowingSource>(), false);
    session->launch(stream::Activity::enter());
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(session->poll(10s), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_TRUE(session->failed());
    session->stopProducing(StopMode::Deliver);
    session->finishDelivery();
}

TEST(StreamSession, StartsAtTheGivenTimeAndBatchesByTheSettings) {
    auto session = make_session(std::make_shared<CountingSource>(), false);
    session->launch(stream::Activity::enter());
    for (std::uint64_t i = 0; i < 50; ++i) {
        auto batch = session->poll(10s);
        ASSERT_NE(batch, nullptr);
        ASSERT_EQ(batch->size(), 100u);
        EXPECT_EQ(batch->front().timestamp, 500 + 100 * i);
    }
    session->stopProducing(StopMode::Deliver);
    EXPECT_TRUE(session->stopped());
    EXPECT_GE(session->endTime(), 500u + 5000u);
    EXPECT_EQ(session->poll(10s), nullptr);
    EXPECT_FALSE(session->pushBatch(std::make_shared<stream::EventBatch>(1)));
    session->finishDelivery();
}

TEST(StreamSession, APushFromInsideACallbackNeverWaitsForItself) {
    auto callbacks = std::make_shared<stream::CallbackRegistry>("camera test");
    std::shared_ptr<StreamSession> session = make_session(std::make_shared<CountingSource>(), false, callbacks);
    std::atomic<int> pushed_from_inside{0};
    std::atomic<bool> done{false};
    callbacks->addBatch([&](Event2D* b, Event2D* e) {
        if (e - b == 3 && pushed_from_inside < 600) {
            // More than the delivery queue holds: pushes from the delivery
            // thread must go through without waiting for it.
            for (int i = 0; i < 600; ++i, ++pushed_from_inside) session->pushBatch(std::make_shared<stream::EventBatch>(1));
            done = true;
        }
    });
    session->launch(stream::Activity::enter());
    ASSERT_TRUE(session->pushBatch(std::make_shared<stream::EventBatch>(3)));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(done);
    session->stopProducing(StopMode::Deliver);
    session->finishDelivery();
}

TEST(StreamSession, AStopLetsSlowCallbacksCatchUpForABoundedTimeAndCountsTheRest) {
    auto callbacks = std::make_shared<stream::CallbackRegistry>("camera test");
    auto session = make_session(std::make_shared<SilentSource>(), false, callbacks);
    std::atomic<int> delivered{0};
    std::atomic<bool> release{false};
    callbacks->addBatch([&](Event2D*, Event2D*) {
        while (!release) std::this_thread::sleep_for(1ms);  // the first call waits for the stop
        ++delivered;
        std::this_thread::sleep_for(5ms);
    });
    session->launch(stream::Activity::enter());
    constexpr int kBatches = 200;
    for (int i = 0; i < kBatches; ++i) ASSERT_TRUE(session->pushBatch(std::make_shared<stream::EventBatch>(3)));
    std::thread stopper([&] {
        session->stopProducing(StopMode::Deliver);
        session->finishDelivery();
    });
    std::this_thread::sleep_for(50ms);  // the stop waits for the call in progress
    EXPECT_FALSE(session->deliveryFinished());
    release = true;
    stopper.join();
    EXPECT_TRUE(session->deliveryFinished());
    const auto drops = session->drops()[static_cast<int>(stream::DropQueue::Delivery)];
    // 100 ms of 5 ms deliveries after the call in progress, give or take one.
    EXPECT_GE(delivered, 2);
    EXPECT_LE(delivered, 1 + 100 / 5 + 2);
    EXPECT_EQ(delivered + static_cast<int>(drops.batches), kBatches);
    EXPECT_EQ(drops.events, 3 * drops.batches);
}

class SessionRecordingTest : public file::testing::FileTest {};

TEST_F(SessionRecordingTest, TheRecordingHoldsWhatTheCallbacksGotLessWhatTheRecorderDropped) {
    auto callbacks = std::make_shared<stream::CallbackRegistry>("camera test");
    auto slot = std::make_shared<RecorderSlot>();
    // Room for about two batches: the recorder's own queue overflows.
    slot->install(file::start_recorder(path("rec.vtr"), {64, 32, "S", 1}, file::RecorderLimits{40'000, 4, 50},
                                       file::BlockLimits{}));
    auto session = make_session(std::make_shared<SilentSource>(), false, callbacks, slot);
    std::vector<Event2D> received;
    std::atomic<std::size_t> batches_received{0};
    callbacks->addBatch([&](Event2D* b, Event2D* e) {
        received.insert(received.end(), b, e);
        ++batches_received;
    });
    session->launch(stream::Activity::enter());
    constexpr std::uint64_t kBatches = 300, kEvents = 1000;
    for (std::uint64_t i = 0; i < kBatches; ++i) {
        auto batch = std::make_shared<stream::EventBatch>();
        for (std::uint64_t k = 0; k < kEvents; ++k) batch->emplace_back(1, 2, 1, i * kEvents + k);
        ASSERT_TRUE(session->pushBatch(std::move(batch)));
    }
    // The callbacks keep up (the stop would cut a backlog short).
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (batches_received < kBatches && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    session->stopProducing(StopMode::Deliver);
    session->finishDelivery();
    ASSERT_TRUE(slot->take()->stop());
    EXPECT_EQ(received.size(), kBatches * kEvents);
    const auto drops = session->drops();
    const auto& recorder = drops[static_cast<int>(stream::DropQueue::Recorder)];
    EXPECT_GT(recorder.batches, 0u);
    EXPECT_EQ(drops[static_cast<int>(stream::DropQueue::Delivery)].batches, 0u);
    auto reader = EvFileReader::createFileReader(path("rec.vtr"));
    ASSERT_TRUE(reader && reader->open());
    const auto recorded = reader->readEvents(~0ull);
    EXPECT_EQ(recorded->size() + recorder.events, received.size());
    EXPECT_NE(log_text().find("recorder queue: full"), std::string::npos);
    EXPECT_NE(log_text().find("the stream stopped; in all it dropped: recorder queue"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::camera
