#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "sim/stream_session.hpp"

namespace vantrel::sim {
namespace {

using namespace std::chrono_literals;

class ThrowingSource final : public stream::EventSource {
public:
    void generate(std::uint64_t, std::uint64_t, const stream::SourceControls&, std::vector<Event2D>&) override {
        throw std::runtime_error("sensor on fire");
    }
};

class CountingSource final : public stream::EventSource {
public:
    void generate(std::uint64_t t_begin, std::uint64_t t_end, const stream::SourceControls&,
                  std::vector<Event2D>& out) override {
        for (std::uint64_t t = t_begin; t < t_end; ++t) out.emplace_back(1, 1, 1, t);
    }
};

std::shared_ptr<StreamSession> make_session(std::shared_ptr<stream::EventSource> source, bool realtime,
                                            std::shared_ptr<stream::CallbackRegistry> callbacks = nullptr) {
    SessionConfig config;
    config.owner = "camera test";
    config.realtime = realtime;
    config.event_rate = 1e6;
    config.start_us = 500;
    auto settings = std::make_shared<stream::BatchSettings>();
    settings->set({stream::BatchRule::Kind::Count, 100});
    if (!callbacks) callbacks = std::make_shared<stream::CallbackRegistry>("camera test");
    return std::make_shared<StreamSession>(config, std::move(source),
                                           std::make_unique<tools::ToolPipeline>(std::vector<std::shared_ptr<CameraTool>>{}, 64, 32),
                                           settings, callbacks, std::make_shared<stream::RecorderSlot>());
}

TEST(StreamSession, AFailingSourceEndsTheStreamAndWakesPollers) {
    auto session = make_session(std::make_shared<ThrowingSource>(), false);
    session->launch();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(session->poll(10s), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_TRUE(session->failed());
    session->stopProducing(true);
    session->finishDelivery();
}

TEST(StreamSession, StartsAtTheGivenTimeAndBatchesByTheSettings) {
    auto session = make_session(std::make_shared<CountingSource>(), false);
    session->launch();
    for (std::uint64_t i = 0; i < 50; ++i) {
        auto batch = session->poll(10s);
        ASSERT_NE(batch, nullptr);
        ASSERT_EQ(batch->size(), 100u);
        EXPECT_EQ(batch->front().timestamp, 500 + 100 * i);
    }
    session->stopProducing(true);
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
    session->launch();
    ASSERT_TRUE(session->pushBatch(std::make_shared<stream::EventBatch>(3)));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(done);
    session->stopProducing(true);
    session->finishDelivery();
}

}  // namespace
}  // namespace vantrel::sim
