#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "file/crc32c.hpp"
#include "file/event_codec.hpp"
#include "file/format.hpp"
#include "file_test_support.hpp"

namespace vantrel::file {
namespace {

using testing::awkward_events;
using testing::same;
using testing::stream_events;

std::uint32_t crc_bitwise(const unsigned char* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
    }
    return ~c;
}

TEST(Crc32c, KnownValuesAndPiecewiseExtension) {
    EXPECT_EQ(crc32c("123456789", 9), 0xE3069283u);
    const std::vector<unsigned char> zeros(32, 0), ones(32, 0xFF);
    EXPECT_EQ(crc32c(zeros.data(), 32), 0x8A9136AAu);
    EXPECT_EQ(crc32c(ones.data(), 32), 0x62A8AB43u);
    EXPECT_EQ(crc32c(nullptr, 0), 0u);

    std::mt19937 rng(7);
    std::vector<unsigned char> data(1000);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    for (std::size_t off : {0, 1, 3, 7}) {
        for (std::size_t len : {0, 1, 5, 8, 9, 63, 500, 993}) {
            const unsigned char* p = data.data() + off;
            ASSERT_EQ(crc32c(p, len), crc_bitwise(p, len)) << off << " " << len;
            const std::size_t cut = len / 3;
            EXPECT_EQ(crc32c_extend(crc32c(p, cut), p + cut, len - cut), crc32c(p, len));
        }
    }
    // Long inputs go through parallel lanes that are joined afterwards.
    std::vector<unsigned char> big(200'001);
    for (auto& b : big) b = static_cast<unsigned char>(rng());
    for (std::size_t len : {12'287, 12'288, 12'289, 40'000, 200'001})
        EXPECT_EQ(crc32c(big.data() + 1, len - 1), crc_bitwise(big.data() + 1, len - 1)) << len;
}

TEST(WordLayout, FitsTheSensorAndAlwaysLeavesDeltaBits) {
    const WordLayout vga = layout_for_sensor(640, 480);
    EXPECT_EQ(vga.x_bits, 10u);
    EXPECT_EQ(vga.y_bits, 9u);
    EXPECT_EQ(vga.escape_delta(), 4095u);
    EXPECT_EQ(layout_for_sensor(1, 1).x_bits, 0u);
    EXPECT_EQ(layout_for_sensor(0, 0).y_bits, 0u);
    EXPECT_EQ(layout_for_sensor(1024, 1024).x_bits, 10u);
    const WordLayout huge = layout_for_sensor(65535, 65535);
    EXPECT_TRUE(huge.valid());
    EXPECT_EQ(huge.x_bits + huge.y_bits, 27u);
}

// Encodes into one block and returns header and payload.
struct Block {
    BlockHeader header;
    std::vector<std::uint32_t> words;
};

Block encode(const std::vector<Event2D>& events, WordLayout layout) {
    EventBlockEncoder enc(layout);
    for (const auto& e : events) enc.add(e);
    std::size_t size = 0;
    const unsigned char* bytes = enc.finish(size);
    Block b;
    std::string error;
    EXPECT_TRUE(decode_block_header(bytes, b.header, error)) << error;
    b.words.resize((size - kBlockHeaderSize) / 4);
    std::memcpy(b.words.data(), bytes + kBlockHeaderSize, size - kBlockHeaderSize);
    EXPECT_EQ(crc32c(b.words.data(), b.words.size() * 4), b.header.payload_crc);
    return b;
}

std::vector<Event2D> decode_all(const Block& b, std::size_t step) {
    std::vector<Event2D> out(b.header.count);
    DecodeState s = DecodeState::at_start(b.header);
    for (std::size_t i = 0; i < out.size(); i += step)
        decode_events(b.words.data(), b.header, s, std::min(step, out.size() - i), out.data() + i);
    EXPECT_EQ(s.word, b.words.size());
    return out;
}

TEST(EventCodec, EveryEventSurvivesExactly) {
    for (const WordLayout layout : {layout_for_sensor(640, 480), layout_for_sensor(1, 1),
                                    layout_for_sensor(65535, 65535)}) {
        for (const auto& events : {awkward_events(), stream_events(3000), stream_events(1)}) {
            const Block b = encode(events, layout);
            std::string error;
            ASSERT_TRUE(validate_event_payload(b.words.data(), b.header, error)) << error;
            for (std::size_t step : {1, 7, 5000}) EXPECT_TRUE(same(decode_all(b, step), events));
        }
    }
}

TEST(EventCodec, SensorStreamsPackIntoOneWordPerEvent) {
    const auto events = stream_events(5000);
    const Block b = encode(events, layout_for_sensor(640, 480));
    EXPECT_EQ(b.header.escape_count, 0u);
    EXPECT_EQ(b.words.size(), events.size());
    EXPECT_EQ(b.header.flags & kFlagSorted, kFlagSorted);
    EXPECT_EQ(b.header.first_timestamp, events.front().timestamp);
    EXPECT_EQ(b.header.last_timestamp, events.back().timestamp);

    const Block odd = encode(awkward_events(), layout_for_sensor(640, 480));
    EXPECT_EQ(odd.header.flags & kFlagSorted, 0);
    EXPECT_EQ(odd.header.min_timestamp, 0u);
    EXPECT_EQ(odd.header.max_timestamp, ~0ull);
}

TEST(EventCodec, SkipLandsWhereDecodingWould) {
    for (const auto& events : {awkward_events(), stream_events(500)}) {
        const Block b = encode(events, layout_for_sensor(640, 480));
        for (std::size_t k = 0; k < events.size(); ++k) {
            DecodeState s = DecodeState::at_start(b.header);
            skip_events(b.words.data(), b.header, s, k);
            Event2D e;
            decode_events(b.words.data(), b.header, s, 1, &e);
            ASSERT_TRUE(testing::same(e, events[k])) << k;
        }
    }
}

TEST(EventCodec, ValidationRefusesPayloadsThatDisagreeWithTheirHeader) {
    const Block plain = encode(stream_events(50), layout_for_sensor(640, 480));
    const Block escaped = encode(awkward_events(), layout_for_sensor(640, 480));
    std::string error;
    auto refused = [&](Block b, auto&& change) {
        change(b);
        return !validate_event_payload(b.words.data(), b.header, error);
    };
    EXPECT_TRUE(refused(plain, [](Block& b) { b.words[3] += 1u << 20; }));  // a delta grows
    EXPECT_TRUE(refused(plain, [](Block& b) { b.words[0] |= 1u << 20; }));  // first delta not 0
    EXPECT_TRUE(refused(plain, [](Block& b) { b.words[5] |= 0xFFFu << 20; }));  // stray escape
    EXPECT_TRUE(refused(plain, [](Block& b) { b.header.max_timestamp += 1; }));
    EXPECT_TRUE(refused(escaped, [](Block& b) { b.words[4] = 0x100; }));  // polarity word
    EXPECT_TRUE(refused(escaped, [](Block& b) { b.words[0] |= 1; }));     // reserved bits
    EXPECT_TRUE(refused(escaped, [](Block& b) { b.header.flags |= kFlagSorted; }));
    EXPECT_TRUE(refused(escaped, [](Block& b) {  // count says one event fewer
        b.header.count -= 1;
    }));
    EXPECT_FALSE(refused(plain, [](Block&) {}));
    EXPECT_FALSE(refused(escaped, [](Block&) {}));

    // Decoding a whole block checks the same as it goes.
    std::vector<Event2D> out(plain.header.count);
    auto decoded_ok = [&](Block b, auto&& change) {
        change(b);
        return decode_block_checked(b.words.data(), b.header, out.data());
    };
    EXPECT_TRUE(decoded_ok(plain, [](Block&) {}));
    EXPECT_TRUE(same(out, stream_events(50)));
    EXPECT_FALSE(decoded_ok(plain, [](Block& b) { b.words[3] += 1u << 20; }));
    EXPECT_FALSE(decoded_ok(plain, [](Block& b) { b.words[0] |= 1u << 20; }));
    EXPECT_FALSE(decoded_ok(plain, [](Block& b) { b.words[49] |= 0xFFFu << 20; }));  // in the scalar tail
    EXPECT_FALSE(decoded_ok(plain, [](Block& b) { b.words[8] |= 0xFFFu << 20; }));   // in a vector step
    EXPECT_FALSE(decoded_ok(plain, [](Block& b) { b.header.min_timestamp -= 1; }));
}

TEST(FormatHeaders, RoundTripAndRefuseDamage) {
    RecordingInfo info{1280, 720, std::string("cam\0era-\xc3\xa9", 10), -42};
    const std::string bytes = encode_file_header(info);
    ASSERT_EQ(bytes.size(), kHeaderFixedSize + 10 + 4);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    EXPECT_EQ(file_header_size(p), bytes.size());
    RecordingInfo back;
    std::string error;
    ASSERT_TRUE(decode_file_header(p, bytes.size(), back, error)) << error;
    EXPECT_EQ(back.width, 1280);
    EXPECT_EQ(back.height, 720);
    EXPECT_EQ(back.serial, info.serial);
    EXPECT_EQ(back.local_time_ticks, -42);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string damaged = bytes;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x10);
        EXPECT_FALSE(decode_file_header(reinterpret_cast<const unsigned char*>(damaged.data()),
                                        damaged.size(), back, error))
            << "byte " << i;
    }

    BlockHeader h;
    h.kind = BlockKind::Triggers;
    h.count = 3;
    h.first_timestamp = h.min_timestamp = 10;
    h.last_timestamp = h.max_timestamp = 30;
    h.payload_size = 36;
    unsigned char raw[kBlockHeaderSize];
    encode_block_header(h, raw);
    BlockHeader out;
    ASSERT_TRUE(decode_block_header(raw, out, error)) << error;
    EXPECT_EQ(out.count, 3u);
    raw[9] ^= 1;
    EXPECT_FALSE(decode_block_header(raw, out, error));
    h.payload_size = 40;  // not three edges
    encode_block_header(h, raw);
    EXPECT_FALSE(decode_block_header(raw, out, error));
    h.payload_size = 36;
    h.first_timestamp = 5;  // outside [min, max]
    encode_block_header(h, raw);
    EXPECT_FALSE(decode_block_header(raw, out, error));
}

}  // namespace
}  // namespace vantrel::file
