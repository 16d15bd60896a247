#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "file/recorder.hpp"
#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using testing::stream_events;
using Events = std::vector<Event2D>;

class RecorderTest : public testing::FileTest {
protected:
    Events read_all(const std::string& p, std::vector<EventTriggerIn>* edges = nullptr) {
        auto r = EvFileReader::createFileReader(p);
        EXPECT_TRUE(r && r->open());
        if (!r) return {};
        if (edges) r->registerTriggerInCallback([edges](const EventTriggerIn& e) { edges->push_back(e); });
        return *r->readEvents(~0ull);
    }
};

TEST_F(RecorderTest, RecordsEverythingPushedFromAnotherThread) {
    const std::string p = path("rec.vtr");
    auto rec = Recorder::start(p, {640, 480, "LIVE", 0});
    ASSERT_TRUE(rec);
    Events expected;
    std::vector<EventTriggerIn> edges;
    std::thread producer([&] {
        std::uint64_t t = 0;
        for (int b = 0; b < 300; ++b) {
            auto batch = std::make_shared<Events>(stream_events(static_cast<std::size_t>(b * 7 % 900), t, b));
            if (!batch->empty()) t = batch->back().timestamp;
            if (b == 150) batch->push_back(Event2D(65535, 65535, 200, 3));  // anything survives
            expected.insert(expected.end(), batch->begin(), batch->end());
            rec->push(std::shared_ptr<const Events>(batch));
            if (b % 10 == 0) {
                edges.push_back({static_cast<std::int16_t>(b % 2), t, 4});
                rec->push(edges.back());
            }
        }
    });
    producer.join();
    EXPECT_TRUE(rec->stop());
    EXPECT_EQ(rec->droppedEvents(), 0u);
    EXPECT_TRUE(rec->stop());  // stopping twice is harmless

    std::vector<EventTriggerIn> got_edges;
    EXPECT_TRUE(same(read_all(p, &got_edges), expected));
    ASSERT_EQ(got_edges.size(), edges.size());
    auto r = EvFileReader::createFileReader(p);
    ASSERT_TRUE(r && r->open());
    EvFileInfo info{};
    ASSERT_TRUE(r->getFileMetadata(info));
    EXPECT_EQ(info.serial_number, "LIVE");
    EXPECT_GT(info.local_time_ticks, 16'000'000'000'000'000);  // "now" stands in for 0
}

TEST_F(RecorderTest, WhatDoesNotFitIsDroppedCountedAndLogged) {
    const std::string p = path("rec.vtr");
    // Room for only a couple of batches at a time.
    auto rec = start_recorder(p, {640, 480, "S", 1}, RecorderLimits{40'000, 4, 50}, BlockLimits{});
    ASSERT_TRUE(rec);
    std::vector<Events> pushed;
    std::uint64_t refused = 0;  // what push() said it dropped
    for (int b = 0; b < 400; ++b) {
        pushed.push_back(stream_events(1000, static_cast<std::uint64_t>(b) * 10'000, b));
        if (!rec->push(std::make_shared<const Events>(pushed.back()))) refused += 1000;
    }
    ASSERT_TRUE(rec->stop());
    const Events got = read_all(p);
    EXPECT_EQ(got.size() + rec->droppedEvents(), 400'000u);
    EXPECT_GT(rec->droppedEvents(), 0u);
    EXPECT_EQ(refused, rec->droppedEvents());
    // Whole batches, in order: a batch is either written or dropped.
    std::size_t pos = 0;
    for (const auto& batch : pushed)
        if (pos < got.size() && same(Events(got.begin() + static_cast<std::ptrdiff_t>(pos),
                                            got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), pos + batch.size()))),
                                     batch))
            pos += batch.size();
    EXPECT_EQ(pos, got.size());
    EXPECT_NE(log_text().find(std::to_string(rec->droppedEvents()) + " events and 0 trigger edges were dropped in all"),
              std::string::npos);
}

TEST_F(RecorderTest, DataReachesTheFileWhileRecording) {
    const std::string p = path("rec.vtr");
    auto rec = start_recorder(p, {640, 480, "S", 1}, RecorderLimits{1 << 20, 16, 20}, BlockLimits{});
    ASSERT_TRUE(rec);
    const Events batch = stream_events(300);
    rec->push(std::make_shared<const Events>(batch));
    // Without stop(): what a crash would leave behind is readable.
    Events seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.size() < batch.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RecordingFile f;
        std::string error;
        if (f.open(p, error) && f.eventCount() == batch.size()) seen = batch;
    }
    EXPECT_EQ(seen.size(), batch.size());
    EXPECT_TRUE(rec->stop());
    EXPECT_TRUE(same(read_all(p), batch));
}

TEST_F(RecorderTest, FailuresAreReported) {
    EXPECT_FALSE(Recorder::start(path("no/such/dir/rec.vtr"), {640, 480, "S", 1}));
    EXPECT_NE(log_text().find("cannot create the file"), std::string::npos);

    // A disk that fills up during the recording: files may not grow past 1 MiB.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto rec = Recorder::start(path("full.vtr"), {640, 480, "S", 1});
    ASSERT_TRUE(rec);
    Events pushed;
    for (int i = 0; i < 10; ++i) {
        const Events batch = stream_events(50'000, 1000 + 1'000'000 * static_cast<std::uint64_t>(i));
        pushed.insert(pushed.end(), batch.begin(), batch.end());
        rec->push(std::make_shared<const Events>(batch));
    }
    rec->push(EventTriggerIn{1, 5, 1});
    const bool stopped = rec->stop();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(stopped);
    EXPECT_GT(rec->droppedEvents(), 0u);
    EXPECT_NE(log_text().find("write failed"), std::string::npos);
    // What was written before the disk filled up is still a readable recording.
    const Events got = read_all(path("full.vtr"));
    EXPECT_GT(got.size(), 0u);
    EXPECT_TRUE(same(got, Events(pushed.begin(), pushed.begin() + static_cast<std::ptrdiff_t>(got.size()))));
}

}  // namespace
}  // namespace vantrel::file
