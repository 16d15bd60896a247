// Recordings damaged in the ways a stress harness found to matter: a byte
// deleted inside a block, a flipped bit in the first block, time going
// backwards next to damage, and a path that became a FIFO before open().
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using testing::stream_events;
using Events = std::vector<Event2D>;

Events piece(const Events& v, std::size_t from, std::size_t to) {
    return Events(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
}

Events joined(std::initializer_list<Events> parts) {
    Events all;
    for (const Events& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::size_t first_index_at(const Events& v, std::uint64_t t) {
    std::size_t i = 0;
    while (i < v.size() && v[i].timestamp < t) ++i;
    return i;
}

class DamageTest : public testing::FileTest {
protected:
    std::unique_ptr<EvFileReader> open_reader(const std::string& p) {
        auto r = EvFileReader::createFileReader(p);
        EXPECT_TRUE(r);
        if (r) {
            EXPECT_TRUE(r->open());
        }
        return r;
    }
    // File offsets of the event blocks of an intact recording.
    std::vector<BlockEntry> blocks_of(const std::string& p) {
        RecordingFile layout;
        std::string error;
        EXPECT_TRUE(layout.open(p, error)) << error;
        return layout.eventBlocks();
    }
    // Flips one bit in the payload of event block k.
    void damage_block(const std::string& p, std::size_t k) {
        std::string bytes = bytes_of(p);
        bytes[blocks_of(p)[k].offset + kBlockHeaderSize + 9] ^= 0x04;
        put_bytes(p, bytes);
    }
};

TEST_F(DamageTest, ADeletedByteCostsOnlyTheBlockItIsIn) {
    const Events events = stream_events(300);
    const std::string p = write("a.vtr", events, {}, {100, 8});
    const auto blocks = blocks_of(p);
    std::string bytes = bytes_of(p);
    bytes.erase(blocks[0].offset + kBlockHeaderSize + 50, 1);
    put_bytes(p, bytes);

    const auto r = open_reader(p);
    EXPECT_TRUE(same(*r->readEvents(1000), piece(events, 100, 300)));
    EXPECT_NE(log_text().find("rebuilt the index by scanning"), std::string::npos);

    // Bytes inserted, and a block cut short by a later one, likewise.
    bytes = bytes_of(write("b.vtr", events, {}, {100, 8}));
    bytes.insert(blocks[1].offset + kBlockHeaderSize + 7, "xyz");
    bytes.erase(blocks[2].offset + 3 + kBlockHeaderSize + 20, 150);
    put_bytes(path("b.vtr"), bytes);
    EXPECT_TRUE(same(*open_reader(path("b.vtr"))->readEvents(1000), piece(events, 0, 100)));
    bytes = bytes_of(write("c.vtr", events, {}, {100, 8}));
    bytes.erase(blocks[0].offset + kBlockHeaderSize + 20, 200);  // block 1's header survives
    put_bytes(path("c.vtr"), bytes);
    EXPECT_TRUE(same(*open_reader(path("c.vtr"))->readEvents(1000), piece(events, 100, 300)));
}

TEST_F(DamageTest, ASearchEndsAtTheIndexInsteadOfTakingItsHeaderCopiesForBlocks) {
    const Events events = stream_events(500);
    const std::string p = write("a.vtr", events, {}, {100, 8});
    const auto blocks = blocks_of(p);
    std::string bytes = bytes_of(p);
    bytes.erase(blocks[4].offset + kBlockHeaderSize + 10, 1);  // the last block, then its index
    bytes[bytes.size() - 10] ^= 1;                            // and the footer
    put_bytes(p, bytes);
    EXPECT_TRUE(same(*open_reader(p)->readEvents(1000), piece(events, 0, 400)));
    const std::string log = log_text();
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("is damaged"), 1u) << log;
    EXPECT_EQ(count("is incomplete"), 0u) << log;
}

TEST_F(DamageTest, IntervalReadsFromAfterAnEarlierLateTimestamp) {
    // Block 0 ends with one late event; block 1 lies well below it.
    Events events;
    for (int i = 0; i < 99; ++i) events.emplace_back(1, 1, 0, 5000 + i);
    events.emplace_back(1, 1, 0, 1'000'000);
    for (int i = 0; i < 100; ++i) events.emplace_back(2, 2, 1, 20000 + i);
    const auto r = open_reader(write("late.vtr", events, {}, {100, 8}));
    ASSERT_TRUE(r->seekToEventIndex(100));
    EXPECT_TRUE(same(*r->readEventsByTimeInterval(50), piece(events, 100, 150)));
    EXPECT_EQ(r->getCurrentEventIndex(), 150u);
    EXPECT_TRUE(same(*r->readEventsByTimeIntervalFromEventIndex(100, 50), piece(events, 100, 150)));
    // Event 99 is the first in file order at or after 20010: nothing lies before it.
    EXPECT_TRUE(r->readEventsByTimeIntervalFromTimestamp(20010, 20)->empty());
    EXPECT_EQ(r->getCurrentEventIndex(), 99u);
}

TEST_F(DamageTest, IntervalReadsGoOnPastADamagedBlockThatReachedTheirEnd) {
    // t: 0..99, 20000..20099 (damaged), 200..299
    Events events;
    for (int b = 0; b < 3; ++b)
        for (int i = 0; i < 100; ++i) events.emplace_back(1, 1, 0, (b == 1 ? 20000 : b * 100) + i);
    const std::string p = write("a.vtr", events, {}, {100, 8});
    damage_block(p, 1);
    const auto r = open_reader(p);
    const Events expected = joined({piece(events, 50, 100), piece(events, 200, 300)});
    EXPECT_TRUE(same(*r->readEventsByTimeIntervalFromEventIndex(50, 1000), expected));
    EXPECT_TRUE(r->isEndReached());
    ASSERT_TRUE(r->seekToEventIndex(50));
    EXPECT_TRUE(same(*r->readEventsByTimeInterval(200), joined({piece(events, 50, 100), piece(events, 200, 250)})));
    EXPECT_EQ(r->getCurrentEventIndex(), 250u);
}

TEST_F(DamageTest, EdgesBeforeTheFirstReadableEventArriveWithTheFirstRead) {
    const Events events = stream_events(400, 5000);
    std::vector<EventTriggerIn> edges{{0, 1000, 1}, {1, 2000, 1}};
    for (std::size_t i = 0; i < events.size(); i += 50) edges.push_back({0, events[i].timestamp, 2});
    const std::string p = write("a.vtr", events, edges, {100, 4096});
    damage_block(p, 0);
    // Reading from the start covers every edge, those in the damaged block's time too.
    const std::vector<EventTriggerIn>& expected = edges;

    using Read = std::function<void(EvFileReader&)>;
    const std::vector<std::pair<const char*, Read>> first_reads{
        {"readEvents", [](EvFileReader& r) { r.readEvents(10); }},
        {"readEventsByTimeInterval", [](EvFileReader& r) { r.readEventsByTimeInterval(10); }},
        {"readEventsFromEventIndex(0)", [](EvFileReader& r) { r.readEventsFromEventIndex(0, 10); }},
        {"readEventsByTimeIntervalFromEventIndex(0)",
         [](EvFileReader& r) { r.readEventsByTimeIntervalFromEventIndex(0, 10); }},
    };
    for (const auto& [name, first_read] : first_reads) {
        const auto r = open_reader(p);
        std::vector<EventTriggerIn> got;
        r->registerTriggerInCallback([&](const EventTriggerIn& e) { got.push_back(e); });
        first_read(*r);
        r->readEvents(1000);
        ASSERT_EQ(got.size(), expected.size()) << name;
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k].timestamp, expected[k].timestamp) << name;
    }
}

TEST_F(DamageTest, ReturningToABlockAfterMeetingADamagedOneReadsItsOwnEvents) {
    // Found by fuzzing: loading the damaged block overwrote the buffer that
    // still counted as holding the block before it, whose events a seek back
    // then decoded from the damaged bytes.
    const Events events = stream_events(300);
    const std::string p = write("a.vtr", events, {}, {100, 8});
    damage_block(p, 2);
    const auto r = open_reader(p);
    EXPECT_TRUE(same(*r->readEvents(200), piece(events, 0, 200)));  // ends after meeting block 2
    EXPECT_TRUE(r->isEndReached());
    ASSERT_TRUE(r->seekToEventIndex(150));
    EXPECT_TRUE(same(*r->readEvents(10), piece(events, 150, 160)));
    EXPECT_TRUE(same(*r->readEventsFromEventIndex(100, 100), piece(events, 100, 200)));
    ASSERT_TRUE(r->seekToTimestamp(events[120].timestamp));
    EXPECT_TRUE(same(*r->readEventsByTimeInterval(~0ull / 2), joined({piece(events, first_index_at(events, events[120].timestamp), 200)})));
}

TEST_F(DamageTest, ASeekThatFindsNothingStaysPutWhenOnlyADamagedBlockReachedTheTime) {
    // Found by fuzzing: the seek entered the damaged block that seemed to
    // reach the time, found nothing after it, and was left at the end.
    Events events;
    events.emplace_back(1, 1, 0, 1'000'000);
    for (int i = 1; i < 100; ++i) events.emplace_back(1, 1, 0, i);
    for (int i = 0; i < 100; ++i) events.emplace_back(1, 1, 0, 200 + i);
    const std::string p = write("a.vtr", events, {}, {100, 8});
    damage_block(p, 0);
    const auto r = open_reader(p);
    EXPECT_TRUE(same(*r->readEvents(10), piece(events, 100, 110)));
    EXPECT_FALSE(r->seekToTimestamp(500'000));
    EXPECT_EQ(r->getCurrentEventIndex(), 110u);
    EXPECT_TRUE(r->readEventsFromTimestamp(500'000, 5)->empty());
    EXPECT_TRUE(same(*r->readEvents(5), piece(events, 110, 115)));
}

TEST_F(DamageTest, OpenRefusesAPathThatBecameAFifo) {
    const std::string p = write("a.vtr", stream_events(10));
    auto r = EvFileReader::createFileReader(p);
    ASSERT_TRUE(r);
    ASSERT_EQ(::unlink(p.c_str()), 0);
    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] { return r->open(); });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int unblock = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);  // lets the reader's open return
        opened.wait();
        if (unblock >= 0) ::close(unblock);
        FAIL() << "open() waited for a writer on the FIFO";
    }
    EXPECT_FALSE(opened.get());
    EXPECT_NE(log_text().find("is not a regular file"), std::string::npos);
    EXPECT_FALSE(EvFileReader::createFileReader(p));
}

}  // namespace
}  // namespace vantrel::file
