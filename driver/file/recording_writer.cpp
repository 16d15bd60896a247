#include "file/recording_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/utf8.hpp"
#include "file/crc32c.hpp"
#include "io/file_access.hpp"

namespace vantrel::file {

RecordingWriter::RecordingWriter(BlockLimits limits, Compression compression)
    : limits_{std::clamp<std::uint32_t>(limits.events, 1, kMaxBlockRecords),
              std::clamp<std::uint32_t>(limits.edges, 1, kMaxBlockRecords)},
      compressor_(compression),
      compressing_(compression.codec != Codec::Stored),
      events_(WordLayout{}) {}

RecordingWriter::~RecordingWriter() { close_file(); }

void RecordingWriter::close_file() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RecordingWriter::abandon() {
    close_file();
    if (identity_) io::remove_if_same(path_, *identity_);
    identity_.reset();
}

bool RecordingWriter::fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    close_file();
    return false;
}

bool RecordingWriter::open(const std::string& path, const RecordingInfo& info) {
    path_ = path;
    // Readers take the serial number as UTF-8 text (a simulated camera's
    // need not be).
    RecordingInfo stored = info;
    stored.serial = text::to_utf8(info.serial);
    if (stored.serial.size() > kMaxSerialSize) return fail("serial number longer than 65535 bytes");
    io::FileDescriptor fd;
    io::FileIdentity identity;
    std::string why;
    if (!io::create_for_writing(path, false, fd, identity, why)) return fail(why);
    fd_ = fd.release();
    identity_ = identity;
    events_ = EventBlockEncoder(layout_for_sensor(info.width, info.height));
    const std::string header =
        encode_file_header(stored, compressing_ ? kCompressedFormatVersion : kFormatVersion);
    return write_all(header.data(), header.size());
}

bool RecordingWriter::write_all(const void* data, std::size_t size) {
    if (fd_ < 0) return fail("the file is not open");
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(std::string("write failed: ") + std::strerror(errno));
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool RecordingWriter::add(const Event2D* events, std::size_t n) {
    if (failed() || fd_ < 0) return fail("the file is not open");
    while (n > 0) {
        const std::size_t room = limits_.events - events_.count();
        const std::size_t take = std::min(room, n);
        events_.add(events, take);
        events += take;
        n -= take;
        if (events_.count() >= limits_.events && !flush_events()) return false;
    }
    return true;
}

bool RecordingWriter::add(const EventTriggerIn& edge) {
    if (failed() || fd_ < 0) return fail("the file is not open");
    edges_.push_back(edge);
    if (edges_.size() >= limits_.edges) return flush_edges();
    return true;
}

bool RecordingWriter::flush_events() {
    if (events_.empty()) return true;
    std::size_t size = 0;
    const unsigned char* block = events_.finish(size);
    IndexEntry entry{offset_, event_count_, {}};
    const std::uint32_t count = events_.count();
    if (compressing_ && compressor_.compress(block + kBlockHeaderSize, size - kBlockHeaderSize, packed_)) {
        BlockHeader h = events_.header();
        h.codec = Codec::Zstd;
        h.payload_size = static_cast<std::uint32_t>(packed_.size());
        h.payload_crc = crc32c(packed_.data(), packed_.size());
        encode_block_header(h, entry.header);
        if (!write_all(entry.header, kBlockHeaderSize) || !write_all(packed_.data(), packed_.size())) return false;
    } else {
        std::memcpy(entry.header, block, kBlockHeaderSize);
        if (!write_all(block, size)) return false;
    }
    index_.push_back(entry);
    event_count_ += count;
    events_.reset();
    // Edges follow the events they happened among, so a crash loses neither
    // much more than the other.
    return flush_edges();
}

bool RecordingWriter::flush_edges() {
    if (edges_.empty()) return true;
    BlockHeader h;
    h.kind = BlockKind::Triggers;
    h.count = static_cast<std::uint32_t>(edges_.size());
    h.first_timestamp = edges_.front().timestamp;
    h.last_timestamp = edges_.back().timestamp;
    h.min_timestamp = ~0ull;
    h.max_timestamp = 0;
    bool sorted = true;
    scratch_.assign(kBlockHeaderSize + kTriggerRecordSize * edges_.size(), 0);
    unsigned char* p = scratch_.data() + kBlockHeaderSize;
    std::uint64_t previous = h.first_timestamp;
    for (const EventTriggerIn& e : edges_) {
        store<std::uint64_t>(p, e.timestamp);
        store<std::int16_t>(p + 8, e.id);
        store<std::int16_t>(p + 10, e.polarity);
        p += kTriggerRecordSize;
        h.min_timestamp = std::min(h.min_timestamp, e.timestamp);
        h.max_timestamp = std::max(h.max_timestamp, e.timestamp);
        if (e.timestamp < previous) sorted = false;
        previous = e.timestamp;
    }
    h.flags = sorted ? kFlagSorted : 0;
    h.payload_size = static_cast<std::uint32_t>(kTriggerRecordSize * edges_.size());
    h.payload_crc = crc32c(scratch_.data() + kBlockHeaderSize, h.payload_size);
    encode_block_header(h, scratch_.data());
    IndexEntry entry{offset_, trigger_count_, {}};
    std::memcpy(entry.header, scratch_.data(), kBlockHeaderSize);
    if (!write_all(scratch_.data(), scratch_.size())) return false;
    index_.push_back(entry);
    trigger_count_ += edges_.size();
    edges_.clear();
    return true;
}

bool RecordingWriter::flush() {
    if (failed() || fd_ < 0) return fail("the file is not open");
    return flush_events() && flush_edges();
}

bool RecordingWriter::finish() {
    if (!flush()) return false;
    // Index: magic | entry count u32 | event count u64 | edge count u64 | entries
    std::vector<unsigned char> index(kIndexFixedSize + kIndexEntrySize * index_.size());
    unsigned char* p = index.data();
    std::memcpy(p, kIndexMagic, 4);
    store<std::uint32_t>(p + 4, static_cast<std::uint32_t>(index_.size()));
    store<std::uint64_t>(p + 8, event_count_);
    store<std::uint64_t>(p + 16, trigger_count_);
    p += kIndexFixedSize;
    for (const IndexEntry& e : index_) {
        store<std::uint64_t>(p, e.offset);
        store<std::uint64_t>(p + 8, e.first_record);
        std::memcpy(p + 16, e.header, kBlockHeaderSize);
        p += kIndexEntrySize;
    }
    Footer footer{offset_, index.size(), crc32c(index.data(), index.size())};
    unsigned char tail[kFooterSize];
    encode_footer(footer, tail);
    if (!write_all(index.data(), index.size()) || !write_all(tail, sizeof tail)) return false;
    if (::close(fd_) != 0) {
        fd_ = -1;
        return fail(std::string("closing the file failed: ") + std::strerror(errno));
    }
    fd_ = -1;
    return true;
}

}  // namespace vantrel::file
