#pragma once

// The event blocks of a recording as its readers see them: for programs that
// cut a recording into parts read independently of each other (the vantrel
// package's partitions), and that need to know what the index proves about
// the order of timestamps.

#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/export.hpp"

namespace vantrel {

struct RecordingBlock {
    std::uint64_t first_event = 0;  // index of its first event in the file
    std::uint32_t count = 0;
    std::uint64_t first_timestamp = 0;
    std::uint64_t last_timestamp = 0;
    std::uint64_t min_timestamp = 0;
    std::uint64_t max_timestamp = 0;
    bool sorted = false;  // no timestamp in the block is smaller than the one before it
};

struct RecordingLayout {
    std::uint64_t event_count = 0;
    // Every block is sorted and starts no earlier than the previous one
    // ends: the file's timestamps never decrease.
    bool monotonic = true;
    // The index was missing or damaged; the blocks are those a scan found
    // intact (a file still being written, or one whose writer died).
    bool recovered = false;
    std::vector<RecordingBlock> blocks;  // event blocks, in file order
};

// False, with `error` saying why, when `path` is not a readable recording.
// Reads the index only (or scans the blocks when there is none), as a
// reader's open() does: damage inside a block listed by an intact index is
// found only when the block is read.
VANTREL_EXPORT bool readRecordingLayout(const std::string& path, RecordingLayout& layout,
                                        std::string& error);

}  // namespace vantrel
