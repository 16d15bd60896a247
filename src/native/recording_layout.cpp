#include "native/recording_layout.hpp"

#include <algorithm>
#include <string>

#include <pybind11/numpy.h>

#include "vantrel/recording_layout.hpp"

namespace vantrel_native {

namespace py = pybind11;

namespace {

py::dict recording_layout(const std::string& path) {
    vantrel::RecordingLayout layout;
    std::string error;
    bool ok;
    {
        // Opening may scan the whole file when it has no index.
        py::gil_scoped_release release;
        ok = vantrel::readRecordingLayout(path, layout, error);
    }
    if (!ok) throw py::value_error(path + ": " + error);
    py::array_t<vantrel::RecordingBlock> blocks(static_cast<py::ssize_t>(layout.blocks.size()));
    if (!layout.blocks.empty())
        std::copy(layout.blocks.begin(), layout.blocks.end(), blocks.mutable_data());
    py::dict out;
    out["event_count"] = layout.event_count;
    out["monotonic"] = layout.monotonic;
    out["recovered"] = layout.recovered;
    out["blocks"] = blocks;
    return out;
}

}  // namespace

void register_recording_layout(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(vantrel::RecordingBlock, first_event, count, first_timestamp, last_timestamp,
                         min_timestamp, max_timestamp, sorted);
    m.def("recording_layout", &recording_layout,
          "The event blocks of the recording at `path` as its index lists them (found by a scan when "
          "it has none): {'event_count', 'monotonic', 'recovered', 'blocks'}, blocks a structured "
          "array with first_event, count, first/last/min/max_timestamp and sorted per block, in "
          "file order. ValueError when the file is not a readable recording.",
          py::arg("path"));
}

}  // namespace vantrel_native
