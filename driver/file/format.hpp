#pragma once

// Byte layout of a recording (docs/file_format.md describes it in full):
//
//   file header | block | block | ... | index | footer
//
// Every integer is little-endian. Blocks hold either events (packed 32-bit
// words) or trigger-in edges; each carries CRC-32C checksums of its header
// and of its payload. The index repeats every block header with its offset,
// and the fixed-size footer at the very end locates the index. A file whose
// footer is missing or damaged is read by scanning its blocks.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vantrel::file {

static_assert(std::endian::native == std::endian::little,
              "the recording format is little-endian and is read in place");

// --- file header -----------------------------------------------------------

inline constexpr unsigned char kFileMagic[8] = {0x89, 'V', 'T', 'R', 'L', '\r', '\n', 0x1A};
// Version 1 stores every block as it is; version 2 may compress event
// blocks (the block header names the codec). Writers use version 1 unless
// they compress, so that older readers refuse only what they cannot read.
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::uint16_t kCompressedFormatVersion = 2;
inline constexpr std::size_t kHeaderFixedSize = 32;  // before the serial number
inline constexpr std::size_t kMaxSerialSize = 65535;

// What a recording's header says about its camera.
struct RecordingInfo {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::string serial;
    std::int64_t local_time_ticks = 0;  // 100 ns units since the Unix epoch
};

// --- blocks ----------------------------------------------------------------

inline constexpr unsigned char kBlockMagic[4] = {'V', 'B', 'L', 'K'};
inline constexpr std::size_t kBlockHeaderSize = 64;

enum class BlockKind : std::uint8_t { Events = 1, Triggers = 2 };

// How a block's payload is stored (version 2 files; version 1 has only
// Stored). A compressed event payload decompresses to the words the block
// would hold stored.
enum class Codec : std::uint8_t { Stored = 0, Zstd = 1 };

// Event block flag: timestamps never decrease from one event to the next.
inline constexpr std::uint8_t kFlagSorted = 0x01;

// A block holds at most this many records; readers refuse larger counts, so
// a damaged count can never make them allocate without bound.
inline constexpr std::uint32_t kMaxBlockRecords = 1u << 20;

// Event word: x in the low x_bits, then y_bits of y, one polarity bit, and
// the time since the previous event in the remaining (delta) bits. A delta
// of all ones marks an escape: the next four words hold the event in full.
inline constexpr std::size_t kEscapeWords = 4;
inline constexpr unsigned kMaxCoordinateBits = 16;
inline constexpr unsigned kMinDeltaBits = 4;  // x_bits + y_bits <= 27

inline constexpr std::size_t kTriggerRecordSize = 12;  // u64 timestamp, i16 id, i16 polarity

struct BlockHeader {
    BlockKind kind = BlockKind::Events;
    std::uint8_t flags = 0;
    std::uint8_t x_bits = 0;
    std::uint8_t y_bits = 0;
    std::uint32_t count = 0;         // events or edges
    std::uint32_t escape_count = 0;  // event blocks: escaped events
    std::uint64_t first_timestamp = 0;
    std::uint64_t last_timestamp = 0;
    std::uint64_t min_timestamp = 0;
    std::uint64_t max_timestamp = 0;
    std::uint32_t payload_size = 0;  // bytes in the file
    std::uint32_t payload_crc = 0;   // of those bytes
    Codec codec = Codec::Stored;
};

// Bytes of an event block's words: its stored payload, or what its
// compressed payload decompresses to.
inline std::uint64_t event_words_size(const BlockHeader& h) {
    return 4ull * (std::uint64_t{h.count} + 4ull * h.escape_count);
}

// Field layout of an event word for given coordinate widths.
struct WordLayout {
    unsigned x_bits = 0;
    unsigned y_bits = 0;

    unsigned polarity_shift() const { return x_bits + y_bits; }
    unsigned delta_shift() const { return x_bits + y_bits + 1; }
    std::uint32_t x_mask() const { return (1u << x_bits) - 1u; }
    std::uint32_t y_mask() const { return (1u << y_bits) - 1u; }
    std::uint32_t escape_delta() const { return 0xFFFFFFFFu >> delta_shift(); }
    bool valid() const {
        return x_bits <= kMaxCoordinateBits && y_bits <= kMaxCoordinateBits &&
               x_bits + y_bits + 1 + kMinDeltaBits <= 32;
    }
};

// --- index and footer ------------------------------------------------------

inline constexpr unsigned char kIndexMagic[4] = {'V', 'I', 'D', 'X'};
inline constexpr std::size_t kIndexFixedSize = 24;
inline constexpr std::size_t kIndexEntrySize = 16 + kBlockHeaderSize;

inline constexpr unsigned char kFooterMagic[8] = {'V', 'T', 'R', 'L', 'E', 'N', 'D', 0x1A};
inline constexpr std::size_t kFooterSize = 32;

struct Footer {
    std::uint64_t index_offset = 0;
    std::uint64_t index_size = 0;
    std::uint32_t index_crc = 0;
};

// --- little-endian field access --------------------------------------------

template <class T>
inline T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

template <class T>
inline void store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof(T));
}

// --- serialisation (format.cpp) ----------------------------------------------

// Header bytes, checksum included.
std::string encode_file_header(const RecordingInfo& info, std::uint16_t version = kFormatVersion);
// Size the header occupies (32 + serial + 4) when `fixed` (the first 32 bytes)
// starts a valid header; 0 otherwise.
std::size_t file_header_size(const unsigned char* fixed);
// Whether a reader of this driver reads files of this format version.
inline bool readable_version(std::uint16_t version) {
    return version == kFormatVersion || version == kCompressedFormatVersion;
}
// Parses and checks a complete header of `size` bytes; `version` (if not
// null) receives its format version.
bool decode_file_header(const unsigned char* data, std::size_t size, RecordingInfo& info,
                        std::string& error, std::uint16_t* version = nullptr);

void encode_block_header(const BlockHeader& h, unsigned char* out);
// Checks magic and header checksum, then that the fields are consistent
// (payload size, counts, coordinate widths, timestamp order, codec), as a
// file of format `version` lays them out.
bool decode_block_header(const unsigned char* in, BlockHeader& h, std::string& error,
                         std::uint16_t version = kFormatVersion);

void encode_footer(const Footer& f, unsigned char* out);
bool decode_footer(const unsigned char* in, Footer& f);

}  // namespace vantrel::file
