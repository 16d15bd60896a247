#include "file/recording_reader.hpp"

#include <algorithm>
#include <limits>

#include "common/fault_hook.hpp"
#include "file/export_range.hpp"
#include "log/log.hpp"

namespace vantrel::file {

namespace {
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
}  // namespace

struct RecordingReader::Read {
    Events events = std::make_shared<std::vector<Event2D>>();
    std::vector<EventTriggerIn> edges;
};

RecordingReader::RecordingReader(std::string path) : path_(std::move(path)), callbacks_("file reader " + path_) {}

RecordingReader::~RecordingReader() = default;

bool RecordingReader::is_open(const char* operation) const {
    if (file_) return true;
    log::warning("file reader ", path_, ": ", operation, ": the file is not open (call open() first)");
    return false;
}

bool RecordingReader::open() {
    if (faults::hit(Operation::EvFileReader_open)) return false;
    auto file = std::make_unique<RecordingFile>();
    std::string error;
    if (!file->open(path_, error)) {
        log::warning("file reader ", path_, ": cannot open: ", error);
        return false;
    }
    auto cursor = std::make_unique<EventCursor>(*file);
    std::lock_guard lock(mutex_);
    cursor_ = std::move(cursor);
    file_ = std::move(file);
    exported_decoded_ = 0;
    {
        const auto& blocks = file_->eventBlocks();
        std::lock_guard snap(snapshot_mutex_);
        snapshot_.open = true;
        snapshot_.info = file_->info();
        snapshot_.event_count = file_->eventCount();
        snapshot_.has_events = !blocks.empty();
        snapshot_.start_time = blocks.empty() ? 0 : blocks.front().header.first_timestamp;
        snapshot_.end_time = blocks.empty() ? 0 : blocks.back().header.last_timestamp;
    }
    publish();
    return true;
}

void RecordingReader::publish() {
    const std::uint64_t index = cursor_->index();
    const std::uint64_t timestamp = cursor_->timestamp();
    const bool at_end = cursor_->atEnd();
    const std::uint64_t bytes = file_->bytesRead();
    const std::uint64_t decoded = cursor_->eventsDecoded() + exported_decoded_;
    std::lock_guard snap(snapshot_mutex_);
    snapshot_.index = index;
    snapshot_.timestamp = timestamp;
    snapshot_.at_end = at_end;
    snapshot_.bytes_read = bytes;
    snapshot_.events_decoded = decoded;
}

bool RecordingReader::snapshot(const char* operation, Snapshot& out) const {
    {
        std::lock_guard snap(snapshot_mutex_);
        if (snapshot_.open) {
            out = snapshot_;
            return true;
        }
    }
    log::warning("file reader ", path_, ": ", operation, ": the file is not open (call open() first)");
    return false;
}

bool RecordingReader::getStartTime(std::uint64_t& t) {
    if (faults::hit(Operation::EvFileReader_getStartTime)) return false;
    Snapshot snap;
    if (!snapshot("getStartTime", snap)) return false;
    if (!snap.has_events) {
        log::warning("file reader ", path_, ": getStartTime: the recording holds no events");
        return false;
    }
    t = snap.start_time;
    return true;
}

bool RecordingReader::getEndTime(std::uint64_t& t) {
    if (faults::hit(Operation::EvFileReader_getEndTime)) return false;
    Snapshot snap;
    if (!snapshot("getEndTime", snap)) return false;
    if (!snap.has_events) {
        log::warning("file reader ", path_, ": getEndTime: the recording holds no events");
        return false;
    }
    t = snap.end_time;
    return true;
}

bool RecordingReader::getEventCount(std::uint64_t& n) {
    if (faults::hit(Operation::EvFileReader_getEventCount)) return false;
    Snapshot snap;
    if (!snapshot("getEventCount", snap)) return false;
    n = snap.event_count;
    return true;
}

bool RecordingReader::isEndReached() {
    if (faults::hit(Operation::EvFileReader_isEndReached)) return false;
    Snapshot snap;
    return snapshot("isEndReached", snap) && snap.at_end;
}

bool RecordingReader::seekToTimestamp(std::uint64_t t) {
    if (faults::hit(Operation::EvFileReader_seekToTimestamp)) return false;
    std::lock_guard lock(mutex_);
    if (!is_open("seekToTimestamp")) return false;
    const bool found = cursor_->seekTimestamp(t);
    publish();
    if (found) return true;
    log::warning("file reader ", path_, ": seekToTimestamp(", t, "): no readable event at or after it");
    return false;
}

bool RecordingReader::seekToEventIndex(std::uint64_t n_event) {
    if (faults::hit(Operation::EvFileReader_seekToEventIndex)) return false;
    std::lock_guard lock(mutex_);
    if (!is_open("seekToEventIndex")) return false;
    const bool found = cursor_->seekIndex(n_event);
    publish();
    if (found) return true;
    log::warning("file reader ", path_, ": seekToEventIndex(", n_event, "): the recording holds ",
                 file_->eventCount(), " events");
    return false;
}

std::uint64_t RecordingReader::getCurrentTimestamp() {
    if (faults::hit(Operation::EvFileReader_getCurrentTimestamp)) return 0;
    Snapshot snap;
    return snapshot("getCurrentTimestamp", snap) ? snap.timestamp : 0;
}

std::uint64_t RecordingReader::getCurrentEventIndex() {
    if (faults::hit(Operation::EvFileReader_getCurrentEventIndex)) return 0;
    Snapshot snap;
    return snapshot("getCurrentEventIndex", snap) ? snap.index : 0;
}

template <class Body>
RecordingReader::Events RecordingReader::read(const char* operation, Body&& body) {
    Read r;
    {
        std::lock_guard lock(mutex_);
        if (!is_open(operation)) return r.events;
        body(r);
        publish();
    }
    deliver(r.edges);
    return r.events;
}

void RecordingReader::count_read(Read& r, std::uint64_t lo, std::uint64_t n) {
    const std::uint64_t from = cursor_->index();
    if (n > 0) {
        const std::uint64_t left = file_->eventCount() - std::min(file_->eventCount(), from);
        r.events = buffers_->take(static_cast<std::size_t>(std::min(n, left)));
        r.events->resize(cursor_->read(n, r.events->data()));
    }
    cover(r, lo, from);
}

// Edges from lo up to the timestamp of the event now at the position. A
// read that took no event covers no time, so that empty reads do not
// deliver the edges before the position again and again.
void RecordingReader::cover(Read& r, std::uint64_t lo, std::uint64_t from) {
    if (cursor_->index() == from) return;
    if (cursor_->atEnd()) {
        file_->edgesBetween(lo, kNoLimit, r.edges);
    } else if (const std::uint64_t hi = cursor_->timestamp(); hi > lo) {
        file_->edgesBetween(lo, hi - 1, r.edges);
    }
}

void RecordingReader::interval_read(Read& r, std::uint64_t lo, std::uint64_t t0,
                                    std::uint64_t interval) {
    if (interval > kNoLimit - t0) {
        count_read(r, lo, kNoLimit);  // the interval reaches past every timestamp
    } else {
        const std::uint64_t limit = t0 + interval;
        const std::uint64_t from = cursor_->index();
        r.events = buffers_->take(static_cast<std::size_t>(cursor_->boundBefore(limit)));
        std::size_t done = cursor_->readBefore(limit, r.events->data());
        // A damaged block stopped the read short of the limit: go on after it.
        while (cursor_->before(limit)) {
            r.events->resize(done + static_cast<std::size_t>(cursor_->boundBefore(limit)));
            done += cursor_->readBefore(limit, r.events->data() + done);
        }
        r.events->resize(done);
        cover(r, lo, from);
    }
    // Only a file whose time goes backwards can hold events before t0 here.
    if (!file_->monotonic())
        std::erase_if(*r.events, [t0](const Event2D& e) { return e.timestamp < t0; });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEvents(std::uint64_t n) {
    if (faults::hit(Operation::EvFileReader_readEvents)) return nullptr;
    return read("readEvents", [&](Read& r) {
        if (cursor_->atEnd()) return;
        const std::uint64_t lo = cursor_->atStart() ? 0 : cursor_->timestamp();
        count_read(r, lo, n);
    });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsFromTimestamp(std::uint64_t start,
                                                                               std::uint64_t n) {
    if (faults::hit(Operation::EvFileReader_readEventsFromTimestamp)) return nullptr;
    return read("readEventsFromTimestamp", [&](Read& r) {
        if (!cursor_->seekTimestamp(start)) return;
        count_read(r, start, n);
    });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsFromEventIndex(
    std::uint64_t event_num, std::uint64_t n) {
    if (faults::hit(Operation::EvFileReader_readEventsFromEventIndex)) return nullptr;
    return read("readEventsFromEventIndex", [&](Read& r) {
        if (!cursor_->seekIndex(event_num)) return;
        const std::uint64_t lo = cursor_->atStart() ? 0 : cursor_->timestamp();
        count_read(r, lo, n);
    });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeInterval(
    std::uint64_t interval) {
    if (faults::hit(Operation::EvFileReader_readEventsByTimeInterval)) return nullptr;
    return read("readEventsByTimeInterval", [&](Read& r) {
        if (cursor_->atEnd()) return;
        const std::uint64_t t0 = cursor_->timestamp();
        interval_read(r, cursor_->atStart() ? 0 : t0, t0, interval);
    });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeIntervalFromTimestamp(
    std::uint64_t start, std::uint64_t interval) {
    if (faults::hit(Operation::EvFileReader_readEventsByTimeIntervalFromTimestamp)) return nullptr;
    return read("readEventsByTimeIntervalFromTimestamp", [&](Read& r) {
        if (!cursor_->seekTimestamp(start)) return;
        interval_read(r, start, start, interval);
    });
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeIntervalFromEventIndex(
    std::uint64_t event_num, std::uint64_t interval) {
    if (faults::hit(Operation::EvFileReader_readEventsByTimeIntervalFromEventIndex)) return nullptr;
    return read("readEventsByTimeIntervalFromEventIndex", [&](Read& r) {
        if (!cursor_->seekIndex(event_num)) return;
        const std::uint64_t t0 = cursor_->timestamp();
        interval_read(r, cursor_->atStart() ? 0 : t0, t0, interval);
    });
}

bool RecordingReader::exportEventsToRaw(std::uint64_t start, std::uint64_t end,
                                        const std::string& out_file_path) {
    if (faults::hit(Operation::EvFileReader_exportEventsToRaw)) return false;
    std::lock_guard lock(mutex_);
    if (!is_open("exportEventsToRaw")) return false;
    std::string error;
    const bool ok = export_range(*file_, start, end, out_file_path, exported_decoded_, error);
    publish();
    if (ok) return true;
    log::error("file reader ", path_, ": exportEventsToRaw(", start, ", ", end, ", ", out_file_path,
               "): ", error);
    return false;
}

std::uint32_t RecordingReader::registerTriggerInCallback(TriggerInCallback callback) {
    if (faults::hit(Operation::EvFileReader_registerTriggerInCallback)) return 0;
    if (!callback) {
        log::warning("file reader ", path_, ": registerTriggerInCallback: empty callback refused");
        return 0;
    }
    return callbacks_.addTriggerIn(std::move(callback));
}

bool RecordingReader::unregisterTriggerInCallback(std::uint32_t id) {
    if (faults::hit(Operation::EvFileReader_unregisterTriggerInCallback)) return false;
    if (callbacks_.removeTriggerIn(id)) return true;
    log::warning("file reader ", path_, ": unregisterTriggerInCallback(", id,
                 "): no callback with that id");
    return false;
}

void RecordingReader::deliver(const std::vector<EventTriggerIn>& edges) {
    if (!callbacks_.hasTriggerIn()) return;
    for (const EventTriggerIn& edge : edges) callbacks_.deliver(stream::DeliveryItem::ofEdge(edge));
}

std::uint16_t RecordingReader::getWidth() {
    if (faults::hit(Operation::EvFileReader_getWidth)) return 0;
    Snapshot snap;
    return snapshot("getWidth", snap) ? snap.info.width : 0;
}

std::uint16_t RecordingReader::getHeight() {
    if (faults::hit(Operation::EvFileReader_getHeight)) return 0;
    Snapshot snap;
    return snapshot("getHeight", snap) ? snap.info.height : 0;
}

bool RecordingReader::getDecodeStatistics(std::uint64_t& bandwidth_bytes,
                                          std::uint64_t& events_count) {
    if (faults::hit(Operation::EvFileReader_getDecodeStatistics)) return false;
    Snapshot snap;
    if (!snapshot("getDecodeStatistics", snap)) return false;
    bandwidth_bytes = snap.bytes_read;
    events_count = snap.events_decoded;
    return true;
}

bool RecordingReader::getFileMetadata(EvFileInfo& info) {
    if (faults::hit(Operation::EvFileReader_getFileMetadata)) return false;
    Snapshot snap;
    if (!snapshot("getFileMetadata", snap)) return false;
    info.start_timestamp = snap.start_time;
    info.end_timestamp = snap.end_time;
    info.max_events = snap.event_count;
    info.width = snap.info.width;
    info.height = snap.info.height;
    info.serial_number = snap.info.serial;
    info.local_time_ticks = snap.info.local_time_ticks;
    return true;
}

}  // namespace vantrel::file
