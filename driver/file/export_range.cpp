#include "file/export_range.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "file/block_codec.hpp"
#include "file/event_codec.hpp"
#include "file/recording_writer.hpp"
#include "io/file_access.hpp"

namespace vantrel::file {

namespace {

constexpr std::size_t kRun = 4096;

// Copies the events of block k that lie in [start, end] to the writer.
bool copy_block(RecordingFile& file, std::size_t k, std::uint64_t start, std::uint64_t end,
                BlockBuffer& buffer, std::vector<Event2D>& run,
                RecordingWriter& writer, std::uint64_t& decoded) {
    if (!file.loadEventBlock(k, buffer)) return true;  // damaged: logged and skipped
    const BlockHeader& h = file.eventBlocks()[k].header;
    const std::uint32_t* payload = buffer.payload();
    std::string why;
    if (!validate_event_payload(payload, h, why)) {
        file.rejectEventBlock(k, why);
        return true;
    }
    const bool sorted = (h.flags & kFlagSorted) != 0;
    DecodeState s = DecodeState::at_start(h);
    while (s.event < h.count) {
        const std::size_t m = std::min<std::size_t>(kRun, h.count - s.event);
        decode_events(payload, h, s, m, run.data());
        decoded += m;
        const Event2D* first = run.data();
        const Event2D* last = run.data() + m;
        if (sorted) {
            const auto* lo = std::partition_point(first, last,
                                                  [&](const Event2D& e) { return e.timestamp < start; });
            const auto* hi = std::partition_point(lo, last,
                                                  [&](const Event2D& e) { return e.timestamp <= end; });
            if (!writer.add(lo, static_cast<std::size_t>(hi - lo))) return false;
        } else {
            auto* kept = run.data();
            for (const Event2D* e = first; e != last; ++e)
                if (e->timestamp >= start && e->timestamp <= end) *kept++ = *e;
            if (!writer.add(run.data(), static_cast<std::size_t>(kept - run.data()))) return false;
        }
    }
    return true;
}

}  // namespace

bool export_range(RecordingFile& file, std::uint64_t start, std::uint64_t end,
                  const std::string& out_path, std::uint64_t& events_decoded, std::string& error) {
    if (start > end) {
        error = "the range is empty (start " + std::to_string(start) + " is after end " +
                std::to_string(end) + ")";
        return false;
    }
    if (auto why = io::path_refusal(out_path)) {
        error = *why;
        return false;
    }
    if (file.isSameFile(out_path)) {
        error = "the output is the recording being read";
        return false;
    }
    // The export keeps the source's kind of file: compressed or stored.
    Compression compression;
    if (file.version() >= kCompressedFormatVersion) compression = *compression_named("zstd");
    RecordingWriter writer({}, compression);
    if (!writer.open(out_path, file.info())) {
        error = writer.error();
        return false;
    }

    BlockBuffer buffer;
    std::vector<Event2D> run(kRun);
    const auto& blocks = file.eventBlocks();
    bool ok = true;
    for (std::size_t k = file.firstEventBlockReaching(start);
         ok && k < blocks.size() && file.eventFloor(k) <= end; ++k) {
        const BlockHeader& h = blocks[k].header;
        if (h.max_timestamp < start || h.min_timestamp > end) continue;
        ok = copy_block(file, k, start, end, buffer, run, writer, events_decoded);
    }
    if (ok) {
        std::vector<EventTriggerIn> edges;
        file.edgesBetween(start, end, edges);
        for (const EventTriggerIn& e : edges)
            if (!(ok = writer.add(e))) break;
    }
    if (ok) ok = writer.finish();
    if (!ok) {
        error = writer.error();
        writer.abandon();
    }
    return ok;
}

}  // namespace vantrel::file
