// Seeks by time into blocks seen before read only the run of words that
// holds the event: they must land exactly where a full decode would, and
// never hand out words that a later load finds damaged.

#include <gtest/gtest.h>

#include <random>

#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using Events = std::vector<Event2D>;

std::size_t oracle_seek(const Events& v, std::uint64_t t) {
    std::size_t i = 0;
    while (i < v.size() && v[i].timestamp < t) ++i;
    return i;
}

Events events_from(const Events& v, std::size_t from, std::size_t n) {
    const std::size_t to = std::min(v.size(), from + n);
    return Events(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
}

class SeekMarksTest : public testing::FileTest {
protected:
    std::unique_ptr<EvFileReader> open_reader(const std::string& p) {
        auto r = EvFileReader::createFileReader(p);
        EXPECT_TRUE(r && r->open());
        return r;
    }
};

// Blocks of 20000 events (several runs each): runs of equal timestamps,
// gaps that need escapes, and one block where time goes backwards.
Events awkward_stream() {
    Events events;
    std::mt19937 rng(11);
    std::uint64_t t = 100;
    for (int i = 0; i < 90000; ++i) {
        if (rng() % 3 == 0) t += rng() % 5;
        if (i % 7919 == 0) t += 1u << 20;  // past the delta field: an escape
        std::uint64_t ts = t;
        if (i >= 45000 && i < 45100) ts -= 3;  // backwards, in the third block only
        events.emplace_back(static_cast<std::uint16_t>(i % 640), static_cast<std::uint16_t>(i % 480), i & 1, ts);
    }
    return events;
}

TEST_F(SeekMarksTest, RepeatedSeeksLandWhereAFullDecodeDoes) {
    const Events events = awkward_stream();
    const std::string p = write("a.vtr", events, {}, {20000, 8});
    auto r = open_reader(p);
    std::mt19937 rng(5);
    std::vector<std::uint64_t> stamps;
    for (int i = 0; i < 150; ++i) stamps.push_back(events[rng() % events.size()].timestamp + rng() % 3);
    // Exactly the timestamps around the runs' edges (runs of 1024 events).
    for (std::size_t block = 0; block < events.size(); block += 20000)
        for (std::size_t edge = block + 1024; edge < std::min(events.size(), block + 20000); edge += 1024)
            for (std::size_t at : {edge - 1, edge}) stamps.push_back(events[at].timestamp);
    stamps.push_back(events.front().timestamp);
    stamps.push_back(events.back().timestamp);
    // The first pass sees each block whole; the later ones use the marks,
    // in a different order and between other kinds of reads.
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t n = 0; n < stamps.size(); ++n) {
            const std::uint64_t t = stamps[pass == 1 ? stamps.size() - 1 - n : n];
            const std::size_t i = oracle_seek(events, t);
            ASSERT_TRUE(r->seekToTimestamp(t)) << t;
            ASSERT_EQ(r->getCurrentEventIndex(), i) << "pass " << pass << " t " << t;
            ASSERT_EQ(r->getCurrentTimestamp(), events[i].timestamp);
            if (n % 3 == 0) ASSERT_TRUE(same(*r->readEvents(5000), events_from(events, i, 5000)));
            if (n % 3 == 1) ASSERT_TRUE(same(*r->readEventsFromTimestamp(t, 33), events_from(events, i, 33)));
            if (n % 3 == 2) {
                const std::size_t k = rng() % events.size();
                ASSERT_TRUE(r->seekToEventIndex(k));
                ASSERT_TRUE(same(*r->readEvents(10), events_from(events, k, 10)));
            }
        }
    }
    EXPECT_TRUE(log_text().empty()) << log_text();
    EXPECT_FALSE(r->seekToTimestamp(events.back().timestamp + 1));
}

TEST_F(SeekMarksTest, ABlockDamagedAfterItsMarksIsSkippedWhenItsEventsAreRead) {
    Events events = testing::stream_events(80000);
    const std::string p = write("a.vtr", events, {}, {20000, 8});
    auto r = open_reader(p);
    const std::uint64_t t = events[25000].timestamp;
    ASSERT_TRUE(r->seekToTimestamp(t));  // block 1 seen whole
    ASSERT_TRUE(r->seekToTimestamp(events[70000].timestamp));  // another block loaded

    // Block 1 changes on disk: a flipped byte in its payload.
    RecordingFile f;
    std::string error;
    ASSERT_TRUE(f.open(p, error)) << error;
    const BlockEntry b = f.eventBlocks()[1];
    std::string bytes = bytes_of(p);
    bytes[b.offset + kBlockHeaderSize + b.header.payload_size / 2] ^= 0x40;
    put_bytes(p, bytes);

    // The seek finds the event from the run it reads; the block's events are
    // used only once the whole block loads, which it no longer does.
    ASSERT_TRUE(r->seekToTimestamp(t));
    EXPECT_EQ(r->getCurrentEventIndex(), oracle_seek(events, t));
    EXPECT_TRUE(same(*r->readEvents(100), events_from(events, 40000, 100)));
    EXPECT_NE(log_text().find("event block 1 at offset"), std::string::npos) << log_text();
    // From now on the block is known bad: seeks into it go past it.
    ASSERT_TRUE(r->seekToTimestamp(t));
    EXPECT_EQ(r->getCurrentEventIndex(), 40000u);
}

}  // namespace
}  // namespace vantrel::file
