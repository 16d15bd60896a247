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

namespace {

struct ReadOperation {
    const char* name;         // in log lines
    Operation fault_point;  // where faults are injected
};

// One entry per EventReadRequest::Kind, in its order.
constexpr ReadOperation kReadOperations[] = {
    {"readEvents", Operation::EvFileReader_readEvents},
    {"readEventsFromTimestamp", Operation::EvFileReader_readEventsFromTimestamp},
    {"readEventsFromEventIndex", Operation::EvFileReader_readEventsFromEventIndex},
    {"readEventsByTimeInterval", Operation::EvFileReader_readEventsByTimeInterval},
    {"readEventsByTimeIntervalFromTimestamp", Operation::EvFileReader_readEventsByTimeIntervalFromTimestamp},
    {"readEventsByTimeIntervalFromEventIndex", Operation::EvFileReader_readEventsByTimeIntervalFromEventIndex},
};

const ReadOperation& operation_of(const EventReadRequest& request) {
    return kReadOperations[static_cast<std::size_t>(request.kind)];
}

}  // namespace

RecordingReader::Events RecordingReader::read_vector(const EventReadRequest& request) {
    const ReadOperation& operation = operation_of(request);
    if (faults::hit(operation.fault_point)) return nullptr;
    Events events = std::make_shared<std::vector<Event2D>>();
    std::vector<EventTriggerIn> edges;
    {
        std::lock_guard lock(mutex_);
        if (!is_open(operation.name)) return events;
        // A recycled vector of the bound's size: no page to fault in, nothing
        // to zero-fill.
        const auto capacity = static_cast<std::size_t>(bound(request));
        if (capacity > 0) events = buffers_->take(capacity);
        std::vector<Event2D> overflow;
        EventOutput out(events->data(), capacity, overflow);
        perform(request, out, edges);
        events->resize(out.size());
        events->insert(events->end(), overflow.begin(), overflow.end());
        publish();
    }
    deliver(edges);
    return events;
}

std::uint64_t RecordingReader::eventReadBound(const EventReadRequest& request) {
    std::lock_guard lock(mutex_);
    return file_ ? bound(request) : 0;
}

std::size_t RecordingReader::readEventsInto(const EventReadRequest& request, Event2D* out_data,
                                            std::size_t capacity, std::vector<Event2D>& overflow) {
    const ReadOperation& operation = operation_of(request);
    if (faults::hit(operation.fault_point)) return 0;
    std::vector<EventTriggerIn> edges;
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        if (!is_open(operation.name)) return 0;
        EventOutput out(out_data, capacity, overflow);
        perform(request, out, edges);
        taken = out.size();
        publish();
    }
    deliver(edges);
    return taken;
}

std::uint64_t RecordingReader::bound(const EventReadRequest& request) {
    using Kind = EventReadRequest::Kind;
    const auto& blocks = file_->eventBlocks();
    const std::uint64_t count = file_->eventCount();
    const std::uint64_t amount = request.amount;
    // Events from index `first` up to the end of the block where a read by
    // time from block k meets its first event at or past `limit`.
    auto until_limit = [&](std::uint64_t first, std::size_t k, std::uint64_t limit) -> std::uint64_t {
        const std::size_t last = file_->firstEventBlockReaching(limit, k);
        const std::uint64_t end = last < blocks.size() ? blocks[last].first_record + blocks[last].header.count : count;
        return end > first ? end - first : 0;
    };
    switch (request.kind) {
        case Kind::Count:
            return std::min(amount, count - std::min(count, cursor_->index()));
        case Kind::CountFromIndex:
            return request.from < count ? std::min(amount, count - request.from) : 0;
        case Kind::CountFromTimestamp: {
            const std::size_t k = file_->firstEventBlockReaching(request.from);
            return k < blocks.size() ? std::min(amount, count - blocks[k].first_record) : 0;
        }
        case Kind::Interval: {
            if (cursor_->atEnd()) return 0;
            const std::uint64_t t0 = cursor_->timestamp();
            if (amount > kNoLimit - t0) return count - std::min(count, cursor_->index());
            return cursor_->boundBefore(t0 + amount);
        }
        case Kind::IntervalFromTimestamp: {
            const std::size_t k = file_->firstEventBlockReaching(request.from);
            if (k >= blocks.size()) return 0;
            const std::uint64_t first = blocks[k].first_record;
            if (amount > kNoLimit - request.from) return count - first;
            return until_limit(first, k, request.from + amount);
        }
        case Kind::IntervalFromIndex: {
            if (request.from >= count) return 0;
            // The read's first timestamp is at most the largest of its block.
            const std::size_t k = file_->eventBlockOf(request.from);
            const std::uint64_t t0 = blocks[k].header.max_timestamp;
            if (amount > kNoLimit - t0) return count - request.from;
            return until_limit(request.from, k, t0 + amount);
        }
    }
    return 0;
}

void RecordingReader::perform(const EventReadRequest& request, EventOutput& out,
                              std::vector<EventTriggerIn>& edges) {
    using Kind = EventReadRequest::Kind;
    switch (request.kind) {
        case Kind::Count: {
            if (cursor_->atEnd()) return;
            const std::uint64_t lo = cursor_->atStart() ? 0 : cursor_->timestamp();
            count_read(lo, request.amount, out, edges);
            return;
        }
        case Kind::CountFromTimestamp:
            if (!cursor_->seekTimestamp(request.from)) return;
            count_read(request.from, request.amount, out, edges);
            return;
        case Kind::CountFromIndex: {
            if (!cursor_->seekIndex(request.from)) return;
            const std::uint64_t lo = cursor_->atStart() ? 0 : cursor_->timestamp();
            count_read(lo, request.amount, out, edges);
            return;
        }
        case Kind::Interval: {
            if (cursor_->atEnd()) return;
            const std::uint64_t t0 = cursor_->timestamp();
            interval_read(cursor_->atStart() ? 0 : t0, t0, request.amount, out, edges);
            return;
        }
        case Kind::IntervalFromTimestamp:
            if (!cursor_->seekTimestamp(request.from)) return;
            interval_read(request.from, request.from, request.amount, out, edges);
            return;
        case Kind::IntervalFromIndex: {
            if (!cursor_->seekIndex(request.from)) return;
            const std::uint64_t t0 = cursor_->timestamp();
            interval_read(cursor_->atStart() ? 0 : t0, t0, request.amount, out, edges);
            return;
        }
    }
}

void RecordingReader::count_read(std::uint64_t lo, std::uint64_t n, EventOutput& out,
                                 std::vector<EventTriggerIn>& edges) {
    const std::uint64_t from = cursor_->index();
    if (n > 0) {
        const std::uint64_t left = file_->eventCount() - std::min(file_->eventCount(), from);
        Event2D* room = out.room(static_cast<std::size_t>(std::min(n, left)));
        out.commit(cursor_->read(n, room));
    }
    cover(lo, from, edges);
}

// Edges from lo up to the timestamp of the event now at the position. A
// read that took no event covers no time, so that empty reads do not
// deliver the edges before the position again and again.
void RecordingReader::cover(std::uint64_t lo, std::uint64_t from, std::vector<EventTriggerIn>& edges) {
    if (cursor_->index() == from) return;
    if (cursor_->atEnd()) {
        file_->edgesBetween(lo, kNoLimit, edges);
    } else if (const std::uint64_t hi = cursor_->timestamp(); hi > lo) {
        file_->edgesBetween(lo, hi - 1, edges);
    }
}

void RecordingReader::interval_read(std::uint64_t lo, std::uint64_t t0, std::uint64_t interval,
                                    EventOutput& out, std::vector<EventTriggerIn>& edges) {
    if (interval > kNoLimit - t0) {
        count_read(lo, kNoLimit, out, edges);  // the interval reaches past every timestamp
    } else {
        const std::uint64_t limit = t0 + interval;
        const std::uint64_t from = cursor_->index();
        // A damaged block stops a read short of the limit: it goes on after it.
        do {
            Event2D* room = out.room(static_cast<std::size_t>(cursor_->boundBefore(limit)));
            out.commit(cursor_->readBefore(limit, room));
        } while (cursor_->before(limit));
        cover(lo, from, edges);
    }
    // Only a file whose time goes backwards can hold events before t0 here.
    if (!file_->monotonic()) out.eraseBefore(t0);
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEvents(std::uint64_t n) {
    return read_vector({EventReadRequest::Kind::Count, 0, n});
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsFromTimestamp(std::uint64_t start,
                                                                               std::uint64_t n) {
    return read_vector({EventReadRequest::Kind::CountFromTimestamp, start, n});
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsFromEventIndex(
    std::uint64_t event_num, std::uint64_t n) {
    return read_vector({EventReadRequest::Kind::CountFromIndex, event_num, n});
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeInterval(
    std::uint64_t interval) {
    return read_vector({EventReadRequest::Kind::Interval, 0, interval});
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeIntervalFromTimestamp(
    std::uint64_t start, std::uint64_t interval) {
    return read_vector({EventReadRequest::Kind::IntervalFromTimestamp, start, interval});
}

std::shared_ptr<std::vector<Event2D>> RecordingReader::readEventsByTimeIntervalFromEventIndex(
    std::uint64_t event_num, std::uint64_t interval) {
    return read_vector({EventReadRequest::Kind::IntervalFromIndex, event_num, interval});
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
