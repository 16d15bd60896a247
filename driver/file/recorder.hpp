#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file/format.hpp"
#include "file/recording_writer.hpp"
#include "vantrel/events.hpp"

namespace vantrel::file {

// Writes one recording from a live stream on a thread of its own. push()
// never blocks the caller for disk I/O; memory is bounded, and what does not
// fit is dropped, counted and reported in the log. Blocks are written at
// least every fraction of a second, so a process that dies loses little.
class Recorder {
public:
    // Creates the file and starts the writer; nullptr (with a log line saying
    // why) when the file cannot be created. A local_time_ticks of 0 stands
    // for the current time. The recording is compressed as the process-wide
    // default (default_compression()) says at this moment.
    static std::unique_ptr<Recorder> start(const std::string& path, const RecordingInfo& info);
    virtual ~Recorder() = default;

    // Safe to call from any thread; events are written in the order pushed.
    // False when the data were dropped: the queue is full (the writer cannot
    // keep up) or the recording is stopping. The caller reports such drops.
    virtual bool push(std::shared_ptr<const std::vector<Event2D>> batch) = 0;
    virtual bool push(const EventTriggerIn& edge) = 0;
    // Writes what is queued, finishes the file and joins the writer. False
    // (logged) when the file could not be completed.
    virtual bool stop() = 0;
    virtual std::uint64_t droppedEvents() const = 0;
};

// How much a recorder may hold in memory while its writer catches up.
struct RecorderLimits {
    // Bytes of queued batches (their events, plus a share for each batch's
    // own bookkeeping so that many tiny batches are bounded too).
    std::uint64_t queued_bytes = 64u << 20;
    std::uint64_t queued_edges = 1u << 16;
    std::uint32_t flush_interval_ms = 200;  // longest time data waits before being written
};

// As Recorder::start, with explicit limits, block sizes and compression.
std::unique_ptr<Recorder> start_recorder(const std::string& path, const RecordingInfo& info,
                                         const RecorderLimits& limits, const BlockLimits& blocks,
                                         const Compression& compression = {});

}  // namespace vantrel::file
