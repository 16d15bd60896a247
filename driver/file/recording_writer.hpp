#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file/block_codec.hpp"
#include "file/event_codec.hpp"
#include "file/format.hpp"
#include "io/file_access.hpp"
#include "vantrel/events.hpp"

namespace vantrel::file {

struct BlockLimits {
    std::uint32_t events = 65536;  // events per block
    std::uint32_t edges = 4096;    // trigger edges per block
};

// Writes a recording: header, then blocks as they fill up, then the index
// and footer in finish(). Event blocks are compressed as `compression`
// says (a block that would not shrink is stored as it is). Everything written before a crash stays readable
// block by block. Not thread-safe. After the first failure every call
// returns false and error() says what went wrong.
class RecordingWriter {
public:
    explicit RecordingWriter(BlockLimits limits = {}, Compression compression = {});
    // Closes the file without an index, as a crash would leave it.
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates (or truncates) the file and writes the header.
    bool open(const std::string& path, const RecordingInfo& info);
    bool add(const Event2D* events, std::size_t n);
    bool add(const EventTriggerIn& edge);
    // Writes the blocks being filled, even if they are not full.
    bool flush();
    // Flushes, writes the index and footer, and closes the file.
    bool finish();

    // Closes the file and removes it (if the path still names the file this
    // writer created): for a write that must leave nothing when it fails.
    void abandon();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    std::uint64_t eventCount() const { return event_count_; }
    std::uint64_t triggerCount() const { return trigger_count_; }
    std::uint64_t bytesWritten() const { return offset_; }

private:
    struct IndexEntry {
        std::uint64_t offset;
        std::uint64_t first_record;
        unsigned char header[kBlockHeaderSize];
    };

    bool flush_events();
    bool flush_edges();
    bool write_all(const void* data, std::size_t size);
    bool fail(const std::string& what);
    void close_file();

    BlockLimits limits_;
    BlockCompressor compressor_;
    bool compressing_ = false;
    int fd_ = -1;
    std::string path_;
    std::optional<io::FileIdentity> identity_;  // of the file open() created
    std::string error_;
    std::uint64_t offset_ = 0;
    std::uint64_t event_count_ = 0;    // events in written blocks
    std::uint64_t trigger_count_ = 0;  // edges in written blocks
    EventBlockEncoder events_;
    std::vector<EventTriggerIn> edges_;
    std::vector<IndexEntry> index_;
    std::vector<unsigned char> scratch_;
    std::vector<unsigned char> packed_;  // a compressed payload
};

}  // namespace vantrel::file
