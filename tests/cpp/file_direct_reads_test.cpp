// Reads into caller memory (DirectEventReads) against the reads that return
// vectors: same events, same position, same trigger edges, whatever the
// memory's capacity, on intact files, files whose time goes backwards and
// damaged ones.

#include <gtest/gtest.h>

#include <random>

#include "file/format.hpp"
#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/direct_reads.hpp"
#include "vantrel/file_reader.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using testing::stream_events;
using Events = std::vector<Event2D>;
using Kind = EventReadRequest::Kind;

constexpr Kind kKinds[] = {Kind::Count,    Kind::CountFromTimestamp,    Kind::CountFromIndex,
                           Kind::Interval, Kind::IntervalFromTimestamp, Kind::IntervalFromIndex};

struct Opened {
    std::unique_ptr<EvFileReader> reader;
    Events edges;  // trigger edges delivered, as events for comparing
    DirectEventReads* direct() { return dynamic_cast<DirectEventReads*>(reader.get()); }
};

class DirectReadsTest : public testing::FileTest {
protected:
    Opened open_reader(const std::string& p) {
        Opened o{EvFileReader::createFileReader(p), {}};
        EXPECT_TRUE(o.reader && o.reader->open());
        auto* edges = &o.edges;
        o.reader->registerTriggerInCallback([edges](const EventTriggerIn& e) {
            edges->emplace_back(static_cast<std::uint16_t>(e.id), 0, 0, e.timestamp);
        });
        return o;
    }

    static Events vector_read(EvFileReader& r, const EventReadRequest& q) {
        std::shared_ptr<Events> got;
        switch (q.kind) {
            case Kind::Count: got = r.readEvents(q.amount); break;
            case Kind::CountFromTimestamp: got = r.readEventsFromTimestamp(q.from, q.amount); break;
            case Kind::CountFromIndex: got = r.readEventsFromEventIndex(q.from, q.amount); break;
            case Kind::Interval: got = r.readEventsByTimeInterval(q.amount); break;
            case Kind::IntervalFromTimestamp: got = r.readEventsByTimeIntervalFromTimestamp(q.from, q.amount); break;
            case Kind::IntervalFromIndex: got = r.readEventsByTimeIntervalFromEventIndex(q.from, q.amount); break;
        }
        return got ? *got : Events{};
    }

    // The direct read with memory of `capacity(bound)` events; `spilled`
    // tells whether any went past it.
    template <class Capacity>
    static Events direct_read(DirectEventReads& r, const EventReadRequest& q, Capacity&& capacity, bool& spilled) {
        const std::size_t room = capacity(static_cast<std::size_t>(r.eventReadBound(q)));
        Events memory(room + 1);
        memory[room] = Event2D(7, 7, 7, 7);  // a guard right after the room given
        Events overflow;
        const std::size_t n = r.readEventsInto(q, memory.data(), room, overflow);
        EXPECT_LE(n, room);
        EXPECT_TRUE(same(memory[room], Event2D(7, 7, 7, 7))) << "wrote past its room";
        spilled = !overflow.empty();
        memory.resize(n);
        memory.insert(memory.end(), overflow.begin(), overflow.end());
        return memory;
    }

    // Random reads of every kind on two readers of the same file, one
    // through vectors, one into memory; everything observable must agree.
    template <class Capacity>
    int compare_readers(const std::string& p, const Events& events, Capacity&& capacity, unsigned seed) {
        Opened a = open_reader(p), b = open_reader(p);
        EXPECT_NE(b.direct(), nullptr);
        if (!b.direct()) return 0;
        std::mt19937_64 rng(seed);
        const std::uint64_t t_end = events.empty() ? 10 : events.back().timestamp + 20;
        int spills = 0;
        for (int trial = 0; trial < 300; ++trial) {
            EventReadRequest q;
            q.kind = kKinds[rng() % 6];
            const bool by_time = q.kind == Kind::CountFromTimestamp || q.kind == Kind::IntervalFromTimestamp;
            q.from = by_time ? rng() % t_end : rng() % (events.size() + 3);
            const bool interval = q.kind >= Kind::Interval;
            q.amount = rng() % 8 == 0 ? ~0ull - rng() % 3 : rng() % (interval ? 400 : 700);
            const Events expected = vector_read(*a.reader, q);
            bool spilled = false;
            const Events got = direct_read(*b.direct(), q, capacity, spilled);
            spills += spilled;
            EXPECT_TRUE(same(got, expected)) << "trial " << trial << " kind " << int(q.kind) << " from " << q.from
                                            << " amount " << q.amount << ": " << got.size() << " vs "
                                            << expected.size();
            EXPECT_EQ(b.reader->getCurrentEventIndex(), a.reader->getCurrentEventIndex()) << trial;
            EXPECT_EQ(b.reader->getCurrentTimestamp(), a.reader->getCurrentTimestamp()) << trial;
            EXPECT_EQ(b.reader->isEndReached(), a.reader->isEndReached()) << trial;
            if (rng() % 5 == 0) {  // move both somewhere else now and then
                const std::uint64_t k = rng() % (events.size() + 1);
                EXPECT_EQ(a.reader->seekToEventIndex(k), b.reader->seekToEventIndex(k));
            }
        }
        EXPECT_TRUE(same(b.edges, a.edges)) << "trigger edges differ";
        return spills;
    }

    static std::vector<EventTriggerIn> edges_among(const Events& events) {
        std::vector<EventTriggerIn> edges;
        for (std::size_t i = 0; i < events.size(); i += 37) {
            EventTriggerIn e{};
            e.id = static_cast<std::int16_t>(i % 1000);
            e.timestamp = events[i].timestamp;
            edges.push_back(e);
        }
        return edges;
    }
};

TEST_F(DirectReadsTest, BoundsHoldEveryReadOfAnIntactFileInOrder) {
    auto events = stream_events(2500);
    const std::string p = write("a.vtr", events, edges_among(events), {128, 16});
    const int spills = compare_readers(p, events, [](std::size_t bound) { return bound; }, 1);
    EXPECT_EQ(spills, 0) << "a bound from the index fell short on an intact file";
}

TEST_F(DirectReadsTest, MemoryTooSmallSpillsIntoTheOverflowInOrder) {
    auto events = stream_events(2500);
    const auto odd = testing::awkward_events();  // escapes, and time going backwards
    events.insert(events.begin() + 1000, odd.begin(), odd.end());
    const std::string p = write("a.vtr", events, edges_among(events), {128, 16});
    EXPECT_GT(compare_readers(p, events, [](std::size_t bound) { return bound / 2; }, 2), 0);
    EXPECT_GT(compare_readers(p, events, [](std::size_t) { return std::size_t{0}; }, 3), 0);
    compare_readers(p, events, [](std::size_t bound) { return bound; }, 4);
}

TEST_F(DirectReadsTest, FilesWhoseTimeGoesBackwardsAndDamagedBlocksReadAlike) {
    Events events;
    std::mt19937 rng(5);
    for (int b = 0; b < 12; ++b)  // blocks of 100 whose time ranges interleave
        for (int i = 0; i < 100; ++i)
            events.emplace_back(static_cast<std::uint16_t>(rng() % 640), static_cast<std::uint16_t>(rng() % 480), 1,
                                static_cast<std::uint64_t>((b % 3) * 5000 + b * 100 + i * 3));
    const std::string p = write("a.vtr", events, edges_among(events), {100, 8});
    compare_readers(p, events, [](std::size_t bound) { return bound; }, 6);
    compare_readers(p, events, [](std::size_t bound) { return bound / 3; }, 7);

    // One flipped payload bit: that block's events are never returned, by
    // either kind of read, and bounds may fall short of reads that go past it.
    std::string bytes = bytes_of(p);
    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(p, error)) << error;
    bytes[layout.eventBlocks()[4].offset + kBlockHeaderSize + 9] ^= 0x04;
    put_bytes(p, bytes);
    compare_readers(p, events, [](std::size_t bound) { return bound; }, 8);
    compare_readers(p, events, [](std::size_t bound) { return bound / 2; }, 9);
}

TEST_F(DirectReadsTest, BoundsOfReadsByTimeStayNearTheEventsFound) {
    // A whole recording read by time is bounded by what it holds, and a
    // short window by the blocks it touches: the caller's memory stays near
    // the result's size.
    const auto events = stream_events(10000);
    const std::string p = write("a.vtr", events, {}, {1000, 8});
    Opened o = open_reader(p);
    auto& direct = *o.direct();
    EXPECT_EQ(direct.eventReadBound({Kind::IntervalFromTimestamp, 0, ~0ull}), events.size());
    EXPECT_EQ(direct.eventReadBound({Kind::Count, 0, ~0ull}), events.size());
    EXPECT_EQ(direct.eventReadBound({Kind::CountFromIndex, 9990, 100}), 10u);
    EXPECT_EQ(direct.eventReadBound({Kind::CountFromIndex, 10000, 100}), 0u);
    const std::uint64_t t = events[4500].timestamp;
    EXPECT_LE(direct.eventReadBound({Kind::IntervalFromTimestamp, t, 50}), 2000u);
    EXPECT_LE(direct.eventReadBound({Kind::IntervalFromIndex, 4500, 50}), 2000u);
    EXPECT_EQ(direct.eventReadBound({Kind::IntervalFromTimestamp, events.back().timestamp + 1, 50}), 0u);
    ASSERT_TRUE(o.reader->seekToEventIndex(9999));
    EXPECT_EQ(direct.eventReadBound({Kind::Count, 0, 5}), 1u);
    EXPECT_EQ(o.reader->getCurrentEventIndex(), 9999u);  // a bound moves nothing
}

TEST_F(DirectReadsTest, ClosedReadersAndInjectedFaultsReadNothing) {
    const std::string p = write("a.vtr", stream_events(300));
    auto r = EvFileReader::createFileReader(p);
    auto* direct = dynamic_cast<DirectEventReads*>(r.get());
    ASSERT_NE(direct, nullptr);
    Events memory(10), overflow;
    EXPECT_EQ(direct->eventReadBound({Kind::Count, 0, 10}), 0u);  // not open yet
    EXPECT_EQ(direct->readEventsInto({Kind::Count, 0, 10}, memory.data(), 10, overflow), 0u);
    EXPECT_NE(log_text().find("readEvents: the file is not open"), std::string::npos);
    ASSERT_TRUE(r->open());
    sim::injectFault("EvFileReader::readEventsFromEventIndex", sim::FaultKind::Fail, "", 1, 0);
    EXPECT_EQ(direct->readEventsInto({Kind::CountFromIndex, 5, 10}, memory.data(), 10, overflow), 0u);
    EXPECT_EQ(r->getCurrentEventIndex(), 0u);
    EXPECT_EQ(direct->readEventsInto({Kind::CountFromIndex, 5, 10}, memory.data(), 10, overflow), 10u);
    EXPECT_TRUE(overflow.empty());
    sim::clearFaults();
}

}  // namespace
}  // namespace vantrel::file
