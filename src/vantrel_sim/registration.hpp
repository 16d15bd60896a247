#pragma once

#include <pybind11/pybind11.h>

namespace vantrel_sim {

namespace py = pybind11;

void register_devices(py::module_& m);       // cameras, pushed data, firmware images
void register_faults(py::module_& m);        // fault injection
void register_tool_journal(py::module_& m);  // tool writes and documents
void register_recordings(py::module_& m);    // writing recordings

}  // namespace vantrel_sim
