#pragma once

// One registration step per subsystem; module.cpp calls them in the order
// that Python sees the classes.

#include <pybind11/pybind11.h>

namespace vantrel_py {

namespace py = pybind11;

void register_enums(py::module_& m);
void register_param_records(py::module_& m);
void register_camera_description(py::module_& m);
void register_event_records(py::module_& m);
void register_file_info(py::module_& m);
void register_camera_service(py::module_& m);
void register_camera_tool(py::module_& m);
void register_camera(py::module_& m);
void register_file_reader(py::module_& m);
void register_logger(py::module_& m);
void register_functions(py::module_& m);

// Registers with atexit the hook that stops every stream before the
// interpreter finalises; adds no name to the module.
void install_exit_hook();

}  // namespace vantrel_py
