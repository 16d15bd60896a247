// Writing recordings from event arrays, so that programs can turn arrays
// into files and tests can build exact ones.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <pybind11/numpy.h>

#include "registration.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel_sim {

namespace {

using vantrel::Event2D;
using vantrel::EventTriggerIn;

// The event dtype of vantrel_core's arrays.
py::dtype recording_event_dtype() {
    py::dict spec;
    spec["names"] = py::make_tuple("x", "y", "polarity", "timestamp");
    spec["formats"] = py::make_tuple("<u2", "<u2", "u1", "<u8");
    spec["offsets"] = py::make_tuple(8, 10, 12, 0);
    spec["itemsize"] = 16;
    return py::dtype::from_args(spec);
}

py::array checked_events(const py::object& events) {
    if (!py::isinstance<py::array>(events))
        throw py::type_error("events must be a numpy array with the event dtype, not " +
                             py::str(py::type::of(events).attr("__name__")).cast<std::string>());
    auto array = py::reinterpret_borrow<py::array>(events);
    if (!array.dtype().equal(recording_event_dtype()))
        throw py::value_error("events must have the event dtype (x, y, polarity, timestamp), got " +
                              py::str(array.dtype()).cast<std::string>());
    if (array.ndim() != 1) throw py::value_error("events must be one-dimensional");
    if ((array.flags() & py::array::c_style) == 0) throw py::value_error("events must be contiguous");
    return array;
}

// str, bytes or os.PathLike, as the file system sees it.
std::string path_of(const py::object& path) {
    py::object fs_path = py::module_::import("os").attr("fspath")(path);
    return fs_path.cast<std::string>();
}

std::string text_of(const py::object& value, const char* name) {
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) return value.cast<std::string>();
    throw py::type_error(std::string(name) + " must be str or bytes");
}

long long in_range(const py::handle& value, const char* name, long long low, long long high) {
    if (!py::isinstance<py::int_>(value)) throw py::type_error(std::string(name) + " must be an int");
    const auto v = value.cast<py::int_>();
    if (v < py::int_(low) || v > py::int_(high))
        throw py::value_error(std::string(name) + " must be from " + std::to_string(low) + " to " +
                              std::to_string(high));
    return v.cast<long long>();
}

std::vector<EventTriggerIn> edges_of(const py::object& triggers) {
    std::vector<EventTriggerIn> edges;
    if (triggers.is_none()) return edges;
    for (const py::handle item : py::iter(triggers)) {
        if (!py::isinstance<py::sequence>(item) || py::len(item) != 3)
            throw py::value_error("each trigger must be an (id, polarity, timestamp) triple");
        const auto seq = py::reinterpret_borrow<py::sequence>(item);
        EventTriggerIn e{};
        e.id = static_cast<std::int16_t>(in_range(seq[0], "trigger id", -32768, 32767));
        e.polarity = static_cast<std::int16_t>(in_range(seq[1], "trigger polarity", -32768, 32767));
        if (!py::isinstance<py::int_>(seq[2])) throw py::type_error("trigger timestamp must be an int");
        const auto t = py::reinterpret_borrow<py::int_>(seq[2]);
        if (t < py::int_(0) || t > py::int_(std::numeric_limits<std::uint64_t>::max()))
            throw py::value_error("trigger timestamp must be from 0 to 2**64 - 1");
        e.timestamp = t.cast<std::uint64_t>();
        edges.push_back(e);
    }
    return edges;
}

void write_recording(const py::object& path, const py::object& events, long long width, long long height,
                     const py::object& serial, const py::object& triggers, long long local_time_ticks) {
    const std::string file = path_of(path);
    const py::array array = checked_events(events);
    const auto w = static_cast<std::uint16_t>(in_range(py::int_(width), "width", 0, 65535));
    const auto h = static_cast<std::uint16_t>(in_range(py::int_(height), "height", 0, 65535));
    const std::string serial_text = text_of(serial, "serial");
    const std::vector<EventTriggerIn> edges = edges_of(triggers);
    const auto* data = static_cast<const Event2D*>(array.data());
    const auto count = static_cast<std::size_t>(array.shape(0));
    // The array stays referenced by `array` while the driver writes it.
    py::gil_scoped_release release;
    vantrel::sim::writeRecording(file, data, count, w, h, serial_text, edges, local_time_ticks);
}

}  // namespace

void register_recordings(py::module_& m) {
    m.def("write_recording", &write_recording,
          "Write a recording holding exactly these events (an event-dtype array with "
          "non-decreasing timestamps, every pixel on the width x height sensor) and trigger edges "
          "(a sequence of (id, polarity, timestamp)). ValueError for data a recording of this "
          "sensor cannot hold, RuntimeError when the file cannot be written.",
          py::arg("path"), py::arg("events"), py::kw_only(), py::arg("width") = 640, py::arg("height") = 480,
          py::arg("serial") = "", py::arg("triggers") = py::none(), py::arg("local_time_ticks") = 0);
}

}  // namespace vantrel_sim
