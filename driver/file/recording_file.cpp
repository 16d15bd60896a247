#include "file/recording_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/utf8.hpp"
#include "file/crc32c.hpp"
#include "file/event_codec.hpp"
#include "io/file_access.hpp"
#include "log/log.hpp"

namespace vantrel::file {

namespace {

constexpr std::size_t kHeaderWords = kBlockHeaderSize / 4;
constexpr std::size_t kScanChunk = 1 << 20;

}  // namespace

RecordingFile::~RecordingFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecordingFile::read_at(std::uint64_t offset, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // error, or the file shrank under us
        bytes_read_ += static_cast<std::uint64_t>(n);
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool RecordingFile::open(const std::string& path, std::string& error) {
    path_ = path;
    io::ReadableFile file;
    if (!io::open_for_reading(path, ~0ull, file, error)) return false;
    fd_ = file.fd.release();
    size_ = file.size;

    unsigned char fixed[kHeaderFixedSize];
    if (size_ < kHeaderFixedSize || !read_at(0, fixed, sizeof fixed)) {
        error = "not a recording (the file is too short to hold a recording header)";
        return false;
    }
    if (std::memcmp(fixed, kFileMagic, 8) != 0) {
        error = "not a recording (no recording signature at the start of the file)";
        return false;
    }
    if (!readable_version(load<std::uint16_t>(fixed + 8))) {
        error = "unsupported recording format version " +
                std::to_string(load<std::uint16_t>(fixed + 8));
        return false;
    }
    header_size_ = file_header_size(fixed);
    if (header_size_ == 0 || header_size_ > size_) {
        error = "recording header is truncated or has an invalid size";
        return false;
    }
    std::vector<unsigned char> header(header_size_);
    if (!read_at(0, header.data(), header.size()) ||
        !decode_file_header(header.data(), header.size(), info_, error, &version_))
        return false;
    if (!text::is_utf8(info_.serial)) {
        // Python reads the serial number as text; keep what can be kept.
        info_.serial = text::to_utf8(info_.serial);
        log::warning("recording ", path_, ": the serial number in its header is not UTF-8; read as '",
                     info_.serial, "'");
    }

    std::string reason;
    if (!read_index(reason)) {
        events_.clear();
        triggers_.clear();
        recovered_ = true;
        scan_blocks();
        std::uint64_t events = 0, edges = 0;
        for (const BlockEntry& e : events_) events += e.header.count;
        for (const BlockEntry& e : triggers_) edges += e.header.count;
        log::warning("recording ", path_, ": ",
                     reason.empty() ? "no index (its writer did not finish the file)" : reason,
                     "; rebuilt the index by scanning: ", events, " events and ", edges,
                     " trigger edges in ", events_.size() + triggers_.size(), " intact blocks");
    }
    finish_lists();
    return true;
}

bool RecordingFile::read_index(std::string& reason) {
    if (size_ < header_size_ + kFooterSize) return false;
    unsigned char tail[kFooterSize];
    if (!read_at(size_ - kFooterSize, tail, sizeof tail)) return false;
    Footer f;
    if (!decode_footer(tail, f)) {
        if (std::memcmp(tail + 24, kFooterMagic, 8) == 0) reason = "the footer is corrupt";
        return false;
    }
    reason = "the index is damaged";
    const std::uint64_t data_end = size_ - kFooterSize;
    if (f.index_offset < header_size_ || f.index_offset > data_end ||
        f.index_size != data_end - f.index_offset || f.index_size < kIndexFixedSize ||
        (f.index_size - kIndexFixedSize) % kIndexEntrySize != 0)
        return false;
    const std::uint64_t entries = (f.index_size - kIndexFixedSize) / kIndexEntrySize;
    // Every entry stands for a block of at least a header and one word.
    if (entries > (f.index_offset - header_size_) / (kBlockHeaderSize + 4)) return false;

    std::vector<unsigned char> index(f.index_size);
    if (!read_at(f.index_offset, index.data(), index.size())) return false;
    if (crc32c(index.data(), index.size()) != f.index_crc) {
        reason = "the index is corrupt (checksum mismatch)";
        return false;
    }
    const unsigned char* p = index.data();
    if (std::memcmp(p, kIndexMagic, 4) != 0 || load<std::uint32_t>(p + 4) != entries) return false;
    const auto event_total = load<std::uint64_t>(p + 8);
    const auto edge_total = load<std::uint64_t>(p + 16);

    std::uint64_t next_free = header_size_, events = 0, edges = 0;
    std::string why;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const unsigned char* e = p + kIndexFixedSize + i * kIndexEntrySize;
        BlockEntry entry;
        entry.offset = load<std::uint64_t>(e);
        entry.first_record = load<std::uint64_t>(e + 8);
        std::memcpy(entry.raw, e + 16, kBlockHeaderSize);
        if (!decode_block_header(entry.raw, entry.header, why, version_)) return false;
        const std::uint64_t end = entry.offset + kBlockHeaderSize + entry.header.payload_size;
        if (entry.offset < next_free || entry.offset > f.index_offset || end > f.index_offset)
            return false;
        next_free = end;
        if (entry.header.kind == BlockKind::Events) {
            if (entry.first_record != events) return false;
            events += entry.header.count;
            events_.push_back(entry);
        } else if (entry.header.kind == BlockKind::Triggers) {
            if (entry.first_record != edges) return false;
            edges += entry.header.count;
            triggers_.push_back(entry);
        }
    }
    if (events != event_total || edges != edge_total) return false;
    reason.clear();
    return true;
}

bool RecordingFile::load_block(const BlockEntry& e, BlockBuffer& buffer, std::string& reason, bool content) {
    const bool packed = e.header.codec != Codec::Stored;
    const std::size_t stored = kBlockHeaderSize + e.header.payload_size;
    const std::size_t words = packed ? kBlockHeaderSize + static_cast<std::size_t>(event_words_size(e.header)) : stored;
    if (buffer.words_.size() < words / 4) buffer.words_.resize(words / 4);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(buffer.words_.data());
    if (packed) {
        if (buffer.packed_.size() < stored) buffer.packed_.resize(stored);
        bytes = buffer.packed_.data();
    }
    if (!read_at(e.offset, bytes, stored)) {
        reason = "cannot be read (the file is shorter than its index says)";
        return false;
    }
    if (std::memcmp(bytes, e.raw, kBlockHeaderSize) != 0) {
        reason = "its header differs from the index";
        return false;
    }
    if (crc32c(bytes + kBlockHeaderSize, e.header.payload_size) != e.header.payload_crc) {
        reason = "payload checksum mismatch";
        return false;
    }
    if (packed) {
        // Only bytes whose checksum matched reach the decompressor, which
        // fills exactly the words the header states.
        std::memcpy(buffer.words_.data(), bytes, kBlockHeaderSize);
        if (!buffer.decompressor_.decompress(e.header.codec, bytes + kBlockHeaderSize, e.header.payload_size,
                                             buffer.words_.data() + kHeaderWords, words - kBlockHeaderSize, reason))
            return false;
    }
    const std::uint32_t* payload = buffer.words_.data() + kHeaderWords;
    if (content && e.header.kind == BlockKind::Events)
        return validate_event_payload(payload, e.header, reason);
    return true;
}

void RecordingFile::scan_blocks() {
    std::uint64_t pos = header_size_;
    std::uint64_t events = 0, edges = 0;
    unsigned char raw[kBlockHeaderSize];
    while (pos + kBlockHeaderSize <= size_) {
        if (!read_at(pos, raw, sizeof raw)) break;
        BlockEntry entry;
        std::string why;
        if (decode_block_header(raw, entry.header, why, version_)) {
            const std::uint64_t end = pos + kBlockHeaderSize + entry.header.payload_size;
            entry.offset = pos;
            std::memcpy(entry.raw, raw, sizeof raw);
            const bool known =
                entry.header.kind == BlockKind::Events || entry.header.kind == BlockKind::Triggers;
            const bool complete = end <= size_;
            if (!complete || (known && !load_block(entry, scratch_, why, true))) {
                // The header is intact but the bytes after it are not the
                // payload it describes: bytes went missing or were added, or
                // the writer stopped inside the block. Whatever follows may
                // start anywhere after the header, so look for it there
                // rather than trusting the stated payload size.
                if (complete)
                    log::error("recording ", path_, ": the block at offset ", pos, " is damaged (", why,
                               "); its ", entry.header.count, " records are skipped");
                else
                    log::warning("recording ", path_, ": the block at offset ", pos,
                                 " is incomplete (the file ends inside it)");
                bool at_index = false;
                const std::uint64_t next = find_next_block(pos + kBlockHeaderSize, at_index);
                if (next == 0 || at_index) break;
                if (!complete)
                    log::error("recording ", path_, ": a block header follows inside the incomplete block at offset ",
                               pos, "; reading goes on at offset ", next);
                pos = next;
                continue;
            }
            if (entry.header.kind == BlockKind::Events) {
                entry.first_record = events;
                events += entry.header.count;
                events_.push_back(entry);
            } else if (entry.header.kind == BlockKind::Triggers) {
                entry.first_record = edges;
                edges += entry.header.count;
                triggers_.push_back(entry);
            }
            pos = end;
            continue;
        }
        // A writer stopped while writing its index leaves it behind the blocks.
        if (std::memcmp(raw, kIndexMagic, 4) == 0) break;
        bool at_index = false;
        const std::uint64_t next = find_next_block(pos + 1, at_index);
        if (next == 0) {
            log::warning("recording ", path_, ": the ", size_ - pos, " bytes from offset ", pos,
                         " hold no intact block; ignored");
            break;
        }
        log::error("recording ", path_, ": ", next - pos, " damaged bytes at offset ", pos,
                   " skipped");
        if (at_index) break;
        pos = next;
    }
}

bool RecordingFile::index_starts_at(std::uint64_t offset) {
    // The index's own checksum is in the footer, which may be damaged: judge
    // by its extent. An index whose entries end where the file or its footer
    // does has nothing after it, so stopping there skips no block.
    unsigned char head[8];
    const std::uint64_t room = size_ - offset;
    if (room < kIndexFixedSize || !read_at(offset, head, sizeof head)) return false;
    if (std::memcmp(head, kIndexMagic, 4) != 0) return false;
    const std::uint64_t size = kIndexFixedSize + kIndexEntrySize * std::uint64_t{load<std::uint32_t>(head + 4)};
    return room == size || room == size + kFooterSize;
}

std::uint64_t RecordingFile::find_next_block(std::uint64_t from, bool& at_index) {
    at_index = false;
    std::vector<unsigned char> chunk;
    unsigned char raw[kBlockHeaderSize];
    while (from + 4 <= size_) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, size_ - from));
        chunk.resize(n);
        if (!read_at(from, chunk.data(), n)) return 0;
        for (std::size_t i = 0; i + 4 <= n; ++i) {
            // Both signatures start with 'V'.
            const void* hit = std::memchr(chunk.data() + i, kBlockMagic[0], n - i);
            if (hit == nullptr) break;
            i = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - chunk.data());
            if (i + 4 > n) break;
            const std::uint64_t candidate = from + i;
            if (std::memcmp(chunk.data() + i, kIndexMagic, 4) == 0) {
                if (index_starts_at(candidate)) {
                    at_index = true;
                    return candidate;
                }
                continue;
            }
            if (std::memcmp(chunk.data() + i, kBlockMagic, 4) != 0) continue;
            if (candidate + kBlockHeaderSize > size_) continue;
            if (!read_at(candidate, raw, sizeof raw)) return 0;
            BlockHeader h;
            std::string why;
            if (decode_block_header(raw, h, why, version_)) return candidate;
        }
        // Overlap by three bytes so that a signature across the seam is seen.
        if (n < kScanChunk) break;
        from += n - 3;
    }
    return 0;
}

void RecordingFile::finish_lists() {
    event_count_ = 0;
    event_reach_.resize(events_.size());
    std::uint64_t reach = 0;
    for (std::size_t k = 0; k < events_.size(); ++k) {
        reach = std::max(reach, events_[k].header.max_timestamp);
        event_reach_[k] = reach;
        event_count_ += events_[k].header.count;
    }
    event_floor_.resize(events_.size());
    std::uint64_t low = ~0ull;
    for (std::size_t k = events_.size(); k-- > 0;) {
        low = std::min(low, events_[k].header.min_timestamp);
        event_floor_[k] = low;
    }
    monotonic_ = true;
    for (std::size_t k = 0; k < events_.size(); ++k) {
        const BlockHeader& h = events_[k].header;
        if ((h.flags & kFlagSorted) == 0 ||
            (k > 0 && h.first_timestamp < events_[k - 1].header.last_timestamp))
            monotonic_ = false;
    }
    trigger_count_ = 0;
    trigger_reach_.resize(triggers_.size());
    trigger_floor_.resize(triggers_.size());
    reach = 0;
    for (std::size_t k = 0; k < triggers_.size(); ++k) {
        reach = std::max(reach, triggers_[k].header.max_timestamp);
        trigger_reach_[k] = reach;
        trigger_count_ += triggers_[k].header.count;
    }
    std::uint64_t floor = ~0ull;
    for (std::size_t k = triggers_.size(); k-- > 0;) {
        floor = std::min(floor, triggers_[k].header.min_timestamp);
        trigger_floor_[k] = floor;
    }
    bad_events_.assign(events_.size(), 0);
    bad_triggers_.assign(triggers_.size(), 0);
}

bool RecordingFile::isSameFile(const std::string& other) const {
    struct stat mine {}, theirs {};
    return ::fstat(fd_, &mine) == 0 && ::stat(other.c_str(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

std::size_t RecordingFile::firstEventBlockReaching(std::uint64_t t) const {
    return static_cast<std::size_t>(std::lower_bound(event_reach_.begin(), event_reach_.end(), t) -
                                    event_reach_.begin());
}

std::size_t RecordingFile::firstEventBlockReaching(std::uint64_t t, std::size_t from) const {
    const std::size_t n = events_.size();
    std::size_t k = from;
    if (from == 0 || (from < n && event_reach_[from - 1] < t)) {
        // Nothing before `from` reaches t, so the running maximum first does
        // at the block sought (or at a damaged one before it).
        k = static_cast<std::size_t>(
            std::lower_bound(event_reach_.begin() + static_cast<std::ptrdiff_t>(from), event_reach_.end(), t) -
            event_reach_.begin());
    }
    // Time went backwards before `from`: the blocks passed here are the
    // ones the read takes whole.
    while (k < n && (bad_events_[k] != 0 || events_[k].header.max_timestamp < t)) ++k;
    return k;
}

std::size_t RecordingFile::eventBlockOf(std::uint64_t n) const {
    const auto it = std::upper_bound(
        events_.begin(), events_.end(), n,
        [](std::uint64_t v, const BlockEntry& e) { return v < e.first_record; });
    return static_cast<std::size_t>(it - events_.begin()) - 1;
}

bool RecordingFile::loadEventBlock(std::size_t k, BlockBuffer& buffer) {
    if (bad_events_[k] != 0) return false;
    std::string why;
    if (load_block(events_[k], buffer, why, events_[k].header.escape_count != 0)) return true;
    rejectEventBlock(k, why);
    return false;
}

bool RecordingFile::readEventWords(std::size_t k, std::size_t first, std::size_t n, std::uint32_t* out) {
    const BlockEntry& e = events_[k];
    if (bad_events_[k] != 0 || e.header.codec != Codec::Stored || first + n > e.header.payload_size / 4) return false;
    return read_at(e.offset + kBlockHeaderSize + 4 * std::uint64_t{first}, out, 4 * n);
}

void RecordingFile::rejectEventBlock(std::size_t k, const std::string& why) {
    if (bad_events_[k] != 0) return;
    bad_events_[k] = 1;
    log::error("recording ", path_, ": event block ", k, " at offset ", events_[k].offset,
               " is damaged (", why, "); its ", events_[k].header.count, " events are skipped");
}

bool RecordingFile::load_trigger_block(std::size_t k) {
    if (k == cached_trigger_block_) return true;
    if (bad_triggers_[k] != 0) return false;
    std::string why;
    if (!load_block(triggers_[k], scratch_, why, false)) {
        bad_triggers_[k] = 1;
        log::error("recording ", path_, ": trigger block ", k, " at offset ", triggers_[k].offset,
                   " is damaged (", why, "); its ", triggers_[k].header.count,
                   " edges are skipped");
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(scratch_.payload());
    cached_edges_.resize(triggers_[k].header.count);
    for (EventTriggerIn& e : cached_edges_) {
        e.timestamp = load<std::uint64_t>(p);
        e.id = load<std::int16_t>(p + 8);
        e.polarity = load<std::int16_t>(p + 10);
        p += kTriggerRecordSize;
    }
    cached_trigger_block_ = k;
    return true;
}

void RecordingFile::edgesBetween(std::uint64_t lo, std::uint64_t hi,
                                 std::vector<EventTriggerIn>& out) {
    if (lo > hi) return;
    const auto first = static_cast<std::size_t>(
        std::lower_bound(trigger_reach_.begin(), trigger_reach_.end(), lo) - trigger_reach_.begin());
    for (std::size_t k = first; k < triggers_.size() && trigger_floor_[k] <= hi; ++k) {
        const BlockHeader& h = triggers_[k].header;
        if (h.max_timestamp < lo || h.min_timestamp > hi || !load_trigger_block(k)) continue;
        for (const EventTriggerIn& e : cached_edges_)
            if (e.timestamp >= lo && e.timestamp <= hi) out.push_back(e);
    }
}

}  // namespace vantrel::file
