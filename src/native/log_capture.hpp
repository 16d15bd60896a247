#pragma once

#include <pybind11/pybind11.h>

namespace vantrel_native {

// capture_log, release_log, take_log_records: the driver's log lines queued
// for a Python thread to forward.
void register_log_capture(pybind11::module_& m);

}  // namespace vantrel_native
