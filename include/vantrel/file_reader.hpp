#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vantrel/events.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// Metadata of a recorded event file.
struct EvFileInfo {
    std::uint64_t start_timestamp;
    std::uint64_t end_timestamp;
    std::uint64_t max_events;
    std::uint16_t width;
    std::uint16_t height;
    std::string serial_number;
    std::int64_t local_time_ticks;  // 100 ns units since the Unix epoch
};

// Reads a recorded event file: metadata, seeks and range reads. Timestamps
// and intervals are in microseconds. Getters that fill an out-parameter
// return false when the value is unavailable (for example before open()).
class VANTREL_EXPORT EvFileReader {
public:
    EvFileReader(const EvFileReader&) = delete;
    EvFileReader& operator=(const EvFileReader&) = delete;

    virtual ~EvFileReader();
    virtual bool open() = 0;
    virtual bool getStartTime(std::uint64_t& t) = 0;
    virtual bool getEndTime(std::uint64_t& t) = 0;
    virtual bool getEventCount(std::uint64_t& n) = 0;
    virtual bool isEndReached() = 0;
    virtual bool seekToTimestamp(std::uint64_t t) = 0;
    virtual bool seekToEventIndex(std::uint64_t n_event) = 0;
    virtual std::uint64_t getCurrentTimestamp() = 0;
    virtual std::uint64_t getCurrentEventIndex() = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEvents(std::uint64_t n) = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEventsFromTimestamp(std::uint64_t start,
                                                                          std::uint64_t n) = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEventsFromEventIndex(std::uint64_t event_num,
                                                                           std::uint64_t n) = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEventsByTimeInterval(std::uint64_t interval) = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEventsByTimeIntervalFromTimestamp(
        std::uint64_t start, std::uint64_t interval) = 0;
    virtual std::shared_ptr<std::vector<Event2D>> readEventsByTimeIntervalFromEventIndex(
        std::uint64_t event_num, std::uint64_t interval) = 0;
    // Writes the events with start <= timestamp <= end, and the trigger edges
    // in that range, to a new recording with this file's metadata.
    virtual bool exportEventsToRaw(std::uint64_t start, std::uint64_t end,
                                   const std::string& out_file_path) = 0;
    virtual std::uint32_t registerTriggerInCallback(TriggerInCallback callback) = 0;
    virtual bool unregisterTriggerInCallback(std::uint32_t id) = 0;
    virtual std::uint16_t getWidth() = 0;
    virtual std::uint16_t getHeight() = 0;
    // Bytes read from the file and events decoded since open().
    virtual bool getDecodeStatistics(std::uint64_t& bandwidth_bytes, std::uint64_t& events_count) = 0;
    virtual bool getFileMetadata(EvFileInfo& info) = 0;

    // An empty pointer when the path does not name an existing regular file.
    static std::unique_ptr<EvFileReader> createFileReader(const std::string& filepath);

protected:
    EvFileReader() = default;
};

}  // namespace vantrel
