#include "file/format.hpp"

#include "file/crc32c.hpp"

namespace vantrel::file {

// File header:  0 magic[8] | 8 version u16 | 10 flags u16 | 12 width u16 |
// 14 height u16 | 16 local_time_ticks i64 | 24 serial_size u32 |
// 28 reserved u32 | 32 serial | 32+n crc u32

std::string encode_file_header(const RecordingInfo& info, std::uint16_t version) {
    std::string out(kHeaderFixedSize + info.serial.size() + 4, '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    std::memcpy(p, kFileMagic, 8);
    store<std::uint16_t>(p + 8, version);
    store<std::uint16_t>(p + 10, 0);
    store<std::uint16_t>(p + 12, info.width);
    store<std::uint16_t>(p + 14, info.height);
    store<std::int64_t>(p + 16, info.local_time_ticks);
    store<std::uint32_t>(p + 24, static_cast<std::uint32_t>(info.serial.size()));
    store<std::uint32_t>(p + 28, 0);
    std::memcpy(p + kHeaderFixedSize, info.serial.data(), info.serial.size());
    const std::size_t body = kHeaderFixedSize + info.serial.size();
    store<std::uint32_t>(p + body, crc32c(p, body));
    return out;
}

std::size_t file_header_size(const unsigned char* fixed) {
    if (std::memcmp(fixed, kFileMagic, 8) != 0) return 0;
    const auto serial_size = load<std::uint32_t>(fixed + 24);
    if (serial_size > kMaxSerialSize) return 0;
    return kHeaderFixedSize + serial_size + 4;
}

bool decode_file_header(const unsigned char* data, std::size_t size, RecordingInfo& info,
                        std::string& error, std::uint16_t* version_out) {
    if (size < kHeaderFixedSize || std::memcmp(data, kFileMagic, 8) != 0) {
        error = "not a recording (no recording signature at the start of the file)";
        return false;
    }
    const auto version = load<std::uint16_t>(data + 8);
    if (!readable_version(version)) {
        error = "unsupported recording format version " + std::to_string(version);
        return false;
    }
    if (file_header_size(data) != size) {
        error = "recording header has an invalid size";
        return false;
    }
    const std::size_t body = size - 4;
    if (crc32c(data, body) != load<std::uint32_t>(data + body)) {
        error = "recording header is corrupt (checksum mismatch)";
        return false;
    }
    info.width = load<std::uint16_t>(data + 12);
    info.height = load<std::uint16_t>(data + 14);
    info.local_time_ticks = load<std::int64_t>(data + 16);
    info.serial.assign(reinterpret_cast<const char*>(data + kHeaderFixedSize),
                       body - kHeaderFixedSize);
    if (version_out != nullptr) *version_out = version;
    return true;
}

// Block header: 0 magic[4] | 4 kind u8 | 5 flags u8 | 6 x_bits u8 |
// 7 y_bits u8 | 8 count u32 | 12 escape_count u32 | 16 first_ts u64 |
// 24 last_ts u64 | 32 min_ts u64 | 40 max_ts u64 | 48 payload_size u32 |
// 52 payload_crc u32 | 56 codec u8 (version 2; reserved in version 1) |
// 57 reserved[3] | 60 header_crc u32

void encode_block_header(const BlockHeader& h, unsigned char* out) {
    std::memcpy(out, kBlockMagic, 4);
    out[4] = static_cast<unsigned char>(h.kind);
    out[5] = h.flags;
    out[6] = h.x_bits;
    out[7] = h.y_bits;
    store<std::uint32_t>(out + 8, h.count);
    store<std::uint32_t>(out + 12, h.escape_count);
    store<std::uint64_t>(out + 16, h.first_timestamp);
    store<std::uint64_t>(out + 24, h.last_timestamp);
    store<std::uint64_t>(out + 32, h.min_timestamp);
    store<std::uint64_t>(out + 40, h.max_timestamp);
    store<std::uint32_t>(out + 48, h.payload_size);
    store<std::uint32_t>(out + 52, h.payload_crc);
    store<std::uint32_t>(out + 56, 0);
    out[56] = static_cast<unsigned char>(h.codec);
    store<std::uint32_t>(out + 60, crc32c(out, 60));
}

bool decode_block_header(const unsigned char* in, BlockHeader& h, std::string& error, std::uint16_t version) {
    if (std::memcmp(in, kBlockMagic, 4) != 0) {
        error = "no block signature";
        return false;
    }
    if (crc32c(in, 60) != load<std::uint32_t>(in + 60)) {
        error = "block header checksum mismatch";
        return false;
    }
    h.kind = static_cast<BlockKind>(in[4]);
    h.flags = in[5];
    h.x_bits = in[6];
    h.y_bits = in[7];
    h.count = load<std::uint32_t>(in + 8);
    h.escape_count = load<std::uint32_t>(in + 12);
    h.first_timestamp = load<std::uint64_t>(in + 16);
    h.last_timestamp = load<std::uint64_t>(in + 24);
    h.min_timestamp = load<std::uint64_t>(in + 32);
    h.max_timestamp = load<std::uint64_t>(in + 40);
    h.payload_size = load<std::uint32_t>(in + 48);
    h.payload_crc = load<std::uint32_t>(in + 52);
    h.codec = version >= kCompressedFormatVersion ? static_cast<Codec>(in[56]) : Codec::Stored;

    // A header that passes its checksum can still have been written by a
    // faulty writer; nothing below may let it drive a read out of bounds.
    if (h.count == 0 || h.count > kMaxBlockRecords) {
        error = "block record count out of range";
        return false;
    }
    if (h.min_timestamp > h.max_timestamp || h.first_timestamp < h.min_timestamp ||
        h.first_timestamp > h.max_timestamp || h.last_timestamp < h.min_timestamp ||
        h.last_timestamp > h.max_timestamp) {
        error = "block timestamps inconsistent";
        return false;
    }
    switch (h.kind) {
        case BlockKind::Events: {
            const WordLayout layout{h.x_bits, h.y_bits};
            if (!layout.valid() || h.escape_count > h.count) {
                error = "event block layout inconsistent";
                return false;
            }
            // Stored, the payload is the words; compressed, it is smaller
            // than they are (a writer stores what would not shrink).
            const std::uint64_t words = event_words_size(h);
            const bool sized = h.codec == Codec::Stored ? h.payload_size == words
                               : h.codec == Codec::Zstd ? h.payload_size > 0 && h.payload_size < words
                                                        : false;
            if (!sized) {
                error = h.codec == Codec::Stored || h.codec == Codec::Zstd
                            ? "event block layout inconsistent"
                            : "event block compressed in an unknown way (codec " +
                                  std::to_string(static_cast<unsigned>(h.codec)) + ")";
                return false;
            }
            if ((h.flags & kFlagSorted) != 0 &&
                (h.first_timestamp != h.min_timestamp || h.last_timestamp != h.max_timestamp)) {
                error = "event block marked sorted but its timestamps are not";
                return false;
            }
            return true;
        }
        case BlockKind::Triggers:
            if (h.codec != Codec::Stored ||
                std::uint64_t{h.payload_size} != kTriggerRecordSize * std::uint64_t{h.count}) {
                error = "trigger block layout inconsistent";
                return false;
            }
            return true;
    }
    // Kinds this reader does not know are skipped whole by their payload size.
    return true;
}

// Footer: 0 index_offset u64 | 8 index_size u64 | 16 index_crc u32 |
// 20 footer_crc u32 (over bytes 0..19) | 24 magic[8]

void encode_footer(const Footer& f, unsigned char* out) {
    store<std::uint64_t>(out, f.index_offset);
    store<std::uint64_t>(out + 8, f.index_size);
    store<std::uint32_t>(out + 16, f.index_crc);
    store<std::uint32_t>(out + 20, crc32c(out, 20));
    std::memcpy(out + 24, kFooterMagic, 8);
}

bool decode_footer(const unsigned char* in, Footer& f) {
    if (std::memcmp(in + 24, kFooterMagic, 8) != 0) return false;
    if (crc32c(in, 20) != load<std::uint32_t>(in + 20)) return false;
    f.index_offset = load<std::uint64_t>(in);
    f.index_size = load<std::uint64_t>(in + 8);
    f.index_crc = load<std::uint32_t>(in + 16);
    return true;
}

}  // namespace vantrel::file
