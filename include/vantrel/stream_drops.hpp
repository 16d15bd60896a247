#pragma once

// What a camera's stream dropped, per queue: the poll queue (batches nobody
// polled in time), the delivery queue (batches, edges and statistics reports
// the callbacks did not take in time, or that were still queued when the
// stream stopped) and the recorder's own queue (data the disk could not take
// in time).

#include <array>
#include <cstdint>

namespace vantrel {

enum class DropQueue : int { Poll = 0, Delivery = 1, Recorder = 2 };
// Indexed by DropQueue: the names that logs and vantrel_sim.stream_drops use.
inline constexpr std::array<const char*, 3> kDropQueueNames = {"poll", "delivery", "recorder"};

struct DropCount {
    std::uint64_t batches = 0;
    std::uint64_t events = 0;   // in those batches
    std::uint64_t edges = 0;    // trigger-in edges
    std::uint64_t reports = 0;  // statistics reports
};
using StreamDrops = std::array<DropCount, kDropQueueNames.size()>;

}  // namespace vantrel
