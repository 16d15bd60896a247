#include "vantrel/recording_layout.hpp"

#include "file/recording_file.hpp"

namespace vantrel {

bool readRecordingLayout(const std::string& path, RecordingLayout& layout, std::string& error) {
    file::RecordingFile f;
    if (!f.open(path, error)) return false;
    layout.event_count = f.eventCount();
    layout.monotonic = f.monotonic();
    layout.recovered = f.recovered();
    layout.blocks.clear();
    layout.blocks.reserve(f.eventBlocks().size());
    for (const file::BlockEntry& e : f.eventBlocks()) {
        RecordingBlock b;
        b.first_event = e.first_record;
        b.count = e.header.count;
        b.first_timestamp = e.header.first_timestamp;
        b.last_timestamp = e.header.last_timestamp;
        b.min_timestamp = e.header.min_timestamp;
        b.max_timestamp = e.header.max_timestamp;
        b.sorted = (e.header.flags & file::kFlagSorted) != 0;
        layout.blocks.push_back(b);
    }
    return true;
}

}  // namespace vantrel
