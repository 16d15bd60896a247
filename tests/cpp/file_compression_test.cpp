// Compressed recordings: what writers store, what readers accept, and that
// a compressed payload can never make a reader write past the size its
// block header states.

#include <gtest/gtest.h>

#include <cstring>

#include "file/block_codec.hpp"
#include "file/crc32c.hpp"
#include "file/recorder.hpp"
#include "file/recording_file.hpp"
#include "file_test_support.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {
namespace {

using testing::same;
using testing::stream_events;
using Events = std::vector<Event2D>;
namespace fs = std::filesystem;

const Compression kZstd = *compression_named("zstd");

class CompressionTest : public testing::FileTest {
protected:
    std::string write_with(const std::string& name, const Events& events, Compression c, BlockLimits limits = {500, 8},
                           const std::vector<EventTriggerIn>& edges = {}) {
        const std::string p = path(name);
        RecordingWriter w(limits, c);
        EXPECT_TRUE(w.open(p, {640, 480, "SER-Z", 42})) << w.error();
        EXPECT_TRUE(w.add(events.data(), events.size()));
        for (const auto& e : edges) EXPECT_TRUE(w.add(e));
        EXPECT_TRUE(w.finish()) << w.error();
        return p;
    }
    static Events read_all(const std::string& p) {
        auto r = EvFileReader::createFileReader(p);
        EXPECT_TRUE(r && r->open());
        return r ? *r->readEvents(~0ull) : Events{};
    }
    static std::uint16_t version_of(const std::string& p) {
        const std::string bytes = bytes_of(p);
        return load<std::uint16_t>(reinterpret_cast<const unsigned char*>(bytes.data()) + 8);
    }
    static std::vector<BlockEntry> event_blocks(const std::string& p) {
        RecordingFile f;
        std::string error;
        EXPECT_TRUE(f.open(p, error)) << error;
        return f.eventBlocks();
    }
    // Replaces event block k's payload with `payload` (checksums and the
    // index's copy of its header made to match, as a faulty writer would).
    void forge_block(const std::string& p, std::size_t k, const std::string& payload) {
        RecordingFile f;
        std::string error;
        ASSERT_TRUE(f.open(p, error)) << error;
        const BlockEntry victim = f.eventBlocks()[k];
        std::string bytes = bytes_of(p);
        const std::size_t old_end = victim.offset + kBlockHeaderSize + victim.header.payload_size;
        ASSERT_EQ(payload.size(), victim.header.payload_size) << "keeps the file layout";
        bytes.replace(victim.offset + kBlockHeaderSize, payload.size(), payload);
        auto* base = reinterpret_cast<unsigned char*>(bytes.data());
        BlockHeader h = victim.header;
        h.payload_crc = crc32c(base + victim.offset + kBlockHeaderSize, h.payload_size);
        encode_block_header(h, base + victim.offset);
        Footer footer;
        ASSERT_TRUE(decode_footer(base + bytes.size() - kFooterSize, footer));
        const std::size_t entries = (footer.index_size - kIndexFixedSize) / kIndexEntrySize;
        for (std::size_t i = 0; i < entries; ++i) {
            unsigned char* entry = base + footer.index_offset + kIndexFixedSize + i * kIndexEntrySize;
            if (load<std::uint64_t>(entry) == victim.offset) std::memcpy(entry + 16, base + victim.offset, kBlockHeaderSize);
        }
        footer.index_crc = crc32c(base + footer.index_offset, footer.index_size);
        encode_footer(footer, base + bytes.size() - kFooterSize);
        ASSERT_LE(old_end, bytes.size());
        put_bytes(p, bytes);
    }
};

TEST_F(CompressionTest, EveryEventSurvivesEitherWayAndOnlyCompressedFilesAreVersionTwo) {
    auto events = stream_events(5000);
    const auto odd = testing::awkward_events();
    events.insert(events.begin() + 2222, odd.begin(), odd.end());
    const std::string plain = write_with("plain.vtr", events, {});
    const std::string packed = write_with("packed.vtr", events, kZstd);
    EXPECT_TRUE(same(read_all(plain), events));
    EXPECT_TRUE(same(read_all(packed), events));
    EXPECT_EQ(version_of(plain), kFormatVersion);
    EXPECT_EQ(version_of(packed), kCompressedFormatVersion);
    EXPECT_LT(fs::file_size(packed), fs::file_size(plain) * 9 / 10);
    for (const BlockEntry& b : event_blocks(plain)) EXPECT_EQ(b.header.codec, Codec::Stored);
    for (const BlockEntry& b : event_blocks(packed)) {
        if (b.header.count < 100) continue;  // the last few events may not shrink
        EXPECT_EQ(b.header.codec, Codec::Zstd);
        EXPECT_LT(b.header.payload_size, event_words_size(b.header));
    }
    // A block too small to shrink is stored as it is, in a compressed file too.
    const std::string tiny = write_with("tiny.vtr", stream_events(3), kZstd);
    EXPECT_EQ(event_blocks(tiny).at(0).header.codec, Codec::Stored);
    EXPECT_TRUE(same(read_all(tiny), stream_events(3)));
}

TEST_F(CompressionTest, BlockHeadersStateTheirCodecOnlyInVersionTwo) {
    BlockHeader h;
    h.kind = BlockKind::Events;
    h.flags = kFlagSorted;
    h.x_bits = 10;
    h.y_bits = 9;
    h.count = 100;
    h.payload_size = 150;  // smaller than the 400 bytes of words
    h.codec = Codec::Zstd;
    unsigned char raw[kBlockHeaderSize];
    encode_block_header(h, raw);
    BlockHeader out;
    std::string error;
    EXPECT_TRUE(decode_block_header(raw, out, error, kCompressedFormatVersion)) << error;
    EXPECT_EQ(out.codec, Codec::Zstd);
    // Version 1 has no codec: the byte is reserved, the payload must be the words.
    EXPECT_FALSE(decode_block_header(raw, out, error, kFormatVersion));
    h.payload_size = 400;
    encode_block_header(h, raw);
    EXPECT_TRUE(decode_block_header(raw, out, error, kFormatVersion)) << error;
    EXPECT_EQ(out.codec, Codec::Stored);
    // Compressed, the payload must be smaller than the words it holds.
    EXPECT_FALSE(decode_block_header(raw, out, error, kCompressedFormatVersion));
    h.payload_size = 0;
    encode_block_header(h, raw);
    EXPECT_FALSE(decode_block_header(raw, out, error, kCompressedFormatVersion));
    h.payload_size = 150;
    h.codec = static_cast<Codec>(7);
    encode_block_header(h, raw);
    EXPECT_FALSE(decode_block_header(raw, out, error, kCompressedFormatVersion));
    EXPECT_NE(error.find("unknown way (codec 7)"), std::string::npos) << error;
    h.kind = BlockKind::Triggers;  // edges are never compressed
    h.codec = Codec::Zstd;
    h.payload_size = 12 * 100;
    encode_block_header(h, raw);
    EXPECT_FALSE(decode_block_header(raw, out, error, kCompressedFormatVersion));
}

TEST_F(CompressionTest, DecompressionStopsAtTheStatedSize) {
    std::vector<std::uint32_t> words(4096);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint32_t>(i * 2654435761u) & 0x0FFF0FFF;
    BlockCompressor compressor(kZstd);
    std::vector<unsigned char> packed;
    ASSERT_TRUE(compressor.compress(words.data(), words.size() * 4, packed));
    BlockDecompressor decompressor;
    std::string why;
    std::vector<std::uint32_t> back(words.size() + 4, 0xAAAAAAAAu);  // a guard after the stated size
    ASSERT_TRUE(decompressor.decompress(Codec::Zstd, packed.data(), packed.size(), back.data(), words.size() * 4, why))
        << why;
    EXPECT_TRUE(std::equal(words.begin(), words.end(), back.begin()));
    // Stated smaller than what the data hold: refused, nothing written past it.
    std::fill(back.begin(), back.end(), 0xAAAAAAAAu);
    EXPECT_FALSE(decompressor.decompress(Codec::Zstd, packed.data(), packed.size(), back.data(), 1024, why));
    for (std::size_t i = 256; i < back.size(); ++i) ASSERT_EQ(back[i], 0xAAAAAAAAu) << i;
    // Stated larger: refused too.
    std::vector<std::uint32_t> room(words.size() * 2);
    EXPECT_FALSE(decompressor.decompress(Codec::Zstd, packed.data(), packed.size(), room.data(), room.size() * 4, why));
    EXPECT_NE(why.find("not the"), std::string::npos) << why;
    // Damaged or cut short: refused, and the context serves the next block.
    std::vector<unsigned char> broken = packed;
    for (std::size_t i = 10; i < broken.size(); i += 7) broken[i] ^= 0x5A;
    EXPECT_FALSE(decompressor.decompress(Codec::Zstd, broken.data(), broken.size(), back.data(), words.size() * 4, why));
    EXPECT_FALSE(decompressor.decompress(Codec::Zstd, packed.data(), packed.size() / 2, back.data(), words.size() * 4, why));
    EXPECT_TRUE(decompressor.decompress(Codec::Zstd, packed.data(), packed.size(), back.data(), words.size() * 4, why));
}

TEST_F(CompressionTest, ForgedCompressedPayloadsAreSkippedLikeDamagedBlocks) {
    // Checksums right, contents wrong: the reader never returns the block,
    // whichever way a read reaches it, and the events around it stay.
    const Events events = stream_events(2000);
    const std::string p = write_with("a.vtr", events, kZstd, {500, 8});
    const auto blocks = event_blocks(p);
    ASSERT_EQ(blocks.size(), 4u);

    // Block 1: bytes that are not a zstd frame at all.
    forge_block(p, 1, std::string(blocks[1].header.payload_size, '\x5A'));
    // Block 2: a valid frame of other words, of a different size.
    {
        std::vector<std::uint32_t> other(300, 7);
        BlockCompressor c(kZstd);
        std::vector<unsigned char> frame;
        ASSERT_TRUE(c.compress(other.data(), other.size() * 4, frame));
        std::string payload(reinterpret_cast<const char*>(frame.data()), frame.size());
        ASSERT_LE(payload.size(), blocks[2].header.payload_size);
        // Padding after the frame is another, damaged, frame.
        payload.resize(blocks[2].header.payload_size, '\0');
        forge_block(p, 2, payload);
    }
    Events expected(events.begin(), events.begin() + 500);
    expected.insert(expected.end(), events.begin() + 1500, events.end());
    EXPECT_TRUE(same(read_all(p), expected));
    auto r = EvFileReader::createFileReader(p);
    ASSERT_TRUE(r && r->open());
    EXPECT_TRUE(same(*r->readEventsFromEventIndex(700, 10), Events(events.begin() + 1500, events.begin() + 1510)));
    EXPECT_TRUE(r->seekToTimestamp(events[1200].timestamp));
    EXPECT_EQ(r->getCurrentEventIndex(), 1500u);
    const std::string log = log_text();
    EXPECT_NE(log.find("compressed payload is damaged"), std::string::npos) << log;
}

TEST_F(CompressionTest, ExportsKeepTheSourcesKindAndScansRecoverCompressedFiles) {
    const Events events = stream_events(3000);
    std::vector<EventTriggerIn> edges;
    for (std::size_t i = 0; i < events.size(); i += 100) edges.push_back({1, events[i].timestamp, 3});
    const std::string packed = write_with("packed.vtr", events, kZstd, {400, 8}, edges);
    auto r = EvFileReader::createFileReader(packed);
    ASSERT_TRUE(r && r->open());
    const std::uint64_t a = events[1000].timestamp, b = events[2000].timestamp;
    ASSERT_TRUE(r->exportEventsToRaw(a, b, path("part.vtr")));
    EXPECT_EQ(version_of(path("part.vtr")), kCompressedFormatVersion);
    Events inside;
    for (const auto& e : events)
        if (e.timestamp >= a && e.timestamp <= b) inside.push_back(e);
    EXPECT_TRUE(same(read_all(path("part.vtr")), inside));
    auto plain = EvFileReader::createFileReader(write_with("plain.vtr", events, {}));
    ASSERT_TRUE(plain && plain->open());
    ASSERT_TRUE(plain->exportEventsToRaw(a, b, path("plain-part.vtr")));
    EXPECT_EQ(version_of(path("plain-part.vtr")), kFormatVersion);

    // A writer that died: no index; the scan finds every compressed block.
    std::string bytes = bytes_of(packed);
    RecordingFile f;
    std::string error;
    ASSERT_TRUE(f.open(packed, error));
    const BlockEntry& last = f.eventBlocks().back();
    bytes.resize(last.offset + kBlockHeaderSize + last.header.payload_size / 2);  // cut inside the last block
    put_bytes(path("cut.vtr"), bytes);
    const Events got = read_all(path("cut.vtr"));
    EXPECT_TRUE(same(got, Events(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(last.first_record))));
}

TEST_F(CompressionTest, LiveRecordingsFollowTheProcessWideChoice) {
    ASSERT_EQ(name_of(default_compression()), "none");
    const Events events = stream_events(20000);
    set_default_compression(kZstd);
    auto recorder = Recorder::start(path("live.vtr"), {640, 480, "LIVE", 1});
    set_default_compression({});
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->push(std::make_shared<const Events>(events)));
    EXPECT_TRUE(recorder->stop());
    EXPECT_EQ(version_of(path("live.vtr")), kCompressedFormatVersion);
    EXPECT_TRUE(same(read_all(path("live.vtr")), events));
    // Names: the table's, the default first.
    EXPECT_EQ(compression_names(), (std::vector<std::string>{"none", "zstd"}));
    EXPECT_FALSE(compression_named("gzip"));
}

}  // namespace
}  // namespace vantrel::file
