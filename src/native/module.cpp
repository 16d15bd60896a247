// vantrel._native: the small native part of the vantrel package, apart from
// vantrel_core's fixed surface: the event dtype (the one vantrel_core uses)
// and the capture of the driver's log for Python's logging.

#include <pybind11/pybind11.h>

#include "events/event_dtype.hpp"
#include "native/log_capture.hpp"

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native helpers of the vantrel package (private)";
    m.attr("EVENT_DTYPE") = vantrel_py::event_dtype();
    vantrel_native::register_log_capture(m);
}
