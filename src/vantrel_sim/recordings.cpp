// Writing recordings from event arrays, so that programs can turn arrays
// into files and tests can build exact ones.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "common/gil_release.hpp"
#include "arguments.hpp"
#include "registration.hpp"
#include "vantrel/sim/recording_compression.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel_sim {

namespace {

using vantrel::Event2D;
using vantrel::EventTriggerIn;

// A compression's name, one of recording_compressions().
std::string compression_arg(const py::handle& value) {
    if (!py::isinstance<py::str>(value))
        throw py::type_error("compression must be a str, not " +
                             py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    return value.cast<std::string>();
}

std::vector<EventTriggerIn> edges_of(const py::object& triggers) {
    std::vector<EventTriggerIn> edges;
    if (triggers.is_none()) return edges;
    for (const py::handle item : py::iter(triggers)) {
        if (!py::isinstance<py::sequence>(item) || py::len(item) != 3)
            throw py::value_error("each trigger must be an (id, polarity, timestamp) triple");
        const auto seq = py::reinterpret_borrow<py::sequence>(item);
        EventTriggerIn e{};
        e.id = int_arg<std::int16_t>(seq[0], "trigger id");
        e.polarity = int_arg<std::int16_t>(seq[1], "trigger polarity");
        e.timestamp = int_arg<std::uint64_t>(seq[2], "trigger timestamp");
        edges.push_back(e);
    }
    return edges;
}

void write_recording(const py::object& path, const py::object& events, long long width, long long height,
                     const py::object& serial, const py::object& triggers, long long local_time_ticks,
                     const py::object& compression) {
    const std::string file = path_arg(path, "path");
    const py::array array = event_array_arg(events);
    const auto w = ranged<std::uint16_t>(width, "width", 0, 65535);
    const auto h = ranged<std::uint16_t>(height, "height", 0, 65535);
    const std::string serial_text = text_arg(serial, "serial");
    const std::vector<EventTriggerIn> edges = edges_of(triggers);
    const std::string chosen = compression.is_none() ? vantrel::sim::recordingCompression()
                                                     : compression_arg(compression);
    const auto* data = static_cast<const Event2D*>(array.data());
    const auto count = static_cast<std::size_t>(array.shape(0));
    // The array stays referenced by `array` while the driver writes it.
    vantrel_gil::scoped_release release;
    vantrel::sim::writeRecording(file, data, count, w, h, serial_text, edges, local_time_ticks, chosen);
}

}  // namespace

void register_recordings(py::module_& m) {
    m.def("write_recording", &write_recording,
          "Write a recording holding exactly these events (an event-dtype array with "
          "non-decreasing timestamps, every pixel on the width x height sensor) and trigger edges "
          "(a sequence of (id, polarity, timestamp)), its event blocks compressed as `compression` "
          "names (one of recording_compressions(); None: as recording_compression() says). "
          "ValueError for data a recording of this sensor cannot hold or an unknown compression, "
          "RuntimeError when the file cannot be written.",
          py::arg("path"), py::arg("events"), py::kw_only(), py::arg("width") = 640, py::arg("height") = 480,
          py::arg("serial") = "", py::arg("triggers") = py::none(), py::arg("local_time_ticks") = 0,
          py::arg("compression") = py::none());

    m.def(
        "recording_compressions", [] { return vantrel::sim::recordingCompressions(); },
        "The names of the compressions a recording's event blocks may have, the default first: 'none' "
        "(packed 32-bit words, about 4 bytes per event) and 'zstd' (those words compressed with zstd, block by "
        "block: about 2.5 to 3 bytes per event)");
    m.def(
        "set_recording_compression",
        [](const py::object& name) { vantrel::sim::setRecordingCompression(compression_arg(name)); },
        "Compress the recordings that cameras start from now on (ICamera.start_recording) and those of "
        "write_recording given no compression as `name` says, for the whole process; ValueError for an "
        "unknown name",
        py::arg("name"));
    m.def(
        "recording_compression", [] { return vantrel::sim::recordingCompression(); },
        "The compression that set_recording_compression chose ('none' until then)");
}

}  // namespace vantrel_sim
