#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "common/gil_release.hpp"
#include "events/callbacks.hpp"
#include "events/event_array.hpp"
#include "module/registration.hpp"
#include "vantrel/direct_reads.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel_py {

namespace {

using vantrel::Event2D;
using vantrel::EvFileReader;
using Kind = vantrel::EventReadRequest::Kind;
using Optional = std::optional<std::uint64_t>;

// A read runs in the driver without the GIL. A reader that can decode into
// caller memory does so straight into the array returned: one array of the
// read's bound is made first (that needs the GIL), the driver fills it, and
// the array is shortened to what the read found. Otherwise the driver's
// vector is copied in one block (NumPy's own copy of a structured array
// with holes goes field by field, several times slower).
template <class Read>
py::array read_events(EvFileReader& reader, const vantrel::EventReadRequest& request, Read&& read) {
    ready_event_arrays();
    auto* direct = dynamic_cast<vantrel::DirectEventReads*>(&reader);
    if (direct == nullptr) {
        std::shared_ptr<std::vector<Event2D>> events;
        {
            vantrel_gil::scoped_release release;
            events = read();
        }
        if (!events || events->empty()) return make_empty_event_array();
        return make_event_array_copy(events->data(), events->data() + events->size());
    }
    std::uint64_t bound;
    {
        vantrel_gil::scoped_release release;
        bound = direct->eventReadBound(request);
    }
    const auto capacity = static_cast<std::size_t>(bound);
    py::array array = capacity > 0 ? make_event_array_for(capacity) : make_empty_event_array();
    Event2D* out = capacity > 0 ? static_cast<Event2D*>(array.mutable_data()) : nullptr;
    std::vector<Event2D> overflow;
    std::size_t taken;
    {
        vantrel_gil::scoped_release release;
        taken = direct->readEventsInto(request, out, capacity, overflow);
    }
    const std::size_t total = taken + overflow.size();
    if (total == 0) return capacity > 0 ? make_empty_event_array() : array;
    if (total != capacity) {
        // Fewer than the bound (a read by time, the end of the file), or
        // more (the position moved meanwhile): the array takes its final
        // length, and the events beyond the bound follow those in it.
        if (total < capacity) {
            shrink_event_array(array, total);
        } else {
            py::array grown = make_event_array_for(total);
            if (taken > 0) std::memcpy(grown.mutable_data(), out, taken * sizeof(Event2D));
            array = std::move(grown);
        }
        if (!overflow.empty())
            std::memcpy(static_cast<Event2D*>(array.mutable_data()) + taken, overflow.data(),
                        overflow.size() * sizeof(Event2D));
    }
    return array;
}

template <class Getter>
Optional optional_value(Getter&& get) {
    std::uint64_t value = 0;
    if (get(value)) return value;
    return std::nullopt;
}

}  // namespace

void register_file_reader(py::module_& m) {
    using release_gil = vantrel_gil::release_gil_during_call;

    // The Python object owns its reader alone, and destroys it with the GIL
    // held: a reader has no thread of its own to wait for, and a read in
    // progress on another thread holds a reference, so the destructor never
    // waits on anything that might need the GIL.
    py::class_<EvFileReader>(m, "EvFileReader")
        .def_static("create_file_reader", &EvFileReader::createFileReader,
                    "Create a file reader from filepath", py::arg("filepath"))
        .def(
            "open", [](EvFileReader& r) { return r.open(); },
            "Load and index the file (may take time for large files)", release_gil())
        .def(
            "get_start_time",
            [](EvFileReader& r) { return optional_value([&](std::uint64_t& v) { return r.getStartTime(v); }); },
            "Get start timestamp (returns None if unavailable)")
        .def(
            "get_end_time",
            [](EvFileReader& r) { return optional_value([&](std::uint64_t& v) { return r.getEndTime(v); }); },
            "Get end timestamp (returns None if unavailable)")
        .def(
            "get_event_count",
            [](EvFileReader& r) { return optional_value([&](std::uint64_t& v) { return r.getEventCount(v); }); },
            "Get total number of events (returns None if unavailable)")
        .def(
            "get_file_metadata",
            [](EvFileReader& r) -> std::optional<vantrel::EvFileInfo> {
                vantrel::EvFileInfo info{};
                if (r.getFileMetadata(info)) return info;
                return std::nullopt;
            },
            "Get file metadata (returns None if unavailable)")
        .def("is_end_reached", &EvFileReader::isEndReached, "Check if all events have been read")
        .def(
            "seek_to_timestamp", [](EvFileReader& r, std::uint64_t t) { return r.seekToTimestamp(t); },
            "Seek to a specific timestamp", py::arg("t"), release_gil())
        .def(
            "seek_to_event_index",
            [](EvFileReader& r, std::uint64_t n_event) { return r.seekToEventIndex(n_event); },
            "Seek to the n-th event", py::arg("n_event"), release_gil())
        .def("get_current_timestamp", &EvFileReader::getCurrentTimestamp, "Get timestamp at current position")
        .def("get_current_event_index", &EvFileReader::getCurrentEventIndex,
             "Get event index at current position")
        .def(
            "read_events",
            [](EvFileReader& r, std::uint64_t n) { return read_events(r, {Kind::Count, 0, n}, [&] { return r.readEvents(n); }); },
            "Read n events from current position", py::arg("n"))
        .def(
            "read_events_from_timestamp",
            [](EvFileReader& r, std::uint64_t start, std::uint64_t n) {
                return read_events(r, {Kind::CountFromTimestamp, start, n},
                                   [&] { return r.readEventsFromTimestamp(start, n); });
            },
            "Read n events starting from a given timestamp", py::arg("start"), py::arg("n"))
        .def(
            "read_events_from_event_index",
            [](EvFileReader& r, std::uint64_t event_num, std::uint64_t n) {
                return read_events(r, {Kind::CountFromIndex, event_num, n},
                                   [&] { return r.readEventsFromEventIndex(event_num, n); });
            },
            "Read n events starting from the event_num-th event", py::arg("event_num"), py::arg("n"))
        .def(
            "read_events_by_time_interval",
            [](EvFileReader& r, std::uint64_t interval) {
                return read_events(r, {Kind::Interval, 0, interval}, [&] { return r.readEventsByTimeInterval(interval); });
            },
            "Read events within a time interval (us) from current position", py::arg("interval"))
        .def(
            "read_events_by_time_interval_from_timestamp",
            [](EvFileReader& r, std::uint64_t start, std::uint64_t interval) {
                return read_events(r, {Kind::IntervalFromTimestamp, start, interval},
                                   [&] { return r.readEventsByTimeIntervalFromTimestamp(start, interval); });
            },
            "Read events within a time interval starting from a given timestamp", py::arg("start"),
            py::arg("interval"))
        .def(
            "read_events_by_time_interval_from_event_index",
            [](EvFileReader& r, std::uint64_t event_num, std::uint64_t interval) {
                return read_events(r, {Kind::IntervalFromIndex, event_num, interval},
                                   [&] { return r.readEventsByTimeIntervalFromEventIndex(event_num, interval); });
            },
            "Read events within a time interval starting from the event_num-th event", py::arg("event_num"),
            py::arg("interval"))
        .def(
            "export_events_to_raw",
            [](EvFileReader& r, std::uint64_t start, std::uint64_t end, const std::string& out_file_path) {
                vantrel_gil::scoped_release release;
                return r.exportEventsToRaw(start, end, out_file_path);
            },
            "Extract event data in [start, end] to output raw file", py::arg("start"), py::arg("end"),
            py::arg("out_file_path"))
        .def(
            "register_trigger_in_callback",
            [](EvFileReader& r, py::function callback) {
                auto holder = make_python_callback(std::move(callback));
                return r.registerTriggerInCallback(make_trigger_in_adapter(holder));
            },
            "Register trigger-in callback for file reader", py::arg("callback"))
        .def(
            "unregister_trigger_in_callback",
            [](EvFileReader& r, std::uint32_t callback_id) { return r.unregisterTriggerInCallback(callback_id); },
            "Unregister trigger-in callback by id", py::arg("callback_id"), release_gil())
        .def("get_width", &EvFileReader::getWidth, "Get sensor width in pixels")
        .def("get_height", &EvFileReader::getHeight, "Get sensor height in pixels")
        .def(
            "get_decode_statistics",
            [](EvFileReader& r) -> py::object {
                std::uint64_t bandwidth_bytes = 0, events_count = 0;
                if (!r.getDecodeStatistics(bandwidth_bytes, events_count)) return py::none();
                return py::make_tuple(bandwidth_bytes, events_count);
            },
            "Get decode-side statistics as (bandwidth_bytes, events_count) tuple, or None");
}

}  // namespace vantrel_py
