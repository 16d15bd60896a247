#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file/event_buffers.hpp"
#include "file/event_cursor.hpp"
#include "file/event_output.hpp"
#include "file/recording_file.hpp"
#include "stream/callback_registry.hpp"
#include "vantrel/direct_reads.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel::file {

// The driver's EvFileReader. Safe for concurrent calls: one mutex guards the
// file and the position while seeks, reads and exports run; getters read a
// snapshot published after each of them, so they never wait for a long read
// (callers may hold the interpreter lock). Trigger edges that a read covers
// are delivered on the reading thread after the mutex is released.
//
// A read that starts at event i and leaves the position at event j covers
// the timestamps from lo up to (excluding) the timestamp of event j, or to
// the end of time once the last event has been read. lo is 0 for a read that
// starts at the first readable event (damaged blocks before it do not
// count), the given timestamp for the _FromTimestamp reads, and otherwise
// the timestamp of event i. Reading a file front to back
// in any mix of reads therefore delivers every edge exactly once. A read
// that takes no event covers nothing.
//
// The six reads are one operation with six kinds of request; they return
// vectors, or decode straight into the caller's memory (DirectEventReads).
class RecordingReader final : public EvFileReader, public DirectEventReads {
public:
    explicit RecordingReader(std::string path);
    ~RecordingReader() override;

    bool open() override;
    bool getStartTime(std::uint64_t& t) override;
    bool getEndTime(std::uint64_t& t) override;
    bool getEventCount(std::uint64_t& n) override;
    bool isEndReached() override;
    bool seekToTimestamp(std::uint64_t t) override;
    bool seekToEventIndex(std::uint64_t n_event) override;
    std::uint64_t getCurrentTimestamp() override;
    std::uint64_t getCurrentEventIndex() override;
    std::shared_ptr<std::vector<Event2D>> readEvents(std::uint64_t n) override;
    std::shared_ptr<std::vector<Event2D>> readEventsFromTimestamp(std::uint64_t start,
                                                                  std::uint64_t n) override;
    std::shared_ptr<std::vector<Event2D>> readEventsFromEventIndex(std::uint64_t event_num,
                                                                   std::uint64_t n) override;
    std::shared_ptr<std::vector<Event2D>> readEventsByTimeInterval(std::uint64_t interval) override;
    std::shared_ptr<std::vector<Event2D>> readEventsByTimeIntervalFromTimestamp(
        std::uint64_t start, std::uint64_t interval) override;
    std::shared_ptr<std::vector<Event2D>> readEventsByTimeIntervalFromEventIndex(
        std::uint64_t event_num, std::uint64_t interval) override;
    bool exportEventsToRaw(std::uint64_t start, std::uint64_t end,
                           const std::string& out_file_path) override;
    std::uint32_t registerTriggerInCallback(TriggerInCallback callback) override;
    bool unregisterTriggerInCallback(std::uint32_t id) override;
    std::uint16_t getWidth() override;
    std::uint16_t getHeight() override;
    bool getDecodeStatistics(std::uint64_t& bandwidth_bytes, std::uint64_t& events_count) override;
    bool getFileMetadata(EvFileInfo& info) override;

    std::uint64_t eventReadBound(const EventReadRequest& request) override;
    std::size_t readEventsInto(const EventReadRequest& request, Event2D* out, std::size_t capacity,
                               std::vector<Event2D>& overflow) override;

private:
    using Events = std::shared_ptr<std::vector<Event2D>>;

    // What getters report, as of the end of the last operation.
    struct Snapshot {
        bool open = false;
        RecordingInfo info;
        std::uint64_t event_count = 0;
        bool has_events = false;
        std::uint64_t start_time = 0;
        std::uint64_t end_time = 0;
        std::uint64_t index = 0;
        std::uint64_t timestamp = 0;
        bool at_end = false;
        std::uint64_t bytes_read = 0;
        std::uint64_t events_decoded = 0;
    };

    bool is_open(const char* operation) const;
    // Copies the position and statistics into the snapshot; under mutex_.
    void publish();
    // The snapshot, or nothing (logged) when the file is not open.
    bool snapshot(const char* operation, Snapshot& out) const;
    // A read returning a vector of its own.
    Events read_vector(const EventReadRequest& request);
    // Under mutex_, with the file open: the bound of eventReadBound, and the
    // read itself, which collects the edges it covers in `edges`.
    std::uint64_t bound(const EventReadRequest& request);
    void perform(const EventReadRequest& request, EventOutput& out, std::vector<EventTriggerIn>& edges);
    void count_read(std::uint64_t lo, std::uint64_t n, EventOutput& out, std::vector<EventTriggerIn>& edges);
    void cover(std::uint64_t lo, std::uint64_t from, std::vector<EventTriggerIn>& edges);
    void interval_read(std::uint64_t lo, std::uint64_t t0, std::uint64_t interval, EventOutput& out,
                       std::vector<EventTriggerIn>& edges);
    void deliver(const std::vector<EventTriggerIn>& edges);

    const std::string path_;
    std::mutex mutex_;  // guards the members below
    std::unique_ptr<RecordingFile> file_;
    std::unique_ptr<EventCursor> cursor_;
    std::uint64_t exported_decoded_ = 0;
    const std::shared_ptr<EventBuffers> buffers_ = EventBuffers::create();

    mutable std::mutex snapshot_mutex_;  // taken after mutex_, never before it
    Snapshot snapshot_;

    // The cameras' registry: after an unregistration returned true, that
    // callback is not called again, also not by a read on another thread.
    stream::CallbackRegistry callbacks_;
};

}  // namespace vantrel::file
