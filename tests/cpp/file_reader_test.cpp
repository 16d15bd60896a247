#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "file/crc32c.hpp"
#include "file/recording_file.hpp"
#include "file/recording_reader.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel::file {
namespace {

using testing::first_index_at;
using testing::same;
using testing::slice;
using testing::stream_events;
namespace fs = std::filesystem;

using Events = std::vector<Event2D>;

class ReaderTest : public testing::FileTest {};

TEST_F(ReaderTest, ReadsBackExactlyInAnyChunkSize) {
    auto events = stream_events(1234);
    const auto odd = testing::awkward_events();
    events.insert(events.begin() + 500, odd.begin(), odd.end());  // escapes inside a block
    const auto r = open_reader(write("a.vtr", events));
    for (std::uint64_t chunk : {1, 7, 100, 101, 5000}) {
        ASSERT_TRUE(r->seekToEventIndex(0));
        Events all;
        while (!r->isEndReached()) {
            const auto part = r->readEvents(chunk);
            ASSERT_TRUE(part && !part->empty());
            all.insert(all.end(), part->begin(), part->end());
            EXPECT_EQ(r->getCurrentEventIndex(), all.size());
        }
        EXPECT_TRUE(same(all, events)) << chunk;
        EXPECT_TRUE(r->readEvents(10)->empty());
        EXPECT_TRUE(r->readEventsByTimeInterval(1000)->empty());
        EXPECT_EQ(r->getCurrentEventIndex(), events.size());
    }
    std::uint64_t n = 0;
    ASSERT_TRUE(r->getEventCount(n));
    EXPECT_EQ(n, events.size());
}

TEST_F(ReaderTest, SeeksByIndexAcrossBlockBoundaries) {
    const auto events = stream_events(1000);
    const auto r = open_reader(write("a.vtr", events));
    for (std::uint64_t k : {0, 1, 99, 100, 101, 199, 200, 555, 999}) {
        ASSERT_TRUE(r->seekToEventIndex(k)) << k;
        EXPECT_EQ(r->getCurrentEventIndex(), k);
        EXPECT_EQ(r->getCurrentTimestamp(), events[k].timestamp);
        EXPECT_TRUE(same(*r->readEvents(150), slice(events, k, k + 150))) << k;
        EXPECT_TRUE(same(*r->readEventsFromEventIndex(k, 3), slice(events, k, k + 3)));
    }
    ASSERT_TRUE(r->seekToEventIndex(42));
    EXPECT_FALSE(r->seekToEventIndex(1000));
    EXPECT_FALSE(r->seekToEventIndex(~0ull));
    EXPECT_EQ(r->getCurrentEventIndex(), 42u);  // a failed seek moves nothing
    EXPECT_TRUE(r->readEventsFromEventIndex(1000, 5)->empty());
    EXPECT_NE(log_text().find("seekToEventIndex(1000)"), std::string::npos);
}

TEST_F(ReaderTest, SeeksAndIntervalReadsMatchABruteForceOracle) {
    // Runs of equal timestamps straddle block boundaries.
    Events events;
    std::mt19937 rng(3);
    std::uint64_t t = 50;
    for (int i = 0; i < 2000; ++i) {
        if (rng() % 3 == 0) t += rng() % 40;
        events.emplace_back(static_cast<std::uint16_t>(i % 640), 1, 1, t);
    }
    const auto r = open_reader(write("a.vtr", events));
    for (int trial = 0; trial < 400; ++trial) {
        const std::uint64_t start = rng() % (t + 60);
        const std::uint64_t interval = rng() % 300;
        const std::size_t i = first_index_at(events, start);
        const std::size_t j = first_index_at(events, start + interval);
        if (i == events.size()) {
            EXPECT_FALSE(r->seekToTimestamp(start));
            EXPECT_TRUE(r->readEventsByTimeIntervalFromTimestamp(start, interval)->empty());
            continue;
        }
        ASSERT_TRUE(r->seekToTimestamp(start));
        EXPECT_EQ(r->getCurrentEventIndex(), i);
        EXPECT_TRUE(same(*r->readEventsByTimeIntervalFromTimestamp(start, interval), slice(events, i, j)));
        EXPECT_EQ(r->getCurrentEventIndex(), std::max(i, j));
        EXPECT_TRUE(same(*r->readEventsFromTimestamp(start, 37), slice(events, i, i + 37)));

        const std::size_t k = rng() % events.size();
        const std::size_t kj = first_index_at(events, events[k].timestamp + interval);
        EXPECT_TRUE(same(*r->readEventsByTimeIntervalFromEventIndex(k, interval), slice(events, k, kj)));
        ASSERT_TRUE(r->seekToEventIndex(k));
        EXPECT_TRUE(same(*r->readEventsByTimeInterval(interval), slice(events, k, kj)));
        EXPECT_EQ(r->getCurrentEventIndex(), std::max(k, kj));
    }
    // An interval that reaches past the largest timestamp reads to the end.
    EXPECT_EQ(r->readEventsByTimeIntervalFromEventIndex(10, ~0ull)->size(), events.size() - 10);
    EXPECT_TRUE(r->isEndReached());
}

TEST_F(ReaderTest, FilesWhoseTimeGoesBackwardsKeepFileOrder) {
    Events events;
    for (int b = 0; b < 5; ++b)
        for (int i = 0; i < 100; ++i)
            events.emplace_back(1, 1, 0, static_cast<std::uint64_t>((b % 2 ? 10000 : 0) + b * 100 + i));
    // t runs 0..99, 10100..10199, 200..299, 10300..10399, 400..499
    const auto r = open_reader(write("a.vtr", events));
    ASSERT_TRUE(r->seekToTimestamp(250));
    EXPECT_EQ(r->getCurrentEventIndex(), 100u);  // first event in file order with t >= 250
    ASSERT_TRUE(r->seekToTimestamp(10350));
    EXPECT_EQ(r->getCurrentEventIndex(), 350u);
    // From event 100 (t = 10100) the interval read stops at the first event
    // outside [t0, t0 + interval) and returns only those within it.
    const auto got = r->readEventsByTimeIntervalFromEventIndex(100, 50);
    EXPECT_TRUE(same(*got, slice(events, 100, 150)));
    std::uint64_t end = 0;
    ASSERT_TRUE(r->getEndTime(end));
    EXPECT_EQ(end, 499u);
}

TEST_F(ReaderTest, MetadataComesFromHeaderAndIndex) {
    const auto events = stream_events(300, 777);
    const auto r = EvFileReader::createFileReader(
        write("a.vtr", events, {}, {100, 8}, RecordingInfo{346, 260, "ABC-\xc3\xa9", -5}));
    ASSERT_TRUE(r);
    std::uint64_t v = 0;
    EvFileInfo info{};
    EXPECT_FALSE(r->getStartTime(v));  // not open yet
    EXPECT_FALSE(r->getFileMetadata(info));
    EXPECT_FALSE(r->getDecodeStatistics(v, v));
    EXPECT_EQ(r->getWidth(), 0);
    EXPECT_FALSE(r->isEndReached());
    EXPECT_TRUE(r->readEvents(5)->empty());
    EXPECT_NE(log_text().find("not open"), std::string::npos);

    ASSERT_TRUE(r->open());
    ASSERT_TRUE(r->getFileMetadata(info));
    EXPECT_EQ(info.start_timestamp, events.front().timestamp);
    EXPECT_EQ(info.end_timestamp, events.back().timestamp);
    EXPECT_EQ(info.max_events, 300u);
    EXPECT_EQ(info.width, 346);
    EXPECT_EQ(info.height, 260);
    EXPECT_EQ(info.serial_number, "ABC-\xc3\xa9");
    EXPECT_EQ(info.local_time_ticks, -5);
    EXPECT_EQ(r->getWidth(), 346);
    EXPECT_EQ(r->getHeight(), 260);

    std::uint64_t bytes = 0, decoded = 1;
    ASSERT_TRUE(r->getDecodeStatistics(bytes, decoded));
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(decoded, 0u);
    r->readEvents(120);
    std::uint64_t bytes2 = 0;
    ASSERT_TRUE(r->getDecodeStatistics(bytes2, decoded));
    EXPECT_EQ(decoded, 120u);
    EXPECT_GT(bytes2, bytes);  // the second block was loaded
}

TEST_F(ReaderTest, EmptyRecordingHasNoTimeRange) {
    const auto r = open_reader(write("empty.vtr", {}));
    std::uint64_t v = 5;
    EXPECT_FALSE(r->getStartTime(v));
    EXPECT_TRUE(r->getEventCount(v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(r->isEndReached());
    EXPECT_TRUE(r->readEvents(1)->empty());
    EXPECT_FALSE(r->seekToTimestamp(0));
    EvFileInfo info{};
    ASSERT_TRUE(r->getFileMetadata(info));
    EXPECT_EQ(info.max_events, 0u);
}

TEST_F(ReaderTest, OnlyRegularFilesGiveReadersAndOnlyRecordingsOpen) {
    EXPECT_FALSE(EvFileReader::createFileReader(path("missing.vtr")));
    EXPECT_FALSE(EvFileReader::createFileReader(dir_.string()));
    put_bytes(path("text.txt"), "hello, this is not a recording at all......");
    auto r = EvFileReader::createFileReader(path("text.txt"));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->open());
    put_bytes(path("empty"), "");
    r = EvFileReader::createFileReader(path("empty"));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->open());
    EXPECT_NE(log_text().find("not a recording"), std::string::npos);
}

TEST_F(ReaderTest, TriggerEdgesArriveDuringTheReadsThatCoverThem) {
    const auto events = stream_events(1000);
    std::vector<EventTriggerIn> edges;
    edges.push_back({1, 5, 7});  // before the first event
    for (std::size_t i = 0; i < events.size(); i += 37)
        edges.push_back({static_cast<std::int16_t>(i % 2), events[i].timestamp, static_cast<std::int16_t>(i)});
    edges.push_back({0, events.back().timestamp + 100, 9});  // after the last event
    const auto r = open_reader(write("a.vtr", events, edges));

    std::vector<EventTriggerIn> got;
    const std::uint32_t id = r->registerTriggerInCallback([&](const EventTriggerIn& e) {
        got.push_back(e);
        // The reader's lock is free while callbacks run (this would deadlock otherwise).
        EXPECT_FALSE(r->seekToTimestamp(~0ull));  // takes the lock, moves nothing
    });
    ASSERT_NE(id, 0u);

    // Any mix of reads from the start delivers every edge once, in order.
    std::mt19937 rng(5);
    while (!r->isEndReached()) {
        const std::size_t before = got.size();
        const std::uint64_t lo = r->getCurrentEventIndex() == 0 ? 0 : r->getCurrentTimestamp();
        const auto part = rng() % 2 ? r->readEvents(rng() % 90) : r->readEventsByTimeInterval(rng() % 200);
        const std::uint64_t hi = r->isEndReached() ? ~0ull : r->getCurrentTimestamp();
        for (std::size_t k = before; k < got.size(); ++k) {
            EXPECT_GE(got[k].timestamp, lo);
            if (!r->isEndReached()) {
                EXPECT_LT(got[k].timestamp, hi);
            }
        }
    }
    ASSERT_EQ(got.size(), edges.size());
    for (std::size_t k = 0; k < edges.size(); ++k) {
        EXPECT_EQ(got[k].timestamp, edges[k].timestamp);
        EXPECT_EQ(got[k].id, edges[k].id);
        EXPECT_EQ(got[k].polarity, edges[k].polarity);
    }

    got.clear();
    r->readEventsByTimeIntervalFromTimestamp(events[370].timestamp, 1);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().timestamp, events[370].timestamp);

    EXPECT_TRUE(r->unregisterTriggerInCallback(id));
    EXPECT_FALSE(r->unregisterTriggerInCallback(id));
    got.clear();
    r->readEventsFromEventIndex(0, 1000);
    EXPECT_TRUE(got.empty());
}

TEST_F(ReaderTest, NoTriggerCallAfterItsUnregistrationReturnedTrue) {
    const auto events = stream_events(2000);
    std::vector<EventTriggerIn> edges;
    for (std::size_t i = 0; i < events.size(); ++i) edges.push_back({1, events[i].timestamp, 1});
    const auto r = open_reader(write("a.vtr", events, edges));
    std::atomic<bool> removed{false}, stop{false};
    std::atomic<int> calls{0}, calls_after{0};
    const std::uint32_t id = r->registerTriggerInCallback([&](const EventTriggerIn&) {
        ++calls;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (removed) ++calls_after;
    });
    std::thread reader([&] {
        while (!stop) r->readEventsFromEventIndex(0, events.size());
    });
    while (calls < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(r->unregisterTriggerInCallback(id));
    removed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    reader.join();
    EXPECT_EQ(calls_after, 0);
}

TEST_F(ReaderTest, ReadsThatTakeNoEventCoverNoTime) {
    // Found by fuzzing: empty reads at the start delivered the edges before
    // the first event again each time.
    const auto events = stream_events(300, 5000);
    const std::vector<EventTriggerIn> edges{{0, 10, 1}, {1, 4000, 2}, {0, events[150].timestamp, 3}};
    const auto r = open_reader(write("a.vtr", events, edges));
    std::vector<EventTriggerIn> got;
    r->registerTriggerInCallback([&](const EventTriggerIn& e) { got.push_back(e); });
    EXPECT_TRUE(r->readEvents(0)->empty());
    EXPECT_TRUE(r->readEventsByTimeInterval(0)->empty());
    EXPECT_TRUE(r->readEventsFromEventIndex(0, 0)->empty());
    EXPECT_TRUE(got.empty());
    r->readEvents(100);
    EXPECT_EQ(got.size(), 2u);
    r->readEvents(0);
    r->readEventsByTimeInterval(0);
    r->readEvents(1000);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].timestamp, events[150].timestamp);
}

TEST_F(ReaderTest, ExportHoldsExactlyTheInclusiveRange) {
    const auto events = stream_events(900);
    std::vector<EventTriggerIn> edges;
    for (std::size_t i = 0; i < events.size(); i += 50) edges.push_back({1, events[i].timestamp, 3});
    const auto r = open_reader(write("a.vtr", events, edges));
    ASSERT_TRUE(r->seekToEventIndex(17));

    const std::uint64_t start = events[250].timestamp, end = events[600].timestamp;
    ASSERT_TRUE(r->exportEventsToRaw(start, end, path("part.vtr")));
    EXPECT_EQ(r->getCurrentEventIndex(), 17u);  // exporting does not move the reader

    Events expected;
    for (const auto& e : events)
        if (e.timestamp >= start && e.timestamp <= end) expected.push_back(e);
    const auto part = open_reader(path("part.vtr"));
    std::vector<EventTriggerIn> got;
    part->registerTriggerInCallback([&](const EventTriggerIn& e) { got.push_back(e); });
    EXPECT_TRUE(same(*part->readEvents(10000), expected));
    std::size_t expected_edges = 0;
    for (const auto& e : edges) expected_edges += e.timestamp >= start && e.timestamp <= end;
    EXPECT_EQ(got.size(), expected_edges);
    EvFileInfo a{}, b{};
    ASSERT_TRUE(r->getFileMetadata(a));
    ASSERT_TRUE(part->getFileMetadata(b));
    EXPECT_EQ(a.serial_number, b.serial_number);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.local_time_ticks, b.local_time_ticks);

    ASSERT_TRUE(r->exportEventsToRaw(5, 5, path("none.vtr")));  // nothing in range: still a recording
    EXPECT_TRUE(open_reader(path("none.vtr"))->isEndReached());
    EXPECT_FALSE(r->exportEventsToRaw(10, 9, path("bad.vtr")));
    EXPECT_FALSE(fs::exists(path("bad.vtr")));
    EXPECT_FALSE(r->exportEventsToRaw(0, ~0ull, path("a.vtr")));  // would destroy its source
    EXPECT_FALSE(r->exportEventsToRaw(0, ~0ull, path("no/such/dir/x.vtr")));
    EXPECT_TRUE(same(*r->readEventsFromEventIndex(0, 10000), events));
}

TEST_F(ReaderTest, ContentThatDisagreesWithItsHeaderIsNeverReturned) {
    // A block whose checksums are right but whose events are not what its
    // header says (a faulty writer): reads pass over it whichever way they
    // reach it.
    const auto events = stream_events(300);
    const std::string p = write("a.vtr", events);
    std::string bytes = bytes_of(p);
    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(p, error));
    const BlockEntry& victim = layout.eventBlocks()[1];
    auto* base = reinterpret_cast<unsigned char*>(bytes.data());
    unsigned char* payload = base + victim.offset + kBlockHeaderSize;
    store<std::uint32_t>(payload + 40, load<std::uint32_t>(payload + 40) + (1u << 20));  // one delta grows
    BlockHeader h = victim.header;
    h.payload_crc = crc32c(payload, h.payload_size);
    encode_block_header(h, base + victim.offset);
    // The index keeps a copy of every block header, and a checksum of itself.
    const std::size_t footer_at = bytes.size() - kFooterSize;
    Footer footer;
    ASSERT_TRUE(decode_footer(base + footer_at, footer));
    for (std::size_t i = 0; i < layout.eventBlocks().size() + layout.triggerBlocks().size(); ++i) {
        unsigned char* entry = base + footer.index_offset + kIndexFixedSize + i * kIndexEntrySize;
        if (load<std::uint64_t>(entry) == victim.offset) std::memcpy(entry + 16, base + victim.offset, kBlockHeaderSize);
    }
    footer.index_crc = crc32c(base + footer.index_offset, footer.index_size);
    encode_footer(footer, base + footer_at);
    put_bytes(p, bytes);

    Events expected = slice(events, 0, 100);
    const Events rest = slice(events, 200, 300);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_TRUE(same(*open_reader(p)->readEvents(1000), expected));  // whole blocks
    const auto r = open_reader(p);
    EXPECT_TRUE(same(*r->readEventsFromEventIndex(150, 60), slice(events, 200, 260)));  // part of it
    EXPECT_TRUE(same(*open_reader(p)->readEventsByTimeInterval(~0ull / 2), expected));
    EXPECT_NE(log_text().find("event timestamps do not match the block header"), std::string::npos);
}

TEST_F(ReaderTest, ConcurrentReadersOfOneObjectSeeConsistentSlices) {
    const auto events = stream_events(5000);
    const auto r = open_reader(write("a.vtr", events));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int i = 0; i < 200; ++i) {
                const std::size_t k = rng() % events.size();
                if (!same(*r->readEventsFromEventIndex(k, 64), slice(events, k, k + 64))) ++wrong;
                r->seekToTimestamp(events[rng() % events.size()].timestamp);
                r->getCurrentTimestamp();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ReaderTest, InjectedFaultsGiveEachOperationsFailureResult) {
    const auto r = open_reader(write("a.vtr", stream_events(10)));
    sim::injectFault("EvFileReader::readEvents", sim::FaultKind::Fail, "", 1, 0);
    EXPECT_EQ(r->readEvents(5), nullptr);
    EXPECT_EQ(r->readEvents(5)->size(), 5u);
    sim::injectFault("EvFileReader::open", sim::FaultKind::Fail, "", 1, 0);
    EXPECT_FALSE(r->open());
    sim::injectFault("EvFileReader::createFileReader", sim::FaultKind::Fail, "", 1, 0);
    EXPECT_FALSE(EvFileReader::createFileReader(path("a.vtr")));
    sim::injectFault("EvFileReader::seekToTimestamp", sim::FaultKind::OutOfRange, "boom", 1, 0);
    EXPECT_THROW(r->seekToTimestamp(0), std::out_of_range);
    sim::clearFaults();
}

}  // namespace
}  // namespace vantrel::file
