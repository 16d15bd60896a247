#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "file/crc32c.hpp"
#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using testing::stream_events;
namespace fs = std::filesystem;
using Events = std::vector<Event2D>;

// What a damaged file may yield: whole original blocks, in order, with
// damaged ones left out; never an event that was not written.
bool made_of_whole_blocks(const Events& got, const Events& original, std::size_t block) {
    std::size_t pos = 0;
    for (std::size_t b = 0; b < original.size(); b += block) {
        const std::size_t n = std::min(block, original.size() - b);
        if (pos + n > got.size()) continue;
        bool match = true;
        for (std::size_t i = 0; i < n && match; ++i) match = same(got[pos + i], original[b + i]);
        if (match) pos += n;
    }
    return pos == got.size();
}

class RecoveryTest : public testing::FileTest {
protected:
    // Opens and reads everything; nullopt when open() refuses the file.
    std::optional<Events> read_all(const std::string& p, std::vector<EventTriggerIn>* edges = nullptr) {
        auto r = EvFileReader::createFileReader(p);
        if (!r || !r->open()) return std::nullopt;
        std::uint32_t id = 0;
        if (edges) id = r->registerTriggerInCallback([edges](const EventTriggerIn& e) { edges->push_back(e); });
        Events all;
        while (!r->isEndReached()) {
            const auto part = r->readEvents(77);
            if (part->empty()) break;
            all.insert(all.end(), part->begin(), part->end());
        }
        if (edges) r->unregisterTriggerInCallback(id);
        // Poking around a damaged file must not crash either.
        std::uint64_t v = 0;
        r->getEventCount(v);
        r->seekToTimestamp(v * 3);
        r->readEventsByTimeIntervalFromEventIndex(v / 2, 100);
        r->readEventsFromTimestamp(0, 10);
        return all;
    }
};

TEST_F(RecoveryTest, EveryTruncationPointKeepsEveryCompleteBlock) {
    auto events = stream_events(60);
    events[25] = Event2D(9999, 3, 7, events[25].timestamp);  // an escape inside a block
    std::vector<EventTriggerIn> edges;
    for (std::size_t i = 0; i < events.size(); i += 4) edges.push_back({1, events[i].timestamp, 2});
    const std::string full = write("full.vtr", events, edges, {10, 3});
    const std::string bytes = bytes_of(full);

    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(full, error));
    ASSERT_FALSE(layout.recovered());
    const std::size_t header_size = static_cast<std::size_t>(layout.eventBlocks().front().offset);

    const std::string cut = path("cut.vtr");
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        put_bytes(cut, bytes.substr(0, length));
        std::vector<EventTriggerIn> got_edges;
        const auto got = read_all(cut, &got_edges);
        if (length < header_size) {
            EXPECT_FALSE(got) << length;
            continue;
        }
        ASSERT_TRUE(got) << length;
        std::size_t complete = 0;
        for (const auto& b : layout.eventBlocks())
            complete += b.offset + kBlockHeaderSize + b.header.payload_size <= length ? b.header.count : 0;
        ASSERT_EQ(got->size(), complete) << length;
        EXPECT_TRUE(same(*got, Events(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(complete))));
        ASSERT_LE(got_edges.size(), edges.size());
        for (std::size_t k = 0; k < got_edges.size(); ++k) EXPECT_EQ(got_edges[k].timestamp, edges[k].timestamp);
    }
    EXPECT_NE(log_text().find("rebuilt the index by scanning"), std::string::npos);
}

TEST_F(RecoveryTest, RandomByteFlipsNeverCrashAndNeverInventEvents) {
    auto events = stream_events(2000);
    events[777].polarity = 9;
    std::vector<EventTriggerIn> edges;
    for (std::size_t i = 0; i < events.size(); i += 100) edges.push_back({0, events[i].timestamp, 1});
    const std::string bytes = bytes_of(write("full.vtr", events, edges, {100, 4}));
    std::mt19937 rng(11);
    const std::string damaged = path("damaged.vtr");
    int opened = 0, lost = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::string copy = bytes;
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) copy[rng() % copy.size()] ^= static_cast<char>(1 + rng() % 255);
        put_bytes(damaged, copy);
        const auto got = read_all(damaged);
        if (!got) continue;
        ++opened;
        ASSERT_TRUE(made_of_whole_blocks(*got, events, 100)) << "trial " << trial;
        if (got->size() < events.size()) ++lost;
    }
    EXPECT_GT(opened, 250);
    EXPECT_GT(lost, 100);  // most flips land in event data
    EXPECT_NE(log_text().find("is damaged (payload checksum mismatch)"), std::string::npos);
}

TEST_F(RecoveryTest, LargeReadsLeaveDamagedBlocksOutAndCloseTheGap) {
    // Reads of many whole blocks are decoded by two threads into place.
    const auto events = stream_events(2000);
    std::string bytes = bytes_of(write("full.vtr", events, {}, {100, 8}));
    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(path("full.vtr"), error));
    for (std::size_t k : {3, 4, 13})
        bytes[layout.eventBlocks()[k].offset + kBlockHeaderSize + 17] ^= 0x20;
    put_bytes(path("damaged.vtr"), bytes);
    Events expected;
    for (std::size_t b = 0; b < 20; ++b)
        if (b != 3 && b != 4 && b != 13)
            expected.insert(expected.end(), events.begin() + static_cast<std::ptrdiff_t>(b * 100),
                            events.begin() + static_cast<std::ptrdiff_t>(b * 100 + 100));
    auto r = EvFileReader::createFileReader(path("damaged.vtr"));
    ASSERT_TRUE(r && r->open());
    EXPECT_TRUE(same(*r->readEvents(1650), Events(expected.begin(), expected.begin() + 1650)));
    EXPECT_TRUE(same(*r->readEvents(5000), Events(expected.begin() + 1650, expected.end())));
    std::uint64_t bytes_read = 0, decoded = 0;
    ASSERT_TRUE(r->getDecodeStatistics(bytes_read, decoded));
    EXPECT_EQ(decoded, expected.size());
    ASSERT_TRUE(r->seekToEventIndex(250));
    EXPECT_TRUE(same(*r->readEvents(900), Events(expected.begin() + 250, expected.begin() + 1150)));
}

TEST_F(RecoveryTest, ADamagedBlockMetWhileSeekingLeavesTheLoadedBlockIntact) {
    // The cursor holds block 2 when a seek first meets damaged block 1: the
    // failed load of block 1 must not leave its bytes in place of block 2's.
    const auto events = stream_events(300);
    std::string bytes = bytes_of(write("full.vtr", events, {}, {100, 8}));
    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(path("full.vtr"), error));
    bytes[layout.eventBlocks()[1].offset + kBlockHeaderSize + 17] ^= 0x20;
    put_bytes(path("damaged.vtr"), bytes);
    auto r = EvFileReader::createFileReader(path("damaged.vtr"));
    ASSERT_TRUE(r && r->open());
    ASSERT_TRUE(r->seekToEventIndex(299));
    EXPECT_TRUE(same(*r->readEvents(1), Events{events[299]}));
    ASSERT_TRUE(r->seekToTimestamp(events[150].timestamp));
    EXPECT_EQ(r->getCurrentEventIndex(), 200u);
    EXPECT_TRUE(same(*r->readEvents(100), Events(events.begin() + 200, events.end())));
    ASSERT_TRUE(r->seekToEventIndex(299));
    EXPECT_TRUE(same(*r->readEventsByTimeIntervalFromTimestamp(events[150].timestamp, 1u << 30),
                     Events(events.begin() + 200, events.end())));
}

TEST_F(RecoveryTest, ScanningSkipsGarbageAndUnknownBlocks) {
    const auto events = stream_events(40);
    std::string bytes = bytes_of(write("full.vtr", events, {}, {10, 4}));
    RecordingFile layout;
    std::string error;
    ASSERT_TRUE(layout.open(path("full.vtr"), error));
    const auto& blocks = layout.eventBlocks();
    const std::size_t data_end = blocks.back().offset + kBlockHeaderSize + blocks.back().header.payload_size;
    bytes.resize(data_end);  // no index, no footer

    // A block of a kind this reader does not know, then plain garbage.
    BlockHeader future;
    future.kind = static_cast<BlockKind>(9);
    future.count = 1;
    future.payload_size = 8;
    unsigned char raw[kBlockHeaderSize];
    encode_block_header(future, raw);
    const std::string unknown = std::string(reinterpret_cast<char*>(raw), sizeof raw) + "8 bytes!";
    const std::string garbage = "VBLK-not-really-a-block" + std::string(300, '\x5a');
    const std::size_t at = static_cast<std::size_t>(blocks[2].offset);
    bytes.insert(at, unknown + garbage);
    put_bytes(path("patched.vtr"), bytes);

    const auto got = read_all(path("patched.vtr"));
    ASSERT_TRUE(got);
    EXPECT_TRUE(same(*got, events));
    EXPECT_NE(log_text().find("damaged bytes at offset"), std::string::npos);
}

TEST_F(RecoveryTest, DamagedIndexFallsBackToScanning) {
    const auto events = stream_events(500);
    std::string bytes = bytes_of(write("full.vtr", events));
    bytes[bytes.size() - kFooterSize - 10] ^= 0x40;  // inside the index
    put_bytes(path("x.vtr"), bytes);
    const auto got = read_all(path("x.vtr"));
    ASSERT_TRUE(got);
    EXPECT_TRUE(same(*got, events));
    EXPECT_NE(log_text().find("the index is corrupt"), std::string::npos);
}

TEST_F(RecoveryTest, WriterKilledMidWayLeavesEveryCompleteBlockReadable) {
    const std::string p = path("killed.vtr");
    constexpr std::size_t kBlock = 50;
    auto block_events = [](std::uint64_t b) {
        Events v;
        for (std::size_t i = 0; i < kBlock; ++i)
            v.emplace_back(static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(b % 480), 1, b * 1000 + i);
        return v;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RecordingWriter w({kBlock, 8});
        if (!w.open(p, {640, 480, "KILLED", 1})) ::_exit(2);
        for (std::uint64_t b = 0;; ++b) {
            const Events v = block_events(b);
            if (!w.add(v.data(), v.size())) ::_exit(3);
        }
    }
    const std::uint64_t block_bytes = kBlockHeaderSize + 4 * kBlock;
    std::uint64_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen < 200 * block_bytes && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        const auto size = fs::file_size(p, ec);
        if (!ec) seen = size;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(seen, 200 * block_bytes);

    const auto got = read_all(p);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size() % kBlock, 0u);
    EXPECT_GE(got->size() / kBlock, (seen - 64) / block_bytes);
    for (std::uint64_t b = 0; b < got->size() / kBlock; ++b) {
        const Events expected = block_events(b);
        ASSERT_TRUE(same(Events(got->begin() + static_cast<std::ptrdiff_t>(b * kBlock),
                                got->begin() + static_cast<std::ptrdiff_t>((b + 1) * kBlock)),
                         expected))
            << b;
    }
}

}  // namespace
}  // namespace vantrel::file
