#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::file {

// What a recording's header says about its camera.
struct RecordingInfo {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::string serial;
    std::int64_t local_time_ticks = 0;  // 100 ns units since the Unix epoch
};

// Writes one recording from a live stream on a thread of its own. push()
// never blocks the caller for disk I/O; memory is bounded, and what does not
// fit is dropped, counted and reported in the log.
class Recorder {
public:
    // Creates the file and starts the writer; nullptr (with a log line saying
    // why) when the file cannot be created.
    static std::unique_ptr<Recorder> start(const std::string& path, const RecordingInfo& info);
    virtual ~Recorder() = default;

    virtual void push(std::shared_ptr<const std::vector<Event2D>> batch) = 0;
    virtual void push(const EventTriggerIn& edge) = 0;
    // Writes what is queued, finishes the file and joins the writer. False
    // (logged) when the file could not be completed.
    virtual bool stop() = 0;
    virtual std::uint64_t droppedEvents() const = 0;
};

}  // namespace vantrel::file
