#include <pybind11/stl.h>

#include "module/registration.hpp"
#include "vantrel/camera_service.hpp"

namespace vantrel_py {

void register_camera_service(py::module_& m) {
    using vantrel::EvCameraService;

    // The destructor runs without the GIL, like every driver object that
    // might wait for other threads.
    py::class_<EvCameraService, std::shared_ptr<EvCameraService>>(m, "EvCameraService",
                                                                  py::release_gil_before_calling_cpp_dtor())
        .def(py::init<>())
        .def("refresh", &EvCameraService::refresh, "Refresh the list of connected cameras and return the count",
             py::call_guard<py::gil_scoped_release>())
        .def("list", &EvCameraService::listCameras, "Get the list of camera descriptions")
        .def("list_cameras", &EvCameraService::listCameras, "Get the list of camera descriptions")
        .def("open", &EvCameraService::open, "Open a camera by its serial number and return ICamera",
             py::arg("serial"), py::call_guard<py::gil_scoped_release>());
}

}  // namespace vantrel_py
