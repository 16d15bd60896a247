// vantrel._native: the small native part of the vantrel package, apart from
// vantrel_core's fixed surface: the event dtype (the one vantrel_core uses),
// the capture of the driver's log for Python's logging, and the block layout
// of recordings for reading them in independent parts.

#include <pybind11/pybind11.h>

#include "events/event_dtype.hpp"
#include "native/log_capture.hpp"
#include "native/recording_layout.hpp"

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native helpers of the vantrel package (private)";
    m.attr("EVENT_DTYPE") = vantrel_py::event_dtype();
    vantrel_native::register_log_capture(m);
    vantrel_native::register_recording_layout(m);
}
