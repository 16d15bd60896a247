#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file/block_codec.hpp"
#include "file/format.hpp"
#include "vantrel/events.hpp"

namespace vantrel::file {

// One block as the index (or a scan) describes it.
struct BlockEntry {
    std::uint64_t offset = 0;        // of the block header in the file
    std::uint64_t first_record = 0;  // index of its first event (or edge) in the file
    BlockHeader header;
    unsigned char raw[kBlockHeaderSize] = {};  // header bytes, compared on load
};

// A block as loaded: its header, then its payload words (decompressed when
// the file holds them compressed), from word 16 on. Keeps what loading
// needs from one block to the next; one per thread that loads blocks.
class BlockBuffer {
public:
    const std::uint32_t* payload() const { return words_.data() + kBlockHeaderSize / 4; }

private:
    friend class RecordingFile;
    std::vector<std::uint32_t> words_;
    std::vector<unsigned char> packed_;  // a compressed block's bytes as read
    BlockDecompressor decompressor_;
};

// An open recording: its header, and the list of its event and trigger
// blocks, from the index or, when the index is missing or damaged, from a
// scan that keeps every intact block. Loads and checks block payloads on
// demand. Not thread-safe, except that different event blocks may be
// loaded (and rejected) by several threads at once.
class RecordingFile {
public:
    RecordingFile() = default;
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    // False, with `error` saying why, when the file is not a readable
    // recording. Recovery by scanning is logged as a warning.
    bool open(const std::string& path, std::string& error);

    const std::string& path() const { return path_; }
    const RecordingInfo& info() const { return info_; }
    // Format version of the file (2: event blocks may be compressed).
    std::uint16_t version() const { return version_; }
    const std::vector<BlockEntry>& eventBlocks() const { return events_; }
    const std::vector<BlockEntry>& triggerBlocks() const { return triggers_; }
    std::uint64_t eventCount() const { return event_count_; }
    std::uint64_t triggerCount() const { return trigger_count_; }
    bool recovered() const { return recovered_; }
    // True when event timestamps never decrease across the whole file.
    bool monotonic() const { return monotonic_; }
    // Whether `other` names this same file (so writing it would destroy it).
    bool isSameFile(const std::string& other) const;

    // First event block holding an event with timestamp >= t (so every
    // earlier block holds only smaller ones); eventBlocks().size() if none.
    std::size_t firstEventBlockReaching(std::uint64_t t) const;
    // The same among blocks `from` and later that are not known to be
    // damaged: where a read from block `from` meets its first event >= t.
    std::size_t firstEventBlockReaching(std::uint64_t t, std::size_t from) const;
    // Smallest event timestamp in blocks k and later (max of u64 past the end).
    std::uint64_t eventFloor(std::size_t k) const {
        return k < event_floor_.size() ? event_floor_[k] : ~0ull;
    }
    // Event block holding the n-th event (n < eventCount()).
    std::size_t eventBlockOf(std::uint64_t n) const;

    // Reads a block (header and payload) into `buffer` and checks its
    // checksums, decompressing a compressed payload. The content of a block with
    // escapes is checked too (decoding it relies on that); a block without
    // is checked by the caller, with validate_event_payload or
    // decode_block_checked, before any of its events are used. False when
    // the block is damaged: it is then marked bad, logged once, and never
    // loaded again.
    bool loadEventBlock(std::size_t k, BlockBuffer& buffer);
    // Marks a block bad because its content disagrees with its header.
    void rejectEventBlock(std::size_t k, const std::string& why);
    bool isBadEventBlock(std::size_t k) const { return bad_events_[k] != 0; }
    // Reads words [first, first + n) of a stored event block's payload, as
    // they are: unchecked, for a block whose whole payload was checked
    // before (the file is not expected to change while it is open). False
    // for a compressed or bad block, words beyond it, or a failed read.
    bool readEventWords(std::size_t k, std::size_t first, std::size_t n, std::uint32_t* out);

    // Appends the edges with lo <= timestamp <= hi, in file order.
    void edgesBetween(std::uint64_t lo, std::uint64_t hi, std::vector<EventTriggerIn>& out);

    std::uint64_t bytesRead() const { return bytes_read_.load(std::memory_order_relaxed); }

private:
    bool read_at(std::uint64_t offset, void* data, std::size_t size);
    bool read_index(std::string& reason);
    void scan_blocks();
    // Offset of the first valid block header at or after `from`, or of the
    // index if that comes first (then `at_index`); 0 if there is neither.
    std::uint64_t find_next_block(std::uint64_t from, bool& at_index);
    bool index_starts_at(std::uint64_t offset);
    // `content`: also check that an event payload agrees with its header.
    bool load_block(const BlockEntry& e, BlockBuffer& buffer, std::string& reason, bool content);
    bool load_trigger_block(std::size_t k);
    void finish_lists();

    int fd_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t header_size_ = 0;
    std::uint16_t version_ = kFormatVersion;
    RecordingInfo info_;
    std::vector<BlockEntry> events_;
    std::vector<BlockEntry> triggers_;
    std::vector<std::uint64_t> event_reach_;    // running maximum of event timestamps per block
    std::vector<std::uint64_t> event_floor_;    // minimum event timestamp from a block on
    std::vector<std::uint64_t> trigger_reach_;  // running maximum of edge timestamps
    std::vector<std::uint64_t> trigger_floor_;  // minimum edge timestamp from a block on
    std::vector<unsigned char> bad_events_;
    std::vector<unsigned char> bad_triggers_;
    std::uint64_t event_count_ = 0;
    std::uint64_t trigger_count_ = 0;
    bool recovered_ = false;
    bool monotonic_ = true;
    std::atomic<std::uint64_t> bytes_read_{0};

    std::size_t cached_trigger_block_ = static_cast<std::size_t>(-1);
    std::vector<EventTriggerIn> cached_edges_;
    BlockBuffer scratch_;
};

}  // namespace vantrel::file
